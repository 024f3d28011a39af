// Fuzzes the feroq tool's definition file reader (tools/feroq). The input is
// the file's text. The reader's contract: it returns a definition or throws
// DefinitionError; any other exception escapes and ends the run, so the
// fuzzer reports it.
//
// A definition that is read is checked for what the reader promises about
// it (servers have names, users a domain and an account), and a refused
// file's error names a line of the file, or the line after the last one for
// the end of the file (line 0 is only for unreadable files, which text
// never is).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "definition_reader.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    feroq::cli::ApplicationDefinition definition = feroq::cli::ParseDefinition(text, "fuzz.txt");
    for (const auto& server : definition.servers) {
      if (server.name.empty()) Fail("a server without a name was accepted");
    }
    for (const auto& user : definition.users) {
      if (user.domain.empty() || user.account.empty()) Fail("a user without domain or account was accepted");
    }
  } catch (const feroq::cli::DefinitionError& e) {
    if (e.file() != "fuzz.txt") Fail("error names another file: " + e.file());
    // "The end of the file" is reported on the line after the last one.
    if (e.line() < 1 || static_cast<std::size_t>(e.line()) > LineCount(text) + 1) {
      Fail("error line " + std::to_string(e.line()) + " outside the file: " + e.what());
    }
  }
  return 0;
}
