// Event queues: mask bits turned into filter entries, the queue operations'
// codes, and the stand-in event service (its change log, record layouts,
// timeouts, the queue bound and trimming).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "feroq/services/directory_services.h"
#include "feroq/farm_object.h"
#include "feroq/services/farm_admin.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"
#include "services/event_service.h"
#include "services/farm_connection.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::W;
using feroq::services::LastReceivedQueueFilters;

// One filter entry as the service received it.
struct Entry {
  USHORT tag;
  USHORT id;
  ULONG filter;
  bool operator==(const Entry&) const = default;
};

std::vector<Entry> ReceivedEntries() {
  feroq::services::ReceivedQueueFilters received = LastReceivedQueueFilters();
  std::vector<Entry> entries;
  EXPECT_EQ(received.entries.size(), received.count * 8u);
  for (std::size_t at = 0; at + 8 <= received.entries.size(); at += 8) {
    const BYTE* e = received.entries.data() + at;
    entries.push_back({static_cast<USHORT>(e[0] | e[1] << 8), static_cast<USHORT>(e[2] | e[3] << 8),
                       static_cast<ULONG>(e[4] | e[5] << 8 | e[6] << 16 | ULONG(e[7]) << 24)});
  }
  return entries;
}

ULONG64 ReadU64(const std::vector<BYTE>& bytes, std::size_t offset) {
  ULONG64 value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | bytes.at(offset + i);
  return value;
}

std::vector<BYTE> ObjectRecord(ULONG64 id) {
  std::vector<BYTE> record(10, 0);
  for (int i = 0; i < 8; ++i) record[2 + i] = static_cast<BYTE>(id >> (8 * i));
  return record;
}

// What one service wait delivered; the record block is copied and released.
struct Delivered {
  VSTATUS status = 0;
  ULONG event = 0;
  ULONG lost = 0;
  std::vector<BYTE> record;
  std::size_t block_size = 0;
};

Delivered Take(LONG queue, LONG timeout = 0) {
  Delivered out;
  ULONG b = 0;
  void* record = nullptr;
  out.status = VORN_WaitGenericVORNEventQueue(queue, timeout, out.lost, out.event, b, record);
  if (record != nullptr) {
    out.block_size = feroq::platform::HeapBlockSize(record);
    const auto* bytes = static_cast<const BYTE*>(record);
    out.record.assign(bytes, bytes + out.block_size);
    VORNFree_RPC_Mem(record);
  }
  return out;
}

class EventQueueTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
  }
  // A service queue selecting `ids`.
  LONG ServiceQueue(std::vector<USHORT> ids) {
    std::vector<BYTE> entries(ids.size() * 8, 0);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      entries[8 * i] = 13;
      entries[8 * i + 2] = static_cast<BYTE>(ids[i]);
      entries[8 * i + 3] = static_cast<BYTE>(ids[i] >> 8);
      entries[8 * i + 4] = 3;
    }
    LONG queue = 0;
    EXPECT_EQ(VORN_CreateGenericVORNEventQueue(entries.data(), ULONG(ids.size()), 1, queue), 0u);
    return queue;
  }
  std::shared_ptr<feroq::store::FarmStore> Store() {
    VSTATUS status = 0;
    auto store = feroq::services::EventStore(&status);
    EXPECT_NE(store, nullptr) << status;
    return store;
  }
  std::size_t KeptLogEntries() {
    std::size_t kept = 0;
    Store()->Read([&](const feroq::store::FarmView& view) -> VSTATUS {
      kept = view.EventsAfter(0, 1u << 20).size();
      return 0;
    });
    return kept;
  }
};

TEST_F(EventQueueTest, MasksBecomeFilterEntriesInMaskOrder) {
  const USHORT all[] = {0x1000, 0x1004, 0x1001, 0x1002, 0x1100, 0x1102, 0x1101, 0x1003};
  struct Case {
    std::vector<LONG> masks;
    bool null_array;
    LONG count;
    std::vector<USHORT> expected;
  };
  const Case cases[] = {
      {{}, true, 5, std::vector<USHORT>(std::begin(all), std::end(all))},
      {{0x40, 0x10}, false, 2, {0x1000, 0x1001}},
      {{0x1, 0x1000}, false, 2, {}},
      {{0x20, 0x20}, false, 2, {0x1004}},
      {{0x800}, false, 0, {}},
      {{0x800}, false, -3, {}},
      {{0x800, 0x100, 0x7FFFF00F}, false, 2, {0x1100, 0x1003}},  // only `count` masks count
      {{LONG(0xFFFFFFFF)}, false, 1, std::vector<USHORT>(std::begin(all), std::end(all))},
  };
  for (const Case& c : cases) {
    LONG queue = 0;
    std::vector<LONG> masks = c.masks;
    ASSERT_EQ(farm_->CreateEventQueue(c.null_array ? nullptr : masks.data(), c.count, &queue), S_OK);
    EXPECT_NE(queue, 0);
    std::vector<Entry> expected;
    for (USHORT id : c.expected) expected.push_back({13, id, 3});
    EXPECT_EQ(ReceivedEntries(), expected) << "case with " << c.expected.size() << " entries";
    EXPECT_EQ(LastReceivedQueueFilters().mode, 1u);
    EXPECT_EQ(farm_->DeleteEventQueue(queue), S_OK);
  }
}

TEST_F(EventQueueTest, ArgumentChecksComeBeforeAnyServiceCall) {
  LONG masks[] = {0x10};
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(farm_->CreateEventQueue(masks, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(farm_->DeleteEventQueue(0), E_INVALIDARG);
  feroq::services::StopServiceCallLog();
  EXPECT_TRUE(feroq::services::ServiceCallLog().empty());
}

// Each change through the services appends its entry (packed record,
// little-endian) in commit order; refused or empty changes append nothing.
TEST_F(EventQueueTest, ServicesAppendTheirRecords) {
  const ULONG64 root = RootFolder();
  const ULONG64 other = AddFolder(u"Other");
  const LONG queue = ServiceQueue({0x1000, 0x1001, 0x1002, 0x1004, 0x1100, 0x1101, 0x1102, 0x1003});
  VORNCommonApplicationSAL folders(subsystem());
  ULONG64 made = 0;
  ASSERT_EQ(folders.CreateFolder(root, W(u"Office"), made), 0u);
  ASSERT_EQ(folders.RenameFolder(made, W(u"Work")), 0u);
  ASSERT_EQ(folders.RenameFolder(made, W(u"Work")), 0u);  // unchanged
  ASSERT_EQ(folders.RenameFolder(made, W(u"")), feroq::FOLDER_E_RENAME_REFUSED);
  ASSERT_EQ(folders.MoveFolder(made, root, other), 0u);
  ASSERT_EQ(folders.MoveFolder(made, other, other), 0u);  // no move
  ASSERT_EQ(folders.DeleteFolder(made), 0u);
  const ULONG64 app = AddApplication(u"editor");
  ZQAppSAL store(subsystem());
  ZQApp record;
  ASSERT_EQ(store.Read(app, record), 0u);
  ULONG64 id = app;
  ASSERT_EQ(store.Write(id, record, nullptr), 0u);  // same folder: changed only
  ASSERT_EQ(record.SetCommonAppFolder(other), 0u);
  ASSERT_EQ(store.Write(id, record, nullptr), 0u);  // new folder: moved, then changed
  ASSERT_EQ(folders.MoveApplication(app, other, root), 0u);
  ASSERT_EQ(store.Delete(app), 0u);

  const std::vector<std::pair<ULONG, std::vector<ULONG64>>> expected = {
      {0x1000, {made}}, {0x1001, {made}}, {0x1002, {made, root, other}}, {0x1004, {made}},
      {0x1100, {app}},  {0x1101, {app}},  {0x1003, {app, root, other}},  {0x1101, {app}},
      {0x1003, {app, other, root}},      {0x1102, {app}}};
  for (const auto& [event, ids] : expected) {
    Delivered got = Take(queue);
    ASSERT_EQ(got.status, 0u);
    EXPECT_EQ(got.event, event);
    EXPECT_EQ(got.lost, 0u);
    EXPECT_GE(got.block_size, 28u);  // padded to the move layout, plus a NUL
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ReadU64(got.record, 2 + 8 * i), ids[i]);
    if (event == 0x1001) {
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(got.record.data() + 10)), u"Office");
    }
  }
  EXPECT_EQ(Take(queue).status, feroq::VORN_E_WAIT_TIMEOUT);
}

// A store whose commits fail after the transaction ran, as a busy or full
// database fails them.
struct CommitsFail : feroq::store::FarmStore {
  explicit CommitsFail(std::shared_ptr<FarmStore> farm) : farm(std::move(farm)) {}
  VSTATUS Read(const std::function<VSTATUS(const feroq::store::FarmView&)>& fn) override { return farm->Read(fn); }
  VSTATUS Write(const std::function<VSTATUS(feroq::store::FarmTxn&)>& fn) override {
    return farm->Write([&](feroq::store::FarmTxn& txn) {
      const VSTATUS ran = fn(txn);
      return ran != 0 ? ran : feroq::admin::kFarmBusy;
    });
  }
  bool WaitForEventAfter(ULONG64 after, LONG timeout_ms) override { return farm->WaitForEventAfter(after, timeout_ms); }
  std::shared_ptr<FarmStore> farm;
};

// A wait whose commit fails answers the store's code and keeps no block.
TEST_F(EventQueueTest, AWaitWhoseCommitFailsKeepsNoBlock) {
  const LONG queue = ServiceQueue({0x1000});
  ASSERT_EQ(Store()->Write([](feroq::store::FarmTxn& txn) -> VSTATUS {
    feroq::services::AppendFarmEvent(txn, 0x1000, ObjectRecord(1));
    return 0;
  }), 0u);
  auto* connection = static_cast<feroq::services::FarmSubsystem*>(subsystem());
  connection->Attach(std::make_shared<CommitsFail>(Store()));
  const std::int64_t blocks = feroq::platform::LiveHeapBlocks();
  EXPECT_EQ(Take(queue).status, feroq::admin::kFarmBusy);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), blocks);
  connection->Attach(std::static_pointer_cast<CommitsFail>(Store())->farm);
}

// A queue sees only changes after it was made, and only the identifiers
// of the table among its entries; a deleted queue cannot be waited on or
// deleted again.
TEST_F(EventQueueTest, QueueSeesOnlyLaterChangesAndOnlyItsIdentifiers) {
  AddFolder(u"Before");
  const LONG folders_only = ServiceQueue({0x1005, 0x1000, 0x0001, 0x1000});
  const LONG nothing = ServiceQueue({});
  EXPECT_NE(folders_only, nothing);
  Store()->Read([&](const feroq::store::FarmView& view) -> VSTATUS {
    EXPECT_EQ(view.GetEventQueue(folders_only)->event_ids, std::vector<USHORT>{0x1000});
    return 0;
  });
  EXPECT_EQ(Take(folders_only).status, feroq::VORN_E_WAIT_TIMEOUT);
  AddApplication(u"calc");
  const ULONG64 after = AddFolder(u"After");
  Delivered got = Take(folders_only, 10);
  ASSERT_EQ(got.status, 0u);
  EXPECT_EQ(ReadU64(got.record, 2), after);
  EXPECT_EQ(Take(folders_only, 10).status, feroq::VORN_E_WAIT_TIMEOUT);
  EXPECT_EQ(Take(nothing, 10).status, feroq::VORN_E_WAIT_TIMEOUT);

  AddFolder(u"Pending");
  ASSERT_EQ(VORN_DeleteGenericVORNEventQueue(folders_only), 0u);
  EXPECT_EQ(Take(folders_only).status, feroq::VORN_E_FAILURE);
  EXPECT_EQ(VORN_DeleteGenericVORNEventQueue(folders_only), feroq::VORN_E_FAILURE);
  LONG queue = 0;
  EXPECT_EQ(VORN_CreateGenericVORNEventQueue(nullptr, 1, 1, queue), feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(queue, 0);
}

TEST_F(EventQueueTest, QueueOutlivesTheFarmObjectThatMadeIt) {
  LONG masks[] = {0x10};
  LONG queue = 0;
  ASSERT_EQ(farm_->CreateEventQueue(masks, 1, &queue), S_OK);
  farm_.reset();
  const ULONG64 made = AddFolder(u"Later");
  FarmObject another;
  LONG event_type = 0;
  CommonObject* object = nullptr;
  CommonObject* second = nullptr;
  ASSERT_EQ(another.WaitForEvent(queue, 1000, &event_type, &object, &second), S_OK);
  EXPECT_EQ(event_type, 0x10);
  ULONG64 id = 0;
  object->GetObjectID(id);
  EXPECT_EQ(id, made);
  another.FreeObject(object);
  EXPECT_EQ(another.DeleteEventQueue(queue), S_OK);
}

// The log keeps the newest kMaxPendingEvents entries: a queue that falls
// further behind loses its oldest entries and is told how many.
TEST_F(EventQueueTest, QueueBoundDropsTheOldestEntries) {
  constexpr ULONG64 kExtra = 5;
  const LONG behind = ServiceQueue({0x1000});
  const LONG picky = ServiceQueue({0x1004});
  auto store = Store();
  ULONG64 first_sequence = 0;
  ASSERT_EQ(store->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
    first_sequence = txn.LastEventSequence() + 1;
    for (ULONG64 i = 0; i < feroq::services::kMaxPendingEvents + kExtra; ++i) {
      feroq::services::AppendFarmEvent(txn, 0x1000, ObjectRecord(1000 + i));
    }
    return 0;
  }), 0u);
  EXPECT_EQ(KeptLogEntries(), feroq::services::kMaxPendingEvents);

  Delivered got = Take(behind);
  ASSERT_EQ(got.status, 0u);
  EXPECT_EQ(got.lost, kExtra);
  EXPECT_EQ(ReadU64(got.record, 2), 1000 + kExtra);  // the oldest entry kept
  // The trim after that read keeps the whole bound for `picky`, which has
  // read nothing yet.
  EXPECT_EQ(KeptLogEntries(), feroq::services::kMaxPendingEvents);
  got = Take(behind);
  ASSERT_EQ(got.status, 0u);
  EXPECT_EQ(got.lost, 0u);
  EXPECT_EQ(ReadU64(got.record, 2), 1000 + kExtra + 1);

  // A queue selecting none of the entries passes them all and finds nothing.
  EXPECT_EQ(Take(picky).status, feroq::VORN_E_WAIT_TIMEOUT);
  // Entries both queues have passed are trimmed, except the one `behind`
  // was handed last; the rest stay for `behind`.
  EXPECT_EQ(KeptLogEntries(), feroq::services::kMaxPendingEvents - 1);
  ASSERT_EQ(VORN_DeleteGenericVORNEventQueue(behind), 0u);
  ASSERT_EQ(VORN_DeleteGenericVORNEventQueue(picky), 0u);
  EXPECT_EQ(KeptLogEntries(), 0u);  // no queue: nothing is kept
  // Sequences go on from where they were.
  store->Read([&](const feroq::store::FarmView& view) -> VSTATUS {
    EXPECT_EQ(view.LastEventSequence(), first_sequence + feroq::services::kMaxPendingEvents + kExtra - 1);
    return 0;
  });
}

// A queue is abandoned when its owner ran here and has ended, or when
// nobody has waited on it for a day.
TEST(AbandonedQueueTest, OwnerGoneOrADayWithoutAWait) {
  const feroq::platform::ProcessIdentity me = feroq::platform::CurrentProcessIdentity();
  const ULONG64 now = 1'800'000'000;
  const ULONG64 day = feroq::services::kAbandonedQueueSeconds;
  const struct {
    const char* what;
    std::string host;
    ULONG process;
    ULONG64 start;
    ULONG64 last_wait;
    bool abandoned;
  } cases[] = {
      {"owner runs, waited now", me.host, me.process, me.start, now, false},
      {"owner runs, waited a second short of a day ago", me.host, me.process, me.start, now - day + 1, false},
      {"owner runs, waited a day ago", me.host, me.process, me.start, now - day, true},
      {"owner's number now runs another process", me.host, me.process, me.start + 1, now, true},
      {"owner on another host", me.host + "-elsewhere", me.process, me.start, now, false},
      {"owner and time unknown", "", 0, 0, 0, false},
      {"owner unknown, waited a day ago", "", 0, 0, now - day, true},
  };
  // The owner's identity is its start, not anything that changes while it
  // runs (the size of its address space grows here).
  std::vector<char> grown(64 << 20, 1);
  for (const auto& c : cases) {
    feroq::store::EventQueueRecord queue(1, {0x1000}, 0);
    queue.owner_host = c.host;
    queue.owner_process = c.process;
    queue.owner_start = c.start;
    queue.last_wait = c.last_wait;
    EXPECT_EQ(feroq::services::IsAbandonedQueue(queue, now), c.abandoned) << c.what;
  }
}

TEST_F(EventQueueTest, TimeoutsAndFailedRecordBlocksDeliverNothing) {
  const LONG queue = ServiceQueue({0x1000});
  EXPECT_EQ(Take(queue, 25).status, feroq::VORN_E_WAIT_TIMEOUT);
  const ULONG64 made = AddFolder(u"Kept");
  // The record block cannot be made: the event stays for the next wait.
  const auto live = feroq::platform::LiveHeapBlocks();
  feroq::platform::FailAllocationAt(1);
  Delivered failed = Take(queue, 0);
  feroq::platform::ClearAllocationFailure();
  EXPECT_EQ(failed.status, feroq::VORN_E_OUTOFMEMORY);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);
  Delivered got = Take(queue, 0);
  ASSERT_EQ(got.status, 0u);
  EXPECT_EQ(ReadU64(got.record, 2), made);
}

}  // namespace
