// The keys of the application definition file's lines and its fixed
// lines, shared by the library's writer (definition_file.cc) and reader
// (definition_parser.cc, definition_values.cc) of the file.
#ifndef FEROQ_EXPORT_DEFINITION_KEYS_H_
#define FEROQ_EXPORT_DEFINITION_KEYS_H_

#include <string_view>

namespace feroq::definition_keys {

inline constexpr std::string_view kBegin = "BeginApplication";
inline constexpr std::string_view kEnd = "EndApplication";
// Header comments.
inline constexpr std::string_view kVersionComment = "# Application version:";
inline constexpr std::string_view kReadOnlyComment = "# Application is read-only";
inline constexpr std::string_view kWritableComment = "# Application is not read-only";

inline constexpr std::string_view kObjectName = "ObjectName";  // the browser name
inline constexpr std::string_view kDisplayName = "DisplayName";
inline constexpr std::string_view kDescription = "Description";
inline constexpr std::string_view kInitialProgram = "DefaultInitialProgram";
inline constexpr std::string_view kWorkingDirectory = "DefaultWorkingDirectory";
inline constexpr std::string_view kWLFolder = "WLFolder";
inline constexpr std::string_view kEncryptionLevel = "DefaultEncryptionLevel";
inline constexpr std::string_view kSoundType = "DefaultSoundType";
inline constexpr std::string_view kVideoType = "DefaultVideoType";
inline constexpr std::string_view kWindowColor = "DefaultWindowColor";
inline constexpr std::string_view kWindowHeight = "DefaultWindowHeight";
inline constexpr std::string_view kWindowWidth = "DefaultWindowWidth";
inline constexpr std::string_view kWindowScale = "DefaultWindowScale";
inline constexpr std::string_view kWindowType = "DefaultWindowType";
// The four flag lists are keyed by feroq::FlagWordsOf(...).key.
inline constexpr std::string_view kParentFolder = "ParentFolder";
inline constexpr std::string_view kServerList = "ServerList";
inline constexpr std::string_view kUserList = "UserList";
inline constexpr std::string_view kIconMask = "IconMask";
inline constexpr std::string_view kIconData = "IconData";

}  // namespace feroq::definition_keys

#endif  // FEROQ_EXPORT_DEFINITION_KEYS_H_
