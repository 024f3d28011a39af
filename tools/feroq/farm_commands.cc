// feroq farm info|init|url|rename, and feroq codes.
#include <cstdio>
#include <memory>

#include <fmt/core.h>

#include "commands.h"
#include "output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

std::string FarmName(Session& session) {
  char16_t* name = nullptr;
  FarmObject& farm = session.farm();
  Check(farm.GetFarmName(&name), "reading the farm name");
  return TakeText(farm, name);
}

void PrintInfo(Session& session) {
  FarmObject& farm = session.farm();
  admin::FarmAdmin& admin = session.admin();
  LONG version = 0;
  farm.GetVersion(&version);
  LONG store_version = 0;
  Check(farm.GetAppSubsysVersion(&store_version), "reading the application store version");
  // The store counts; nothing of the farm is listed or loaded.
  admin::FarmCounts counts;
  if (VSTATUS status = admin.GetCounts(&counts); status != VORN_OK) {
    throw OperationFailed("counting the farm's contents", status);
  }
  const std::size_t server_count = counts.servers;
  const std::size_t account_count = counts.accounts;
  const std::size_t folder_count = counts.folders;
  const std::size_t app_count = counts.applications;
  const std::string name = FarmName(session);
  if (session.json()) {
    PrintJson({{"name", name},
               {"url", session.url()},
               {"library_version", version},
               {"store_version", store_version},
               {"servers", server_count},
               {"accounts", account_count},
               {"folders", folder_count},
               {"applications", app_count}});
    return;
  }
  PrintLine(fmt::format("farm:                {}", name));
  PrintLine(fmt::format("url:                 {}", session.url()));
  PrintLine(fmt::format("library version:     {}", version));
  PrintLine(fmt::format("store version:       {}", store_version));
  PrintLine(fmt::format("servers:             {}", server_count));
  PrintLine(fmt::format("accounts:            {}", account_count));
  PrintLine(fmt::format("folders:             {}", folder_count));
  PrintLine(fmt::format("applications:        {}", app_count));
}

void Rename(Session& session, const std::string& name) {
  std::optional<std::u16string> wide = FromUtf8(name);
  if (!wide || wide->empty()) throw UsageError("the farm name must be non-empty UTF-8 text");
  VSTATUS status = session.admin().SetFarmName(*wide);
  if (status != VORN_OK) throw OperationFailed("renaming the farm", status);
}

// Adds the servers and accounts of the farm at `source_url` that this farm
// lacks (servers by name, accounts by DN, both without regard to case).
void CopySetup(Session& session, const std::string& source_url) {
  std::unique_ptr<admin::FarmAdmin> source;
  VSTATUS status = admin::FarmAdmin::Open(source_url, &source);
  if (status != VORN_OK) throw OperationFailed("opening the farm " + admin::FarmUrlWithoutPassword(source_url), status);
  admin::FarmAdmin& target = session.admin();
  std::vector<admin::ServerInfo> servers, present_servers;
  std::vector<admin::AccountInfo> accounts, present_accounts;
  for (VSTATUS s : {source->ListServers(&servers), source->ListAccounts(&accounts), target.ListServers(&present_servers),
                    target.ListAccounts(&present_accounts)}) {
    if (s != VORN_OK) throw OperationFailed("listing servers and accounts", s);
  }
  int added = 0;
  for (const auto& server : servers) {
    bool present = false;
    for (const auto& p : present_servers) present = present || EqualsIgnoringCase(ToUtf8(p.name), ToUtf8(server.name));
    if (present) continue;
    ULONG64 id = 0;
    if ((status = target.AddServer(server.name, &id)) != VORN_OK) {
      throw OperationFailed("adding the server " + ToUtf8(server.name), status);
    }
    ++added;
  }
  for (const auto& account : accounts) {
    bool present = false;
    for (const auto& p : present_accounts) present = present || EqualsIgnoringCase(ToUtf8(p.dn), ToUtf8(account.dn));
    if (present) continue;
    if ((status = target.AddAccount(account)) != VORN_OK) {
      throw OperationFailed("adding the account " + ToUtf8(account.dn), status);
    }
    ++added;
  }
  PrintLine(fmt::format("copied {} servers and accounts from {}", added, admin::FarmUrlWithoutPassword(source_url)));
}

// Lists the folders and applications whose names break the naming rules
// (a farm file from before the rules); fails when there are any.
void CheckNames(Session& session) {
  std::vector<admin::NameProblem> problems;
  VSTATUS status = session.admin().ListNameProblems(&problems);
  if (status != VORN_OK) throw OperationFailed("checking the farm's names", status);
  FarmObject& farm = session.farm();
  nlohmann::json out = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows;
  for (const admin::NameProblem& problem : problems) {
    std::string folder = HexId(problem.parent_id);
    try {
      Held<CommonObject> parent = FindObject(session, "id:" + HexId(problem.parent_id));
      folder = DnOf(farm, parent.get());
    } catch (const std::exception&) {
      // The identifier stands for a folder that cannot be named.
    }
    const admin::ServiceCodeInfo* cause = admin::FindServiceCode(problem.cause);
    const std::string kind = ObjectKindOf(problem.id) == kObjectKindFolder ? "folder" : "application";
    out.push_back({{"id", HexId(problem.id)}, {"kind", kind}, {"folder", folder}, {"name", ToUtf8(problem.name)},
                   {"cause", cause != nullptr ? cause->name : HexId(problem.cause)}});
    rows.push_back({"id:" + HexId(problem.id), kind, folder, ToUtf8(problem.name),
                    cause != nullptr ? std::string(cause->name) + ": " + cause->meaning : HexId(problem.cause)});
  }
  if (session.json()) {
    PrintJson(out);
  } else if (!rows.empty()) {
    PrintTable({"OBJECT", "KIND", "IN FOLDER", "NAME", "PROBLEM"}, rows);
  }
  if (!problems.empty()) {
    throw ToolFailure(fmt::format("{} names break the farm's naming rules; rename (folder rename, app set --name) "
                                  "or delete them, naming each by its id:0x... shown above",
                                  problems.size()));
  }
  if (!session.json()) PrintLine("every name follows the farm's naming rules");
}

void PrintCodes(Session& session, const std::vector<std::string>& wanted) {
  std::vector<ResultCodeInfo> shown;
  if (wanted.empty()) {
    shown = AllResultCodes();
  } else {
    for (const std::string& text : wanted) {
      const std::optional<std::uint32_t> value = ParseResultCode(text);
      if (!value) throw UsageError("not a result code: " + text + " (give its name, or its value in hex)");
      const ResultCodeInfo* info = FindResultCode(*value);
      shown.push_back(info != nullptr ? *info : ResultCodeInfo{*value, "?", "an unknown result code"});
    }
  }
  if (session.json()) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& info : shown) {
      out.push_back({{"value", fmt::format("0x{:08X}", info.value)}, {"name", info.name}, {"meaning", info.meaning}});
    }
    PrintJson(out);
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& info : shown) rows.push_back({fmt::format("0x{:08X}", info.value), info.name, info.meaning});
  PrintTable({"VALUE", "NAME", "MEANING"}, rows);
}

}  // namespace

void AddFarmCommands(CLI::App& app, CommandLine& line) {
  CLI::App* farm = app.add_subcommand("farm", "The farm itself: its name, versions and contents");
  farm->require_subcommand(1);

  OnRun(farm->add_subcommand("info", "Show the farm's name, versions and how much it holds"), line, PrintInfo);

  auto* init = farm->add_subcommand("init", "Open the farm, creating it when it does not exist");
  auto* init_name = init->add_option("--name", "Name to give the farm");
  auto* init_copy = init->add_option("--copy-setup-from", "Farm URL whose servers and accounts to add where missing");
  auto* init_roles = init->add_option("--roles", "PostgreSQL farms: create the roles PREFIX_admin (may change the farm) "
                                                 "and PREFIX_reader (may list, show, export and watch)")
                         ->expected(0, 1)
                         ->default_str("feroq");
  OnRun(init, line, [init_name, init_copy, init_roles](Session& session) {
    const bool created = session.CreateFarm();
    if (init_name->count() > 0) {
      const std::string wanted = init_name->as<std::string>();
      // An existing farm keeps its name: init makes farms, rename renames them.
      if (!created && FarmName(session) != wanted) {
        throw ToolFailure(fmt::format("the farm at {} exists already, named {}; nothing was changed "
                                      "(`feroq farm rename {}` renames it)",
                                      session.url(), FarmName(session), wanted));
      }
      if (created) Rename(session, wanted);
    }
    if (init_copy->count() > 0) CopySetup(session, init_copy->as<std::string>());
    PrintLine(fmt::format("farm {} is {} at {}", FarmName(session), created ? "created" : "ready", session.url()));
    if (init_roles->count() > 0) {
      std::string prefix = init_roles->as<std::string>();
      if (prefix.empty()) prefix = "feroq";
      if (VSTATUS status = admin::CreateFarmRoles(session.raw_url(), prefix); status != VORN_OK) {
        throw OperationFailed("creating the farm's roles", status);
      }
      PrintLine(fmt::format("roles {0}_admin (may change the farm) and {0}_reader (may read and watch it) are ready; "
                            "grant them to login roles",
                            prefix));
    }
  });

  auto* copy = farm->add_subcommand("copy", "Copy a whole farm into a new farm, between any two kinds of farm");
  auto* copy_from = copy->add_option("FROM", "The farm URL to copy")->required();
  auto* copy_to = copy->add_option("TO", "The farm URL to copy it to (created; it must be new)")->required();
  OnRun(copy, line, [copy_from, copy_to](Session&) {
    const std::string from = copy_from->as<std::string>(), to = copy_to->as<std::string>();
    admin::FarmCounts counts;
    if (VSTATUS status = admin::CopyFarm(from, to, &counts); status != VORN_OK) {
      throw OperationFailed("copying the farm " + admin::FarmUrlWithoutPassword(from) + " to " +
                                admin::FarmUrlWithoutPassword(to),
                            status, status == VORN_E_REFUSED ? "the target must be a new farm, not the source" : "");
    }
    PrintLine(fmt::format("copied {}, {}, {} and {} from {} to {}", Counted(counts.applications, "application"),
                          Counted(counts.folders, "folder"), Counted(counts.servers, "server"),
                          Counted(counts.accounts, "account"),
                          admin::FarmUrlWithoutPassword(from), admin::FarmUrlWithoutPassword(to)));
  });

  OnRun(farm->add_subcommand("check", "List the folders and applications whose names break the farm's rules"), line,
        CheckNames);

  OnRun(farm->add_subcommand("url", "Print the URL of the farm the services open"), line,
        [](Session& session) { PrintLine(fmt::format("{}", session.url())); });

  auto* rename = farm->add_subcommand("rename", "Give the farm a new name");
  auto* new_name = rename->add_option("NAME", "The new name")->required();
  OnRun(rename, line, [new_name](Session& session) {
    Rename(session, new_name->as<std::string>());
    PrintLine(fmt::format("farm renamed to {}", FarmName(session)));
  });

  auto* codes = app.add_subcommand("codes", "Explain result codes (all of them, or those given by value or name)");
  auto wanted = std::make_shared<std::vector<std::string>>();
  codes->add_option("CODE", *wanted, "A code such as 0x20010019 or E_ACCESSDENIED");
  OnRun(codes, line, [wanted](Session& session) { PrintCodes(session, *wanted); });
}

}  // namespace feroq::cli
