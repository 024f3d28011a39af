// SQLite farm files written by older versions: read as the upgrade makes
// them, upgraded in place, and read without being upgraded where the file
// may not be written.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "support/sqlite_farm_fixture.h"

namespace feroq::store {
namespace {

using feroq::testing::SqliteFarmStoreTest;

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

}  // namespace
}  // namespace feroq::store
