// feroq app export, feroq export-all DIR, feroq import PATH...: applications
// out to files through ZQWinAppObject::ExportFile, and definition files back
// into the farm through FarmObject::CreateZQWinApp.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include <fmt/core.h>

#include "commands.h"
#include "definition_reader.h"
#include "feroq/app_export.h"
#include "output.h"
#include "publish_description.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace fs = std::filesystem;

namespace {

std::u16string WidePath(const fs::path& path) {
  std::optional<std::u16string> wide = FromUtf8(path.string());
  if (!wide) throw UsageError("file names must be UTF-8 text: " + path.string());
  return *wide;
}

// ---- app export -------------------------------------------------------------

struct ExportOptions {
  std::string dn;
  std::vector<std::string> kinds;  // def, html, launch, ico
  std::string output;              // one kind: the file; several: the directory
  std::string language;
  std::string icon_file;           // def: write the icon there instead
  // Launch file.
  ULONG width = 0, height = 0;
  bool full_screen = false, sound = false, compression = false;
  LONG color_depth = 0;
  std::string preferred_server;
  USHORT port = 0;
  // HTML page.
  ULONG page_width = 0, refresh = 0, max_servers = 0;
  bool hide_description = false, hide_servers = false, hide_display = false;
};

const char* Extension(const std::string& kind) {
  if (kind == "def") return ".def";
  if (kind == "html") return ".html";
  if (kind == "launch") return ".launch";
  return ".ico";
}

std::u16string WideText(const std::string& text, const char* what) {
  std::optional<std::u16string> wide = FromUtf8(text);
  if (!wide) throw UsageError(std::string(what) + " must be UTF-8 text");
  return *wide;
}

void ExportOne(ZQWinAppObject* app, const std::string& dn, const std::string& kind, const fs::path& path,
               const ExportOptions& o) {
  std::u16string file = WidePath(path);
  std::u16string language = WideText(o.language, "--language");
  WCHAR* language_arg = o.language.empty() ? nullptr : language.data();
  HRESULT hr = S_OK;
  if (kind == "ico") {
    hr = app->GetIconFile(IconFileFormatICO, file.data());
  } else if (kind == "def") {
    std::u16string icon = o.icon_file.empty() ? u"" : WidePath(o.icon_file);
    _DefinitionFileOptions options{o.icon_file.empty() ? nullptr : icon.data()};
    hr = app->ExportFile(ZQWinAppDefinitionFile, language_arg, file.data(), &options);
  } else if (kind == "launch") {
    std::u16string server = WideText(o.preferred_server, "--preferred-server");
    _LaunchFileOptions options{};
    options.windowWidth = o.width;
    options.windowHeight = o.height;
    options.fullScreen = o.full_screen ? 1 : 0;
    options.colorDepth = o.color_depth;
    _ZQEncryptionLevel level = ZQEncryptionBasic;
    app->GetDefaultEncryptionLevel(&level);
    options.encryptionLevel = level;
    options.sound = o.sound ? 1 : 0;
    options.compression = o.compression ? 1 : 0;
    options.preferredServer = o.preferred_server.empty() ? nullptr : server.data();
    options.port = o.port;
    hr = app->ExportFile(ZQWinAppLaunchFile, language_arg, file.data(), &options);
  } else {
    _HTMLFileOptions options{o.page_width, o.refresh, o.max_servers, o.hide_description ? 0 : 1,
                             o.hide_servers ? 0 : 1, o.hide_display ? 0 : 1};
    hr = app->ExportFile(ZQWinAppHTMLFile, language_arg, file.data(), &options);
  }
  Check(hr, fmt::format("exporting {} as {} to {}", dn, kind, path.string()));
}

void Export(Session& session, ExportOptions o) {
  FarmObject& farm = session.farm();
  if (o.kinds.empty()) o.kinds = {"def", "html", "launch", "ico"};
  for (const std::string& kind : o.kinds) {
    if (kind != "def" && kind != "html" && kind != "launch" && kind != "ico") {
      throw UsageError("a file kind is def, html, launch or ico: " + kind);
    }
  }
  Held<ZQWinAppObject> app = FindApp(session, o.dn);
  const std::string name = NameOf(farm, app.get());
  if (o.kinds.size() == 1 && !o.output.empty() && !fs::is_directory(o.output)) {
    ExportOne(app.get(), o.dn, o.kinds[0], o.output, o);
    fmt::print("wrote {}\n", o.output);
    return;
  }
  const fs::path dir = o.output.empty() ? fs::path(".") : fs::path(o.output);
  fs::create_directories(dir);
  for (const std::string& kind : o.kinds) {
    const fs::path path = dir / (name + Extension(kind));
    ExportOne(app.get(), o.dn, kind, path, o);
    fmt::print("wrote {}\n", path.string());
  }
}

// ---- export-all -------------------------------------------------------------

// A file-name-safe form of one name component.
std::string SafeComponent(std::string name) {
  for (char& c : name) {
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "_" + name;
  return name;
}

// DIR/Folder/Sub/Name.def for \Applications\Folder\Sub\Name; "~2", "~3"...
// for names already used in this run.
fs::path DefinitionPath(const fs::path& dir, const std::string& dn, std::set<fs::path>* used) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : dn) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  fs::path path = dir;
  for (std::size_t i = 1; i + 1 < parts.size(); ++i) path /= SafeComponent(parts[i]);
  const std::string stem = SafeComponent(parts.back());
  fs::path candidate = path / (stem + ".def");
  for (int n = 2; used->count(candidate) > 0; ++n) candidate = path / fmt::format("{}~{}.def", stem, n);
  used->insert(candidate);
  return candidate;
}

void ExportAll(Session& session, const std::string& dir, bool icon_files) {
  FarmObject& farm = session.farm();
  std::vector<Held<ZQWinAppObject>> apps = AllApps(farm);
  std::set<fs::path> used;
  Progress progress("exporting", apps.size());
  nlohmann::json written = nlohmann::json::array();
  for (Held<ZQWinAppObject>& app : apps) {
    Check(app->Load(), "loading an application");
    const std::string dn = DnOf(farm, app.get());
    progress.Step(dn);
    const fs::path path = DefinitionPath(dir, dn, &used);
    fs::create_directories(path.parent_path());
    std::u16string file = WidePath(path);
    std::u16string icon = WidePath(fs::path(path).replace_extension(".ico"));
    _DefinitionFileOptions options{icon_files ? icon.data() : nullptr};
    Check(app->ExportFile(ZQWinAppDefinitionFile, nullptr, file.data(), &options),
          fmt::format("exporting {} to {}", dn, path.string()));
    written.push_back({{"dn", dn}, {"file", path.string()}});
  }
  if (session.json()) {
    PrintJson(written);
    return;
  }
  for (const auto& entry : written) fmt::print("{}  {}\n", entry["file"].get<std::string>(), entry["dn"].get<std::string>());
  fmt::print("exported {} applications to {}\n", written.size(), dir);
}

// ---- import -----------------------------------------------------------------

struct ImportOptions {
  std::vector<std::string> paths;
  bool create_folders = false;
  bool skip_existing = false;
  bool dry_run = false;
};

// The definition files named: files as given, directories searched for
// *.def files (below them too), in name order.
std::vector<fs::path> DefinitionFiles(const std::vector<std::string>& paths) {
  std::vector<fs::path> files;
  for (const std::string& given : paths) {
    const fs::path path(given);
    if (fs::is_directory(path)) {
      std::vector<fs::path> found;
      for (const auto& entry : fs::recursive_directory_iterator(path)) {
        if (entry.is_regular_file() && entry.path().extension() == ".def") found.push_back(entry.path());
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.push_back(path);
    }
  }
  return files;
}

std::string DnOfDefinition(const ApplicationDefinition& def) {
  std::string folder = def.parent_folder && !def.parent_folder->empty() ? ToUtf8(*def.parent_folder) : "\\Applications";
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder + "\\" + ToUtf8(def.object_name.value_or(u""));
}

bool Exists(Session& session, const std::string& dn) {
  try {
    FindObject(session, dn);
    return true;
  } catch (const ToolFailure&) {
    return false;
  }
}

// Creates the folder `dn` and any missing folder above it.
void EnsureFolder(Session& session, const std::string& dn) {
  FarmObject& farm = session.farm();
  std::string built;
  for (std::size_t start = 0; start <= dn.size();) {
    std::size_t end = dn.find_first_of("\\/", start);
    if (end == std::string::npos) end = dn.size();
    const std::string component = dn.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    built += "\\" + component;
    if (built == "\\Applications" || Exists(session, built)) continue;
    const auto [above, name] = SplitDn(built);
    Held<AppFolderObject> folder = FindFolder(session, above.empty() ? "\\Applications" : above);
    std::optional<std::u16string> wide = FromUtf8(name);
    FolderObject* created = nullptr;
    Check(folder->CreateSubFolder(wide->data(), &created), "creating the folder " + built);
    Held<FolderObject> release(&farm, created);
  }
}

void Import(Session& session, const ImportOptions& o) {
  const std::vector<fs::path> files = DefinitionFiles(o.paths);
  if (files.empty()) throw UsageError("no definition files to import");
  // Every file is read before the farm is touched: one malformed file leaves
  // the farm unchanged.
  std::vector<ApplicationDefinition> definitions;
  for (const fs::path& file : files) {
    definitions.push_back(ReadDefinitionFile(file));
    ApplicationDefinition& def = definitions.back();
    const fs::path icon = fs::path(file).replace_extension(".ico");
    if (!def.icon && fs::is_regular_file(icon)) def.icon_file = WidePath(icon);
  }
  if (o.dry_run) {
    for (std::size_t i = 0; i < files.size(); ++i) fmt::print("{}: {}\n", files[i].string(), DnOfDefinition(definitions[i]));
    fmt::print("{} definition files read; nothing imported (dry run)\n", files.size());
    return;
  }
  FarmObject& farm = session.farm();
  LONG store_version = 0;
  Check(farm.GetAppSubsysVersion(&store_version), "reading the application store version");

  std::vector<Held<ZQWinAppObject>> published;
  nlohmann::json report = nlohmann::json::array();
  Progress progress("importing", files.size());
  std::size_t skipped = 0;
  try {
    for (std::size_t i = 0; i < files.size(); ++i) {
      const ApplicationDefinition& def = definitions[i];
      const std::string dn = DnOfDefinition(def);
      progress.Step(dn);
      if (o.skip_existing && Exists(session, dn)) {
        ++skipped;
        report.push_back({{"file", files[i].string()}, {"dn", dn}, {"imported", false}});
        continue;
      }
      if (o.create_folders && def.parent_folder && !def.parent_folder->empty()) {
        EnsureFolder(session, ToUtf8(*def.parent_folder));
      }
      PublishDescription description(def, static_cast<ULONG>(store_version));
      ZQWinAppObject* app = nullptr;
      Check(farm.CreateZQWinApp(description.data(), &app), fmt::format("importing {} as {}", files[i].string(), dn));
      published.emplace_back(&farm, app);
      report.push_back({{"file", files[i].string()}, {"dn", dn}, {"imported", true}});
    }
  } catch (const OperationFailed& e) {
    // All or nothing: take back what this run published.
    std::size_t undone = 0;
    for (Held<ZQWinAppObject>& app : published) undone += app->Delete() == S_OK ? 1 : 0;
    if (published.empty()) throw;
    throw OperationFailed(e.action(), e.code(),
                          fmt::format("the {} applications this run had published were removed again", undone));
  }
  if (session.json()) {
    PrintJson(report);
    return;
  }
  for (const auto& entry : report) {
    fmt::print("{} {} from {}\n", entry["imported"].get<bool>() ? "imported" : "skipped (exists)",
               entry["dn"].get<std::string>(), entry["file"].get<std::string>());
  }
  fmt::print("imported {} applications from {} files{}\n", published.size(), files.size(),
             skipped > 0 ? fmt::format(" ({} already in the farm)", skipped) : "");
}

}  // namespace

void AddExportImportCommands(CLI::App& app, CLI::App& noun, CommandLine& line) {
  auto e = std::make_shared<ExportOptions>();
  auto* exp = noun.add_subcommand("export", "Write an application as definition file, HTML page, launch file and ICO icon");
  exp->add_option("DN", e->dn, "The application")->required();
  exp->add_option("--kind", e->kinds, "def, html, launch or ico (repeat; default: all four)");
  exp->add_option("-o,--output", e->output, "The file (one kind), or the directory (default: .)");
  exp->add_option("--language", e->language, "English, French, German, Japanese or Spanish");
  exp->add_option("--icon-file", e->icon_file, "def: write the icon to this ICO file instead of into the file");
  exp->add_option("--window-width", e->width, "launch: window width (0: the application's)");
  exp->add_option("--window-height", e->height, "launch: window height (0: the application's)");
  exp->add_flag("--full-screen", e->full_screen, "launch: start full screen");
  exp->add_option("--color-depth", e->color_depth, "launch: bits per pixel (0: the application's)");
  exp->add_flag("--sound", e->sound, "launch: play the application's sound");
  exp->add_flag("--compression", e->compression, "launch: compress the connection");
  exp->add_option("--preferred-server", e->preferred_server, "launch: the server to try first");
  exp->add_option("--port", e->port, "launch: TCP port (0: the client's default)");
  exp->add_option("--page-width", e->page_width, "html: content width in pixels (0: the window)");
  exp->add_option("--refresh", e->refresh, "html: reload every so many seconds (0: never)");
  exp->add_option("--max-servers", e->max_servers, "html: list at most so many servers (0: all)");
  exp->add_flag("--no-description", e->hide_description, "html: leave the description out");
  exp->add_flag("--no-servers", e->hide_servers, "html: leave the server list out");
  exp->add_flag("--no-display-settings", e->hide_display, "html: leave the display settings out");
  OnRun(exp, line, [e](Session& session) { Export(session, *e); });

  struct ExportAllOptions {
    std::string dir;
    bool icon_files = false;
  };
  auto all = std::make_shared<ExportAllOptions>();
  auto* export_all = app.add_subcommand("export-all", "Write every application's definition file into DIR (one folder a folder)");
  export_all->add_option("DIR", all->dir, "Directory to write into")->required();
  export_all->add_flag("--icon-files", all->icon_files, "Write each icon as an ICO file beside its definition file");
  OnRun(export_all, line, [all](Session& session) { ExportAll(session, all->dir, all->icon_files); });

  auto i = std::make_shared<ImportOptions>();
  auto* import = app.add_subcommand("import", "Publish applications from definition files (all or none)");
  import->add_option("PATH", i->paths, "Definition files, or directories of them")->required();
  import->add_flag("--create-folders", i->create_folders, "Create missing parent folders");
  import->add_flag("--skip-existing", i->skip_existing, "Leave out applications the farm already has");
  import->add_flag("--dry-run", i->dry_run, "Only read and check the files");
  OnRun(import, line, [i](Session& session) { Import(session, *i); });
}

}  // namespace feroq::cli
