// feroq app export, feroq export-all DIR, feroq import PATH...: applications
// out to files through ZQWinAppObject::ExportFile, and definition files back
// into the farm through feroq::ImportDefinitionFiles.
#include <fcntl.h>
#if !defined(_WIN32)
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unordered_set>

#include <fmt/core.h>

#include "commands.h"
#include "feroq/app_export.h"
#include "feroq/app_import.h"
#include "output.h"
#include "streaming_output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace fs = std::filesystem;

namespace {

std::u16string WidePath(const fs::path& path) {
  std::optional<std::u16string> wide = FromUtf8(path.string());
  if (!wide) throw UsageError("file names must be UTF-8 text: " + path.string());
  return *wide;
}

// ---- why a file cannot be written -------------------------------------------

// The output code for a file-system error, or 0 for one without a code of
// its own.
std::uint32_t OutputCodeOf(int error) {
  switch (error) {
    case ENAMETOOLONG:
      return kOutputNameTooLong;
    case ENOSPC:
#if defined(EDQUOT)
    case EDQUOT:
#endif
      return kOutputDiskFull;
    case ENOENT:
    case ENOTDIR:
      return kOutputFolderMissing;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kOutputNotWritable;
    default:
      return 0;
  }
}

// The library answers E_FAIL for a file it could not write; the tool finds
// out why by trying the same path itself (a file made by the try is removed
// again). Throws OperationFailed with the output code, or with `hr` when the
// file system gives no reason.
[[noreturn]] void ThrowWriteFailure(const std::string& action, HRESULT hr, const fs::path& path) {
  int error = 0;
  std::error_code status_error;
  const bool existed = fs::exists(path, status_error);
#if defined(_WIN32)
  std::FILE* file = ::_wfopen(path.c_str(), L"ab");
  if (file == nullptr) {
    error = errno;
  } else {
    const fs::space_info space = fs::space(path, status_error);
    if (!status_error && space.available == 0) error = ENOSPC;
    std::fclose(file);
    if (!existed) fs::remove(path, status_error);
  }
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = errno;
  } else {
    struct statvfs space {};
    if (::fstatvfs(fd, &space) == 0 && space.f_bavail == 0) error = ENOSPC;
    ::close(fd);
    if (!existed) ::unlink(path.c_str());
  }
#endif
  if (const std::uint32_t code = OutputCodeOf(error)) throw OperationFailed(action, code);
  throw OperationFailed::Explained(action, static_cast<std::uint32_t>(hr), "the file could not be written");
}

// A directory to write into, made when missing.
void MakeDirectory(const fs::path& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (!error) return;
  if (const std::uint32_t code = OutputCodeOf(error.value())) {
    throw OperationFailed("making the directory " + dir.string(), code);
  }
  throw ToolFailure("making the directory " + dir.string() + " failed: " + error.message());
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

// The file of `kind` in a directory: the application's name with the kind's
// extension; the launch file is named after the browser name with ".obr",
// the name the HTML page's Start link gives it.
std::string FileNameOf(const std::string& kind, const std::string& name, const std::string& browser_name) {
  if (kind == "launch") return browser_name + ".obr";
  if (kind == "def") return name + ".def";
  if (kind == "html") return name + ".html";
  return name + ".ico";
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
  char16_t* language_arg = o.language.empty() ? nullptr : language.data();
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
  const std::string action = fmt::format("exporting {} as {} to {}", dn, kind, path.string());
  if (hr == E_FAIL) ThrowWriteFailure(action, hr, path);
  Check(hr, action);
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
  char16_t* browser = nullptr;
  Check(app->GetBrowserName(&browser), "reading the browser name of " + o.dn);
  const std::string browser_name = TakeText(farm, browser);
  std::error_code error;
  if (o.kinds.size() == 1 && !o.output.empty() && !fs::is_directory(o.output, error)) {
    ExportOne(app.get(), o.dn, o.kinds[0], o.output, o);
    PrintLine(fmt::format("wrote {}", o.output));
    return;
  }
  const fs::path dir = o.output.empty() ? fs::path(".") : fs::path(o.output);
  MakeDirectory(dir);
  for (const std::string& kind : o.kinds) {
    const fs::path path = dir / FileNameOf(kind, name, browser_name);
    ExportOne(app.get(), o.dn, kind, path, o);
    PrintLine(fmt::format("wrote {}", path.string()));
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
// for names already used in this run. `used` keeps the paths as plain text:
// a path object keeps each of its components besides, several times the
// memory, and an export of the whole farm holds one for every application.
fs::path DefinitionPath(const fs::path& dir, const std::string& dn, std::unordered_set<std::string>* used) {
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
  // Paths as UTF-8 text on every system (a Windows path's native form is wide).
  auto text_of = [](const fs::path& p) {
    const std::u8string utf8 = p.u8string();
    return std::string(utf8.begin(), utf8.end());
  };
  for (int n = 2; used->count(text_of(candidate)) > 0; ++n) candidate = path / fmt::format("{}~{}.def", stem, n);
  used->insert(text_of(candidate));
  return candidate;
}

// Writes every application it can; one that cannot be written (a file name
// the file system refuses, a full disk) is reported and the others are
// still written. Fails at the end when any was left out. The applications
// are visited a window at a time (ForEachApp); what is reported about the
// written files waits in a spool until the end, where it is printed after
// the refusals (JSON) or before them (text), as the whole report would be.
void ExportAll(Session& session, const std::string& dir, bool icon_files) {
  FarmObject& farm = session.farm();
  admin::FarmCounts counts;
  if (VSTATUS status = session.admin().GetCounts(&counts); status != VORN_OK) {
    throw OperationFailed("counting the applications", status);
  }
  std::unordered_set<std::string> used;
  RowSpool written;  // file, dn
  nlohmann::json refused = nlohmann::json::array();
  std::size_t visited = 0;
  {
    Progress progress("exporting", counts.applications);
    ForEachApp(session, [&](ZQWinAppObject* app) {
      ++visited;
      std::string dn;
      fs::path path;
      try {
        Check(app->Load(), "loading an application");
        dn = DnOf(farm, app);
        progress.Step(dn);
        path = DefinitionPath(dir, dn, &used);
        MakeDirectory(path.parent_path());
        std::u16string file = WidePath(path);
        std::u16string icon = WidePath(fs::path(path).replace_extension(".ico"));
        _DefinitionFileOptions options{icon_files ? icon.data() : nullptr};
        const HRESULT hr = app->ExportFile(ZQWinAppDefinitionFile, nullptr, file.data(), &options);
        const std::string action = fmt::format("exporting {} to {}", Shortened(dn), Shortened(path.string()));
        if (hr == E_FAIL) ThrowWriteFailure(action, hr, path);
        Check(hr, action);
        written.Add({path.string(), dn});
      } catch (const OperationFailed& e) {
        refused.push_back({{"dn", dn}, {"file", path.string()}, {"error", e.what()}});
      } catch (const ToolFailure& e) {
        refused.push_back({{"dn", dn}, {"file", path.string()}, {"error", e.what()}});
      }
    });
  }
  const std::size_t written_count = written.size();
  if (session.json()) {
    JsonObjectPrinter report(0);
    report.Member("refused", refused);
    report.Key("written");
    JsonArrayPrinter files(1);
    written.Drain([&](const std::vector<std::string>& entry) { files.Element({{"dn", entry[1]}, {"file", entry[0]}}); });
    files.Close();
    report.Close();
    std::fputs("\n", stdout);
  } else {
    written.Drain([](const std::vector<std::string>& entry) {
      PrintLine(fmt::format("{}  {}", entry[0], Shortened(entry[1])));
    });
    PrintLine(fmt::format("exported {} applications to {}", written_count, dir));
    for (const auto& entry : refused) {
      std::fprintf(stderr, "feroq: not exported: %s\n", Shortened(entry["error"].get<std::string>(), 2000).c_str());
    }
  }
  if (!refused.empty()) {
    throw ToolFailure(fmt::format("{} of {} applications could not be exported (see above)", refused.size(), visited));
  }
}

// ---- import -----------------------------------------------------------------

struct ImportOptions {
  std::vector<std::string> paths;
  bool create_folders = false;
  bool skip_existing = false;  // the default now; kept so that old scripts still run
  bool refuse_existing = false;
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

// One application of the import: published now, or already in the farm.
struct ImportedApp {
  std::string file;
  std::string dn;
  bool imported;
};

// What the import reports as it goes: progress on a terminal while it reads
// and while it publishes, and the lines of the report (kept as plain
// records: the JSON form is made only for --json).
struct ImportReport {
  std::size_t files = 0;
  std::unique_ptr<Progress> reading;
  std::unique_ptr<Progress> publishing;
  std::vector<ImportedApp> entries;
  std::vector<std::string> folders;
  nlohmann::json refused = nlohmann::json::array();
  std::size_t published = 0;
  std::size_t present = 0;

  static void Receive(const ImportEvent& event, void* context) {
    static_cast<ImportReport*>(context)->Take(event);
  }

  static std::string Utf8Of(const char16_t* text) { return text != nullptr ? ToUtf8(text) : std::string(); }

  void Take(const ImportEvent& event) {
    switch (event.stage) {
      case ImportStage::kRead:
        if (!reading) reading = std::make_unique<Progress>("reading", files);
        reading->Step(reading->shown() ? Utf8Of(event.file) : std::string());
        return;
      case ImportStage::kFolderCreated:
        folders.push_back(Utf8Of(event.dn));
        return;
      case ImportStage::kPublished:
      case ImportStage::kAlreadyPresent: {
        reading.reset();
        if (!publishing) publishing = std::make_unique<Progress>("publishing", files);
        std::string dn = Utf8Of(event.dn);
        publishing->Step(publishing->shown() ? Shortened(dn) : std::string());
        const bool new_one = event.stage == ImportStage::kPublished;
        (new_one ? published : present) += 1;
        entries.push_back({Utf8Of(event.file), std::move(dn), new_one});
        return;
      }
      case ImportStage::kRefused:
      case ImportStage::kNotKept: {
        const std::string dn = Utf8Of(event.dn);
        nlohmann::json entry = {{"code", DescribeResult(static_cast<std::uint32_t>(event.code))}};
        if (event.problem != nullptr) {
          entry["file"] = event.problem->file;
          entry["line"] = event.problem->line;
          entry["message"] = event.problem->message;
        }
        if (!dn.empty()) entry["dn"] = dn;
        if (event.service_code != 0) entry["farm_code"] = DescribeResult(event.service_code);
        refused.push_back(entry);
        return;
      }
    }
  }
};

std::string RefusalLine(const nlohmann::json& entry) {
  std::string line;
  if (entry.contains("file")) {
    line = Shortened(entry["file"].get<std::string>());
    if (entry["line"].get<int>() > 0) line += ":" + std::to_string(entry["line"].get<int>());
    line += ": ";
  }
  if (entry.contains("dn")) line += Shortened(entry["dn"].get<std::string>()) + ": ";
  if (entry.contains("message")) line += entry["message"].get<std::string>() + " ";
  line += "[" + entry["code"].get<std::string>() + "]";
  if (entry.contains("farm_code")) line += " [" + entry["farm_code"].get<std::string>() + "]";
  return line;
}

void Import(Session& session, const ImportOptions& o) {
  const std::vector<fs::path> files = DefinitionFiles(o.paths);
  if (files.empty()) throw UsageError("no definition files to import (a directory is searched for *.def files)");
  std::vector<std::u16string> wide;
  for (const fs::path& file : files) wide.push_back(WidePath(file));
  std::vector<const char16_t*> names;
  for (const std::u16string& file : wide) names.push_back(file.c_str());

  ImportReport report;
  report.files = files.size();
  ImportRequest request;
  request.files = names.data();
  request.file_count = static_cast<ULONG>(names.size());
  request.flags = (o.create_folders ? kImportCreateFolders : 0) | (o.dry_run ? kImportDryRun : 0) |
                  (o.refuse_existing ? kImportRefuseExisting : 0);
  request.callback = &ImportReport::Receive;
  request.context = &report;
  const HRESULT result = ImportDefinitionFiles(&session.farm(), request);
  report.reading.reset();  // progress lines are cleared before the report
  report.publishing.reset();

  if (session.json()) {
    nlohmann::json applications = nlohmann::json::array();
    nlohmann::json folders = nlohmann::json::array();
    if (result == S_OK) {
      for (const ImportedApp& entry : report.entries) {
        applications.push_back({{"file", entry.file}, {"dn", entry.dn}, {"imported", entry.imported}});
      }
      folders = report.folders;
    }
    PrintJson({{"dry_run", o.dry_run},
               {"result", DescribeResult(static_cast<std::uint32_t>(result))},
               {"applications", applications},
               {"folders_created", folders},
               {"refused", report.refused}});
  } else if (result == S_OK) {
    for (const std::string& folder : report.folders) PrintLine(fmt::format("created folder {}", Shortened(folder)));
    for (const ImportedApp& entry : report.entries) {
      PrintLine(fmt::format("{} {} from {}", entry.imported ? "imported" : "already in the farm:", Shortened(entry.dn),
                            Shortened(entry.file)));
    }
    PrintLine(fmt::format("{} {} from {}{}", o.dry_run ? "would import" : "imported",
                          Counted(report.published, "application"), Counted(files.size(), "file"),
                          report.present > 0 ? fmt::format(" ({} already in the farm, left as they are)", report.present)
                                             : ""));
    if (o.dry_run) PrintLine("dry run: every check passed; nothing was changed");
  } else {
    for (const auto& entry : report.refused) {
      std::fprintf(stderr, "feroq: %s\n", Shortened(RefusalLine(entry), 2000).c_str());
    }
  }
  if (result != S_OK) {
    throw OperationFailed(o.dry_run ? "the dry run of the import" : "importing", static_cast<std::uint32_t>(result),
                          "nothing was imported");
  }
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
  auto* import = app.add_subcommand(
      "import",
      "Publish applications from definition files, all or none; applications already in the farm "
      "(same name in the same folder) are left as they are, so the same import can be run again");
  import->add_option("PATH", i->paths, "Definition files, or directories searched for *.def files")->required();
  import->add_flag("--create-folders", i->create_folders, "Create missing parent folders (part of the import)");
  import->add_flag("--refuse-existing", i->refuse_existing,
                   "Fail (importing nothing) when the farm already holds one of the applications");
  import->add_flag("--skip-existing", i->skip_existing, "Leave out applications the farm already has (the default)")
      ->group("");
  import->add_flag("--dry-run", i->dry_run, "Run every check, publishing included, and change nothing");
  OnRun(import, line, [i](Session& session) { Import(session, *i); });
}

}  // namespace feroq::cli
