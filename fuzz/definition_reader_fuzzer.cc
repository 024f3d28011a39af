// Fuzzes the library's definition file reader (feroq::ParseDefinition). The
// input is the file's text. The reader never throws; it answers S_OK with a
// definition or kDefinitionFileMalformed with a problem.
//
// A definition that is read is checked for what the reader promises about
// it (servers have names, users a domain and an account, no value holds a
// line break), and a refusal names the file and a line of it: the line after
// the last one for the end of the file, 0 for the file as a whole (its
// encoding); its message stays short.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "feroq/app_import.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "definition_reader_fuzzer: %s\n", what.c_str());
  std::abort();
}

std::size_t LineCount(std::string_view text) {
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  return lines;
}

void CheckText(const std::optional<std::u16string>& text) {
  if (text && text->find_first_of(u"\r\n") != std::u16string::npos) Fail("a value with a line break was accepted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  feroq::ApplicationDefinition definition;
  feroq::DefinitionProblem problem;
  const HRESULT result = feroq::ParseDefinition(text, "fuzz.txt", &definition, &problem);
  if (result == S_OK) {
    for (const auto& server : definition.servers) {
      if (server.name.empty()) Fail("a server without a name was accepted");
    }
    for (const auto& user : definition.users) {
      if (user.domain.empty() || user.account.empty()) Fail("a user without domain or account was accepted");
    }
    for (const auto* value : {&definition.browser_name, &definition.object_name, &definition.description,
                              &definition.initial_program, &definition.working_directory, &definition.wl_folder,
                              &definition.parent_folder}) {
      CheckText(*value);
    }
    return 0;
  }
  if (result != feroq::kDefinitionFileMalformed) Fail("unexpected result " + std::to_string(result));
  if (problem.file != "fuzz.txt") Fail("problem names another file: " + problem.file);
  if (problem.line < 0 || static_cast<std::size_t>(problem.line) > LineCount(text) + 1) {
    Fail("problem line " + std::to_string(problem.line) + " outside the file: " + problem.message);
  }
  // A message quotes at most a few short pieces of the file.
  if (problem.message.size() > 1024) Fail("a message of " + std::to_string(problem.message.size()) + " bytes");
  return 0;
}
