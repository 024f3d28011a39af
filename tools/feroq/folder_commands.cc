// feroq folder tree|create|rename|move|delete: the tree of application
// folders, through the library's folder objects.
#include <functional>
#include <memory>

#include <fmt/core.h>

#include "commands.h"
#include "output.h"
#include "streaming_output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

_FarmObjectType TypeOf(CommonObject* object) {
  _FarmObjectType type = FarmObjectAppFolder;
  object->GetObjectType(&type);
  return type;
}

// The tree is printed while it is walked: one folder's children are held
// at a time (and, on the way down, the folders still to visit above), each
// application is loaded, printed and given back before the next, so memory
// follows the largest folder, not the farm.

// Hands each child of `folder` to `on_folder` or (loaded) to `on_app`, in
// the order of the children, giving each back after its visit unless the
// visitor took it. A run of applications is loaded and visited kAppWindow
// at a time in one read transaction; `on_folder` runs outside of one, so a
// walk below it reads in transactions of its own.
void VisitChildren(FarmObject& farm, FolderObject* folder, const std::function<void(Held<CommonObject>&)>& on_folder,
                   const std::function<void(ZQWinAppObject*)>& on_app) {
  std::vector<Held<CommonObject>> children;
  AsOneRead([&] { children = ChildrenOf(farm, folder); });
  for (std::size_t i = 0; i < children.size();) {
    if (TypeOf(children[i].get()) == FarmObjectAppFolder) {
      on_folder(children[i]);
      children[i++].reset();
      continue;
    }
    const std::size_t first = i;
    while (i < children.size() && i - first < kAppWindow && TypeOf(children[i].get()) != FarmObjectAppFolder) ++i;
    AsOneRead([&] {
      for (std::size_t k = first; k < i; ++k) {
        if (on_app) {
          auto* app = static_cast<ZQWinAppObject*>(children[k].get());
          app->Load();
          on_app(app);
        }
        children[k].reset();
      }
    });
  }
}

// The folder and everything below it as indented lines, in the order of
// the folders' children.
void TreeLines(FarmObject& farm, FolderObject* folder, bool with_apps, int depth) {
  PrintLine(std::string(static_cast<std::size_t>(depth) * 2, ' ') + DnOf(farm, folder));
  const std::string indent(static_cast<std::size_t>(depth + 1) * 2, ' ');
  VisitChildren(
      farm, folder,
      [&](Held<CommonObject>& sub) {
        TreeLines(farm, static_cast<FolderObject*>(sub.get()), with_apps, depth + 1);
      },
      with_apps ? std::function<void(ZQWinAppObject*)>([&](ZQWinAppObject* app) { PrintLine(indent + DnOf(farm, app)); })
                : nullptr);
}

// The folder and everything below it as a JSON object nested `depth`
// levels deep: its applications, dn, sub-folders, id and name (the order
// PrintJson gives the keys).
void TreeJson(FarmObject& farm, FolderObject* folder, bool with_apps, int depth) {
  const std::string name = NameOf(farm, folder);
  const std::string dn = DnOf(farm, folder);
  ULONG64 id = 0;
  folder->GetObjectID(id);
  std::vector<Held<CommonObject>> subfolders;
  JsonObjectPrinter node(depth);
  if (with_apps) node.Key("applications");
  JsonArrayPrinter apps(depth + 1);
  VisitChildren(
      farm, folder, [&](Held<CommonObject>& sub) { subfolders.push_back(std::move(sub)); },
      with_apps ? std::function<void(ZQWinAppObject*)>([&](ZQWinAppObject* app) {
        apps.Element({{"name", NameOf(farm, app)}, {"dn", DnOf(farm, app)}});
      })
                : nullptr);
  if (with_apps) apps.Close();
  node.Member("dn", dn);
  node.Key("folders");
  JsonArrayPrinter folders(depth + 1);
  for (Held<CommonObject>& subfolder : subfolders) {
    folders.Next();
    TreeJson(farm, static_cast<FolderObject*>(subfolder.get()), with_apps, depth + 2);
    subfolder.reset();
  }
  folders.Close();
  node.Member("id", HexId(id));
  node.Member("name", name);
  node.Close();
}

void PrintTree(Session& session, const std::string& dn, bool with_apps) {
  FarmObject& farm = session.farm();
  Held<AppFolderObject> folder;
  if (dn.empty()) {
    FolderObject* root = nullptr;
    Check(farm.GetRootFolder(FarmObjectAppFolder, &root), "opening the root folder");
    folder = Held<AppFolderObject>(&farm, static_cast<AppFolderObject*>(root));
  } else {
    folder = FindFolder(session, dn);
  }
  if (session.json()) {
    TreeJson(farm, folder.get(), with_apps, 0);
    std::fputs("\n", stdout);
  } else {
    TreeLines(farm, folder.get(), with_apps, 0);
  }
}

std::u16string WideName(const std::string& name) {
  std::optional<std::u16string> wide = FromUtf8(name);
  if (!wide || wide->empty()) throw UsageError("a folder name must be non-empty UTF-8 text");
  return *wide;
}

// Creates the folder `dn`; with `parents`, also the missing folders above it,
// and an existing folder is not an error.
void Create(Session& session, const std::string& dn, bool parents) {
  auto [parent_dn, name] = SplitDn(dn);
  if (name.empty()) throw UsageError("no folder name in " + dn);
  if (parent_dn.empty()) throw UsageError("a folder is created below another: write \\Applications\\" + name);
  Held<AppFolderObject> parent;
  try {
    parent = FindFolder(session, parent_dn);
  } catch (const ToolFailure&) {
    if (!parents) throw;
    Create(session, parent_dn, true);
    parent = FindFolder(session, parent_dn);
  }
  if (parents) {
    try {
      FindFolder(session, dn);
      PrintLine(fmt::format("folder {} exists", dn));
      return;
    } catch (const ToolFailure&) {
    }
  }
  FarmObject& farm = session.farm();
  std::u16string wide = WideName(name);
  FolderObject* created = nullptr;
  Check(parent->CreateSubFolder(wide.data(), &created), "creating the folder " + dn);
  Held<FolderObject> held(&farm, created);
  PrintLine(fmt::format("created folder {}", DnOf(farm, created)));
}

void Rename(Session& session, const std::string& dn, const std::string& name) {
  Held<AppFolderObject> folder = FindFolder(session, dn);
  std::u16string wide = WideName(name);
  Check(folder->SetObjectName(wide.data()), "renaming the folder " + dn);
  PrintLine(fmt::format("renamed {} to {}", dn, DnOf(session.farm(), folder.get())));
}

void Move(Session& session, const std::string& dn, const std::string& target_dn) {
  Held<AppFolderObject> folder = FindFolder(session, dn);
  Held<AppFolderObject> target = FindFolder(session, target_dn);
  Check(folder->SetParentFolder(target.get()), "moving the folder " + dn);
  PrintLine(fmt::format("moved {} into {}", dn, DnOf(session.farm(), target.get())));
}

void Delete(Session& session, const std::string& dn) {
  Held<AppFolderObject> folder = FindFolder(session, dn);
  Check(folder->Delete(), "deleting the folder " + dn);
  PrintLine(fmt::format("deleted folder {}", dn));
}

}  // namespace

void AddFolderCommands(CLI::App& app, CommandLine& line) {
  CLI::App* folder = app.add_subcommand("folder", "The tree of application folders");
  folder->require_subcommand(1);

  struct TreeOptions {
    std::string dn;
    bool folders_only = false;
  };
  auto tree_options = std::make_shared<TreeOptions>();
  auto* tree = folder->add_subcommand("tree", "Show the folders (and applications) below a folder");
  tree->add_option("DN", tree_options->dn, "Folder to start at (default: the root folder)");
  tree->add_flag("--folders-only", tree_options->folders_only, "Leave the applications out");
  OnRun(tree, line, [tree_options](Session& session) {
    PrintTree(session, tree_options->dn, !tree_options->folders_only);
  });

  struct CreateOptions {
    std::string dn;
    bool parents = false;
  };
  auto create_options = std::make_shared<CreateOptions>();
  auto* create = folder->add_subcommand("create", "Create a folder, such as \\Applications\\Office");
  create->add_option("DN", create_options->dn, "Distinguished name of the new folder")->required();
  create->add_flag("-p,--parents", create_options->parents, "Create missing folders above it; no error if it exists");
  OnRun(create, line, [create_options](Session& session) {
    Create(session, create_options->dn, create_options->parents);
  });

  auto two = std::make_shared<std::pair<std::string, std::string>>();
  auto* rename = folder->add_subcommand("rename", "Rename a folder");
  rename->add_option("DN", two->first, "The folder")->required();
  rename->add_option("NAME", two->second, "Its new name")->required();
  OnRun(rename, line, [two](Session& session) { Rename(session, two->first, two->second); });

  auto* move = folder->add_subcommand("move", "Move a folder into another folder");
  move->add_option("DN", two->first, "The folder")->required();
  move->add_option("TARGET", two->second, "The folder to move it into")->required();
  OnRun(move, line, [two](Session& session) { Move(session, two->first, two->second); });

  auto* remove = folder->add_subcommand("delete", "Delete an empty folder");
  remove->add_option("DN", two->first, "The folder")->required();
  OnRun(remove, line, [two](Session& session) { Delete(session, two->first); });
}

}  // namespace feroq::cli
