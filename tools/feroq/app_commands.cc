// feroq app list|show|delete|validate|move: published applications, through
// the library's application objects. (publish and set: app_publish.cc;
// export: export_import.cc.)
#include <memory>

#include <fmt/core.h>

#include "app_words.h"
#include "commands.h"
#include "output.h"
#include "streaming_output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

// A string property: null when the getter gives nothing.
template <class Getter>
nlohmann::json TextProperty(FarmObject& farm, Getter getter) {
  char16_t* text = nullptr;
  HRESULT hr = getter(&text);
  if (hr == S_OK) return TakeText(farm, text);
  return hr == S_FALSE ? nlohmann::json("") : nlohmann::json(nullptr);
}

nlohmann::json FlagsJson(ZQWinAppObject* app, HRESULT (ZQWinAppObject::*getter)(LONG*), FlagList property) {
  LONG flags = 0;
  if (FAILED((app->*getter)(&flags))) return nullptr;
  return WordsOfFlags(property, flags);
}

nlohmann::json Servers(FarmObject& farm, ZQWinAppObject* app) {
  nlohmann::json servers = nlohmann::json::array();
  _ZQServerConfig server{};
  for (HRESULT hr = app->GetFirstServer(&server); hr == S_OK; hr = app->GetNextServer(&server)) {
    servers.push_back({{"name", TakeText(farm, server.serverName)},
                       {"initial_program", TakeText(farm, server.initialProgram)},
                       {"working_directory", TakeText(farm, server.workingDirectory)}});
    server = {};
  }
  return servers;
}

nlohmann::json Users(FarmObject& farm, ZQWinAppObject* app) {
  nlohmann::json users = nlohmann::json::array();
  _UserAccountInfo user{};
  for (HRESULT hr = app->GetFirstUser(&user); hr == S_OK; hr = app->GetNextUser(&user)) {
    const LONG kind = user.accountKind;
    users.push_back({{"domain", TakeText(farm, user.domain)},
                     {"account", TakeText(farm, user.accountName)},
                     {"kind", AccountKindWord(kind)}});
    user = {};
  }
  return users;
}

}  // namespace

// Every property of a loaded application; a property whose getter fails is
// null.
nlohmann::json DescribeApp(FarmObject& farm, ZQWinAppObject* app) {
  nlohmann::json out;
  ULONG64 id = 0;
  app->GetObjectID(id);
  out["dn"] = DnOf(farm, app);
  out["id"] = HexId(id);
  out["name"] = TextProperty(farm, [&](char16_t** t) { return app->GetObjectName(t); });
  out["browser_name"] = TextProperty(farm, [&](char16_t** t) { return app->GetBrowserName(t); });
  out["description"] = TextProperty(farm, [&](char16_t** t) { return app->GetDescription(t); });
  out["initial_program"] = TextProperty(farm, [&](char16_t** t) { return app->GetDefaultInitialProgram(t); });
  out["working_directory"] = TextProperty(farm, [&](char16_t** t) { return app->GetDefaultWorkingDirectory(*t); });
  out["wl_folder"] = TextProperty(farm, [&](char16_t** t) { return app->GetWLFolder(*t); });
  FolderObject* parent = nullptr;  // the application's cache keeps the reference
  out["parent_folder"] = app->GetParentFolder(&parent) == S_OK ? nlohmann::json(DnOf(farm, parent)) : nullptr;
  LONG number = 0;
  int flag = 0;
  out["version"] = app->GetVersion(&number) == S_OK ? nlohmann::json(number) : nullptr;
  out["read_only"] = app->GetReadOnly(&flag) == S_OK ? nlohmann::json(flag == 1) : nullptr;
  out["enabled"] = app->GetEnabled(&flag) == S_OK ? nlohmann::json(flag == 1) : nullptr;
  _ZQEncryptionLevel level{};
  out["encryption_level"] = app->GetDefaultEncryptionLevel(&level) == S_OK ? nlohmann::json(EncryptionLevelWord(level)) : nullptr;
  _ZQSoundType sound{};
  out["sound_type"] = app->GetDefaultSoundType(&sound) == S_OK ? nlohmann::json(SoundTypeWord(sound)) : nullptr;
  _ZQWindowColor color{};
  out["window_color"] = app->GetDefaultWindowColor(&color) == S_OK ? nlohmann::json(WindowColorCount(color)) : nullptr;
  _ZQWindowType type{};
  out["window_type"] = app->GetDefaultWindowType(&type) == S_OK ? nlohmann::json(WindowTypeName(type)) : nullptr;
  out["window_height"] = app->GetDefaultWindowHeight(&number) == S_OK ? nlohmann::json(number) : nullptr;
  out["window_width"] = app->GetDefaultWindowWidth(&number) == S_OK ? nlohmann::json(number) : nullptr;
  out["window_scale"] = app->GetDefaultWindowScale(&number) == S_OK ? nlohmann::json(number) : nullptr;
  out["desktop_integrate"] = FlagsJson(app, &ZQWinAppObject::GetDesktopIntegrate, FlagList::kDesktopIntegrate);
  out["zq_attributes"] = FlagsJson(app, &ZQWinAppObject::GetZQAttributes, FlagList::kZQAttributes);
  out["wl_attributes"] = FlagsJson(app, &ZQWinAppObject::GetWLAttributes, FlagList::kWLAttributes);
  out["publishing_flags"] = FlagsJson(app, &ZQWinAppObject::GetPublishingFlags, FlagList::kPublishingFlags);
  out["servers"] = Servers(farm, app);
  out["users"] = Users(farm, app);
  _ZQWinAppIcon* icon = nullptr;
  if (app->GetIcon(icon) == S_OK && icon != nullptr) {
    out["icon"] = {{"mask", HexBytes(icon->mask, sizeof(icon->mask))},
                   {"colors", HexBytes(icon->colors, sizeof(icon->colors))}};
  } else {
    out["icon"] = nullptr;
  }
  farm.FreeMemory(icon);
  return out;
}

namespace {

std::string Text(const nlohmann::json& value) {
  if (value.is_null()) return "(unavailable)";
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_array()) {
    std::string out;
    for (const auto& item : value) out += (out.empty() ? "" : ", ") + item.get<std::string>();
    return out.empty() ? "(none)" : out;
  }
  return value.dump();
}

// Prints each application as it is visited (JSON), or keeps its row in a
// spool until the columns' widths are known (table): memory stays flat
// however many applications the farm holds.
void List(Session& session, const std::string& folder_dn) {
  FarmObject& farm = session.farm();
  std::string prefix = folder_dn.empty() ? "" : DnOf(farm, FindFolder(session, folder_dn).get()) + "\\";
  JsonArrayPrinter json(0);
  TableWriter table({"APPLICATION", "BROWSER NAME", "SERVERS", "USERS", "ENABLED"});
  ForEachApp(session, [&](ZQWinAppObject* app) {
    Check(app->Load(), "loading an application");
    const std::string dn = DnOf(farm, app);
    if (!prefix.empty() && dn.rfind(prefix, 0) != 0) return;
    char16_t* browser = nullptr;
    const std::string browser_name = app->GetBrowserName(&browser) == S_OK ? TakeText(farm, browser) : "";
    LONG servers = 0, users = 0;
    app->GetServerCount(&servers);
    app->GetUserCount(&users);
    int enabled = 0;
    app->GetEnabled(&enabled);
    ULONG64 id = 0;
    app->GetObjectID(id);
    if (session.json()) {
      json.Element({{"dn", dn}, {"id", HexId(id)}, {"browser_name", browser_name}, {"servers", servers},
                    {"users", users}, {"enabled", enabled == 1}});
    } else {
      table.AddRow({dn, browser_name, std::to_string(servers), std::to_string(users), enabled == 1 ? "yes" : "no"});
    }
  });
  if (session.json()) {
    json.Close();
    std::fputs("\n", stdout);
  } else {
    table.Print();
  }
}

void Show(Session& session, const std::string& dn) {
  FarmObject& farm = session.farm();
  Held<ZQWinAppObject> app = FindApp(session, dn);
  nlohmann::json details = DescribeApp(farm, app.get());
  if (session.json()) {
    PrintJson(details);
    return;
  }
  for (const char* key : {"dn", "id", "name", "browser_name", "description", "initial_program", "working_directory",
                          "wl_folder", "parent_folder", "version", "read_only", "enabled", "encryption_level",
                          "sound_type", "window_color", "window_type", "window_height", "window_width",
                          "window_scale", "desktop_integrate", "zq_attributes", "wl_attributes", "publishing_flags"}) {
    PrintLine(fmt::format("{:<19} {}", std::string(key) + ":", Text(details[key])));
  }
  PrintLine(fmt::format("servers:            {}", details["servers"].size()));
  for (const auto& server : details["servers"]) {
    PrintLine(fmt::format("  {}{}{}", server["name"].get<std::string>(),
               server["initial_program"].get<std::string>().empty() ? "" : "  program " + server["initial_program"].get<std::string>(),
               server["working_directory"].get<std::string>().empty() ? "" : "  in " + server["working_directory"].get<std::string>()));
  }
  PrintLine(fmt::format("users:              {}", details["users"].size()));
  for (const auto& user : details["users"]) {
    PrintLine(fmt::format("  {}\\{} ({})", user["domain"].get<std::string>(), user["account"].get<std::string>(),
               user["kind"].get<std::string>()));
  }
}

void Delete(Session& session, const std::string& dn) {
  Held<ZQWinAppObject> app = FindApp(session, dn);
  Check(app->Delete(), "deleting " + dn);
  PrintLine(fmt::format("deleted {}", dn));
}

void Validate(Session& session, const std::string& dn) {
  Held<ZQWinAppObject> app = FindApp(session, dn);
  HRESULT hr = app->Validate();
  if (session.json()) PrintJson({{"dn", dn}, {"valid", hr == S_OK}, {"result", DescribeResult(static_cast<std::uint32_t>(hr))}});
  if (hr == E_INVALIDARG) throw OperationFailed("validating " + dn, static_cast<std::uint32_t>(hr), "the application fails the farm's checks");
  Check(hr, "validating " + dn);
  if (!session.json()) PrintLine(fmt::format("{} passes the farm's checks", dn));
}

void Move(Session& session, const std::string& dn, const std::string& target_dn) {
  FarmObject& farm = session.farm();
  Held<ZQWinAppObject> app = FindApp(session, dn);
  Held<AppFolderObject> target = FindFolder(session, target_dn);
  Check(farm.MoveObject(app.get(), target.get()), "moving " + dn);
  PrintLine(fmt::format("moved {} into {}", dn, DnOf(farm, target.get())));
}

}  // namespace

void AddAppCommands(CLI::App& app, CommandLine& line) {
  CLI::App* noun = app.add_subcommand("app", "Published applications");
  noun->require_subcommand(1);

  auto folder = std::make_shared<std::string>();
  auto* list = noun->add_subcommand("list", "List the applications");
  list->add_option("--folder", *folder, "Only those in this folder or below it");
  OnRun(list, line, [folder](Session& session) { List(session, *folder); });

  auto two = std::make_shared<std::pair<std::string, std::string>>();
  auto* show = noun->add_subcommand("show", "Show every property, server and user of an application");
  show->add_option("DN", two->first, "The application")->required();
  OnRun(show, line, [two](Session& session) { Show(session, two->first); });

  auto* remove = noun->add_subcommand("delete", "Delete an application from the farm");
  remove->add_option("DN", two->first, "The application")->required();
  OnRun(remove, line, [two](Session& session) { Delete(session, two->first); });

  auto* validate = noun->add_subcommand("validate", "Ask the farm to check an application");
  validate->add_option("DN", two->first, "The application")->required();
  OnRun(validate, line, [two](Session& session) { Validate(session, two->first); });

  auto* move = noun->add_subcommand("move", "Move an application into another folder");
  move->add_option("DN", two->first, "The application")->required();
  move->add_option("TARGET", two->second, "The folder to move it into")->required();
  OnRun(move, line, [two](Session& session) { Move(session, two->first, two->second); });

  AddPublishCommands(*noun, line);
  AddExportImportCommands(app, *noun, line);
}

}  // namespace feroq::cli
