// Reader of the application definition file that ZQWinAppObject::ExportFile
// writes (file type 2), so that its promise holds: the file "can be used to
// publish new applications".
//
// The file is UTF-8 text (the library writes it in the process's multibyte
// encoding, which for a tool that never calls setlocale is UTF-8); line ends
// are CR LF or LF. Layout:
//
//   # comments; "# Application version: N" gives the record version
//   BeginApplication
//       Key = value            (one line per property, any order, each once)
//       DefaultDesktopIntegrate = "StartMenu",
//                                 "Desktop".   (flag lists; "" for none)
//       ServerList =
//           "NAME", "PROGRAM", "DIR";          (";" between, "." after last)
//       UserList =
//           "DOMAIN"/"ACCOUNT".
//       IconMask =  (128 bytes)  IconData =  (512 bytes)  as 0xHH, ... 0xHH.
//   EndApplication
//
// Values are not escaped: a quoted value runs from the first double quote
// after "=" to the last one on the line. DefaultInitialProgram,
// DefaultWorkingDirectory and the server's own program and directory may also
// be written bare when they begin with a double quote themselves. Every key is
// optional. Anything else is refused with the file name, the line number and
// what was expected there.
#ifndef FEROQ_TOOLS_FEROQ_DEFINITION_READER_H_
#define FEROQ_TOOLS_FEROQ_DEFINITION_READER_H_

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "feroq/app_enums.h"
#include "feroq/app_icon.h"

namespace feroq::cli {

struct DefinitionServer {
  std::u16string name;
  std::u16string program;    // empty: the application's default
  std::u16string directory;  // empty: the application's default

  bool operator==(const DefinitionServer&) const = default;
};

struct DefinitionUser {
  std::u16string domain;
  std::u16string account;
  // Not in the file (the directory finds an account by domain and name);
  // 0, 1 or 2 when given on the command line.
  LONG kind = 0;

  bool operator==(const DefinitionUser&) const = default;
};

// One application as a definition file (or the command line) describes it.
// Absent optionals are properties the description does not give.
struct ApplicationDefinition {
  std::optional<ULONG> version;  // "# Application version: N"
  bool read_only = false;        // "# Application is read-only"; publishing cannot set it
  std::optional<std::u16string> browser_name;  // key ObjectName
  std::optional<std::u16string> object_name;   // key DisplayName
  std::optional<std::u16string> description;
  std::optional<std::u16string> initial_program;
  std::optional<std::u16string> working_directory;
  std::optional<std::u16string> wl_folder;
  std::optional<std::u16string> parent_folder;  // distinguished name
  std::optional<_ZQEncryptionLevel> encryption_level;
  std::optional<_ZQSoundType> sound_type;
  std::optional<LONG> video_type;
  std::optional<_ZQWindowColor> window_color;
  std::optional<_ZQWindowType> window_type;
  std::optional<LONG> window_height;
  std::optional<LONG> window_width;
  std::optional<LONG> window_scale;
  std::optional<LONG> desktop_integrate;
  std::optional<LONG> zq_attributes;
  std::optional<LONG> wl_attributes;
  std::optional<LONG> publishing_flags;
  std::vector<DefinitionServer> servers;
  std::vector<DefinitionUser> users;
  std::optional<_ZQWinAppIcon> icon;  // from IconMask and IconData
  // An icon file to take the icon from when `icon` is not given (not part of
  // the file's text: the importer sets it for an ICO file beside the file).
  std::optional<std::u16string> icon_file;
  LONG icon_index = 0;
};

// A file that cannot be read or does not follow the format. what() is
// "FILE:LINE: expected ..., found ..." (line 0 when the file cannot be read).
class DefinitionError : public std::runtime_error {
 public:
  DefinitionError(std::string file, int line, const std::string& expected, const std::string& found);
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  const std::string& expected() const { return expected_; }

 private:
  std::string file_;
  int line_;
  std::string expected_;
};

// Parses the text of one definition file; `file_name` is used in errors only.
// Throws DefinitionError.
ApplicationDefinition ParseDefinition(std::string_view text, const std::string& file_name);

// Reads and parses `path`. Throws DefinitionError (also when the file cannot
// be read).
ApplicationDefinition ReadDefinitionFile(const std::filesystem::path& path);

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_DEFINITION_READER_H_
