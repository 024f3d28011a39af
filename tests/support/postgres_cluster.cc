#include "support/postgres_cluster.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>

namespace feroq::testing {
namespace {

// The KEY=VALUE lines of the cluster's settings file; empty when there is
// no cluster.
const std::map<std::string, std::string>& Settings() {
  static const auto* settings = [] {
    auto* map = new std::map<std::string, std::string>;
    std::ifstream in(FEROQ_TEST_POSTGRES_INFO);
    for (std::string line; std::getline(in, line);) {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos) (*map)[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (!map->empty()) setenv("PGPASSFILE", (*map)["FEROQ_PG_PASSFILE"].c_str(), 1);
    return map;
  }();
  return *settings;
}

std::string Setting(const char* key) {
  auto it = Settings().find(key);
  return it == Settings().end() ? std::string() : it->second;
}

std::string SocketUrl(const std::string& database) {
  return "postgresql://" + Setting("FEROQ_PG_USER") + "@/" + database + "?host=" + Setting("FEROQ_PG_DIR") +
         "&port=" + Setting("FEROQ_PG_PORT");
}

bool ExecOn(const std::string& url, const std::string& sql) {
  PGconn* conn = PQconnectdb(url.c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (ok) {
    PGresult* result = PQexec(conn, sql.c_str());
    ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
  }
  if (!ok) ADD_FAILURE() << sql << ": " << PQerrorMessage(conn);
  PQfinish(conn);
  return ok;
}

}  // namespace

bool PostgresClusterAvailable() { return !Settings().empty(); }

std::string PostgresClusterCa(bool signer) { return Setting(signer ? "FEROQ_PG_CA" : "FEROQ_PG_OTHER_CA"); }

ScratchDatabase::ScratchDatabase() {
  static std::atomic<int> serial{0};
  name_ = "feroq_test_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
  ExecOn(SocketUrl("postgres"), "CREATE DATABASE " + name_);
}

ScratchDatabase::~ScratchDatabase() { ExecOn(SocketUrl("postgres"), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }

std::string ScratchDatabase::url() const { return SocketUrl(name_); }

std::string ScratchDatabase::tcp_url(const std::string& user, const std::string& password,
                                     const std::string& host) const {
  std::string who = user.empty() ? Setting("FEROQ_PG_USER") : user;
  if (!password.empty()) who += ":" + password;
  return "postgresql://" + who + "@" + (host.empty() ? Setting("FEROQ_PG_HOST") : host) + ":" +
         Setting("FEROQ_PG_PORT") + "/" + name_;
}

bool ScratchDatabase::Exec(const std::string& sql) const { return ExecOn(url(), sql); }

bool ControlPostgresServer(const std::string& action) {
  const std::string command =
      std::string("bash '") + FEROQ_TEST_POSTGRES_SCRIPT + "' " + action + " '" + FEROQ_TEST_POSTGRES_INFO + "'";
  return std::system(command.c_str()) == 0;
}

bool ListenPostgresAlsoOn(const std::string& address, const std::string& subnet) {
  if (!subnet.empty()) {
    std::ofstream hba(Setting("FEROQ_PG_DIR") + "/data/pg_hba.conf", std::ios::app);
    hba << "host all all " << subnet << " scram-sha-256\n";
    if (!hba.flush()) return false;
  }
  const std::string sql = address.empty() ? "ALTER SYSTEM RESET listen_addresses"
                                          : "ALTER SYSTEM SET listen_addresses = '127.0.0.1," + address + "'";
  return ExecOn(SocketUrl("postgres"), sql) && ControlPostgresServer("restart-server");
}

}  // namespace feroq::testing
