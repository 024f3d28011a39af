// What the farm on a PostgreSQL server adds to the store contract (which
// farm_store_test runs on it) in its transactions: writers on separate
// connections, the retry of a write that collided, notifications across
// connections, trims of the event log, reads answered from one snapshot,
// writes the database refuses, names guessed free, and what a transaction
// answers from its own reads and writes. Runs against the suite's
// throwaway cluster.
#include <functional>
#include <future>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_txn.h"
#include "support/postgres_farm_fixture.h"

namespace feroq::store {
namespace {

using feroq::testing::PostgresFarmTest;

// Two connections (as two hosts) each count the farm name up and add a
// server: every increment survives and no identifier is handed out twice.
TEST_F(PostgresFarmTest, WritersOnTwoConnectionsLoseNoUpdateAndRepeatNoIdentifier) {
  std::shared_ptr<FarmStore> first = Open(), second = Open();
  ASSERT_EQ(first->Write([](FarmTxn& txn) -> VSTATUS {
    txn.SetFarmName(u"0");
    return 0;
  }), 0u);
  constexpr int kEach = 60;
  auto writer = [](std::shared_ptr<FarmStore> store, std::vector<ULONG64>* ids) {
    for (int i = 0; i < kEach; ++i) {
      ULONG64 id = 0;
      auto count_on = [&](FarmTxn& txn) -> VSTATUS {
        const std::u16string name = txn.FarmName();
        const int count = std::stoi(std::string(name.begin(), name.end()));
        const std::string next = std::to_string(count + 1);
        txn.SetFarmName(std::u16string(next.begin(), next.end()));
        id = txn.AllocateId(kObjectKindServer);
        txn.PutServer({id, u"S" + std::u16string(next.begin(), next.end())});
        return 0;
      };
      // Every write collides with the other writer's: on a busy machine one
      // may lose every retry and answer the conflict code, having written
      // nothing (the counts below would show a part of it), and is then run
      // again, as a caller would.
      VSTATUS status = store->Write(count_on);
      for (int again = 0; status == admin::kFarmWriteConflict && again < 50; ++again) status = store->Write(count_on);
      EXPECT_EQ(status, 0u);
      if (status == 0) ids->push_back(id);
    }
  };
  std::vector<ULONG64> a, b;
  std::thread other(writer, second, &b);
  writer(first, &a);
  other.join();
  EXPECT_EQ(Name(first), std::u16string(u"120"));
  std::set<ULONG64> all(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  EXPECT_EQ(all.size(), std::size_t{2 * kEach});
  first->Read([&](const FarmView& v) -> VSTATUS {
    EXPECT_EQ(v.ServerCount(), std::size_t{2 * kEach});
    return 0;
  });
}

// Two connections that share nothing but identifier counters and the
// event counter (each write counts on the values its transaction read with
// its first statement) still never hand out an identifier or an event
// sequence twice: a server's, an application's written with its row, or
// one handed out without a row (every other write).
TEST_F(PostgresFarmTest, WritersSharingOnlyCountersRepeatNoIdentifierOrSequence) {
  std::shared_ptr<FarmStore> first = Open(), second = Open();
  constexpr int kEach = 80;
  auto writer = [](std::shared_ptr<FarmStore> store, char16_t who, std::vector<ULONG64>* ids) {
    for (int i = 0; i < kEach; ++i) {
      ULONG64 server = 0, app = 0, sequence = 0;
      EXPECT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
        server = txn.AllocateId(kObjectKindServer);
        txn.PutServer({server, u"S"});
        app = txn.AllocateId(kObjectKindApplication);
        if (i % 2 == 0) {
          ApplicationRecord record;
          record.id = app;
          const std::string number = std::to_string(i);
          record.data.browser_name = record.data.friendly_name = who + std::u16string(number.begin(), number.end());
          EXPECT_TRUE(txn.PutApplicationHoldingNames(record));
        }
        sequence = txn.AppendEvent(0x1100, {1});
        return 0;
      }), 0u);
      ids->insert(ids->end(), {server, app, sequence});
    }
  };
  std::vector<ULONG64> a, b;
  std::thread other(writer, second, u'B', &b);
  writer(first, u'A', &a);
  other.join();
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    std::set<ULONG64> all;
    for (std::size_t i = static_cast<std::size_t>(kind); i < a.size(); i += 3) all.insert({a[i], b[i]});
    EXPECT_EQ(all.size(), std::size_t{2 * kEach});
  }
  EXPECT_EQ(first->Read([&](const FarmView& v) -> VSTATUS {
    return v.ServerCount() == 2 * kEach && v.ApplicationCount() == kEach && v.EventsAfter(0, 1000).size() == 2 * kEach
               ? 0
               : 1;
  }), 0u);
}

// A write whose snapshot another connection changed under it fails to
// serialize; it is rolled back and run again, and after the last attempt
// the collision is reported with its own code, nothing written.
TEST_F(PostgresFarmTest, ACollidingWriteRunsAgainAndIsGivenUpAfterTheLastAttempt) {
  std::shared_ptr<FarmStore> store = Open(), other = Open();
  auto interfere = [&](const std::u16string& name) {
    // From another thread: this one's connection is inside its write.
    std::thread([&] {
      EXPECT_EQ(other->Write([&](FarmTxn& txn) -> VSTATUS {
        txn.SetFarmName(name);
        return 0;
      }), 0u);
    }).join();
  };
  int runs = 0;
  EXPECT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
    const std::u16string seen = txn.FarmName();  // takes the snapshot
    if (++runs == 1) interfere(u"other");
    txn.SetFarmName(seen + u"+mine");
    return 0;
  }), 0u);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(Name(store), u"other+mine");

  runs = 0;
  EXPECT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
    const std::u16string seen = txn.FarmName();
    interfere(u"other " + std::u16string(1, char16_t(u'0' + ++runs)));
    txn.SetFarmName(seen + u"+lost");
    return 0;
  }), admin::kFarmWriteConflict);
  EXPECT_EQ(runs, kFarmWriteAttempts);
  EXPECT_EQ(Name(store), u"other " + std::u16string(1, char16_t(u'0' + kFarmWriteAttempts)));
}

// Writes whose rule spans rows, each beside a write on another connection
// that commits between the first one's snapshot and its changes: the first
// collides, runs again and then sees the other's change.
TEST_F(PostgresFarmTest, AWriteWhoseRuleSpansRowsCollidesWithAWriteCommittedMeanwhile) {
  std::shared_ptr<FarmStore> store = Open(), other = Open();
  ULONG64 folder = 0, server = 0, position = 0;
  ASSERT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
    folder = txn.AllocateId(kObjectKindFolder);
    txn.PutFolder({folder, 0, u"F", 1});
    server = txn.AllocateId(kObjectKindServer);
    txn.PutServer({server, u"S"});
    txn.AppendEvent(0x1100, {1});
    return 0;
  }), 0u);
  auto publish = [&](FarmTxn& txn, const std::u16string& name) {
    ApplicationRecord app;
    app.id = txn.AllocateId(kObjectKindApplication);
    app.folder_id = folder;
    app.data.browser_name = app.data.friendly_name = name;
    app.data.servers.emplace_back().server_id = server;
    EXPECT_TRUE(txn.PutApplicationHoldingNames(app));
    txn.AppendEvent(0x1100, {1});
  };
  const AccountRecord account{u"NT", u"D", u"a", 1, u"CN=a"};
  struct Race {
    const char* rule;
    std::function<void(FarmTxn&)> meanwhile;
    std::function<bool(FarmTxn&)> allowed;  // the first write's look
    std::function<void(FarmTxn&)> change;   // and its change when allowed
    VSTATUS answer;                         // once run again
  };
  const Race races[] = {
      {"a publish into a folder deleted meanwhile",
       [&](FarmTxn& t) { t.AppendEvent(0x1100, {1}), t.DeleteFolder(folder); },
       [&](FarmTxn& t) { return t.GetFolder(folder).has_value(); }, [&](FarmTxn& t) { publish(t, u"A"); }, 1},
      {"a publish naming a server removed meanwhile", [&](FarmTxn& t) { t.DeleteServer(server); },
       [&](FarmTxn& t) { return t.GetServer(server).has_value(); }, [&](FarmTxn& t) { publish(t, u"B"); }, 1},
      {"an account added meanwhile", [&](FarmTxn& t) { t.PutAccount(account); },
       [&](FarmTxn& t) { return !t.FindAccountByDn(account.dn); }, [&](FarmTxn& t) { t.PutAccount(account); }, 1},
      {"a queue made at an entry a trim deletes meanwhile",
       [&](FarmTxn& t) { t.DeleteEventsThrough(t.AppendEvent(0x1100, {1})); },
       [&](FarmTxn& t) { return (position = t.LastEventSequence()) != 0; },
       [&](FarmTxn& t) { t.PutEventQueue({t.AllocateEventQueueHandle(), {0x1100}, position}); }, 0},
  };
  for (const Race& race : races) {
    SCOPED_TRACE(race.rule);
    int runs = 0;
    EXPECT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
      const bool allowed = race.allowed(txn);
      if (++runs == 1) {
        std::thread([&] {
          EXPECT_EQ(other->Write([&](FarmTxn& t) -> VSTATUS { return race.meanwhile(t), 0; }), 0u);
        }).join();
      }
      if (!allowed) return 1;
      race.change(txn);
      return 0;
    }), race.answer);
    EXPECT_EQ(runs, 2);
  }
}

// A folder a store remembers from its last write is not answered once a
// writer on another connection has deleted it: a write that logs an event
// and one that logs none both run again and see it gone.
TEST_F(PostgresFarmTest, AFolderRememberedFromTheLastWriteIsNotAnsweredOnceDeletedElsewhere) {
  std::shared_ptr<FarmStore> store = Open(), other = Open();
  const ULONG64 folder = MakeObjectId(kObjectKindFolder, 1);
  auto on = [](std::shared_ptr<FarmStore> s, const std::function<VSTATUS(FarmTxn&)>& fn) { return s->Write(fn); };
  auto look = [&](bool log) {
    return on(store, [&](FarmTxn& t) -> VSTATUS {
      if (!t.GetFolder(folder)) return 7;
      if (log) t.AppendEvent(0x1100, {1});
      return 0;
    });
  };
  for (bool log : {true, false}) {
    SCOPED_TRACE(log);
    ASSERT_EQ(on(other, [&](FarmTxn& t) { return t.PutFolder({folder, 0, u"F", 1}), t.AppendEvent(0x1100, {1}), 0u; }),
              0u);
    ASSERT_EQ(look(true), 0u);
    ASSERT_EQ(on(other, [&](FarmTxn& t) { return t.AppendEvent(0x1100, {1}), t.DeleteFolder(folder), 0u; }), 0u);
    EXPECT_EQ(look(log), 7u);
  }
  // Remembered by a write that counted nothing, renamed elsewhere, then a
  // write that reads the event counter itself: the old name is not kept.
  ASSERT_EQ(on(other, [&](FarmTxn& t) { return t.PutFolder({folder, 0, u"F", 1}), t.AppendEvent(0x1100, {1}), 0u; }), 0u);
  std::shared_ptr<FarmStore> fresh = Open();
  std::u16string name;
  auto name_of = [&](FarmTxn& t) { return name = t.GetFolder(folder)->name, 0u; };
  ASSERT_EQ(on(fresh, name_of), 0u);
  ASSERT_EQ(on(other, [&](FarmTxn& t) { return t.PutFolder({folder, 0, u"G", 1}), t.AppendEvent(0x1100, {1}), 0u; }), 0u);
  ASSERT_EQ(on(fresh, [](FarmTxn& t) { return t.AppendEvent(0x1100, {1}), 0u; }), 0u);
  ASSERT_EQ(on(fresh, name_of), 0u);
  EXPECT_EQ(name, u"G");
}

// A waiter on one connection wakes when another connection commits an
// event, with no timeout to run out, whether the writer read the event
// counter (its first event) or counted from what it remembered (its
// second); a rolled-back event wakes nobody.
TEST_F(PostgresFarmTest, ACommitOnAnotherConnectionWakesAWaiter) {
  std::shared_ptr<FarmStore> waiter = Open(), writer = Open();
  for (ULONG64 after : {0, 1}) {
    SCOPED_TRACE(after);
    // A bounded wait guards against a hang (a lost notification fails the
    // case within a minute); it is not a measure of speed.
    auto woken = std::async(std::launch::async, [&] { return waiter->WaitForEventAfter(after, 60000); });
    EXPECT_EQ(writer->Write([](FarmTxn& txn) -> VSTATUS {
      txn.AppendEvent(0x1100, {1});
      return 1;  // rolled back
    }), 1u);
    EXPECT_FALSE(waiter->WaitForEventAfter(after, 0));
    ASSERT_EQ(writer->Write([](FarmTxn& txn) -> VSTATUS {
      txn.AppendEvent(0x1100, {1});
      return 0;
    }), 0u);
    EXPECT_TRUE(woken.get());
    EXPECT_FALSE(waiter->WaitForEventAfter(after + 1, 0));
  }
}

// A trim keeps exactly the entries above its sequence: after trims that
// each delete from where the last one this store saw ended, after a trim
// that was rolled back (and so must not count as done), and after another
// store cleared the farm and its sequences started again below what this
// store trimmed through (taken by the store's next full trim).
TEST_F(PostgresFarmTest, EventTrimsKeepExactlyTheEntriesAboveTheirSequence) {
  std::shared_ptr<FarmStore> store = Open(), other = Open();
  auto trim = [&](ULONG64 through, std::uint64_t times, VSTATUS result) {
    EXPECT_EQ(store->Write([&](FarmTxn& txn) -> VSTATUS {
      for (std::uint64_t i = 0; i < times; ++i) txn.DeleteEventsThrough(through);
      return result;
    }), result);
  };
  // The first and last sequence kept, and how many.
  auto kept = [&]() -> std::tuple<ULONG64, ULONG64, std::size_t> {
    std::vector<EventRecord> events;
    store->Read([&](const FarmView& v) -> VSTATUS {
      events = v.EventsAfter(0, 100000);
      return 0;
    });
    if (events.empty()) return {0, 0, 0};
    return {events.front().sequence, events.back().sequence, events.size()};
  };
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(store->Write([](FarmTxn& txn) -> VSTATUS {
      const ULONG64 sequence = txn.AppendEvent(0x1100, {1});
      if (sequence > 100) txn.DeleteEventsThrough(sequence - 100);
      return 0;
    }), 0u);
  }
  EXPECT_EQ(kept(), std::make_tuple(ULONG64{201}, ULONG64{300}, std::size_t{100}));
  trim(250, 1, 1);
  trim(251, 1, 0);
  EXPECT_EQ(kept(), std::make_tuple(ULONG64{252}, ULONG64{300}, std::size_t{49}));

  ASSERT_EQ(other->Write([](FarmTxn& txn) -> VSTATUS {
    txn.Clear();
    for (int i = 0; i < 150; ++i) txn.AppendEvent(0x1100, {1});
    return 0;
  }), 0u);
  trim(140, postgres::PostgresTxn::kFullTrimInterval, 0);
  EXPECT_EQ(kept(), std::make_tuple(ULONG64{141}, ULONG64{150}, std::size_t{10}));
}

// A read of one question answers it (also that there is nothing); a
// function that asks a second one is run again in one snapshot, so that a
// write committed between its two questions shows in both answers or in
// neither.
TEST_F(PostgresFarmTest, AOneQuestionReadThatAsksTwoIsAnsweredFromOneSnapshot) {
  std::shared_ptr<FarmStore> store = Open(), other = Open();
  const ULONG64 server = MakeObjectId(kObjectKindServer, 1);
  auto name_both = [&](const std::u16string& name) {
    ASSERT_EQ(other->Write([&](FarmTxn& txn) -> VSTATUS {
      txn.SetFarmName(name);
      txn.PutServer({server, name});
      return 0;
    }), 0u);
  };
  name_both(u"A");
  std::optional<ServerRecord> found;
  EXPECT_EQ(store->ReadOne([&](const FarmView& v) -> VSTATUS {
    found = v.GetServer(server);
    return found ? 0 : 1;
  }), 0u);
  EXPECT_EQ(found, (ServerRecord{server, u"A"}));
  EXPECT_EQ(store->ReadOne([&](const FarmView& v) -> VSTATUS { return v.GetServer(server + 1) ? 0 : 1; }), 1u);

  int runs = 0;
  std::u16string farm_name, server_name;
  EXPECT_EQ(store->ReadOne([&](const FarmView& v) -> VSTATUS {
    farm_name = v.FarmName();
    if (runs++ == 0) name_both(u"B");
    found = v.GetServer(server);
    server_name = found ? found->name : u"";
    return 0;
  }), 0u);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(farm_name, server_name);
}

// Writes reach the server with the transaction's next statement or its
// commit; one the database refuses (a trigger here) is still reported with
// its own code, also when the function went on and returned a failure of
// its own, and nothing of the transaction is kept. The connection then
// serves the next write, also after an exception left the function.
TEST_F(PostgresFarmTest, ARefusedQueuedWriteIsReportedAndKeepsNothing) {
  std::shared_ptr<FarmStore> store = Open();
  ASSERT_TRUE(database_->Exec(
      "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
      " IF NEW.name = '\\x7800'::bytea THEN RAISE EXCEPTION 'refused' USING ERRCODE = '42501'; END IF;"
      " RETURN NEW; END $$;"
      "CREATE TRIGGER refuse BEFORE INSERT ON servers FOR EACH ROW EXECUTE FUNCTION refuse();"
      "CREATE FUNCTION refuse_late() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
      " IF NEW.name = '\\x7a00'::bytea THEN RAISE EXCEPTION 'refused' USING ERRCODE = '42501'; END IF;"
      " RETURN NULL; END $$;"
      "CREATE CONSTRAINT TRIGGER refuse_late AFTER INSERT ON servers DEFERRABLE INITIALLY DEFERRED"
      " FOR EACH ROW EXECUTE FUNCTION refuse_late()"));
  const ULONG64 folder = MakeObjectId(kObjectKindFolder, 1), refused = MakeObjectId(kObjectKindServer, 1);
  const struct {
    const char* what;
    std::function<VSTATUS(FarmTxn&)> fn;
  } cases[] = {
      {"refused at the commit", [&](FarmTxn& t) -> VSTATUS {
         t.PutFolder({folder, 0, u"Applications", 1});
         t.PutServer({refused, u"x"});
         return 0;
       }},
      {"refused by a check the server makes at the commit", [&](FarmTxn& t) -> VSTATUS {
         t.PutFolder({folder, 0, u"Applications", 1});
         t.PutServer({refused, u"z"});
         return 0;
       }},
      {"refused at a later read, the function failing too", [&](FarmTxn& t) -> VSTATUS {
         t.PutFolder({folder, 0, u"Applications", 1});
         t.PutServer({refused, u"x"});
         (void)t.ServerCount();
         return VORN_E_FAILURE;
       }},
      {"refused behind writes the function failed after", [&](FarmTxn& t) -> VSTATUS {
         t.PutFolder({folder, 0, u"Applications", 1});
         t.PutServer({refused, u"x"});
         return VORN_E_FAILURE;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(store->Write(c.fn), admin::kFarmReadOnly);
    EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS {
      return v.FolderCount() == 0 && v.ServerCount() == 0 ? 0 : 1;
    }), 0u);
  }
  // Also when something else leaves the function before the refusal is read.
  EXPECT_THROW(store->Write([&](FarmTxn& t) -> VSTATUS {
    t.PutServer({refused, u"x"});
    throw std::runtime_error("the caller's own failure");
  }), std::runtime_error);
  EXPECT_EQ(store->Write([&](FarmTxn& t) -> VSTATUS {
    t.PutServer({refused, u"y"});
    return 0;
  }), 0u);
  EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS { return v.GetServer(refused) ? 0 : 1; }), 0u);
}

// An application's names are written on the guess that they are free; a
// taken one runs the write again at once (not as a collision), so that the
// function sees the refusal and what else it writes is committed once;
// free names cost no second run.
TEST_F(PostgresFarmTest, ANameGuessedFreeButTakenRunsTheWriteAgainAndShowsTheRefusal) {
  std::shared_ptr<FarmStore> store = Open();
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1);
  auto app = [&](ULONG64 serial, const std::u16string& name) {
    ApplicationRecord a;
    a.id = MakeObjectId(kObjectKindApplication, static_cast<ULONG>(serial));
    a.folder_id = root;
    a.data.browser_name = name;
    a.data.friendly_name = name;
    return a;
  };
  // `handed_out`: the application takes an identifier its transaction
  // hands out (its first write is a plain insert) instead of a given one.
  const struct {
    const char* what;
    ApplicationRecord app;
    bool handed_out;
    bool put;
    int runs;
  } cases[] = {
      {"a free name", app(1, u"Editor"), false, true, 1},
      {"the name of another application", app(2, u"EDITOR"), false, false, 2},
      {"the name of a folder beside it", app(3, u"Tools"), false, false, 2},
      {"a free name, new identifier", app(0, u"Viewer"), true, true, 1},
      {"the name of another application, new identifier", app(0, u"VIEWER"), true, false, 2},
      {"the name of a folder beside it, new identifier", app(0, u"TOOLS"), true, false, 2},
  };
  ASSERT_EQ(store->Write([&](FarmTxn& t) -> VSTATUS {
    t.PutFolder({root, 0, u"Applications", 1});
    t.PutFolder({MakeObjectId(kObjectKindFolder, 2), root, u"Tools", 2});
    t.AdvanceSerial(kObjectKindApplication, 100);
    return 0;
  }), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int runs = 0;
    bool put = !c.put;
    ApplicationRecord written = c.app;
    EXPECT_EQ(store->Write([&](FarmTxn& t) -> VSTATUS {
      ++runs;
      if (c.handed_out) written.id = t.AllocateId(kObjectKindApplication);
      put = t.PutApplicationHoldingNames(written);
      t.SetFarmName(written.data.friendly_name);
      t.AppendEvent(0x1100, {});
      return 0;
    }), 0u);
    EXPECT_EQ(put, c.put);
    EXPECT_EQ(runs, c.runs);
    EXPECT_EQ(Name(store), written.data.friendly_name);
    EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS {
      return (v.GetApplication(written.id) == written) == c.put ? 0 : 1;
    }), 0u);
  }
  // A refused guess committed nothing: each case logged its one event.
  EXPECT_EQ(store->Read([](const FarmView& v) { return static_cast<VSTATUS>(v.EventsAfter(0, 99).size()); }),
            std::size(cases));
}

// What a write transaction has read or written of folders and application
// names is answered again from what it knows, after its own writes as the
// server would answer; the next transaction asks the server again and sees
// another connection's change.
TEST_F(PostgresFarmTest, ATransactionAnswersFromItsOwnReadsAndWritesAndTheNextOneAsksAgain) {
  std::shared_ptr<FarmStore> store = Open(), other = Open();
  const ULONG64 root = MakeObjectId(kObjectKindFolder, 1), tools = MakeObjectId(kObjectKindFolder, 2);
  const ULONG64 app = MakeObjectId(kObjectKindApplication, 1);
  ApplicationRecord record;
  record.id = app;
  record.folder_id = root;
  record.data.friendly_name = u"Editor";
  ASSERT_EQ(store->Write([&](FarmTxn& t) -> VSTATUS {
    t.PutFolder({root, 0, u"Applications", 1});
    t.PutFolder({tools, root, u"Tools", 2});
    EXPECT_EQ(t.GetFolder(tools), (FolderRecord{tools, root, u"Tools", 2}));
    t.PutFolder({tools, root, u"Kit", 2});
    EXPECT_EQ(t.GetFolder(tools), (FolderRecord{tools, root, u"Kit", 2}));
    EXPECT_TRUE(t.PutApplicationHoldingNames(record));
    EXPECT_EQ(t.GetApplicationName(app), (ApplicationName{app, root, u"Editor"}));
    record.folder_id = tools;
    t.PutApplication(record);
    EXPECT_EQ(t.ApplicationFolder(app), tools);
    return 0;
  }), 0u);
  ASSERT_EQ(store->Write([&](FarmTxn& t) -> VSTATUS {
    EXPECT_EQ(t.ApplicationFolder(app), tools);
    EXPECT_TRUE(t.GetFolder(tools));
    t.DeleteApplication(app);
    t.DeleteFolder(tools);
    EXPECT_EQ(t.ApplicationFolder(app), std::nullopt);
    EXPECT_EQ(t.GetApplicationName(app), std::nullopt);
    EXPECT_EQ(t.GetFolder(tools), std::nullopt);
    return 1;  // rolled back
  }), 1u);
  ASSERT_EQ(other->Write([&](FarmTxn& t) -> VSTATUS {
    t.PutFolder({tools, root, u"Renamed", 2});
    return 0;
  }), 0u);
  EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS {
    return v.GetFolder(tools) == FolderRecord{tools, root, u"Renamed", 2} && v.ApplicationFolder(app) == tools ? 0 : 1;
  }), 0u);
}

// A transaction as large as a farm copy's (tens of thousands of writes
// queued, more than the connection's buffers hold) is sent in batches and
// commits whole.
TEST_F(PostgresFarmTest, ATransactionOfTwentyThousandWritesCommitsWhole) {
  std::shared_ptr<FarmStore> store = Open();
  constexpr ULONG kServers = 20000;
  ASSERT_EQ(store->Write([&](FarmTxn& t) -> VSTATUS {
    for (ULONG i = 1; i <= kServers; ++i) t.PutServer({MakeObjectId(kObjectKindServer, i), u"SERVER-" + std::u16string(40, u'x')});
    return 0;
  }), 0u);
  EXPECT_EQ(store->Read([&](const FarmView& v) -> VSTATUS { return v.ServerCount() == kServers ? 0 : 1; }), 0u);
}

}  // namespace
}  // namespace feroq::store
