// What the SQLite farm store adds to the farm-store contract (which
// farm_store_test.cc checks on every backend): the file itself, its
// settings and permissions, its schema and upgrades, refusing files that are
// not farms, damaged files, the default farm file, and waking waiters (by
// the farm's change signal, or by polling where it has none).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "services/store/id_order.h"
#include "services/store/sqlite_connection.h"
#include "services/store/sqlite_farm_store.h"
#include "services/store/sqlite_record_cache.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace feroq::store {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const std::string& path) {
  struct stat info{};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0xFFFF;
}

// Runs `sql` on the file through a plain SQLite connection.
void RawExec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// Writes `byte` over the first byte of the stored record of application `id`.
void RawSetFirstRecordByte(const std::string& path, ULONG64 id, BYTE byte) {
  sqlite3* db = nullptr;
  sqlite3_blob* blob = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_blob_open(db, "main", "applications", "record", sqlite3_int64(id), 1, &blob), SQLITE_OK);
  EXPECT_EQ(sqlite3_blob_write(blob, &byte, 1, 0), SQLITE_OK);
  sqlite3_blob_close(blob);
  sqlite3_close(db);
}

std::string RawText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  std::string value = "<none>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

// Takes a farm file of this version back to the schema of version 2: the
// event counter in the farm row, no name columns, the older indexes.
constexpr char kBackToVersion2[] = R"sql(
    ALTER TABLE farm ADD COLUMN last_event INTEGER NOT NULL DEFAULT 0;
    UPDATE farm SET last_event = max(coalesce((SELECT last FROM serials WHERE kind = 0), 0),
                                     coalesce((SELECT max(sequence) FROM events), 0));
    DELETE FROM serials WHERE kind = 0;
    DROP INDEX applications_by_name;
    DROP INDEX applications_by_display;
    DROP INDEX folders_by_name;
    ALTER TABLE applications DROP COLUMN name;
    ALTER TABLE applications DROP COLUMN display_key;
    ALTER TABLE applications DROP COLUMN browser_holder;
    ALTER TABLE applications DROP COLUMN display_holder;
    ALTER TABLE folders DROP COLUMN name_key;
    CREATE INDEX applications_by_folder ON applications(folder, id);
    CREATE INDEX applications_by_name ON applications(name_key, id);
)sql";

class SqliteFarmStoreTest : public ::testing::Test {
 protected:
  static void MustWrite(FarmStore& store, const std::function<void(FarmTxn&)>& fn) {
    ASSERT_EQ(store.Write([&](FarmTxn& txn) -> VSTATUS { return fn(txn), 0; }), 0u);
  }
  std::string PathOf(const std::string& name) const { return scratch_.File(name); }

  std::shared_ptr<FarmStore> Open(const std::string& path) {
    std::shared_ptr<FarmStore> store;
    EXPECT_EQ(OpenSqliteFarmStore(path, &store), 0u) << path;
    return store;
  }

  // Every property set to a value of its own.
  static ApplicationRecord FullApplication(ULONG64 id, ULONG64 folder) {
    ApplicationRecord app{id, folder, {}};
    AppRecordData& d = app.data;
    d.version = 3;
    d.read_only = 1;
    d.video_type = 2;
    d.publishing_flags = 0x10203;
    d.browser_name = u"Stra\u00dfe \u00c4rger";
    d.friendly_name = u"Friendly \U0001F600";
    d.initial_program = u"C:\\Apps\\run.exe";
    d.work_directory = u"C:\\Work";
    d.description = u"A description\nwith two lines";
    d.folder_text = u"Office";
    for (int i = 0; i < 640; ++i) d.icon.push_back(static_cast<BYTE>(i * 7));
    d.window_height = 768;
    d.window_width = 1024;
    d.zq_attributes = 0x80000001u;
    d.wl_attributes = 0x40;
    d.encryption_level = 4;
    d.sound_type = 1;
    d.window_color = 3;
    d.window_scale = 75;
    d.window_type = 5;
    d.desktop_integrate = 2;
    d.users = {u"CN=alice,DC=corp", u"CN=Accounting,DC=corp"};
    d.servers = {{MakeObjectId(kObjectKindServer, 1), 6, u"D:\\run.exe", u"D:\\"},
                 {MakeObjectId(kObjectKindServer, 2), 0, u"", u""}};
    return app;
  }

  testing::ScratchDir scratch_;
  const std::string& dir_ = scratch_.path();
};

// Lookups and orders without regard to case agree with the platform's
// comparison, for case pairs inside and outside ASCII, one-way mappings
// (the Kelvin sign folds to 'k') and lone surrogates.
// The identifiers a folder's name index hands out, put in ascending order:
// lists of lengths around the switch to the radix sort, in an order unlike
// the identifiers', with serials over three bytes and one kind (an odd
// number of radix passes) or three (an even number); then in ascending
// order already, and in descending order.
TEST(SortIdsTest, PutsIdentifiersInAscendingOrder) {
  const std::pair<std::size_t, ULONG> cases[] = {{0, 1}, {5, 3}, {1023, 3}, {1024, 1}, {70000, 3}};
  for (const auto& [n, kinds] : cases) {
    std::vector<ULONG64> ids;
    for (std::size_t i = 0; i < n; ++i) {
      ids.push_back(MakeObjectId(1 + static_cast<ULONG>(i % kinds), static_cast<ULONG>((i * 2654435761u) % 0x30000)));
    }
    if (n != 0) ids.back() = MakeObjectId(kinds + 1, 0);  // the largest last: not sorted for all that
    std::vector<ULONG64> expected = ids;
    std::sort(expected.begin(), expected.end());
    for (int round = 0; round < 3; ++round) {
      if (round == 2) std::reverse(ids.begin(), ids.end());
      SortIds(ids);
      EXPECT_EQ(ids, expected) << n << " identifiers of " << kinds << " kinds, round " << round;
    }
  }
}

TEST_F(SqliteFarmStoreTest, CaseInsensitiveLookupsAgreeWithThePlatformComparison) {
  const std::vector<std::u16string> names = {
      u"k",         u"K",        u"\u212a",   u"Stra\u00dfe", u"STRASSE", u"\u03a3\u03c3",
      u"\u03c3\u03a3", u"\u0416\u0436",  u"\u0436\u0416",  u"\u00c9t\u00e9", u"\u00e9T\u00c9",
      u"a\xD800" u"b", u"A\xD800" u"B", u"a\xDC00" u"b", u"i",           u"\u0130",   u"\u0131",
      u"",          u"Zz",       u"zZ",       u"zz0"};
  std::shared_ptr<FarmStore> store = Open(PathOf("farm.db"));
  ASSERT_TRUE(store);
  MustWrite(*store, [&](FarmTxn& txn) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      txn.PutServer({MakeObjectId(kObjectKindServer, ULONG(i + 1)), names[i]});
      // Distinct account names, so only the DNs decide which rows collapse.
      txn.PutAccount({u"NT", u"D", u"account" + std::u16string(1, char16_t(u'A' + i)), 0, names[i]});
    }
  });
  auto same = [](const std::u16string& a, const std::u16string& b) {
    return platform::CompareUtf16NoCase(a.c_str(), b.c_str()) == 0;
  };
  store->Read([&](const FarmView& v) -> VSTATUS {
    for (const std::u16string& probe : names) {
      // The lowest-id server whose name compares equal, as the platform sees it.
      std::optional<ULONG64> expected;
      for (std::size_t i = 0; i < names.size() && !expected; ++i) {
        if (same(names[i], probe)) expected = MakeObjectId(kObjectKindServer, ULONG(i + 1));
      }
      std::optional<ServerRecord> found = v.FindServerByName(probe);
      EXPECT_EQ(found ? std::optional<ULONG64>(found->id) : std::nullopt, expected);
    }
    // Accounts keyed by DN: equal DNs collapsed to the last put, listed in
    // the platform's order.
    std::vector<AccountRecord> accounts = v.ListAccounts();
    for (std::size_t i = 1; i < accounts.size(); ++i) {
      EXPECT_LT(platform::CompareUtf16NoCase(accounts[i - 1].dn.c_str(), accounts[i].dn.c_str()), 0)
          << i;
    }
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      bool later_twin = false;
      for (std::size_t j = i + 1; j < names.size(); ++j) later_twin = later_twin || same(names[i], names[j]);
      if (!later_twin) ++distinct;
    }
    EXPECT_EQ(accounts.size(), distinct);
    return 0;
  });
}

TEST_F(SqliteFarmStoreTest, NewFileIsAFarmFileInWalModeReadableOnlyByItsOwner) {
  const std::string path = PathOf("farm.db");
  const mode_t old_umask = umask(0);  // the file must not take the umask's looser bits
  std::shared_ptr<FarmStore> store = Open(path);
  umask(old_umask);
  ASSERT_TRUE(store);
  MustWrite(*store, [](FarmTxn& txn) { InitializeNewFarm(txn); });
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ModeOf(path + "-wal"), 0600u);
  EXPECT_EQ(ModeOf(path + "-shm"), 0600u);
  EXPECT_EQ(RawText(path, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(RawText(path, "PRAGMA application_id"), std::to_string(0x46455251));
  EXPECT_EQ(RawText(path, "PRAGMA user_version"), "5");
  EXPECT_EQ(RawText(path, "PRAGMA encoding"), "UTF-16le");
  std::string report;
  EXPECT_EQ(CheckSqliteFarmFile(path, &report), 0u);
  EXPECT_EQ(report, "ok");

  // A missing directory is not made for an explicit path.
  std::shared_ptr<FarmStore> none;
  EXPECT_EQ(OpenSqliteFarmStore(PathOf("missing/farm.db"), &none), admin::kFarmFileUnavailable);
  EXPECT_EQ(none, nullptr);
}

TEST_F(SqliteFarmStoreTest, DefaultFarmFileLivesUnderTheUsersDataDirectory) {
  testing::EnvOverride no_farm("FEROQ_FARM", std::nullopt);
  {
    testing::EnvOverride data_home("XDG_DATA_HOME", dir_ + "/xdg/data");
    const std::string expected = dir_ + "/xdg/data/feroq/farm.db";
    EXPECT_EQ(admin::CurrentFarmUrl(), "sqlite:" + expected);

    std::unique_ptr<admin::FarmAdmin> admin;
    ASSERT_EQ(admin::FarmAdmin::OpenCurrent(&admin), 0u);
    for (const char* made : {"/xdg", "/xdg/data", "/xdg/data/feroq"}) {
      EXPECT_EQ(ModeOf(dir_ + made), 0700u) << made;
    }
    EXPECT_EQ(ModeOf(expected), 0600u);
    // Created as a new farm.
    std::u16string name;
    ASSERT_EQ(admin->GetFarmName(&name), 0u);
    EXPECT_EQ(name, u"feroq");
    std::vector<admin::FolderInfo> folders;
    ASSERT_EQ(admin->ListFolders(&folders), 0u);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].name, u"Applications");
    ASSERT_EQ(admin->SetFarmName(u"Kept"), 0u);
    admin.reset();

    // Opened again (closed in between): the same farm, not a new one.
    ASSERT_EQ(admin::FarmAdmin::OpenCurrent(&admin), 0u);
    ASSERT_EQ(admin->GetFarmName(&name), 0u);
    EXPECT_EQ(name, u"Kept");
    ASSERT_EQ(admin->ListFolders(&folders), 0u);
    EXPECT_EQ(folders.size(), 1u);
  }
  // A relative XDG_DATA_HOME is ignored in favour of HOME.
  testing::EnvOverride data_home("XDG_DATA_HOME", std::string("relative/data"));
  testing::EnvOverride home("HOME", dir_ + "/home");
  EXPECT_EQ(admin::CurrentFarmUrl(), "sqlite:" + dir_ + "/home/.local/share/feroq/farm.db");
  testing::EnvOverride root_home("HOME", std::string("/"));
  EXPECT_EQ(admin::CurrentFarmUrl(), "sqlite:/.local/share/feroq/farm.db");
}

TEST_F(SqliteFarmStoreTest, FilesThatAreNotFarmsAreRefusedAndLeftUntouched) {
  struct Case {
    const char* name;
    std::string sql;  // builds the file; empty: write `bytes` instead
    std::string bytes;
    VSTATUS expected;
  };
  const Case cases[] = {
      {"text.db", "", std::string(5000, 'x'), admin::kFarmFileNotAFarm},
      {"other-app.db", "CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT); INSERT INTO notes VALUES (1, 'hi');",
       "", admin::kFarmFileNotAFarm},
      {"our-id-no-version.db", "PRAGMA application_id = 1178948177; CREATE TABLE farm(id INTEGER);", "",
       admin::kFarmFileNotAFarm},
      {"newer.db", "PRAGMA application_id = 1178948177; PRAGMA user_version = 6; CREATE TABLE farm(x);", "",
       admin::kFarmFileTooNew},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathOf(c.name);
    if (c.sql.empty()) {
      ASSERT_TRUE(testing::WriteWholeFile(path, c.bytes));
    } else {
      RawExec(path, c.sql);
    }
    const std::optional<std::string> before = testing::ReadWholeFile(path);
    std::shared_ptr<FarmStore> store;
    EXPECT_EQ(OpenSqliteFarmStore(path, &store), c.expected);
    EXPECT_EQ(store, nullptr);
    std::unique_ptr<admin::FarmAdmin> admin;
    EXPECT_EQ(admin::FarmAdmin::Open("sqlite:" + path, &admin), c.expected);
    EXPECT_EQ(testing::ReadWholeFile(path), before);
    EXPECT_FALSE(fs::exists(path + "-wal"));
  }
}

TEST_F(SqliteFarmStoreTest, DamagedRecordFailsItsTransactionEvenWhenTheFailureIsSwallowed) {
  const std::string path = PathOf("farm.db");
  std::shared_ptr<FarmStore> store = Open(path);
  ASSERT_TRUE(store);
  const ULONG64 app = MakeObjectId(kObjectKindApplication, 1);
  // A record cut short, and a whole record of an unknown format.
  for (bool cut : {true, false}) {
    SCOPED_TRACE(cut);
    MustWrite(*store, [&](FarmTxn& txn) { txn.PutApplication(FullApplication(app, 1)); });
    if (cut) {
      RawExec(path, "UPDATE applications SET record = X'0103000000'");
    } else {
      RawSetFirstRecordByte(path, app, 7);
    }
    EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS {
      v.GetApplication(app);
      return 0;
    }),
              admin::kFarmFileCorrupt);
    EXPECT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
      txn.PutServer({MakeObjectId(kObjectKindServer, 1), u"S"});
      try {
        txn.GetApplication(app);
      } catch (...) {
        // A careless caller goes on and reports success.
      }
      return 0;
    }),
              admin::kFarmFileCorrupt);
    EXPECT_EQ(store->Read([](const FarmView& v) -> VSTATUS { return v.ListServers().empty() ? 0 : 1; }), 0u);
    // The rest of the farm still reads.
    EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS {
      return v.ApplicationFolder(app) == ULONG64{1} ? 0 : 1;
    }),
              0u);
  }
  // An event queue whose identifier list has an odd length.
  MustWrite(*store, [](FarmTxn& txn) { txn.PutEventQueue({1, {0x1000}, 0}); });
  RawExec(path, "UPDATE event_queues SET event_ids = X'001001'");
  EXPECT_EQ(store->Read([](const FarmView& v) -> VSTATUS {
    v.GetEventQueue(1);
    return 0;
  }),
            admin::kFarmFileCorrupt);
}

// Damaged pages are the farm file's corruption, in the open, a read and the
// file's check (the corpus replay accepts any farm file code); folders whose
// parents form a cycle are refused the same way, since a name built for any
// of them would walk towards the root for ever.
TEST_F(SqliteFarmStoreTest, DamagedPagesAndFolderCyclesAreCorruption) {
  const std::string path = PathOf("farm.db"), cycles = PathOf("cycles.db");
  {
    std::shared_ptr<FarmStore> store = Open(path);
    MustWrite(*store, [&](FarmTxn& txn) {
      for (ULONG i = 1; i <= 300; ++i) txn.PutApplication(FullApplication(MakeObjectId(kObjectKindApplication, i), 1));
    });
  }  // closing checkpoints the log into the file
  const std::uintmax_t size = fs::file_size(path);
  ASSERT_GT(size, 40u * 4096);
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(3 * 4096);
    file << std::string(size - 4 * 4096, '\xA5');
  }
  std::shared_ptr<FarmStore> store;
  VSTATUS status = OpenSqliteFarmStore(path, &store);
  if (status == 0) {
    status = store->Read([](const FarmView& v) -> VSTATUS {
      for (ULONG64 id : v.ApplicationIds(0)) v.GetApplication(id);
      return 0;
    });
  }
  EXPECT_EQ(status, admin::kFarmFileCorrupt);
  std::string report;
  EXPECT_EQ(CheckSqliteFarmFile(path, &report), admin::kFarmFileCorrupt);

  ASSERT_TRUE(Open(cycles));
  RawExec(cycles, "INSERT INTO folders(id, parent, name, creation_serial) VALUES"
                  " (1, 0, 'Applications', 1), (2, 1, 'Office', 2), (3, 2, 'Tools', 3), (5, 99, 'Orphan', 5)");
  EXPECT_TRUE(Open(cycles)) << "a tree, and a folder whose parent is missing, are no damage";
  for (const char* cycle : {"INSERT INTO folders(id, parent, name, creation_serial) VALUES (4, 4, 'Self', 4)",
                            "DELETE FROM folders WHERE id = 4; UPDATE folders SET parent = 3 WHERE id = 2"}) {
    RawExec(cycles, cycle);
    EXPECT_EQ(OpenSqliteFarmStore(cycles, &store), admin::kFarmFileCorrupt) << cycle;
  }
}

// SQLite's results, extended ones too, that have a farm code of their own.
TEST(SqliteStatusCodeTest, ResultsWithACodeOfTheirOwn) {
  const std::pair<int, VSTATUS> cases[] = {{SQLITE_CORRUPT_INDEX, admin::kFarmFileCorrupt},
                                           {SQLITE_READONLY_DBMOVED, admin::kFarmReadOnly},
                                           {SQLITE_FULL, admin::kFarmDiskFull}};
  for (const auto& [result, code] : cases) EXPECT_EQ(sqlite::SqliteStatusCode(result), code) << result;
}

TEST_F(SqliteFarmStoreTest, HandBuiltVersion1FileReadsAndItsStaleKeysAreRemade) {
  // A version 1 farm file written without the store: UTF-8 text, folded
  // keys left empty and made with unknown case classes (fingerprint 0).
  // The application record blob is spelt out byte by byte: format 1,
  // version 3, browser name "Ab", window width 640, one user "U", one
  // server 0x1F00000002 with flags 6 and initial program "p".
  const std::string path = PathOf("v1.db");
  RawExec(path, R"sql(
    PRAGMA application_id = 1178948177;
    PRAGMA user_version = 1;
    CREATE TABLE farm(id INTEGER PRIMARY KEY CHECK (id = 1), name TEXT NOT NULL,
      last_event INTEGER NOT NULL, last_queue_handle INTEGER NOT NULL,
      fold_fingerprint INTEGER NOT NULL);
    CREATE TABLE serials(kind INTEGER PRIMARY KEY, last INTEGER NOT NULL);
    CREATE TABLE folders(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name TEXT NOT NULL,
      creation_serial INTEGER NOT NULL);
    CREATE INDEX folders_by_parent ON folders(parent, creation_serial, id);
    CREATE TABLE applications(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL,
      name_key BLOB NOT NULL, record BLOB NOT NULL);
    CREATE INDEX applications_by_folder ON applications(folder, id);
    CREATE INDEX applications_by_name ON applications(name_key, id);
    CREATE TABLE servers(id INTEGER PRIMARY KEY, name TEXT NOT NULL, name_key BLOB NOT NULL);
    CREATE INDEX servers_by_name ON servers(name_key, id);
    CREATE TABLE accounts(dn_key BLOB PRIMARY KEY, authority_key BLOB NOT NULL,
      instance_key BLOB NOT NULL, account_key BLOB NOT NULL, authority_type TEXT NOT NULL,
      instance TEXT NOT NULL, account_name TEXT NOT NULL, kind INTEGER NOT NULL, dn TEXT NOT NULL,
      UNIQUE (authority_key, instance_key, account_key)) WITHOUT ROWID;
    CREATE TABLE events(sequence INTEGER PRIMARY KEY, event_id INTEGER NOT NULL, record BLOB NOT NULL);
    CREATE TABLE event_queues(handle INTEGER PRIMARY KEY, event_ids BLOB NOT NULL,
      read_position INTEGER NOT NULL);
    INSERT INTO farm VALUES (1, 'Old farm', 3, 4, 0);
    INSERT INTO serials VALUES (23, 1), (9, 7), (31, 2);
    INSERT INTO folders VALUES (98784247809, 0, 'Applications', 1);
    INSERT INTO applications VALUES (38654705671, 98784247809, X'',
      X'01' || X'03000000' || X'00' || X'00' || X'00000000' ||
      X'02000000' || X'41006200' || X'00000000' || X'00000000' || X'00000000' || X'00000000' ||
      X'00000000' || X'00000000' ||
      X'00000000' || X'80020000' || X'00000000' || X'00000000' ||
      X'000000000000' ||
      X'01000000' || X'01000000' || X'5500' ||
      X'01000000' || X'020000001F000000' || X'06' || X'01000000' || X'7000' || X'00000000');
    INSERT INTO servers VALUES (133143986178, 'Ärger', X''), (133143986177, 'beta', X'');
    INSERT INTO accounts VALUES (X'01', X'', X'', X'', 'NT', 'CORP', 'Zoë', 0, 'CN=Zoë'),
                                (X'02', X'', X'', X'02', 'NT', 'CORP', 'adam', 1, 'CN=adam');
    INSERT INTO events VALUES (3, 4096, X'0102');
    INSERT INTO event_queues VALUES (4, X'00100111', 1);
  )sql");
  const ULONG64 before_upgrade = platform::WallClockSeconds();
  std::shared_ptr<FarmStore> store = Open(path);
  ASSERT_TRUE(store);
  const ULONG64 app = MakeObjectId(kObjectKindApplication, 7);
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1);
  store->Read([&](const FarmView& v) -> VSTATUS {
    EXPECT_EQ(v.FarmName(), u"Old farm");
    EXPECT_EQ(v.RootFolderId(), root);
    ApplicationRecord expected{app, root, {}};
    expected.data.version = 3;
    expected.data.browser_name = u"Ab";
    expected.data.window_width = 640;
    expected.data.users = {u"U"};
    expected.data.servers = {{MakeObjectId(kObjectKindServer, 2), 6, u"p", u""}};
    EXPECT_EQ(v.GetApplication(app), expected);
    EXPECT_EQ(v.FindApplicationsByBrowserName(u"aB"), std::vector<ULONG64>{app});
    EXPECT_EQ(v.FindServerByName(u"\u00e4RGER")->id, MakeObjectId(kObjectKindServer, 2));
    EXPECT_EQ(v.FindServerByName(u"BETA")->id, MakeObjectId(kObjectKindServer, 1));
    EXPECT_EQ(v.FindAccount(u"nt", u"corp", u"ZO\u00cb")->dn, u"CN=Zo\u00eb");
    EXPECT_EQ(v.FindAccountByDn(u"cn=ADAM")->kind, 1u);
    std::vector<AccountRecord> accounts = v.ListAccounts();  // ascending DN without regard to case
    EXPECT_EQ(accounts.size(), 2u);
    if (accounts.size() == 2) {
      EXPECT_EQ(accounts[0].account_name, u"adam");
    }
    EXPECT_EQ(v.EventsAfter(0, 5), (std::vector<EventRecord>{{3, 0x1000, {1, 2}}}));
    EXPECT_EQ(v.LastEventSequence(), 3u);
    // The upgrade: older entries have no name (above); older queues no
    // owner, and count as waited on when the file was upgraded.
    EventQueueRecord queue = v.GetEventQueue(4).value();
    EXPECT_GE(queue.last_wait, before_upgrade);
    EXPECT_LE(queue.last_wait, platform::WallClockSeconds());
    queue.last_wait = 0;
    EXPECT_EQ(queue, (EventQueueRecord{4, {0x1000, 0x1101}, 1}));
    return 0;
  });
  store->Write([&](FarmTxn& txn) -> VSTATUS {
    EXPECT_EQ(txn.AllocateId(kObjectKindApplication), MakeObjectId(kObjectKindApplication, 8));
    EXPECT_EQ(txn.AllocateEventQueueHandle(), 5);
    return 0;
  });
  std::string report;
  EXPECT_EQ(CheckSqliteFarmFile(path, &report), 0u) << report;
}

// A version 2 file keeps display names only in its records and does not
// enforce unique names, so it may hold two applications of one name in one
// folder. Upgraded, both stay and can be saved; the lower identifier holds
// the name, which no new application can then take.
TEST_F(SqliteFarmStoreTest, Version2FileWithSharedNamesUpgradesKeepingBoth) {
  const std::string path = PathOf("v2.db");
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1);
  const ULONG64 first = MakeObjectId(kObjectKindApplication, 5), second = first + 1;
  {
    std::shared_ptr<FarmStore> store = Open(path);
    ASSERT_TRUE(store);
    MustWrite(*store, [&](FarmTxn& txn) {
      InitializeNewFarm(txn);
      txn.PutFolder({MakeObjectId(kObjectKindFolder, 2), root, u"Tools", 2});
      txn.PutApplication(FullApplication(first, root));
      txn.AppendEvent(0x1000, {1});
      txn.AppendEvent(0x1000, {2});
      txn.DeleteEventsThrough(2);
    });
  }
  // The file as version 2 left it, with a copy of the application under
  // the next identifier.
  RawExec(path, std::string(kBackToVersion2) + R"sql(
    INSERT INTO applications SELECT id + 1, folder, name_key, record FROM applications;
    PRAGMA user_version = 2;
  )sql");
  std::shared_ptr<FarmStore> store = Open(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(RawText(path, "PRAGMA user_version"), "5");
  const ApplicationRecord stored = FullApplication(first, root);
  const std::u16string& name = stored.data.friendly_name;
  store->Read([&](const FarmView& v) -> VSTATUS {
    EXPECT_EQ(v.GetApplication(second), FullApplication(second, root));
    EXPECT_EQ(v.ApplicationNames(root),
              (std::vector<ApplicationName>{{first, root, name}, {second, root, name}}));
    EXPECT_EQ(v.FindChildByName(root, name, 0), first);
    EXPECT_EQ(v.FindChildByName(root, name, first), second);
    EXPECT_EQ(v.FindChildByName(root, u"TOOLS", 0), MakeObjectId(kObjectKindFolder, 2));
    EXPECT_EQ(v.FindApplicationsByBrowserName(stored.data.browser_name), (std::vector<ULONG64>{first, second}));
    EXPECT_EQ(v.LastEventSequence(), 2u);
    return 0;
  });
  MustWrite(*store, [&](FarmTxn& txn) {
    ApplicationRecord saved = FullApplication(second, root);
    saved.data.description = u"saved again";
    EXPECT_TRUE(txn.PutApplicationHoldingNames(saved));
    ApplicationRecord newcomer = FullApplication(second + 1, root);
    newcomer.data.browser_name = u"another";
    EXPECT_FALSE(txn.PutApplicationHoldingNames(newcomer));  // the display name is held
    newcomer.data.friendly_name = u"Another";
    newcomer.data.browser_name = stored.data.browser_name;
    EXPECT_FALSE(txn.PutApplicationHoldingNames(newcomer));  // so is the browser name
    EXPECT_EQ(txn.AppendEvent(0x1000, {3}), 3u);  // trimmed sequences do not come back
  });
  std::string report;
  EXPECT_EQ(CheckSqliteFarmFile(path, &report), 0u) << report;
}

// Records a store keeps from its reads are never handed out once another
// connection (here another store object on the file; another process is
// seen the same way) or the store's own writer has changed the file.
TEST_F(SqliteFarmStoreTest, KeptRecordsGiveWayToCommitsOfAnyConnection) {
  const std::string path = PathOf("farm.db");
  std::shared_ptr<FarmStore> store = Open(path), other = Open(path);
  ASSERT_TRUE(store && other);
  const ULONG64 id = MakeObjectId(kObjectKindApplication, 1);
  auto write = [&](FarmStore& through, const std::u16string& description) {
    ASSERT_EQ(through.Write([&](FarmTxn& txn) -> VSTATUS {
      ApplicationRecord app = FullApplication(id, MakeObjectId(kObjectKindFolder, 1));
      app.data.description = description;
      txn.PutApplication(app);
      return 0;
    }), 0u);
  };
  auto read = [&] {
    std::u16string description;
    EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS {
      description = v.GetApplication(id).value_or(ApplicationRecord{}).data.description;
      return 0;
    }), 0u);
    return description;
  };
  write(*store, u"first");
  EXPECT_EQ(read(), u"first");
  EXPECT_EQ(read(), u"first");
  std::shared_ptr<const ApplicationRecord> held;
  ASSERT_EQ(store->Read([&](const FarmView& v) -> VSTATUS { return held = v.GetApplicationShared(id), 0; }), 0u);
  write(*other, u"by another connection");
  EXPECT_EQ(read(), u"by another connection");
  ASSERT_TRUE(held);
  EXPECT_EQ(held->data.description, u"first");  // a record handed out is never changed
  write(*store, u"by its own writer");
  EXPECT_EQ(read(), u"by its own writer");
}

// A writer's next transaction does not take what it learnt in its previous
// one (the newest event, the highest application identifier, a folder, an
// application's name) for true once another connection has committed, nor
// a name it is only told an application keeps.
TEST_F(SqliteFarmStoreTest, WriterTakesInTheCommitsOfOtherConnections) {
  const std::string path = PathOf("farm.db");
  std::shared_ptr<FarmStore> store = Open(path), other = Open(path);
  ASSERT_TRUE(store && other);
  const ULONG64 folder = MakeObjectId(kObjectKindFolder, 1);
  ULONG64 first = 0, second = 0;
  MustWrite(*store, [&](FarmTxn& txn) {
    txn.PutFolder({folder, 0, u"Office", 1});
    txn.AppendEvent(0x1000, {});
    first = txn.AllocateId(kObjectKindApplication);
    txn.PutApplication(FullApplication(first, folder));
    EXPECT_EQ(txn.GetFolder(folder)->name, u"Office");
  });
  MustWrite(*other, [&](FarmTxn& txn) {
    txn.AppendEvent(0x1000, {});
    second = txn.AllocateId(kObjectKindApplication);
    txn.PutApplication(FullApplication(second, folder));
    txn.PutFolder({folder, 0, u"Renamed", 1});
    ApplicationRecord renamed = FullApplication(first, folder);
    renamed.data.friendly_name = u"Renamed";
    txn.PutApplication(renamed);
  });
  MustWrite(*store, [&](FarmTxn& txn) {
    EXPECT_EQ(txn.LastEventSequence(), 2u);
    EXPECT_GT(txn.AllocateId(kObjectKindApplication), second);
    EXPECT_EQ(txn.GetFolder(folder)->name, u"Renamed");
    // A save guessing the name the row had is refused, by the row and then
    // by what the writer has read of it; one with the row's name is written.
    const ApplicationRecord stale = FullApplication(first, folder);
    EXPECT_FALSE(txn.PutApplicationKeepingNames(stale));
    EXPECT_EQ(txn.GetApplicationName(first)->name, u"Renamed");
    EXPECT_FALSE(txn.PutApplicationKeepingNames(stale));
    ApplicationRecord kept = FullApplication(first, folder);
    kept.data.friendly_name = u"Renamed";
    kept.data.description = u"kept";
    EXPECT_TRUE(txn.PutApplicationKeepingNames(kept));
    EXPECT_EQ(txn.GetApplication(first)->data.description, u"kept");
  });
}

// A walk over three times as many records as the cache holds keeps the
// cache bounded and never hands out another record than the one kept, and
// a record found while the walk goes on stays kept (the cache gives way
// half at a time); a change seen by the file empties it.
TEST(SqliteRecordCacheTest, GivesWayHalfAtATimeAndKeepsWhatIsInUse) {
  sqlite::RecordCache cache;
  auto record = [](ULONG serial) {
    ApplicationRecord app{MakeObjectId(kObjectKindApplication, serial), MakeObjectId(kObjectKindFolder, 1), {}};
    app.data.description = std::u16string(1000, u'a');
    for (char digit : std::to_string(serial)) app.data.description += static_cast<char16_t>(digit);
    return app;
  };
  auto keep = [&](std::uint64_t generation, const ApplicationRecord& app) {
    cache.Keep(generation, std::make_shared<const ApplicationRecord>(app));
  };
  std::uint64_t generation = cache.Begin(false);
  const ApplicationRecord hot = record(1);
  keep(generation, hot);
  constexpr ULONG kWalked = 3 * sqlite::RecordCache::kMaxBytes / 2000;
  for (ULONG serial = 2; serial <= kWalked; ++serial) {
    keep(generation, record(serial));
    if (serial % 100 == 0) {
      std::shared_ptr<const ApplicationRecord> found = cache.Find(generation, hot.id);
      ASSERT_TRUE(found && *found == hot) << serial;
    }
  }
  ULONG kept = 0;
  for (ULONG serial = kWalked; serial >= 2; --serial) {
    std::shared_ptr<const ApplicationRecord> found = cache.Find(generation, record(serial).id);
    if (found) {
      EXPECT_EQ(*found, record(serial));
    }
    kept += found ? 1 : 0;
  }
  // A record counts at least its 2,000 bytes of text and at most 3,000.
  EXPECT_GE(kept, sqlite::RecordCache::kMaxBytes / 2 / 3000);  // at least a full half
  EXPECT_LE(kept, sqlite::RecordCache::kMaxBytes / 2000);      // at most the whole cache
  EXPECT_TRUE(cache.Find(generation, record(kWalked).id));
  EXPECT_FALSE(cache.Find(generation, record(2).id));
  const std::uint64_t before = generation;
  generation = cache.Begin(true);
  EXPECT_FALSE(cache.Find(generation, hot.id));
  keep(generation, hot);
  EXPECT_FALSE(cache.Find(before, hot.id));  // nor for a transaction begun before the change
}

// A writer that commits without pause still gets its log checkpointed and
// started over: 20,000 pages go through it, the file never holds more than
// a part of them.
TEST_F(SqliteFarmStoreTest, WriteAheadLogStaysBoundedUnderABusyWriter) {
  const std::string path = PathOf("farm.db");
  std::shared_ptr<FarmStore> store = Open(path);
  ASSERT_TRUE(store);
  std::uintmax_t largest = 0;
  for (ULONG serial = 1; serial <= 4000; ++serial) {
    MustWrite(*store, [&](FarmTxn& txn) {
      ApplicationRecord app = FullApplication(MakeObjectId(kObjectKindApplication, serial), 1);
      app.data.browser_name += std::u16string(1, char16_t(serial));
      app.data.friendly_name += std::u16string(1, char16_t(serial));
      txn.PutApplication(app);
      txn.AppendEvent(0x1000, {1});
    });
    std::error_code ignored;
    largest = std::max(largest, fs::file_size(path + "-wal", ignored));
  }
  EXPECT_LT(largest, std::uintmax_t{48} << 20);  // never started over: about 80 MB
}

// A version 1 farm file that may not be written, or whose -wal may not be
// (so not upgraded), is read as
// the upgrade would make it: its events without names, its queues without
// owners. The file belongs to another user (root's access is not checked, so
// a root run reads it as nobody); its folder is the reader's, for -wal and
// -shm.
TEST_F(SqliteFarmStoreTest, Version1FileReadsWithoutWriteAccess) {
  const std::string folder = PathOf("shared"), path = folder + "/v1.db";
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  {
    std::shared_ptr<FarmStore> store = Open(path);
    ASSERT_TRUE(store);
    MustWrite(*store, [](FarmTxn& txn) {
      InitializeNewFarm(txn);
      txn.PutApplication(FullApplication(MakeObjectId(kObjectKindApplication, 1), txn.RootFolderId()));
      txn.AppendEvent(0x1000, {7});
      txn.PutEventQueue({1, {0x1000}, 0});
    });
  }
  // The file as version 1 left it.
  RawExec(path, std::string(kBackToVersion2) + R"sql(
    ALTER TABLE events DROP COLUMN object_dn;
    ALTER TABLE event_queues DROP COLUMN delivered;
    ALTER TABLE event_queues DROP COLUMN owner_host;
    ALTER TABLE event_queues DROP COLUMN owner_process;
    ALTER TABLE event_queues DROP COLUMN owner_start;
    ALTER TABLE event_queues DROP COLUMN last_wait;
    PRAGMA user_version = 1;
  )sql");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  if (getuid() == 0) {
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  }
  // First the file may not be written, then (the reader's own file) its -wal.
  for (const char* closed : {"", "-wal"}) {
    if (closed[0] != 0) {
      ASSERT_EQ(chown(path.c_str(), getuid() == 0 ? 65534 : getuid(), -1), 0);
      ASSERT_EQ(chmod(path.c_str(), 0644), 0);
      for (const char* companion : {"-wal", "-shm"}) unlink((path + companion).c_str());
      ASSERT_EQ(platform::CreateOwnerOnlyFile(path + closed), platform::CreateFileResult::kCreated);
      ASSERT_EQ(chmod((path + closed).c_str(), 0444), 0);
    }
    const pid_t pid = fork();
    if (pid == 0) {
      if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
      std::shared_ptr<FarmStore> store;
      SqliteOpenOptions existing;
      existing.create_if_missing = false;
      if (OpenSqliteFarmStore(path, existing, &store) != 0) _exit(2);
      if (store->Write([](FarmTxn&) -> VSTATUS { return 0; }) != admin::kFarmReadOnly) _exit(3);
      const VSTATUS read = store->Read([](const FarmView& v) -> VSTATUS {
        if (v.EventsAfter(0, 5) != std::vector<EventRecord>{{1, 0x1000, {7}}}) return 4;
        // Display names and folder keys come from the records and names.
        const ULONG64 root = v.RootFolderId(), app = MakeObjectId(kObjectKindApplication, 1);
        if (v.FindChildByName(root, u"friendly \U0001F600", 0) != app) return 6;
        if (v.FindChildByName(0, u"APPLICATIONS", 0) != root) return 7;
        if (v.GetApplicationName(app) != ApplicationName{app, root, u"Friendly \U0001F600"}) return 8;
        if (v.LastEventSequence() != 1) return 9;
        return v.GetEventQueue(1) == EventQueueRecord{1, {0x1000}, 0} ? 0 : 5;
      });
      _exit(static_cast<int>(read));
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the step that failed" << closed;
    EXPECT_EQ(RawText(path, "PRAGMA user_version"), "1");  // left as it was
  }
}

TEST_F(SqliteFarmStoreTest, TrimmedEventsKeepTheirSequencesFromComingBack) {
  const std::string path = PathOf("farm.db");
  {
    std::shared_ptr<FarmStore> store = Open(path);
    ASSERT_TRUE(store);
    MustWrite(*store, [](FarmTxn& txn) {
      for (BYTE i = 1; i <= 3; ++i) txn.AppendEvent(0x1000, {i});
      txn.DeleteEventsThrough(2);
    });
    // A trim that is rolled back keeps the events.
    EXPECT_EQ(store->Write([](FarmTxn& txn) -> VSTATUS {
      txn.DeleteEventsThrough(3);
      return 1;
    }),
              1u);
    store->Read([](const FarmView& v) -> VSTATUS {
      EXPECT_EQ(v.EventsAfter(0, 10), (std::vector<EventRecord>{{3, 0x1000, {3}}}));
      EXPECT_EQ(v.LastEventSequence(), 3u);
      return 0;
    });
    MustWrite(*store, [](FarmTxn& txn) { txn.DeleteEventsThrough(3); });
  }
  // An empty log after reopening still knows its newest sequence.
  std::shared_ptr<FarmStore> store = Open(path);
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->WaitForEventAfter(2, 0));
  store->Write([](FarmTxn& txn) -> VSTATUS {
    EXPECT_TRUE(txn.EventsAfter(0, 10).empty());
    EXPECT_EQ(txn.LastEventSequence(), 3u);
    EXPECT_EQ(txn.AppendEvent(0x1001, {}), 4u);
    txn.DeleteEventsThrough(4);  // a later trim that empties the log moves the kept sequence on
    EXPECT_EQ(txn.LastEventSequence(), 4u);
    EXPECT_EQ(txn.AppendEvent(0x1001, {}), 5u);
    txn.DeleteEventsThrough(9);  // past the newest entry: later ones are trimmed all the same
    EXPECT_EQ(txn.AppendEvent(0x1001, {}), 6u);
    EXPECT_EQ(txn.AppendEvent(0x1001, {}), 7u);
    txn.DeleteEventsThrough(6);
    EXPECT_EQ(txn.EventsAfter(0, 10).size(), 1u);
    return 0;
  });
}

// Waits on `waiter` for an event after `after` in a thread of its own (for
// two minutes at most) and runs `commit` once the waiter is blocked on the
// farm's change signal (at once when `signal` is null). True when the waiter
// came back with the event within one minute: by the signal, or by a poll
// shorter than that.
bool WakesForCommit(FarmStore& waiter, ULONG64 after, platform::ChangeSignal* signal,
                    const std::function<void()>& commit) {
  std::promise<bool> woke;
  std::future<bool> result = woke.get_future();
  std::thread waiting([&] { woke.set_value(waiter.WaitForEventAfter(after, 120000)); });
  while (signal != nullptr && platform::ChangeSignalWaiters(signal) == 0) std::this_thread::yield();
  commit();
  const bool in_time = result.wait_for(std::chrono::minutes(1)) == std::future_status::ready;
  waiting.join();
  return in_time && result.get();
}

TEST_F(SqliteFarmStoreTest, WaitersWakeForCommitsOfThisAndOtherStoreObjects) {
  const std::string path = PathOf("farm.db");
  std::shared_ptr<FarmStore> writer = Open(path);
  ASSERT_TRUE(writer);
  platform::ChangeSignal* signal = platform::OpenChangeSignal(path);
#if defined(__linux__)
  ASSERT_NE(signal, nullptr);
#endif
  // Where the farm has a signal, the other store polls once an hour, as a
  // process would that sees other processes' commits only through it.
  SqliteOpenOptions options;
  if (signal != nullptr) options.poll_interval_ms = 3600 * 1000;
  std::shared_ptr<FarmStore> other;
  ASSERT_EQ(OpenSqliteFarmStore(path, options, &other), 0u);
  auto append = [&](USHORT id) {
    return writer->Write([&](FarmTxn& txn) -> VSTATUS {
      txn.AppendEvent(id, {});
      return 0;
    });
  };
  EXPECT_FALSE(writer->WaitForEventAfter(0, 0));
  EXPECT_FALSE(other->WaitForEventAfter(0, 30));
  // A write without events wakes nobody early and is no event.
  MustWrite(*writer, [](FarmTxn& txn) { txn.SetFarmName(u"x"); });
  EXPECT_FALSE(writer->WaitForEventAfter(0, 30));

  for (FarmStore* waiter : {writer.get(), other.get()}) {
    const ULONG64 after = writer->Read([](const FarmView& v) -> VSTATUS {
      return static_cast<VSTATUS>(v.LastEventSequence());
    });
    EXPECT_TRUE(WakesForCommit(*waiter, after, signal, [&] { ASSERT_EQ(append(0x1000), 0u); }));
    EXPECT_TRUE(waiter->WaitForEventAfter(after, 0));
    EXPECT_FALSE(waiter->WaitForEventAfter(after + 1, 0));
  }
  platform::CloseChangeSignal(signal);
}

// Where the signal's companion cannot be made, commits still succeed and
// waiters in other processes see them by polling.
TEST_F(SqliteFarmStoreTest, WaitersPollWhenTheFarmHasNoSignal) {
  const std::string path = PathOf("farm.db");
  std::shared_ptr<FarmStore> writer = Open(path);
  std::shared_ptr<FarmStore> other = Open(path);
  ASSERT_TRUE(writer && other);
  ASSERT_TRUE(fs::create_directory(path + "-wake"));
  ASSERT_EQ(platform::OpenChangeSignal(path), nullptr);
  EXPECT_FALSE(other->WaitForEventAfter(0, 30));  // a poll that finds nothing still ends at its timeout
  EXPECT_TRUE(WakesForCommit(*other, 0, nullptr, [&] {
    MustWrite(*writer, [](FarmTxn& txn) { txn.AppendEvent(0x1000, {}); });
  }));
}

}  // namespace
}  // namespace feroq::store
