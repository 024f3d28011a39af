// What the tool prints: result codes by name, value and meaning; tables and
// JSON for listings; progress of long work on a terminal; and the two kinds of
// failure that decide the exit code.
#ifndef FEROQ_TOOLS_FEROQ_OUTPUT_H_
#define FEROQ_TOOLS_FEROQ_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "feroq/types.h"

namespace feroq::cli {

// Exit codes.
constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;  // the operation failed
constexpr int kExitUsage = 2;   // the command line was wrong

// Codes of the files the tool writes (exports), in the form of Windows
// file-system errors, for what the library reports only as E_FAIL.
constexpr std::uint32_t kOutputFolderMissing = 0x80070003u;  // a folder of the path does not exist
constexpr std::uint32_t kOutputNotWritable = 0x80070052u;    // no permission, a read-only file system, a directory
constexpr std::uint32_t kOutputDiskFull = 0x80070070u;       // the disk or the user's quota is full
constexpr std::uint32_t kOutputNameTooLong = 0x800700CEu;    // a name of the path is longer than the file system takes

// One result code of the library (HRESULT, creation codes) or of the farm's
// services (the admin interface's codes), with what it means for the user.
struct ResultCodeInfo {
  std::uint32_t value;
  const char* name;
  const char* meaning;
};

// The entry for `value`, or null for a code the tool does not know.
const ResultCodeInfo* FindResultCode(std::uint32_t value);
// Every known code, ascending value.
const std::vector<ResultCodeInfo>& AllResultCodes();
// The code `text` names: a name of the table (any case), a value in hex
// with or without 0x ("20010019" is 0x20010019), or a negative decimal (a
// code as a signed 32-bit number). Null for anything else.
std::optional<std::uint32_t> ParseResultCode(const std::string& text);
// "NAME (0xXXXXXXXX): meaning", or "0xXXXXXXXX (an unknown result code)".
std::string DescribeResult(std::uint32_t value);

// The operation failed with `code` (a library HRESULT or a service code).
// what(): "ACTION failed: NAME (0x...): meaning[; HINT]".
class OperationFailed : public std::runtime_error {
 public:
  OperationFailed(const std::string& action, std::uint32_t code, const std::string& hint = "");
  // For a code whose general meaning would mislead here (Save answers
  // E_NOTIMPL for a record the farm's checks refused): what():
  // "ACTION failed: NAME (0x...): EXPLANATION".
  static OperationFailed Explained(const std::string& action, std::uint32_t code, const std::string& explanation);
  std::uint32_t code() const { return code_; }
  const std::string& action() const { return action_; }

 private:
  struct Worded {};
  OperationFailed(Worded, const std::string& message, const std::string& action, std::uint32_t code);

  std::uint32_t code_;
  std::string action_;
};

// The operation cannot be done for a reason that has no result code (a name
// that names nothing, a file that cannot be written). Exit code 1.
class ToolFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command line asks for something malformed. Exit code 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws OperationFailed unless `hr` is S_OK.
void Check(HRESULT hr, const std::string& action, const std::string& hint = "");

// Prints `rows` under `headers` in aligned columns (widths counted in code
// points) on standard output, each cell as Visible shows it.
void PrintTable(const std::vector<std::string>& headers, const std::vector<std::vector<std::string>>& rows);

// Prints `value` as indented JSON on standard output.
void PrintJson(const nlohmann::json& value);

// `text` (UTF-8) as a line of the tool shows it: control characters (C0,
// DEL, C1) as \xHH, and, past `limit` bytes, cut (never inside a character)
// with the rest counted: "... (N more bytes)".
std::string Shortened(const std::string& text, std::size_t limit = 120);

// `text` (UTF-8) with control characters (C0, DEL, C1) as \xHH, so that a
// name cannot move the cursor, clear the screen or recolour a terminal.
std::string Visible(const std::string& text);

// Prints `text` as Visible shows it, and a line end, on standard output.
// Every human-readable line of the tool goes out this way (JSON escapes
// control characters itself).
void PrintLine(const std::string& text);

// "1 application", "2 applications": `count` and `noun` (singular), with
// an "s" unless the count is 1.
std::string Counted(std::size_t count, std::string_view noun);

// "0x" and 16 hex digits.
std::string HexId(ULONG64 id);
// Lower-case hex digits of `size` bytes.
std::string HexBytes(const BYTE* bytes, std::size_t size);

// Shows "VERB i/N ITEM" on standard error while it is a terminal; silent
// otherwise. The line is cleared when the object is destroyed, so results
// printed afterwards start on a clean line.
class Progress {
 public:
  Progress(std::string verb, std::size_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Step(const std::string& item);
  // Whether steps are shown (standard error is a terminal); when not, the
  // item given to Step is not used.
  bool shown() const { return shown_; }

 private:
  std::string verb_;
  std::size_t total_;
  std::size_t done_ = 0;
  bool shown_;
};

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_OUTPUT_H_
