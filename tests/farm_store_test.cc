// Contract tests of FarmStore, run against every backend. A new backend is
// added with one line in the INSTANTIATE_TEST_SUITE_P list at the end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <thread>

#include "services/store/farm_store.h"
#if defined(FEROQ_HAVE_SQLITE)
#include "services/store/sqlite_farm_store.h"
#endif
#if defined(FEROQ_HAVE_POSTGRES)
#include "services/store/postgres_farm_store.h"
#include "support/postgres_cluster.h"
#endif

namespace feroq::store {
namespace {

struct Backend {
  const char* name;
  std::shared_ptr<FarmStore> (*create)();
  bool needs_cluster = false;
};

bool NeedsClusterMet() {
#if defined(FEROQ_HAVE_POSTGRES)
  return testing::PostgresClusterAvailable();
#else
  return false;
#endif
}
void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

class FarmStoreContract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam().needs_cluster && !NeedsClusterMet()) GTEST_SKIP() << "no PostgreSQL test cluster (run through CTest)";
    ASSERT_NE(store_ = GetParam().create(), nullptr);
  }

  void MustWrite(const std::function<void(FarmTxn&)>& fn) {
    ASSERT_EQ(store_->Write([&](FarmTxn& txn) -> VSTATUS { return fn(txn), 0; }), 0u);
  }
  // Runs the checks in one read transaction.
  void Check(const std::function<void(const FarmView&)>& fn) {
    store_->Read([&](const FarmView& view) -> VSTATUS { return fn(view), 0; });
  }

  ApplicationRecord App(ULONG64 id, ULONG64 folder, const std::u16string& browser_name) {
    ApplicationRecord app;
    app.id = id;
    app.folder_id = folder;
    app.data.version = 3;
    app.data.browser_name = browser_name;
    app.data.users = {u"CN=alice", u"CN=bob"};
    app.data.servers = {{MakeObjectId(kObjectKindServer, 1), 6, u"run.exe", u"C:\\"}};
    app.data.icon.assign(640, 0x5A);
    return app;
  }

  std::shared_ptr<FarmStore> store_;
};

TEST_P(FarmStoreContract, NewStoreIsEmptyAndInitializeMakesANewFarm) {
  Check([](const FarmView& v) {
    EXPECT_EQ(v.RootFolderId(), 0u);
    EXPECT_TRUE(v.FarmName().empty());
    EXPECT_EQ(v.LastEventSequence(), 0u);
  });
  MustWrite([](FarmTxn& txn) { InitializeNewFarm(txn); });
  Check([](const FarmView& v) {
    EXPECT_EQ(v.FarmName(), u"feroq");
    EXPECT_EQ(ObjectKindOf(v.RootFolderId()), kObjectKindFolder);
    EXPECT_EQ(v.ListFolders(), (std::vector<FolderRecord>{{v.RootFolderId(), 0, u"Applications", 1}}));
  });
}

TEST_P(FarmStoreContract, IdentifiersCarryTheirKindAndNeverRepeatOnceCommitted) {
  std::set<ULONG64> seen;
  MustWrite([&](FarmTxn& txn) {
    for (int i = 0; i < 50; ++i) {
      for (ULONG kind : {kObjectKindFolder, kObjectKindApplication, kObjectKindServer}) {
        const ULONG64 id = txn.AllocateId(kind);
        EXPECT_EQ(ObjectKindOf(id), kind);
        EXPECT_NE(id & 0xFFFFFFFFu, 0u);
        EXPECT_TRUE(seen.insert(id).second) << id;
      }
    }
  });
  // Each kind counts on its own: 50 of each.
  EXPECT_TRUE(seen.count(MakeObjectId(kObjectKindServer, 50)));
  EXPECT_FALSE(seen.count(MakeObjectId(kObjectKindServer, 51)));

  ULONG64 rolled_back = 0;
  EXPECT_EQ(store_->Write([&](FarmTxn& txn) -> VSTATUS {
    rolled_back = txn.AllocateId(kObjectKindApplication);
    return 0x80000001u;
  }),
            0x80000001u);
  ULONG64 next = 0;
  MustWrite([&](FarmTxn& txn) { next = txn.AllocateId(kObjectKindApplication); });
  EXPECT_EQ(seen.count(next), 0u);
  EXPECT_GT(next, MakeObjectId(kObjectKindApplication, 50));

  // The newest application's identifier does not come back once it is gone.
  ULONG64 newest = 0;
  MustWrite([&](FarmTxn& txn) {
    newest = txn.AllocateId(kObjectKindApplication);
    txn.PutApplication(App(newest, MakeObjectId(kObjectKindFolder, 1), u"Newest"));
  });
  MustWrite([&](FarmTxn& txn) { txn.DeleteApplication(newest); });
  MustWrite([&](FarmTxn& txn) { EXPECT_GT(txn.AllocateId(kObjectKindApplication), newest); });
}

TEST_P(FarmStoreContract, FailedWriteRollsBackEveryKindOfChange) {
  const ULONG64 server = MakeObjectId(kObjectKindServer, 7);
  ULONG64 root = 0, kept_app = 0, kept_folder = 0;
  MustWrite([&](FarmTxn& txn) {
    InitializeNewFarm(txn);
    root = txn.RootFolderId();
    kept_folder = txn.AllocateId(kObjectKindFolder);
    txn.PutFolder({kept_folder, root, u"Office", 2});
    kept_app = txn.AllocateId(kObjectKindApplication);
    txn.PutApplication(App(kept_app, kept_folder, u"Editor"));
    txn.PutServer({server, u"ALPHA"});
    txn.PutAccount({u"NT", u"CORP", u"alice", 0, u"CN=alice"});
    txn.AppendEvent(0x1000, {1, 2, 3});
  });

  auto change_everything = [&](FarmTxn& txn) {
    txn.SetFarmName(u"changed");
    txn.PutFolder({kept_folder, root, u"Renamed", 2});
    txn.PutFolder({txn.AllocateId(kObjectKindFolder), root, u"New", 3});
    ApplicationRecord moved = App(kept_app, root, u"Other");
    txn.PutApplication(moved);
    txn.PutApplication(App(txn.AllocateId(kObjectKindApplication), kept_folder, u"Extra"));
    txn.DeleteServer(server);
    txn.PutServer({MakeObjectId(kObjectKindServer, 8), u"BETA"});
    txn.PutAccount({u"NT", u"CORP", u"alice", 1, u"CN=alice-2"});
    txn.DeleteAccount(u"CN=alice");
    txn.AppendEvent(0x1001, {});
    txn.PutEventQueue({txn.AllocateEventQueueHandle(), {0x1000}, 0});
  };
  EXPECT_EQ(store_->Write([&](FarmTxn& txn) -> VSTATUS {
    change_everything(txn);
    return 0x8016000Cu;
  }),
            0x8016000Cu);
  EXPECT_THROW(store_->Write([&](FarmTxn& txn) -> VSTATUS {
    change_everything(txn);
    throw std::runtime_error("fails inside the transaction");
  }),
               std::runtime_error);

  // Seen by a reader, and by the next write, which knows nothing of what
  // the failed ones wrote.
  auto unchanged = [&](const FarmView& v) {
    EXPECT_EQ(v.FarmName(), u"feroq");
    EXPECT_EQ(v.ListFolders().size(), 2u);
    EXPECT_EQ(v.GetFolder(kept_folder)->name, u"Office");
    EXPECT_EQ(v.ChildFolderIds(root), std::vector<ULONG64>{kept_folder});
    EXPECT_EQ(v.GetApplication(kept_app), App(kept_app, kept_folder, u"Editor"));
    EXPECT_EQ(v.ApplicationIds(0), std::vector<ULONG64>{kept_app});
    EXPECT_EQ(v.ApplicationIds(kept_folder), std::vector<ULONG64>{kept_app});
    EXPECT_TRUE(v.ApplicationIds(root).empty());
    EXPECT_EQ(v.FindApplicationsByBrowserName(u"editor"), std::vector<ULONG64>{kept_app});
    EXPECT_TRUE(v.FindApplicationsByBrowserName(u"Other").empty());
    EXPECT_EQ(v.FindServerByName(u"alpha")->id, server);
    EXPECT_FALSE(v.FindServerByName(u"BETA").has_value());
    EXPECT_EQ(v.ListServers().size(), 1u);
    EXPECT_EQ(v.FindAccount(u"nt", u"corp", u"ALICE")->dn, u"CN=alice");
    EXPECT_FALSE(v.FindAccountByDn(u"CN=alice-2").has_value());
    EXPECT_EQ(v.LastEventSequence(), 1u);
    EXPECT_EQ(v.EventsAfter(0, 10).size(), 1u);
    EXPECT_TRUE(v.ListEventQueues().empty());
    EXPECT_EQ(v.GetApplicationName(kept_app)->folder_id, kept_folder);
  };
  Check(unchanged);
  MustWrite([&](FarmTxn& txn) { unchanged(txn); });
}

TEST_P(FarmStoreContract, ReplacingAnApplicationMovesItInEveryIndex) {
  const ULONG64 a = MakeObjectId(kObjectKindFolder, 1), b = MakeObjectId(kObjectKindFolder, 2);
  const ULONG64 app = MakeObjectId(kObjectKindApplication, 1);
  MustWrite([&](FarmTxn& txn) {
    txn.PutFolder({a, 0, u"A", 1});
    txn.PutFolder({b, a, u"B", 2});
    txn.PutApplication(App(app, a, u"Calc"));
    txn.PutApplication(App(MakeObjectId(kObjectKindApplication, 2), a, u"CALC"));
  });
  MustWrite([&](FarmTxn& txn) { txn.PutApplication(App(app, b, u"Paint")); });
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.ApplicationIds(a), std::vector<ULONG64>{MakeObjectId(kObjectKindApplication, 2)});
    EXPECT_EQ(v.ApplicationFolder(app), b);
    EXPECT_EQ(v.FindApplicationsByBrowserName(u"calc").size(), 1u);
    EXPECT_EQ(v.FindApplicationsByBrowserName(u"PAINT"), std::vector<ULONG64>{app});
  });
  // The same folder and display name, another browser name.
  MustWrite([&](FarmTxn& txn) { txn.PutApplication(App(app, b, u"Draw")); });
  Check([&](const FarmView& v) {
    EXPECT_TRUE(v.FindApplicationsByBrowserName(u"paint").empty());
    EXPECT_EQ(v.FindApplicationsByBrowserName(u"draw"), std::vector<ULONG64>{app});
  });
  MustWrite([&](FarmTxn& txn) { txn.DeleteApplication(app); });
  Check([&](const FarmView& v) {
    EXPECT_FALSE(v.GetApplication(app).has_value());
    EXPECT_TRUE(v.ApplicationIds(b).empty());
    EXPECT_TRUE(v.FindApplicationsByBrowserName(u"Paint").empty());
  });
}

// A browser name is held once in the farm, a display name once among the
// children of a folder (folders included); a refused write leaves nothing.
TEST_P(FarmStoreContract, PutHoldingNamesRefusesATakenNameAndWritesNothing) {
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1), tools = MakeObjectId(kObjectKindFolder, 2);
  const ULONG64 calc = MakeObjectId(kObjectKindApplication, 1);
  auto named = [&](ULONG64 id, ULONG64 folder, const std::u16string& browser, const std::u16string& display) {
    ApplicationRecord app = App(id, folder, browser);
    app.data.friendly_name = display;
    return app;
  };
  MustWrite([&](FarmTxn& txn) {
    txn.PutFolder({root, 0, u"Applications", 1});
    txn.PutFolder({tools, root, u"Tools", 2});
    EXPECT_TRUE(txn.PutApplicationHoldingNames(named(calc, root, u"calc", u"Calculator")));
  });
  const ULONG64 other = MakeObjectId(kObjectKindApplication, 2);
  const struct {
    const char* what;
    ApplicationRecord app;
    bool put;
  } cases[] = {
      {"browser name of another", named(other, tools, u"CALC", u"Other"), false},
      {"display name of another in its folder", named(other, root, u"other", u"CALCULATOR"), false},
      {"display name of a folder beside it", named(other, root, u"other", u"tools"), false},
      {"display name of another, in another folder", named(other, tools, u"other", u"Calculator"), true},
      {"its own names again, in another case", named(calc, root, u"Calc", u"calculator"), true},
      {"moved beside a namesake", named(calc, tools, u"calc", u"Calculator"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool put = !c.put;
    MustWrite([&](FarmTxn& txn) { put = txn.PutApplicationHoldingNames(c.app); });
    EXPECT_EQ(put, c.put);
    Check([&](const FarmView& v) { EXPECT_EQ(v.GetApplication(c.app.id) == c.app, c.put); });
  }
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.FindChildByName(root, u"CALCULATOR", 0), calc);
    EXPECT_EQ(v.FindChildByName(root, u"TOOLS", 0), tools);
    EXPECT_EQ(v.FindChildByName(tools, u"calculator", 0), other);
    EXPECT_EQ(v.FindChildByName(tools, u"calculator", other), std::nullopt);
    EXPECT_EQ(v.GetApplicationName(calc), (ApplicationName{calc, root, u"calculator"}));
    EXPECT_EQ(v.ApplicationNames(tools), (std::vector<ApplicationName>{{other, tools, u"Calculator"}}));
  });
  // A plain put lets in a second holder of a name, as a farm file from
  // before the naming rules may hold one: both are named, folders first.
  const ULONG64 third = MakeObjectId(kObjectKindApplication, 3);
  MustWrite([&](FarmTxn& txn) { txn.PutApplication(named(third, root, u"third", u"TOOLS")); });
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.ChildrenNamed(root, u"tools"), (std::vector<ULONG64>{tools, third}));
    EXPECT_EQ(v.FindChildByName(root, u"tools", 0), std::min(tools, third));  // of two, the lowest identifier
    EXPECT_EQ(v.ChildrenNamed(root, u"Calculator"), (std::vector<ULONG64>{calc}));
    EXPECT_EQ(v.ChildrenNamed(tools, u"Tools"), std::vector<ULONG64>{});
    EXPECT_EQ((std::vector<std::size_t>{v.ChildCount(root), v.ChildCount(tools)}), (std::vector<std::size_t>{3, 1}));
  });
}

// The counts agree with the lists after inserts, replacements and deletes,
// the lists of application identifiers ascend (whatever order the names
// index them in), and the windows of them walk the whole farm in ascending
// order, each starting just above the identifier given.
TEST_P(FarmStoreContract, CountsAndIdentifierWindowsFollowTheRows) {
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1), sub = MakeObjectId(kObjectKindFolder, 2);
  auto app = [](ULONG serial) { return MakeObjectId(kObjectKindApplication, serial); };
  MustWrite([&](FarmTxn& txn) {
    txn.PutFolder({root, 0, u"Applications", 1});
    txn.PutFolder({sub, root, u"Office", 2});
    for (ULONG serial : {7u, 3u, 12u, 5u}) txn.PutApplication(App(app(serial), serial % 2 ? sub : root, u"b"));
    txn.PutApplication(App(app(3), root, u"replaced, not added"));
    txn.PutServer({MakeObjectId(kObjectKindServer, 1), u"ALPHA"});
    txn.PutServer({MakeObjectId(kObjectKindServer, 2), u"BETA"});
    txn.PutServer({MakeObjectId(kObjectKindServer, 2), u"GAMMA"});
    txn.PutAccount({u"NT", u"CORP", u"alice", 0, u"CN=alice"});
  });
  Check([&](const FarmView& v) {
    EXPECT_EQ((std::vector<std::size_t>{v.ApplicationCount(), v.FolderCount(), v.ServerCount(), v.AccountCount()}),
              (std::vector<std::size_t>{4, 2, 2, 1}));
    EXPECT_EQ(v.ApplicationIds(0), (std::vector<ULONG64>{app(3), app(5), app(7), app(12)}));
    EXPECT_EQ(v.ApplicationIds(root), (std::vector<ULONG64>{app(3), app(12)}));
    EXPECT_EQ(v.ApplicationIds(sub), (std::vector<ULONG64>{app(5), app(7)}));
    EXPECT_EQ(v.ApplicationIdsAfter(0, 3), (std::vector<ULONG64>{app(3), app(5), app(7)}));
    EXPECT_EQ(v.ApplicationIdsAfter(app(6), 3), (std::vector<ULONG64>{app(7), app(12)}));
    EXPECT_TRUE(v.ApplicationIdsAfter(0, 0).empty());
  });
  MustWrite([&](FarmTxn& txn) {
    txn.DeleteApplication(app(5));
    txn.DeleteFolder(sub);
    txn.DeleteServer(MakeObjectId(kObjectKindServer, 1));
    txn.DeleteAccount(u"cn=ALICE");
  });
  Check([&](const FarmView& v) {
    EXPECT_EQ((std::vector<std::size_t>{v.ApplicationCount(), v.FolderCount(), v.ServerCount(), v.AccountCount()}),
              (std::vector<std::size_t>{3, 1, 1, 0}));
    EXPECT_EQ(v.ApplicationIdsAfter(app(3), 10), (std::vector<ULONG64>{app(7), app(12)}));
  });
}

TEST_P(FarmStoreContract, ChildFoldersFollowCreationSerialAcrossMovesAndRenames) {
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1);
  const ULONG64 late = MakeObjectId(kObjectKindFolder, 2), early = MakeObjectId(kObjectKindFolder, 9);
  MustWrite([&](FarmTxn& txn) {
    txn.PutFolder({root, 0, u"Applications", 1});
    txn.PutFolder({late, root, u"Zeta", 50});
    txn.PutFolder({early, root, u"Alpha", 10});
  });
  Check([&](const FarmView& v) { EXPECT_EQ(v.ChildFolderIds(root), (std::vector<ULONG64>{early, late})); });
  MustWrite([&](FarmTxn& txn) {
    FolderRecord f = *txn.GetFolder(early);
    f.parent_id = late;
    f.name = u"Moved";
    txn.PutFolder(f);
  });
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.ChildFolderIds(root), std::vector<ULONG64>{late});
    EXPECT_EQ(v.ChildFolderIds(late), std::vector<ULONG64>{early});
    EXPECT_EQ(v.GetFolder(early)->creation_serial, 10u);
  });
}

// A transaction reads its own writes, also of rows it had read before them.
TEST_P(FarmStoreContract, WriteSeesItsOwnChangesToRowsItReadBefore) {
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1), sub = MakeObjectId(kObjectKindFolder, 2);
  const ULONG64 app = MakeObjectId(kObjectKindApplication, 1);
  MustWrite([&](FarmTxn& txn) {
    txn.PutFolder({root, 0, u"Applications", 1});
    txn.PutFolder({sub, root, u"Sub", 2});
    ApplicationRecord a = App(app, root, u"calc");
    a.data.friendly_name = u"Calc";
    txn.PutApplication(a);
  });
  MustWrite([&](FarmTxn& txn) {
    ASSERT_EQ(txn.GetFolder(sub)->name, u"Sub");
    ASSERT_EQ(txn.RootFolderId(), root);
    ASSERT_EQ(txn.GetApplicationName(app)->name, u"Calc");
    txn.PutFolder({sub, root, u"Renamed", 2});
    EXPECT_EQ(txn.GetFolder(sub)->name, u"Renamed");
    txn.DeleteFolder(root);
    EXPECT_FALSE(txn.GetFolder(root).has_value());
    EXPECT_EQ(txn.RootFolderId(), 0u);
    txn.PutFolder({sub, 0, u"Renamed", 2});
    EXPECT_EQ(txn.RootFolderId(), sub);
    ApplicationRecord moved = App(app, sub, u"calc");
    moved.data.friendly_name = u"Paint";
    txn.PutApplication(moved);
    const std::optional<ApplicationName> name = txn.GetApplicationName(app);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(name->name, u"Paint");
    EXPECT_EQ(name->folder_id, sub);
    txn.DeleteApplication(app);
    EXPECT_FALSE(txn.GetApplicationName(app).has_value());
  });
}

TEST_P(FarmStoreContract, ServerAndAccountLookupsIgnoreCase) {
  const ULONG64 s1 = MakeObjectId(kObjectKindServer, 1), s2 = MakeObjectId(kObjectKindServer, 2);
  MustWrite([&](FarmTxn& txn) {
    txn.PutServer({s2, u"Beta"});
    txn.PutServer({s1, u"Stra\u00dfe-\u00c4"});
    txn.PutAccount({u"NT", u"CORP", u"Alice", 0, u"CN=Alice,O=Corp"});
    txn.PutAccount({u"NDS", u"CORP", u"Alice", 2, u"CN=Alice,O=Tree"});
  });
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.FindServerByName(u"stra\u00dfe-\u00e4")->id, s1);
    EXPECT_FALSE(v.FindServerByName(u"Bet").has_value());
    EXPECT_EQ(v.ListServers().front().id, s1);  // ascending id
    EXPECT_EQ(v.FindAccount(u"nds", u"corp", u"alice")->kind, 2u);
    EXPECT_EQ(v.FindAccount(u"Nt", u"Corp", u"ALICE")->dn, u"CN=Alice,O=Corp");
    EXPECT_FALSE(v.FindAccount(u"NT", u"OTHER", u"Alice").has_value());
    EXPECT_EQ(v.FindAccountByDn(u"cn=alice,o=tree")->authority_type, u"NDS");
  });
  // Renaming a server and re-keying an account replace the old index entries.
  MustWrite([&](FarmTxn& txn) {
    txn.PutServer({s2, u"Gamma"});
    txn.PutAccount({u"NT", u"CORP", u"Alicia", 0, u"cn=alice,o=corp"});
  });
  Check([&](const FarmView& v) {
    EXPECT_FALSE(v.FindServerByName(u"Beta").has_value());
    EXPECT_EQ(v.FindServerByName(u"gamma")->id, s2);
    EXPECT_FALSE(v.FindAccount(u"NT", u"CORP", u"Alice").has_value());
    EXPECT_EQ(v.FindAccount(u"NT", u"CORP", u"Alicia")->dn, u"cn=alice,o=corp");
    EXPECT_EQ(v.ListAccounts().size(), 2u);
  });
}

TEST_P(FarmStoreContract, EventLogAndQueues) {
  MustWrite([&](FarmTxn& txn) {
    for (USHORT id = 0x1000; id < 0x1005; ++id) {
      txn.AppendEvent(id, std::vector<BYTE>(26, static_cast<BYTE>(id)));
    }
    txn.AppendEvent(0x1102, {}, u"\\Applications\\Ed");
    EXPECT_EQ(txn.AllocateEventQueueHandle(), 1);
    txn.PutEventQueue({1, {0x1000, 0x1100}, 0});
  });
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.LastEventSequence(), 6u);
    // A page starts just after the sequence given; an entry keeps the name
    // it was given, and none when given none.
    EXPECT_EQ(v.EventsAfter(4, 2), (std::vector<EventRecord>{{5, 0x1004, std::vector<BYTE>(26, 0x04)},
                                                             {6, 0x1102, {}, u"\\Applications\\Ed"}}));
    EXPECT_EQ(v.EventsAfter(2, 1), (std::vector<EventRecord>{{3, 0x1002, std::vector<BYTE>(26, 0x02)}}));
    EXPECT_TRUE(v.EventsAfter(6, 10).empty());
    EXPECT_EQ(v.GetEventQueue(1)->event_ids, (std::vector<USHORT>{0x1000, 0x1100}));
  });
  MustWrite([&](FarmTxn& txn) {
    EventQueueRecord q = *txn.GetEventQueue(1);
    q.read_position = 4;
    txn.PutEventQueue(q);
    EXPECT_EQ(txn.AllocateEventQueueHandle(), 2);
  });
  Check([](const FarmView& v) { EXPECT_EQ(v.GetEventQueue(1)->read_position, 4u); });
  MustWrite([&](FarmTxn& txn) { txn.DeleteEventQueue(1); });
  Check([](const FarmView& v) { EXPECT_TRUE(v.ListEventQueues().empty()); });
}

TEST_P(FarmStoreContract, ClearEmptiesTheFarmAndCanBeRolledBack) {
  MustWrite([&](FarmTxn& txn) {
    InitializeNewFarm(txn);
    txn.PutApplication(App(txn.AllocateId(kObjectKindApplication), txn.RootFolderId(), u"X"));
    txn.PutServer({txn.AllocateId(kObjectKindServer), u"S"});
  });
  EXPECT_EQ(store_->Write([](FarmTxn& txn) -> VSTATUS {
    txn.Clear();
    EXPECT_EQ(txn.ApplicationCount(), 0u);
    return 1;
  }),
            1u);
  ULONG64 old_root = 0;
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.ApplicationCount(), 1u);
    EXPECT_EQ(v.FindServerByName(u"s")->name, u"S");
    old_root = v.RootFolderId();
  });
  // Clearing restarts the serials: a new farm gets the same root identifier.
  MustWrite([](FarmTxn& txn) { InitializeNewFarm(txn); });
  Check([&](const FarmView& v) {
    EXPECT_EQ(v.RootFolderId(), old_root);
    EXPECT_EQ(v.ApplicationCount(), 0u);
    EXPECT_TRUE(v.ListServers().empty());
  });
}

TEST_P(FarmStoreContract, ConcurrentWritersGetDistinctIdentifiers) {
  constexpr int kThreads = 4, kPerThread = 200;
  std::vector<std::vector<ULONG64>> ids(kThreads);
  std::atomic<bool> reader_saw_partial{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        store_->Write([&](FarmTxn& txn) -> VSTATUS {
          // Two rows per transaction: a reader must see both or neither.
          const ULONG64 id = txn.AllocateId(kObjectKindServer);
          txn.PutServer({id, std::u16string(1, char16_t(0x4E00 + t * kPerThread + i))});
          txn.PutApplication(App(MakeObjectId(kObjectKindApplication, ULONG(id)), 1, u"x"));
          ids[t].push_back(id);
          return 0;
        });
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      store_->Read([&](const FarmView& v) -> VSTATUS {
        if (v.ListServers().size() != v.ApplicationCount()) reader_saw_partial = true;
        return 0;
      });
    }
  });
  for (std::thread& t : threads) t.join();
  std::set<ULONG64> all;
  for (const auto& list : ids) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), std::size_t{kThreads * kPerThread});
  EXPECT_FALSE(reader_saw_partial);
}

#if defined(FEROQ_HAVE_SQLITE)
// A SQLite store on a new file of its own, removed with its WAL companions
// when the store is released.
std::shared_ptr<FarmStore> CreateTemporarySqliteFarmStore() {
  static std::atomic<int> serial{0};
  const std::string path = ::testing::TempDir() + "farm_store_test-" + std::to_string(getpid()) +
                           "-" + std::to_string(serial++) + ".db";
  std::shared_ptr<FarmStore> store;
  if (OpenSqliteFarmStore(path, &store) != 0) return nullptr;
  return std::shared_ptr<FarmStore>(store.get(), [store, path](FarmStore*) mutable {
    store.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  });
}

#endif  // FEROQ_HAVE_SQLITE

#if defined(FEROQ_HAVE_POSTGRES)
// A PostgreSQL store in a new database of its own, dropped when the store
// is released.
std::shared_ptr<FarmStore> CreateTemporaryPostgresFarmStore() {
  auto database = std::make_shared<testing::ScratchDatabase>();
  std::shared_ptr<FarmStore> store;
  if (OpenPostgresFarmStore(database->url(), /*create=*/true, &store) != 0) return nullptr;
  return std::shared_ptr<FarmStore>(store.get(), [store, database](FarmStore*) mutable {
    store.reset();
    database.reset();
  });
}
#endif  // FEROQ_HAVE_POSTGRES

// The SQLite store where the build has it (always, except on Windows).
INSTANTIATE_TEST_SUITE_P(Backends, FarmStoreContract,
                         ::testing::Values(Backend{"Memory", &CreateMemoryFarmStore}
#if defined(FEROQ_HAVE_SQLITE)
                                           ,
                                           Backend{"Sqlite", &CreateTemporarySqliteFarmStore}
#endif
#if defined(FEROQ_HAVE_POSTGRES)
                                           ,
                                           Backend{"Postgres", &CreateTemporaryPostgresFarmStore, true}
#endif
                                           ),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace feroq::store
