// What the farm on a PostgreSQL server adds to the store contract (which
// farm_store_test runs on it): writers on separate connections, the retry
// of a write that collided, notifications across connections, a server
// that restarts, the read-only role, a database that holds something else,
// passwords kept out of what the tool prints, and copying a farm between
// backends. Runs against the suite's throwaway cluster.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_farm_store.h"
#include "services/store/postgres_txn.h"
#include "support/postgres_cluster.h"
#include "support/temp_files.h"

namespace feroq::store {
namespace {

using feroq::testing::ScratchDatabase;

class PostgresFarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!feroq::testing::PostgresClusterAvailable()) GTEST_SKIP() << "no PostgreSQL test cluster (run through CTest)";
    database_ = std::make_unique<ScratchDatabase>();
  }

  std::shared_ptr<FarmStore> Open() {
    std::shared_ptr<FarmStore> store;
    EXPECT_EQ(OpenPostgresFarmStore(database_->url(), /*create=*/true, &store), 0u);
    return store;
  }

  static std::u16string Name(const std::shared_ptr<FarmStore>& store) {
    std::u16string name;
    store->Read([&](const FarmView& v) -> VSTATUS {
      name = v.FarmName();
      return 0;
    });
    return name;
  }

  std::unique_ptr<ScratchDatabase> database_;
};

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
