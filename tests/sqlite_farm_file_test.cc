// The SQLite farm's file beyond the farm-store contract (which
// farm_store_test.cc checks on every backend): a new file's settings and
// permissions, the default farm file, refusing files that are not farms,
// damaged records and pages, SQLite's results with codes of their own, names
// compared without regard to case as the platform compares them, the name
// index's order of identifiers, and the event log's sequences as the file
// keeps them.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "services/store/id_order.h"
#include "services/store/sqlite_connection.h"
#include "support/handles.h"
#include "support/sqlite_farm_fixture.h"

namespace feroq::store {
namespace {

namespace fs = std::filesystem;
using feroq::testing::SqliteFarmStoreTest;

unsigned ModeOf(const std::string& path) {
  struct stat info{};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0xFFFF;
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

// Lookups and orders without regard to case agree with the platform's
// comparison, for case pairs inside and outside ASCII, one-way mappings
// (the Kelvin sign folds to 'k') and lone surrogates.
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

}  // namespace
}  // namespace feroq::store
