// feroq app publish|set: publishing an application from options for every
// field of _ZQWinAppData, and changing the properties of a published one.
#include <cstdio>
#include <filesystem>
#include <memory>

#include <fmt/core.h>

#include "app_words.h"
#include "commands.h"
#include "output.h"
#include "feroq/app_import.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

// Options shared by publish and set; each Option* tells whether it was given.
struct PropertyOptions {
  std::string name, browser_name, program, dir, description, wl_folder;
  std::string encryption, sound, video, color, window_type;
  LONG height = 0, width = 0, scale = 0;
  std::string desktop, zq, wl, publishing;
  std::vector<std::string> servers, users;
  std::string icon_file;
  CLI::Option *name_opt, *browser_opt, *program_opt, *dir_opt, *description_opt, *wl_folder_opt;
  CLI::Option *encryption_opt, *sound_opt, *video_opt, *color_opt, *window_type_opt;
  CLI::Option *height_opt, *width_opt, *scale_opt;
  CLI::Option *desktop_opt, *zq_opt, *wl_opt, *publishing_opt, *icon_opt;
};

struct PublishOptions : PropertyOptions {
  std::string folder;
  ULONG version = 0;
  CLI::Option* version_opt = nullptr;
  bool if_missing = false;
};

struct SetOptions : PropertyOptions {
  std::string dn;
  std::string enabled;
  std::vector<std::string> remove_servers, remove_users;
  bool writable = false;
  CLI::Option* enabled_opt = nullptr;
};

void AddPropertyOptions(CLI::App* command, PropertyOptions& o, const char* server_verb) {
  o.name_opt = command->add_option("--name", o.name, "Display name (the last component of its DN)");
  o.browser_opt = command->add_option("--browser-name", o.browser_name, "Browser name");
  o.program_opt = command->add_option("--program", o.program, "Default initial program");
  o.dir_opt = command->add_option("--dir", o.dir, "Default working directory");
  o.description_opt = command->add_option("--description", o.description, "Description");
  o.wl_folder_opt = command->add_option("--wl-folder", o.wl_folder, "WL folder");
  o.encryption_opt = command->add_option("--encryption", o.encryption, "Default encryption level: " + EncryptionWordList());
  o.sound_opt = command->add_option("--sound", o.sound, "Default sound type: Basic or NoSound");
  o.video_opt = command->add_option("--video", o.video, "Default video type: 0 (NoVideo) or 1");
  o.color_opt = command->add_option("--color", o.color, "Default window colour: 16, 256, 32768 or 0x1000000");
  o.window_type_opt = command->add_option("--window-type", o.window_type, "Default window type: " + WindowTypeNameList());
  o.height_opt = command->add_option("--height", o.height, "Default window height");
  o.width_opt = command->add_option("--width", o.width, "Default window width");
  o.scale_opt = command->add_option("--scale", o.scale, "Default window scale (percent)");
  o.desktop_opt = command->add_option("--desktop-integrate", o.desktop,
                                      "Comma-separated: " + FlagWordList(FlagList::kDesktopIntegrate) + " (or none)");
  o.zq_opt = command->add_option("--zq-attributes", o.zq,
                                 "Comma-separated: " + FlagWordList(FlagList::kZQAttributes) + " (or none)");
  o.wl_opt = command->add_option("--wl-attributes", o.wl,
                                 "Comma-separated: " + FlagWordList(FlagList::kWLAttributes) + " (or none)");
  o.publishing_opt = command->add_option("--publishing-flags", o.publishing,
                                         "Comma-separated: " + FlagWordList(FlagList::kPublishingFlags) + " (or none)");
  command->add_option(std::string("--") + server_verb, o.servers,
                      "NAME[:PROGRAM[:DIR]], a server that publishes it, with its own program and working directory "
                      "(repeat for more; a ':' inside double quotes or after a drive letter stays, '::' is one ':')");
  command->add_option(std::string("--") + (server_verb[0] == 's' ? "user" : "add-user"), o.users,
                      "DOMAIN\\ACCOUNT[:KIND], an account that may run it; KIND user, group or other (repeat for more)");
  o.icon_opt = command->add_option("--icon-file", o.icon_file, "PATH[:INDEX], take the icon from an ICO or executable file");
}

std::u16string Wide(const std::string& text, const char* what) {
  std::optional<std::u16string> wide = FromUtf8(text);
  if (!wide) throw UsageError(std::string(what) + " must be UTF-8 text");
  return *wide;
}

DefinitionServer ParseServerOption(const std::string& text) {
  std::vector<std::string> parts = SplitOptionFields(text);
  if (parts.size() > 3 || parts[0].empty()) throw UsageError("a server is given as NAME[:PROGRAM[:DIR]]: " + text);
  DefinitionServer server;
  server.name = Wide(parts[0], "a server name");
  if (parts.size() > 1) server.program = Wide(parts[1], "a program");
  if (parts.size() > 2) server.directory = Wide(parts[2], "a directory");
  return server;
}

DefinitionUser ParseUserOption(const std::string& text) {
  std::string account = text;
  LONG kind = 0;
  const std::size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    std::optional<LONG> parsed = ParseAccountKind(text.substr(colon + 1));
    if (!parsed) throw UsageError("an account kind is user, group or other: " + text);
    kind = *parsed;
    account = text.substr(0, colon);
  }
  const std::size_t slash = account.find('\\');
  if (slash == std::string::npos || slash == 0 || slash + 1 == account.size()) {
    throw UsageError("an account is given as DOMAIN\\ACCOUNT[:KIND]: " + text);
  }
  return {Wide(account.substr(0, slash), "a domain"), Wide(account.substr(slash + 1), "an account"), kind};
}

std::pair<std::u16string, LONG> ParseIconOption(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon != std::string::npos && colon + 1 < text.size() &&
      text.find_first_not_of("-0123456789", colon + 1) == std::string::npos) {
    return {Wide(text.substr(0, colon), "an icon file name"), static_cast<LONG>(std::stol(text.substr(colon + 1)))};
  }
  return {Wide(text, "an icon file name"), 0};
}

LONG ParseFlagList(FlagList property, const std::string& text) {
  LONG flags = 0;
  std::string word;
  auto take = [&] {
    if (word.empty() || EqualsIgnoringCase(word, "none")) return;
    LONG bit = 0;
    if (!ParseFlagWord(property, word, &bit)) {
      throw UsageError(fmt::format("{} has no flag {} (it has {})", FlagWordsOf(property).key, word, FlagWordList(property)));
    }
    flags |= bit;
    word.clear();
  };
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '|') {
      take();
      word.clear();
    } else {
      word += c;
    }
  }
  take();
  return flags;
}

// A word or its number.
template <class Enum>
Enum ParseEnum(const std::string& text, bool (*parse)(std::string_view, Enum*), LONG highest, const std::string& what,
               const std::string& words) {
  Enum value{};
  if (parse(text, &value)) return value;
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && std::stol(text) <= highest) {
    return static_cast<Enum>(std::stol(text));
  }
  throw UsageError(fmt::format("{} is one of {}: {}", what, words, text));
}

// Fills the definition with the options given.
void ApplyOptions(const PropertyOptions& o, ApplicationDefinition& def) {
  auto given = [](CLI::Option* option) { return option->count() > 0; };
  if (given(o.name_opt)) def.object_name = Wide(o.name, "--name");
  if (given(o.browser_opt)) def.browser_name = Wide(o.browser_name, "--browser-name");
  if (given(o.program_opt)) def.initial_program = Wide(o.program, "--program");
  if (given(o.dir_opt)) def.working_directory = Wide(o.dir, "--dir");
  if (given(o.description_opt)) def.description = Wide(o.description, "--description");
  if (given(o.wl_folder_opt)) def.wl_folder = Wide(o.wl_folder, "--wl-folder");
  if (given(o.encryption_opt)) {
    def.encryption_level = ParseEnum<_ZQEncryptionLevel>(o.encryption, ParseEncryptionLevelWord, 5, "--encryption", EncryptionWordList());
  }
  if (given(o.sound_opt)) def.sound_type = ParseEnum<_ZQSoundType>(o.sound, ParseSoundTypeWord, 2, "--sound", "Basic, NoSound");
  if (given(o.video_opt)) {
    if (o.video == "0" || EqualsIgnoringCase(o.video, "NoVideo")) {
      def.video_type = 0;
    } else if (o.video == "1") {
      def.video_type = 1;
    } else {
      throw UsageError("--video is 0 (NoVideo) or 1: " + o.video);
    }
  }
  if (given(o.color_opt)) {
    _ZQWindowColor color{};
    if (!ParseWindowColorCount(o.color, &color)) throw UsageError("--color is one of 16, 256, 32768, 0x1000000: " + o.color);
    def.window_color = color;
  }
  if (given(o.window_type_opt)) {
    def.window_type = ParseEnum<_ZQWindowType>(o.window_type, ParseWindowTypeName, 8, "--window-type", WindowTypeNameList());
  }
  if (given(o.height_opt)) def.window_height = o.height;
  if (given(o.width_opt)) def.window_width = o.width;
  if (given(o.scale_opt)) def.window_scale = o.scale;
  if (given(o.desktop_opt)) def.desktop_integrate = ParseFlagList(FlagList::kDesktopIntegrate, o.desktop);
  if (given(o.zq_opt)) def.zq_attributes = ParseFlagList(FlagList::kZQAttributes, o.zq);
  if (given(o.wl_opt)) def.wl_attributes = ParseFlagList(FlagList::kWLAttributes, o.wl);
  if (given(o.publishing_opt)) def.publishing_flags = ParseFlagList(FlagList::kPublishingFlags, o.publishing);
  for (const std::string& text : o.servers) def.servers.push_back(ParseServerOption(text));
  for (const std::string& text : o.users) def.users.push_back(ParseUserOption(text));
  if (given(o.icon_opt)) std::tie(def.icon_file, def.icon_index) = ParseIconOption(o.icon_file);
}

// Stops with a message naming the icon file when there is nothing to read
// there; the library would only answer E_INVALIDARG.
void RequireIconFile(const std::u16string& file) {
  const std::string path = ToUtf8(file);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw ToolFailure("there is no icon file " + path);
  if (std::filesystem::is_directory(path, error)) throw ToolFailure(path + " is a directory, not an icon file");
}

void Publish(Session& session, const PublishOptions& o) {
  FarmObject& farm = session.farm();
  ApplicationDefinition def;
  ApplyOptions(o, def);
  if (!def.object_name || def.object_name->empty()) throw UsageError("publishing needs --name");
  if (!o.folder.empty()) def.parent_folder = Wide(o.folder, "--folder");
  if (def.icon_file) RequireIconFile(*def.icon_file);
  if (o.version_opt->count() > 0) def.version = o.version;
  std::string folder_dn = o.folder.empty() ? std::string("\\Applications") : o.folder;
  while (folder_dn.size() > 1 && (folder_dn.back() == '\\' || folder_dn.back() == '/')) folder_dn.pop_back();
  const std::string dn = folder_dn + "\\" + o.name;
  if (o.if_missing) {
    try {
      FindApp(session, dn);
      PrintLine(fmt::format("{} is already published", dn));
      return;
    } catch (const ToolFailure&) {
    }
  }
  LONG store_version = 0;
  Check(farm.GetAppSubsysVersion(&store_version), "reading the application store version");
  PublishDescription description;
  Check(description.Build(def, static_cast<ULONG>(store_version)), "describing " + dn);
  ZQWinAppObject* created = nullptr;
  Check(farm.CreateZQWinApp(description.data(), &created), "publishing " + dn);
  Held<ZQWinAppObject> app(&farm, created);
  PrintLine(fmt::format("published {}", DnOf(farm, app.get())));
}

// The changes of one `app set` that the application refused, each with
// the causes the farm's services recorded for it.
class RefusedChanges {
 public:
  // Runs one change; a refusal is noted and the next change is tried.
  template <class Change>
  void Try(const std::string& action, Change&& change) {
    admin::ClearLastServiceFailure();
    const HRESULT hr = change();
    if (hr == S_OK) return;
    std::string line = OperationFailed(action, static_cast<std::uint32_t>(hr)).what();
    admin::ServiceFailure failure;
    if (admin::LastServiceFailure(&failure)) {
      for (const admin::FailureCause& cause : failure.causes) {
        line += "\n  cause" + (cause.field.empty() ? "" : " [" + cause.field + "]") + ": " + DescribeResult(cause.code);
      }
    }
    lines_.push_back(std::move(line));
  }

  // Prints every refusal on standard error and fails, when there were any.
  void ThrowIfAny(const std::string& dn) const {
    if (lines_.empty()) return;
    for (const std::string& line : lines_) {
      std::size_t start = 0;
      for (std::size_t end = line.find('\n'); start <= line.size(); end = line.find('\n', start)) {
        const std::string part = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::fprintf(stderr, "feroq: %s\n", Shortened(part, 2000).c_str());
        if (end == std::string::npos) break;
        start = end + 1;
      }
    }
    throw ToolFailure(fmt::format("{} of the changes to {} were refused (above); nothing was saved", lines_.size(), dn));
  }

 private:
  std::vector<std::string> lines_;
};

void Set(Session& session, const SetOptions& o) {
  FarmObject& farm = session.farm();
  Held<ZQWinAppObject> app = FindApp(session, o.dn);
  ApplicationDefinition def;
  ApplyOptions(o, def);
  if (def.video_type) throw UsageError("the video type is set only when publishing");
  if (def.icon_file) RequireIconFile(*def.icon_file);
  ZQWinAppObject* a = app.get();
  RefusedChanges refused;
  auto text = [&](const std::optional<std::u16string>& value, HRESULT (ZQWinAppObject::*setter)(char16_t*), const char* what) {
    if (!value) return;
    std::u16string copy = *value;
    refused.Try(fmt::format("setting the {} of {}", what, o.dn), [&] { return (a->*setter)(copy.data()); });
  };
  auto number = [&](const auto& value, auto setter, const char* what) {
    if (value) refused.Try(fmt::format("setting the {} of {}", what, o.dn), [&] { return (a->*setter)(*value); });
  };
  text(def.object_name, &ZQWinAppObject::SetObjectName, "name");
  text(def.browser_name, &ZQWinAppObject::SetBrowserName, "browser name");
  text(def.initial_program, &ZQWinAppObject::SetDefaultInitialProgram, "initial program");
  text(def.working_directory, &ZQWinAppObject::SetDefaultWorkingDirectory, "working directory");
  text(def.description, &ZQWinAppObject::SetDescription, "description");
  text(def.wl_folder, &ZQWinAppObject::SetWLFolder, "WL folder");
  number(def.encryption_level, &ZQWinAppObject::SetDefaultEncryptionLevel, "encryption level");
  number(def.sound_type, &ZQWinAppObject::SetDefaultSoundType, "sound type");
  number(def.window_color, &ZQWinAppObject::SetDefaultWindowColor, "window colour");
  number(def.window_type, &ZQWinAppObject::SetDefaultWindowType, "window type");
  number(def.window_height, &ZQWinAppObject::SetDefaultWindowHeight, "window height");
  number(def.window_width, &ZQWinAppObject::SetDefaultWindowWidth, "window width");
  number(def.window_scale, &ZQWinAppObject::SetDefaultWindowScale, "window scale");
  number(def.desktop_integrate, &ZQWinAppObject::SetDesktopIntegrate, "desktop integration");
  number(def.zq_attributes, &ZQWinAppObject::SetZQAttributes, "ZQ attributes");
  number(def.wl_attributes, &ZQWinAppObject::SetWLAttributes, "WL attributes");
  number(def.publishing_flags, &ZQWinAppObject::SetPublishingFlags, "publishing flags");
  if (o.enabled_opt->count() > 0) {
    const std::string value = AsciiLower(o.enabled);
    if (value != "yes" && value != "no") throw UsageError("--enabled is yes or no: " + o.enabled);
    refused.Try("enabling or disabling " + o.dn, [&] { return a->SetEnabled(value == "yes" ? 1 : 0); });
  }
  if (o.writable) refused.Try("making " + o.dn + " writable", [&] { return a->SetReadOnly(0); });
  for (const std::string& name : o.remove_servers) {
    std::u16string wide = Wide(name, "a server name");
    refused.Try(fmt::format("removing the server {} from {}", name, o.dn), [&] { return a->RemoveServer(wide.data()); });
  }
  for (DefinitionServer& server : def.servers) {
    _ZQServerConfig config{0, server.name.data(), server.program.empty() ? nullptr : server.program.data(),
                           server.directory.empty() ? nullptr : server.directory.data()};
    refused.Try(fmt::format("adding the server {} to {}", ToUtf8(server.name), o.dn), [&] { return a->AddServer(&config); });
  }
  for (const std::string& account : o.remove_users) {
    DefinitionUser user = ParseUserOption(account);
    _UserAccountInfo info{0, kUserAuthorityWindowsDomain, user.kind, user.domain.data(), user.account.data()};
    refused.Try(fmt::format("removing the user {} from {}", account, o.dn), [&] { return a->RemoveUser(&info); });
  }
  for (DefinitionUser& user : def.users) {
    _UserAccountInfo info{0, kUserAuthorityWindowsDomain, user.kind, user.domain.data(), user.account.data()};
    refused.Try(fmt::format("adding the user {}\\{} to {}", ToUtf8(user.domain), ToUtf8(user.account), o.dn),
                [&] { return a->AddUser(&info); });
  }
  if (def.icon_file) {
    refused.Try("taking the icon of " + o.dn + " from " + ToUtf8(*def.icon_file),
                [&] { return a->SetIconFile(IconFileFormatICO, def.icon_file->data(), def.icon_index); });
  }
  refused.ThrowIfAny(o.dn);
  admin::ClearLastServiceFailure();
  const HRESULT saved = a->Save();
  admin::ServiceFailure failure;
  if (saved == E_NOTIMPL && admin::LastServiceFailure(&failure) && failure.status == ZQAPP_E_CHECKS_FAILED) {
    // Save answers E_NOTIMPL for a record the farm's checks refused; the
    // broken rules follow as causes.
    throw OperationFailed::Explained("saving " + o.dn, static_cast<std::uint32_t>(saved),
                                     "the farm's checks refused the application; nothing was saved");
  }
  Check(saved, "saving " + o.dn);
  PrintLine(fmt::format("saved {}", DnOf(farm, a)));
}

}  // namespace

void AddPublishCommands(CLI::App& noun, CommandLine& line) {
  auto publish_options = std::make_shared<PublishOptions>();
  auto* publish = noun.add_subcommand("publish", "Publish a new application");
  AddPropertyOptions(publish, *publish_options, "server");
  publish->add_option("--folder", publish_options->folder, "Folder to publish into (default: the root folder)");
  publish_options->version_opt = publish->add_option("--version", publish_options->version,
                                                     "Record version (default: the store's)");
  publish->add_flag("--if-missing", publish_options->if_missing, "Do nothing when the folder already has an application of that name");
  OnRun(publish, line, [publish_options](Session& session) { Publish(session, *publish_options); });

  auto set_options = std::make_shared<SetOptions>();
  auto* set = noun.add_subcommand("set", "Change properties, servers and users of an application, then save it");
  set->add_option("DN", set_options->dn, "The application")->required();
  AddPropertyOptions(set, *set_options, "add-server");
  set_options->enabled_opt = set->add_option("--enabled", set_options->enabled, "yes or no");
  set->add_option("--remove-server", set_options->remove_servers, "Server to take off the list (repeat for more)");
  set->add_option("--remove-user", set_options->remove_users, "DOMAIN\\ACCOUNT to take off the list (repeat for more)");
  set->add_flag("--writable", set_options->writable, "Clear the read-only mark of the record");
  OnRun(set, line, [set_options](Session& session) { Set(session, *set_options); });
}

}  // namespace feroq::cli
