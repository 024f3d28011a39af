// Several connections on one SQLite farm file: records kept from reads
// giving way to other connections' commits, a writer taking those commits
// in, the record cache staying bounded, the write-ahead log staying bounded
// under a busy writer, and waiters woken by the farm's change signal (or by
// polling where it has none).
#include <filesystem>
#include <future>
#include <thread>

#include "platform/platform.h"
#include "services/store/sqlite_record_cache.h"
#include "support/sqlite_farm_fixture.h"

namespace feroq::store {
namespace {

namespace fs = std::filesystem;
using feroq::testing::SqliteFarmStoreTest;

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
