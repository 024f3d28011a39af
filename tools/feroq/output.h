// What the tool prints: result codes by name, value and meaning; tables and
// JSON for listings; progress of long work on a terminal; and the two kinds of
// failure that decide the exit code.
#ifndef FEROQ_TOOLS_FEROQ_OUTPUT_H_
#define FEROQ_TOOLS_FEROQ_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "feroq/types.h"

namespace feroq::cli {

// Exit codes.
constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;  // the operation failed
constexpr int kExitUsage = 2;   // the command line was wrong

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
// "NAME (0xXXXXXXXX): meaning", or "0xXXXXXXXX (an unknown result code)".
std::string DescribeResult(std::uint32_t value);

// The operation failed with `code` (a library HRESULT or a service code).
// what(): "ACTION failed: NAME (0x...): meaning[; HINT]".
class OperationFailed : public std::runtime_error {
 public:
  OperationFailed(const std::string& action, std::uint32_t code, const std::string& hint = "");
  std::uint32_t code() const { return code_; }
  const std::string& action() const { return action_; }

 private:
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
// points) on standard output.
void PrintTable(const std::vector<std::string>& headers, const std::vector<std::vector<std::string>>& rows);

// Prints `value` as indented JSON on standard output.
void PrintJson(const nlohmann::json& value);

// `text` (UTF-8) as a line of the tool shows it: control characters (C0,
// DEL, C1) as \xHH, and, past `limit` bytes, cut (never inside a character)
// with the rest counted: "... (N more bytes)".
std::string Shortened(const std::string& text, std::size_t limit = 120);

// "0x" and 16 hex digits.
std::string HexId(ULONG64 id);
// Lower-case hex digits of `size` bytes.
std::string HexBytes(const BYTE* bytes, std::size_t size);

// Shows "VERB i/N ITEM" on standard error while it is a terminal; silent
// otherwise. The line is cleared when the object is destroyed.
class Progress {
 public:
  Progress(std::string verb, std::size_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Step(const std::string& item);

 private:
  std::string verb_;
  std::size_t total_;
  std::size_t done_ = 0;
  bool shown_;
};

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_OUTPUT_H_
