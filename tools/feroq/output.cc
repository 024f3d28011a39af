#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <fmt/core.h>

#include "feroq/app_data.h"
#include "feroq/app_import.h"
#include "feroq/services/farm_admin.h"
#include "feroq/services/service_codes.h"
#include "streaming_output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

std::vector<ResultCodeInfo> BuildTable() {
  const auto u = [](HRESULT hr) { return static_cast<std::uint32_t>(hr); };
  std::vector<ResultCodeInfo> table = {
      {u(S_OK), "S_OK", "success"},
      {u(S_FALSE), "S_FALSE", "nothing to report: an empty value or list, or a name that names nothing"},
      {u(E_NOTIMPL), "E_NOTIMPL", "the farm holds a value this library cannot express, or the operation is not supported"},
      {u(E_FAIL), "E_FAIL", "the farm's services failed or refused (the farm's cause follows when it gave one)"},
      {u(E_UNEXPECTED), "E_UNEXPECTED", "the farm could not be opened, or the object no longer exists"},
      {u(E_ACCESSDENIED), "E_ACCESSDENIED", "the farm refused the change (the farm's cause follows when it gave one)"},
      {u(E_OUTOFMEMORY), "E_OUTOFMEMORY", "out of memory"},
      {u(E_INVALIDARG), "E_INVALIDARG", "a value was refused, or the name names nothing of that kind"},
      {kOutputFolderMissing, "OUTPUT_FOLDER_MISSING", "the folder to write the file into does not exist"},
      {kOutputNotWritable, "OUTPUT_NOT_WRITABLE",
       "the file cannot be written (no permission, a read-only file system, or a directory of that name)"},
      {kOutputDiskFull, "OUTPUT_DISK_FULL", "the disk (or the user's quota) is full"},
      {kOutputNameTooLong, "OUTPUT_NAME_TOO_LONG",
       "a name in the file's path is longer than the file system takes (most take 255 bytes a name)"},
      {u(feroq::kDefinitionFileMalformed), "DEFINITION_FILE_MALFORMED", "the file is not a definition file this version reads (the line and what was expected are printed)"},
      {u(feroq::kDefinitionFileTooLarge), "DEFINITION_FILE_TOO_LARGE", "the file is larger than any definition file (1 MiB)"},
      {u(feroq::kDefinitionFileNotFound), "DEFINITION_FILE_NOT_FOUND", "there is no such file"},
      {u(feroq::kDefinitionFileUnreadable), "DEFINITION_FILE_UNREADABLE", "the file cannot be read (a directory, no permission or a read error)"},
      {u(feroq::kImportNameTaken), "IMPORT_NAME_TAKEN", "the folder already holds an application of that name, or another file of the import publishes it too"},
      {u(ZQ_CREATE_E_ICON_FILE), "ZQ_CREATE_E_ICON_FILE", "the icon could not be read from the icon file"},
      {u(ZQ_CREATE_E_ICON), "ZQ_CREATE_E_ICON", "the farm refused the icon"},
      {u(ZQ_CREATE_E_BROWSER_NAME), "ZQ_CREATE_E_BROWSER_NAME", "the browser name was refused (it may be taken by another application, or hold a character such as \\ / : . * ?)"},
      {u(ZQ_CREATE_E_INITIAL_PROGRAM), "ZQ_CREATE_E_INITIAL_PROGRAM", "the default initial program was refused"},
      {u(ZQ_CREATE_E_WORKING_DIRECTORY), "ZQ_CREATE_E_WORKING_DIRECTORY", "the default working directory was refused"},
      {u(ZQ_CREATE_E_DESCRIPTION), "ZQ_CREATE_E_DESCRIPTION", "the description was refused"},
      {u(ZQ_CREATE_E_OBJECT_NAME), "ZQ_CREATE_E_OBJECT_NAME", "the application's name was refused"},
      {u(ZQ_CREATE_E_WL_FOLDER), "ZQ_CREATE_E_WL_FOLDER", "the WL folder was refused"},
      {u(ZQ_CREATE_E_ENCRYPTION_LEVEL), "ZQ_CREATE_E_ENCRYPTION_LEVEL", "the default encryption level is out of range or was refused"},
      {u(ZQ_CREATE_E_SOUND_TYPE), "ZQ_CREATE_E_SOUND_TYPE", "the default sound type is out of range or was refused"},
      {u(ZQ_CREATE_E_VIDEO_TYPE), "ZQ_CREATE_E_VIDEO_TYPE", "the default video type is out of range or was refused"},
      {u(ZQ_CREATE_E_WINDOW_COLOR), "ZQ_CREATE_E_WINDOW_COLOR", "the default window colour is out of range or was refused"},
      {u(ZQ_CREATE_E_WINDOW_TYPE), "ZQ_CREATE_E_WINDOW_TYPE", "the default window type is out of range (FullScreen cannot be set) or was refused"},
      {u(ZQ_CREATE_E_WINDOW_HEIGHT), "ZQ_CREATE_E_WINDOW_HEIGHT", "the default window height was refused"},
      {u(ZQ_CREATE_E_WINDOW_WIDTH), "ZQ_CREATE_E_WINDOW_WIDTH", "the default window width was refused"},
      {u(ZQ_CREATE_E_WINDOW_SCALE), "ZQ_CREATE_E_WINDOW_SCALE", "the default window scale was refused"},
      {u(ZQ_CREATE_E_DESKTOP_INTEGRATE), "ZQ_CREATE_E_DESKTOP_INTEGRATE", "the desktop integration flags were refused"},
      {u(ZQ_CREATE_E_ZQ_ATTRIBUTES), "ZQ_CREATE_E_ZQ_ATTRIBUTES", "the ZQ attributes were refused"},
      {u(ZQ_CREATE_E_WL_ATTRIBUTES), "ZQ_CREATE_E_WL_ATTRIBUTES", "the WL attributes were refused"},
      {u(ZQ_CREATE_E_PUBLISHING_FLAGS), "ZQ_CREATE_E_PUBLISHING_FLAGS", "the publishing flags were refused"},
      {u(ZQ_CREATE_E_SERVER), "ZQ_CREATE_E_SERVER", "a server of the list could not be added (is it a server of this farm, and listed once?)"},
      {u(ZQ_CREATE_E_USER), "ZQ_CREATE_E_USER", "a user of the list could not be resolved or added (is the account in the farm's directory?)"},
      {u(ZQ_CREATE_E_PARENT_NOT_FOUND), "ZQ_CREATE_E_PARENT_NOT_FOUND", "the parent folder was not found"},
      {u(ZQ_CREATE_E_PARENT_ID), "ZQ_CREATE_E_PARENT_ID", "the parent folder's identifier could not be read"},
      {u(ZQ_CREATE_E_DETAIL_27), "ZQ_CREATE_E_DETAIL_27", "the farm refused the application (store check 27)"},
      {u(ZQ_CREATE_E_DETAIL_28), "ZQ_CREATE_E_DETAIL_28", "the farm refused the application (store check 28)"},
      {u(ZQ_CREATE_E_DETAIL_30), "ZQ_CREATE_E_DETAIL_30", "the farm refused the application (store check 30)"},
      {u(ZQ_CREATE_E_DETAIL_31), "ZQ_CREATE_E_DETAIL_31", "the farm refused the application (store check 31)"},
      {u(ZQ_CREATE_E_DETAIL_32), "ZQ_CREATE_E_DETAIL_32", "the farm refused the application (store check 32)"},
      {u(ZQ_CREATE_E_DETAIL_33), "ZQ_CREATE_E_DETAIL_33", "the farm refused the application (store check 33 or 37)"},
      {u(ZQ_CREATE_E_DETAIL_34), "ZQ_CREATE_E_DETAIL_34", "the farm refused the application (store check 34)"},
      {u(ZQ_CREATE_E_DETAIL_35), "ZQ_CREATE_E_DETAIL_35", "the farm refused the application (store check 35 or 36)"},
      {u(ZQ_CREATE_E_PARENT_SET), "ZQ_CREATE_E_PARENT_SET", "the parent folder could not be set in the record"},
      {u(ZQ_CREATE_E_DETAIL_29), "ZQ_CREATE_E_DETAIL_29", "the farm refused the application (store check 29)"},
      {u(ZQ_CREATE_E_VERSION), "ZQ_CREATE_E_VERSION", "the record version is not one the farm knows"},
  };
  // The services' own codes (farm rules, farm files, store checks), with
  // their words.
  for (const admin::ServiceCodeInfo& info : admin::AllServiceCodes()) {
    table.push_back({info.code, info.name, info.meaning});
  }
  std::sort(table.begin(), table.end(),
            [](const ResultCodeInfo& a, const ResultCodeInfo& b) { return a.value < b.value; });
  return table;
}

}  // namespace

const std::vector<ResultCodeInfo>& AllResultCodes() {
  static const std::vector<ResultCodeInfo> table = BuildTable();
  return table;
}

const ResultCodeInfo* FindResultCode(std::uint32_t value) {
  const auto& table = AllResultCodes();
  auto it = std::lower_bound(table.begin(), table.end(), value,
                             [](const ResultCodeInfo& info, std::uint32_t v) { return info.value < v; });
  return it != table.end() && it->value == value ? &*it : nullptr;
}

std::optional<std::uint32_t> ParseResultCode(const std::string& text) {
  for (const ResultCodeInfo& info : AllResultCodes()) {
    if (EqualsIgnoringCase(info.name, text)) return info.value;
  }
  // Codes are written in hex, with or without 0x (as `codes` prints them);
  // a negative number is a code as a signed 32-bit value in decimal.
  const bool negative = !text.empty() && text[0] == '-';
  std::string digits = negative ? text.substr(1) : text;
  if (!negative && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  const char* allowed = negative ? "0123456789" : "0123456789abcdefABCDEF";
  if (digits.empty() || digits.size() > (negative ? 10u : 8u) ||
      digits.find_first_not_of(allowed) != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long long value = std::stoull(digits, nullptr, negative ? 10 : 16);
  if (negative) {
    if (value > 0x80000000ull) return std::nullopt;
    return static_cast<std::uint32_t>(0x100000000ull - value);
  }
  return static_cast<std::uint32_t>(value);
}

std::string DescribeResult(std::uint32_t value) {
  if (const ResultCodeInfo* info = FindResultCode(value)) {
    return fmt::format("{} (0x{:08X}): {}", info->name, value, info->meaning);
  }
  return fmt::format("0x{:08X} (an unknown result code)", value);
}

OperationFailed::OperationFailed(const std::string& action, std::uint32_t code, const std::string& hint)
    : std::runtime_error(action + " failed: " + DescribeResult(code) + (hint.empty() ? "" : "; " + hint)),
      code_(code),
      action_(action) {}

OperationFailed::OperationFailed(Worded, const std::string& message, const std::string& action, std::uint32_t code)
    : std::runtime_error(message), code_(code), action_(action) {}

OperationFailed OperationFailed::Explained(const std::string& action, std::uint32_t code,
                                           const std::string& explanation) {
  const ResultCodeInfo* info = FindResultCode(code);
  return OperationFailed(Worded{},
                         fmt::format("{} failed: {} (0x{:08X}): {}", action, info != nullptr ? info->name : "?", code,
                                     explanation),
                         action, code);
}

void Check(HRESULT hr, const std::string& action, const std::string& hint) {
  if (hr != S_OK) throw OperationFailed(action, static_cast<std::uint32_t>(hr), hint);
}

void PrintTable(const std::vector<std::string>& headers, const std::vector<std::vector<std::string>>& rows) {
  TableWriter table(headers);
  for (const auto& row : rows) table.AddRow(row);
  table.Print();
}

void PrintJson(const nlohmann::json& value) {
  std::fputs((value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n").c_str(), stdout);
}

std::string Shortened(const std::string& text, std::size_t limit) {
  std::size_t cut = text.size() <= limit ? text.size() : limit;
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  std::string out;
  for (std::size_t i = 0; i < cut; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool c1 = byte == 0xC2 && i + 1 < cut && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (byte < 0x20 || byte == 0x7F) {
      out += fmt::format("\\x{:02X}", byte);
    } else if (c1) {
      out += fmt::format("\\x{:02X}", static_cast<unsigned char>(text[++i]));
    } else {
      out += static_cast<char>(byte);
    }
  }
  if (cut < text.size()) out += fmt::format("... ({} more bytes)", text.size() - cut);
  return out;
}

std::string Visible(const std::string& text) { return Shortened(text, text.size()); }

void PrintLine(const std::string& text) { std::fputs((Visible(text) + "\n").c_str(), stdout); }

std::string Counted(std::size_t count, std::string_view noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

std::string HexId(ULONG64 id) { return fmt::format("0x{:016X}", id); }

std::string HexBytes(const BYTE* bytes, std::size_t size) {
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) out += fmt::format("{:02x}", bytes[i]);
  return out;
}

Progress::Progress(std::string verb, std::size_t total)
    : verb_(std::move(verb)), total_(total), shown_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  if (shown_ && done_ > 0) std::fputs("\r\033[K", stderr);
}

void Progress::Step(const std::string& item) {
  ++done_;
  if (!shown_) return;
  std::string line = Shortened(fmt::format("{} {}/{} {}", verb_, done_, total_, item), 60);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
}

}  // namespace feroq::cli
