// The reader of the application definition file (feroq/app_import.h):
// ParseDefinition, ReadDefinitionFile and DescribeProblem, over the parser
// of export/definition_parser.h, which walks the file line by line. A
// refusal is raised inside the parser as a Refusal exception carrying the
// line and the message, and turned into the caller's DefinitionProblem
// here; nothing else throws but std::bad_alloc.
#include <new>
#include <string>

#include "export/definition_parser.h"
#include "feroq/app_import.h"
#include "platform/platform.h"

namespace feroq {
namespace {

using definition_reading::Parser;
using definition_reading::Refusal;

// A text saved as UTF-16 (what some editors write): a byte-order mark of
// either order, or NUL bytes, which UTF-8 text never holds.
bool LooksLikeUtf16(std::string_view text) {
  return text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
         text.find('\0') != std::string_view::npos;
}

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string DescribeProblem(const DefinitionProblem& problem) {
  if (problem.line == 0) return problem.file + ": " + problem.message;
  return problem.file + ":" + std::to_string(problem.line) + ": " + problem.message;
}

HRESULT ParseDefinition(std::string_view text, std::string_view file_name, ApplicationDefinition* definition,
                        DefinitionProblem* problem) {
  try {
    if (LooksLikeUtf16(text)) {
      *problem = DefinitionProblem{std::string(file_name), 0,
                                   "the file is UTF-16 text; save it as UTF-8 and import it again"};
      return kDefinitionFileMalformed;
    }
    if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
    try {
      *definition = ApplicationDefinition{};
      Parser(text).Parse(definition);
      return S_OK;
    } catch (Refusal& refusal) {
      *problem = DefinitionProblem{std::string(file_name), refusal.line, std::move(refusal.message)};
      return kDefinitionFileMalformed;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ReadDefinitionFile(const char16_t* path, ApplicationDefinition* definition, DefinitionProblem* problem) {
  try {
    std::string name;
    if (path != nullptr) {
      std::size_t length = 0;
      while (path[length] != 0) ++length;
      platform::AppendUtf16AsUtf8(path, length, &name, true);
    }
    std::string text;
    switch (platform::ReadFileUpTo(path, kMaxDefinitionFileBytes, &text)) {
      case platform::ReadFileResult::kRead:
        return ParseDefinition(text, name, definition, problem);
      case platform::ReadFileResult::kNotFound:
        *problem = DefinitionProblem{name, 0, "no such file"};
        return kDefinitionFileNotFound;
      case platform::ReadFileResult::kTooLarge:
        *problem = DefinitionProblem{name, 0, "the file is larger than " + std::to_string(kMaxDefinitionFileBytes) +
                                                  " bytes, more than any definition file holds"};
        return kDefinitionFileTooLarge;
      case platform::ReadFileResult::kFailed:
        break;
    }
    *problem = DefinitionProblem{name, 0, "the file cannot be read (a directory, no permission or a read error)"};
    return kDefinitionFileUnreadable;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace feroq
