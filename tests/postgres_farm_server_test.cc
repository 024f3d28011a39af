// The farm on a PostgreSQL server and the server around it: a server
// stopped, restarted or killed under the farm (also in the middle of the
// tool's import), two hosts on one server, the read-only role, a database
// that holds something else, passwords kept out of what the tool prints, TLS
// when the URL asks for it, a publish run again after a collision, and
// copying a farm between backends.
// Runs against the suite's throwaway cluster.
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "feroq/services/farm_admin.h"
#include "support/postgres_farm_fixture.h"
#include "support/temp_files.h"

namespace feroq::store {
namespace {

using feroq::testing::PostgresFarmTest;
using feroq::testing::ScratchDatabase;

// A call that finds the server stopped answers "cannot reach the farm" and
// writes nothing; once the server is back the next call connects again,
// also after a restart between two calls.
TEST_F(PostgresFarmTest, ServerRestartCannotReachThenReconnects) {
  std::shared_ptr<FarmStore> store = Open();
  auto rename = [&](const std::u16string& name) {
    return store->Write([&](FarmTxn& txn) -> VSTATUS {
      txn.SetFarmName(name);
      return 0;
    });
  };
  ASSERT_EQ(rename(u"before"), 0u);
  ASSERT_TRUE(feroq::testing::ControlPostgresServer("stop-server"));
  EXPECT_EQ(rename(u"while stopped"), admin::kFarmFileUnavailable);
  EXPECT_EQ(store->Read([](const FarmView&) -> VSTATUS { return 0; }), admin::kFarmFileUnavailable);
  ASSERT_TRUE(feroq::testing::ControlPostgresServer("start-server"));
  EXPECT_EQ(Name(store), u"before");
  ASSERT_TRUE(feroq::testing::ControlPostgresServer("restart-server"));
  EXPECT_EQ(rename(u"after"), 0u);
  EXPECT_EQ(Name(store), u"after");
}

// The reader role lists and watches (keeps its own event queue) but every
// change of the farm is refused by the database's grants.
TEST_F(PostgresFarmTest, TheReadOnlyRoleIsRefusedEveryWrite) {
  const std::string prefix = "r" + database_->name();
  {
    std::unique_ptr<admin::FarmAdmin> farm;
    ASSERT_EQ(admin::FarmAdmin::Create(database_->url(), &farm), 0u);
    ULONG64 id = 0;
    ASSERT_EQ(farm->AddServer(u"ALPHA", &id), 0u);
  }
  ASSERT_EQ(admin::CreateFarmRoles(database_->url(), prefix), 0u);
  const std::string login = prefix + "_login";
  ASSERT_TRUE(database_->Exec("CREATE ROLE " + login + " LOGIN PASSWORD 'secret' IN ROLE " + prefix + "_reader"));
  std::shared_ptr<FarmStore> reader;
  ASSERT_EQ(OpenPostgresFarmStore(database_->tcp_url(login, "secret"), false, &reader), 0u);
  EXPECT_EQ(reader->Read([](const FarmView& v) -> VSTATUS { return v.ListServers().size() == 1 ? 0 : 1; }), 0u);
  const std::function<void(FarmTxn&)> writes[] = {
      [](FarmTxn& t) { t.SetFarmName(u"mine"); },
      [](FarmTxn& t) { t.PutServer({t.AllocateId(kObjectKindServer), u"BETA"}); },
      [](FarmTxn& t) { t.PutFolder({MakeObjectId(kObjectKindFolder, 9), t.RootFolderId(), u"F", 9}); },
      [](FarmTxn& t) { t.PutAccount({u"NT", u"CORP", u"eve", 0, u"CN=eve"}); },
      [](FarmTxn& t) { t.AppendEvent(0x1100, {}); },
  };
  for (const auto& write : writes) {
    EXPECT_EQ(reader->Write([&](FarmTxn& txn) -> VSTATUS {
      write(txn);
      return 0;
    }), admin::kFarmReadOnly);
  }
  EXPECT_EQ(reader->Write([](FarmTxn& txn) -> VSTATUS {
    txn.PutEventQueue({txn.AllocateEventQueueHandle(), {0x1100}, txn.LastEventSequence()});
    return 0;
  }), 0u);
  database_->Exec("DROP OWNED BY " + login + "; DROP ROLE " + login);
}

// A database that holds another program's tables is refused, untouched;
// an empty one becomes a farm only when asked to be made.
TEST_F(PostgresFarmTest, InitRefusesADatabaseThatHoldsSomethingElse) {
  std::shared_ptr<FarmStore> store;
  EXPECT_EQ(OpenPostgresFarmStore(database_->url(), /*create=*/false, &store), admin::kFarmFileMissing);
  ASSERT_TRUE(database_->Exec("CREATE TABLE inventory(item text)"));
  EXPECT_EQ(OpenPostgresFarmStore(database_->url(), /*create=*/true, &store), admin::kFarmFileNotAFarm);
  EXPECT_EQ(store, nullptr);
  EXPECT_TRUE(database_->Exec("SELECT item FROM inventory"));
  ScratchDatabase empty;
  EXPECT_EQ(OpenPostgresFarmStore(empty.url(), /*create=*/true, &store), 0u);
}

// Runs a shell command and returns what it printed (both streams) and its
// exit code.
std::pair<std::string, int> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Runs the tool with `args`.
std::pair<std::string, int> RunTool(const std::string& args) { return RunShell(std::string(FEROQ_CLI) + " " + args); }

// A password written into the farm URL is used but never shown: not by
// farm info, not in an error.
TEST_F(PostgresFarmTest, TheToolNeverPrintsAPasswordOfTheUrl) {
  const std::string login = "p" + database_->name();
  ASSERT_TRUE(database_->Exec("CREATE ROLE " + login + " LOGIN SUPERUSER PASSWORD 'hunter2secret'"));
  const std::string url = database_->tcp_url(login, "hunter2secret");
  auto [init, init_code] = RunTool("--farm='" + url + "' farm init");
  EXPECT_EQ(init_code, 0) << init;
  auto [info, info_code] = RunTool("--farm='" + url + "' farm info");
  EXPECT_EQ(info_code, 0) << info;
  EXPECT_NE(info.find("applications:"), std::string::npos) << info;
  auto [failed, failed_code] = RunTool("--farm='" + database_->tcp_url(login, "hunter2wrong") + "' farm info");
  EXPECT_NE(failed_code, 0);
  for (const std::string& printed : {init, info, failed}) {
    EXPECT_EQ(printed.find("hunter2"), std::string::npos) << printed;
  }
  database_->Exec("DROP OWNED BY " + login + "; DROP ROLE " + login);
}

// A URL that asks for TLS with the server's certificate checked gets an
// encrypted connection; a server whose certificate the named CA did not
// sign is refused as a farm that cannot be reached.
TEST_F(PostgresFarmTest, TlsWhenTheUrlAsksForIt) {
  const std::string signer = feroq::testing::PostgresClusterCa(true);
  if (signer.empty()) GTEST_SKIP() << "the cluster takes no TLS";
  const std::string verified = database_->tcp_url() + "?sslmode=verify-full&sslrootcert=";
  std::shared_ptr<FarmStore> store, refused;
  ASSERT_EQ(OpenPostgresFarmStore(verified + signer, /*create=*/true, &store), 0u);
  EXPECT_EQ(Name(store), u"");
  EXPECT_TRUE(database_->Exec(
      "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_stat_ssl JOIN pg_stat_activity USING (pid)"
      " WHERE ssl AND datname = current_database() AND pid <> pg_backend_pid())"
      " THEN RAISE 'no connection to the farm is encrypted'; END IF; END $$"));
  EXPECT_EQ(OpenPostgresFarmStore(verified + feroq::testing::PostgresClusterCa(false), false, &refused),
            admin::kFarmFileUnavailable);
  EXPECT_EQ(refused, nullptr);
}

// A publish that the database fails once as a serialization failure (a
// trigger stands in for the other writer) is run again whole: it succeeds
// and stores every property given.
TEST_F(PostgresFarmTest, APublishRunAgainAfterACollisionStoresTheWholeRecord) {
  const std::string farm = "--farm='" + database_->url() + "' ";
  ASSERT_EQ(RunTool(farm + "farm init").second, 0);
  ASSERT_TRUE(database_->Exec(
      "CREATE SEQUENCE collisions;"
      "CREATE FUNCTION collide_once() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
      " IF nextval('collisions') = 1 THEN RAISE EXCEPTION 'collision' USING ERRCODE = '40001'; END IF;"
      " RETURN NEW; END $$;"
      "CREATE TRIGGER collide BEFORE INSERT ON applications FOR EACH ROW EXECUTE FUNCTION collide_once()"));
  auto [published, code] =
      RunTool(farm + "app publish --name Editor --browser-name editor --program C:\\\\e.exe --description Edits");
  ASSERT_EQ(code, 0) << published;
  EXPECT_TRUE(database_->Exec(
      "DO $$ BEGIN IF (SELECT last_value FROM collisions) < 2 THEN RAISE EXCEPTION 'not run again'; END IF; END $$"));
  auto [shown, shown_code] = RunTool("--json " + farm + "app show \\\\Applications\\\\Editor");
  EXPECT_EQ(shown_code, 0) << shown;
  EXPECT_NE(shown.find("\"Edits\""), std::string::npos) << shown;
  EXPECT_NE(shown.find("e.exe"), std::string::npos) << shown;
}

// The server killed with SIGKILL while the tool's import is half written
// (a trigger holds the import's transaction at its 100th application until
// the test has killed the server): once the server has recovered, the farm
// holds none of the import, folders included, and the same import then
// publishes every application.
TEST_F(PostgresFarmTest, ServerRestartAfterSigkillDuringAnImportKeepsAllOrNone) {
  constexpr int kFiles = 150;
  feroq::testing::ScratchDir dir;
  for (int i = 0; i < kFiles; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_TRUE(feroq::testing::WriteWholeFile(
        dir.File("app" + n + ".def"), "BeginApplication\n    ObjectName = \"app" + n + "\"\n    DisplayName = \"App " + n +
                                          "\"\n    DefaultInitialProgram = \"C:\\app.exe\"\n    ParentFolder = "
                                          "\"\\Applications\\Bulk\"\nEndApplication\n"));
  }
  // The test cluster commits without waiting for the log to be written; a
  // crash would lose the farm's last commits before the import.
  ASSERT_TRUE(database_->Exec("ALTER DATABASE " + database_->name() + " SET synchronous_commit = on"));
  const std::string farm = "--json --farm='" + database_->url() + "' ";
  ASSERT_EQ(RunTool(farm + "farm init").second, 0);
  ASSERT_TRUE(database_->Exec(
      "CREATE SEQUENCE imported;"
      "CREATE FUNCTION hold_import() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
      " IF nextval('imported') = 100 THEN PERFORM pg_advisory_xact_lock(7214); END IF; RETURN NEW; END $$;"
      "CREATE TRIGGER hold BEFORE INSERT ON applications FOR EACH ROW EXECUTE FUNCTION hold_import()"));
  auto counts = [&] {
    const std::pair<std::string, int> run = RunTool(farm + "farm info");
    const std::string& info = run.first;
    EXPECT_EQ(run.second, 0) << info;
    const auto number = [&](const std::string& key) {
      const std::size_t at = info.find("\"" + key + "\":");
      return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + key.size() + 3);
    };
    return std::make_pair(number("applications"), number("folders"));
  };
  const std::pair<int, int> none = counts();
  ASSERT_EQ(none, std::make_pair(0, 1)) << "the root folder only";

  PGconn* holder = PQconnectdb(database_->url().c_str());
  PQclear(PQexec(holder, "SELECT pg_advisory_lock(7214)"));
  const std::string import = farm + "import --create-folders " + dir.path();
  auto killed = std::async(std::launch::async, [&] { return RunTool(import); });
  // Polls until the import waits at the trigger: how long that takes plays
  // no part in the verdict (the bound only keeps a broken run from hanging).
  bool holding = false;
  for (int i = 0; i < 1200 && !holding; ++i) {
    PGresult* r = PQexec(holder, "SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND NOT granted");
    holding = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
    PQclear(r);
    if (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::string holder_error = PQerrorMessage(holder);
  const bool killed_server = holding && feroq::testing::ControlPostgresServer("kill-server");
  PQfinish(holder);  // lets the import go on when the kill did not happen
  const auto [output, code] = killed.get();
  ASSERT_TRUE(holding) << holder_error;
  ASSERT_TRUE(killed_server);
  EXPECT_NE(code, 0) << output;
  ASSERT_TRUE(feroq::testing::ControlPostgresServer("start-server"));
  EXPECT_EQ(counts(), none);
  const auto [again, again_code] = RunTool(import);
  EXPECT_EQ(again_code, 0) << again;
  EXPECT_EQ(counts(), std::make_pair(kFiles, 2));
}

// Two hosts: two network namespaces, each joined to the server's side by a
// veth pair, the server listening also on one of those veths. Both run the
// tool and publish 300 applications at once while a watch on the first
// follows the farm: afterwards every application is there under an
// identifier of its own, and the watch saw each host's publishes in the
// order they were made.
TEST_F(PostgresFarmTest, ServerRestartTwoHostsPublishAtOnceAndWatchEachOther) {
  if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  if (std::system("ip netns list >/dev/null 2>&1") != 0) GTEST_SKIP() << "no `ip` with network namespaces (iproute2)";
  constexpr int kEach = 300;
  const int pid = getpid();
  const std::string tag = std::to_string(pid), net = "10." + std::to_string(64 + pid % 32768 / 256) + "." +
                                                     std::to_string(pid % 256) + ".";
  // Namespaces left by an earlier run that died (or one with this run's
  // process id) go first; deleting a namespace deletes its veth pair.
  const std::string remove_stale =
      "for ns in $(ip netns list | awk '{print $1}' | grep '^feroqt'); do p=${ns#feroqt}; p=${p%?};"
      " if [ ! -d /proc/$p ] || [ $p = " + tag + " ]; then ip netns del $ns; fi; done";
  struct Cleanup {
    std::string command;
    ~Cleanup() {
      std::system(command.c_str());
      EXPECT_TRUE(feroq::testing::ListenPostgresAlsoOn(""));
    }
  } cleanup{remove_stale};
  ASSERT_EQ(std::system(remove_stale.c_str()), 0);
  std::string setup = "set -e;";
  for (const auto& [host, first] : {std::pair{"a", 1}, std::pair{"b", 9}}) {
    const std::string ns = "feroqt" + tag + host, veth = "fqt" + tag + host, root = net + std::to_string(first);
    setup += " ip netns add " + ns + "; ip link add " + veth + " type veth peer name eth0 netns " + ns +
             "; ip addr add " + root + "/29 dev " + veth + "; ip link set " + veth + " up; ip -n " + ns +
             " addr add " + net + std::to_string(first + 1) + "/29 dev eth0; ip -n " + ns + " link set eth0 up; ip -n " +
             ns + " link set lo up; ip -n " + ns + " route add default via " + root + ";";
  }
  const auto [set_up, set_up_code] = RunShell("sh -c '" + setup + "'");
  ASSERT_EQ(set_up_code, 0) << set_up;
  ASSERT_TRUE(feroq::testing::ListenPostgresAlsoOn(net + "1", net + "0/24"));
  ASSERT_EQ(RunTool("--farm='" + database_->url() + "' farm init").second, 0);

  const std::string url = database_->tcp_url("", "", net + "1");
  auto on = [&](const char* host) { return "ip netns exec feroqt" + tag + host + " env FEROQ_FARM=" + url + " "; };
  feroq::testing::ScratchDir dir;
  auto watch = std::async(std::launch::async, [&] {
    return RunShell("{ " + on("a") + FEROQ_CLI + " --json watch --mask apps --timeout 240 --count " +
                    std::to_string(2 * kEach) + " >" + dir.File("watch") + " 2>" + dir.File("note") + "; }");
  });
  bool watching = false;  // the queue sees only changes made after it exists
  for (int i = 0; i < 1200 && !watching; ++i) {
    watching = feroq::testing::ReadWholeFile(dir.File("note")).value_or("").find("watching") != std::string::npos;
    if (!watching) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(watching) << feroq::testing::ReadWholeFile(dir.File("note")).value_or("");
  auto publish = [&](const char* host) {
    return std::async(std::launch::async, [&, host] {
      return RunShell(on(host) + "sh -c 'for i in $(seq " + std::to_string(kEach) + "); do \"$0\" app publish --name " +
                      host + "$i --browser-name " + host + "$i --program C:/p.exe >/dev/null || exit 1; done' " +
                      FEROQ_CLI);
    });
  };
  auto first = publish("a"), second = publish("b");
  for (auto* run : {&first, &second}) {
    const auto [output, code] = run->get();
    EXPECT_EQ(code, 0) << output;
  }
  const auto [watch_error, watch_code] = watch.get();
  EXPECT_EQ(watch_code, 0) << watch_error << feroq::testing::ReadWholeFile(dir.File("note")).value_or("");

  // Each host's applications in the order the watch saw them, and the
  // identifiers of all of them.
  std::map<char, std::vector<std::string>> seen;
  std::set<std::string> watched_ids;
  std::istringstream lines(feroq::testing::ReadWholeFile(dir.File("watch")).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json event = nlohmann::json::parse(line);
    const std::string dn = event["object"]["dn"];
    seen[dn.at(dn.rfind('\\') + 1)].push_back(dn);
    watched_ids.insert(event["object"]["id"].get<std::string>());
  }
  std::set<std::string> listed_ids;
  const auto [listing, listing_code] = RunTool("--json --farm='" + database_->url() + "' app list");
  ASSERT_EQ(listing_code, 0) << listing;
  std::set<std::string> listed_dns;
  for (const auto& app : nlohmann::json::parse(listing)) {
    listed_dns.insert(app["dn"].get<std::string>());
    listed_ids.insert(app["id"].get<std::string>());
  }
  for (const char host : {'a', 'b'}) {
    std::vector<std::string> expected;
    for (int i = 1; i <= kEach; ++i) expected.push_back("\\Applications\\" + std::string(1, host) + std::to_string(i));
    EXPECT_EQ(seen[host], expected) << host;
    for (const auto& dn : expected) EXPECT_EQ(listed_dns.count(dn), 1u) << dn;
  }
  EXPECT_EQ(listed_ids.size(), std::size_t{2 * kEach});
  EXPECT_EQ(watched_ids, listed_ids);
}

// SQLite -> PostgreSQL -> SQLite: the last farm exports exactly as the first.
TEST_F(PostgresFarmTest, CopyRoundTripSqlitePostgresSqlite) {
  feroq::testing::ScratchDir dir;
  const std::string first = "sqlite:" + dir.File("first.db"), last = "sqlite:" + dir.File("last.db");
  const std::string farm = "--farm=" + first + " ";
  for (const char* setup : {"farm init --name Copied", "server add APPSRV01", "account add CORP\\\\alice",
                            "folder create -p \\\\Applications\\\\Office",
                            "app publish --name Editor --browser-name editor --program C:\\\\e.exe "
                            "--folder \\\\Applications\\\\Office --server APPSRV01 --user CORP\\\\alice"}) {
    auto [out, code] = RunTool(farm + setup);
    ASSERT_EQ(code, 0) << setup << ": " << out;
  }
  auto [to_pg, to_pg_code] = RunTool("farm copy " + first + " '" + database_->url() + "'");
  ASSERT_EQ(to_pg_code, 0) << to_pg;
  auto [again, again_code] = RunTool("farm copy " + first + " '" + database_->url() + "'");
  EXPECT_NE(again_code, 0) << "a farm is copied into a new farm only";
  auto [back, back_code] = RunTool("farm copy '" + database_->url() + "' " + last);
  ASSERT_EQ(back_code, 0) << back;
  for (const char* listing : {"server list", "account list", "folder tree",
                                     "app show \\\\Applications\\\\Office\\\\Editor"}) {
    auto [expected, code1] = RunTool("--json --farm=" + first + " " + listing);
    auto [copied, code2] = RunTool("--json --farm=" + last + " " + listing);
    EXPECT_EQ(code1, 0) << expected;
    EXPECT_EQ(copied, expected) << listing;
  }
  // Identifiers handed out after the copy do not repeat the copied ones:
  // a repeated one would replace the copied application.
  auto [published, code] = RunTool("--farm=" + last + " app publish --name Viewer --browser-name viewer"
                                   " --program C:\\\\v.exe");
  EXPECT_EQ(code, 0) << published;
  auto [shown, shown_code] = RunTool("--farm=" + last + " app show \\\\Applications\\\\Office\\\\Editor");
  EXPECT_EQ(shown_code, 0) << shown;
}

}  // namespace
}  // namespace feroq::store
