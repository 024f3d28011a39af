// feroq server list|add|remove: the farm's servers, through the services'
// admin interface (the library lists servers but has no call to add them).
#include <memory>

#include <fmt/core.h>

#include "commands.h"
#include "output.h"
#include "text_conversion.h"

namespace feroq::cli {

namespace {

std::vector<admin::ServerInfo> ListServers(Session& session) {
  std::vector<admin::ServerInfo> servers;
  VSTATUS status = session.admin().ListServers(&servers);
  if (status != VORN_OK) throw OperationFailed("listing the servers", status);
  return servers;
}

// The farm's server of that name (compared without regard to ASCII case, as
// the farm compares server names), or null.
const admin::ServerInfo* FindServer(const std::vector<admin::ServerInfo>& servers, const std::string& name) {
  for (const auto& server : servers) {
    if (EqualsIgnoringCase(ToUtf8(server.name), name)) return &server;
  }
  return nullptr;
}

void List(Session& session) {
  // The names as the library reports them, with the identifiers the admin
  // interface knows.
  const std::vector<std::string> names = ServerNames(session.farm());
  const std::vector<admin::ServerInfo> servers = ListServers(session);
  nlohmann::json json = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows;
  for (const std::string& name : names) {
    const admin::ServerInfo* info = FindServer(servers, name);
    const std::string id = info != nullptr ? HexId(info->id) : "";
    json.push_back({{"name", name}, {"id", id}});
    rows.push_back({name, id});
  }
  if (session.json()) {
    PrintJson(json);
  } else {
    PrintTable({"NAME", "ID"}, rows);
  }
}

void Add(Session& session, const std::vector<std::string>& names, bool if_missing) {
  for (const std::string& name : names) {
    if (if_missing && FindServer(ListServers(session), name) != nullptr) {
      PrintLine(fmt::format("server {} is already in the farm", name));
      continue;
    }
    std::optional<std::u16string> wide = FromUtf8(name);
    if (!wide || wide->empty()) throw UsageError("a server name must be non-empty UTF-8 text");
    ULONG64 id = 0;
    VSTATUS status = session.admin().AddServer(*wide, &id);
    if (status != VORN_OK) {
      throw OperationFailed("adding the server " + name, status,
                            status == VORN_E_INVALIDVALUE ? "the name is empty or the farm has that server" : "");
    }
    PrintLine(fmt::format("added server {} ({})", name, HexId(id)));
  }
}

void Remove(Session& session, const std::string& name) {
  const std::vector<admin::ServerInfo> servers = ListServers(session);
  const admin::ServerInfo* server = FindServer(servers, name);
  if (server == nullptr) throw ToolFailure("the farm has no server named " + name);
  VSTATUS status = session.admin().RemoveServer(server->id);
  if (status != VORN_OK) {
    throw OperationFailed("removing the server " + name, status,
                          status == VORN_E_REFUSED ? "an application still lists it" : "");
  }
  PrintLine(fmt::format("removed server {}", name));
}

}  // namespace

void AddServerCommands(CLI::App& app, CommandLine& line) {
  CLI::App* server = app.add_subcommand("server", "The farm's application servers");
  server->require_subcommand(1);

  OnRun(server->add_subcommand("list", "List the servers"), line, List);

  struct AddOptions {
    std::vector<std::string> names;
    bool if_missing = false;
  };
  auto add_options = std::make_shared<AddOptions>();
  auto* add = server->add_subcommand("add", "Add servers to the farm");
  add->add_option("NAME", add_options->names, "Server names")->required();
  add->add_flag("--if-missing", add_options->if_missing, "Skip servers the farm already has");
  OnRun(add, line, [add_options](Session& session) { Add(session, add_options->names, add_options->if_missing); });

  auto remove_name = std::make_shared<std::string>();
  auto* remove = server->add_subcommand("remove", "Remove a server no application lists");
  remove->add_option("NAME", *remove_name, "Server name")->required();
  OnRun(remove, line, [remove_name](Session& session) { Remove(session, *remove_name); });
}

}  // namespace feroq::cli
