// FarmObject::WaitForEvent: each event caused by a change made through the
// public interface, the move bookkeeping, detached folders, failures (with
// the record released once and nothing leaked), and a waiter woken by
// another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "farm/object_id_map.h"
#include "feroq/app_data.h"
#include "feroq/services/directory_services.h"
#include "feroq/feroq.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"
#include "services/event_service.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::W;

// Long enough for any event already committed; bounds a faulty wait.
constexpr LONG kSafetyMs = 10000;

CommonObject* const kUntouched = reinterpret_cast<CommonObject*>(0x5EED);

struct Event {
  HRESULT result = 0;
  LONG mask = -1;
  CommonObject* object = kUntouched;
  CommonObject* second = kUntouched;
};

ULONG64 IdOf(CommonObject* object) {
  ULONG64 id = 0;
  object->GetObjectID(id);
  return id;
}

std::size_t Count(const std::vector<std::string>& log, const std::string& name) {
  return static_cast<std::size_t>(std::count(log.begin(), log.end(), name));
}

class WaitForEventTest : public feroq::testing::FarmTest {
 public:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
    live_blocks_ = feroq::platform::LiveHeapBlocks();
  }
  void TearDown() override {
    for (LONG queue : queues_) farm_->DeleteEventQueue(queue);
    FarmTest::TearDown();
  }

  LONG Queue(std::vector<LONG> masks) {
    LONG queue = 0;
    EXPECT_EQ(farm_->CreateEventQueue(masks.data(), LONG(masks.size()), &queue), S_OK);
    queues_.push_back(queue);
    return queue;
  }
  Event Wait(LONG queue, LONG timeout = kSafetyMs, FarmObject* farm = nullptr) {
    Event e;
    e.result = (farm ? farm : farm_.get())->WaitForEvent(queue, timeout, &e.mask, &e.object, &e.second);
    return e;
  }
  // Releases the objects an event handed out.
  void Release(const Event& e) {
    Release(e.object);
    Release(e.second);
  }
  void Release(CommonObject* object) {
    if (object != nullptr && object != kUntouched) farm_->FreeObject(object);
  }
  // Waits for the next event, expects `mask`, `object` and `second` (the
  // same pointers) and releases what came.
  void Expect(LONG queue, LONG mask, CommonObject* object, CommonObject* second) {
    Event e = Wait(queue);
    EXPECT_EQ(e.result, S_OK);
    EXPECT_EQ(e.mask, mask);
    EXPECT_EQ(e.object, object);
    EXPECT_EQ(e.second, second);
    Release(e);
  }
  // Waits (timeout 0) until the queue is empty, releasing what comes.
  void Drain(LONG queue) {
    for (Event e = Wait(queue, 0); e.result != E_FAIL; e = Wait(queue, 0)) Release(e);
  }
  AppFolderObject* Folder(ULONG64 id) {
    AppFolderObject* folder = nullptr;
    EXPECT_EQ(farm_->CreateAppFolderObject(id, &folder, 0), S_OK);
    return folder;
  }
  std::u16string NameOf(CommonObject* object) {
    char16_t* name = nullptr;
    EXPECT_EQ(object->GetObjectName(&name), S_OK);
    std::u16string text = name == nullptr ? u"" : name;
    farm_->FreeMemory(name);
    return text;
  }
  ZQWinAppObject* Publish(const char16_t* name, const char16_t* parent_dn) {
    feroq::testing::TextPool texts;
    ZQWinAppObject* app = nullptr;
    EXPECT_EQ(farm_->CreateZQWinApp(feroq::testing::AppData(texts, name, name, parent_dn).get(), &app), S_OK);
    return app;
  }
  std::size_t Registered() {
    return static_cast<feroq::ObjectIdMap*>(farm_->GetObjectIDMap())->entries.size();
  }
  // Every object released: the registry is empty and no heap block is left.
  void ExpectNothingLeft() {
    EXPECT_EQ(Registered(), 0u);
    EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live_blocks_);
  }

  std::vector<LONG> queues_;
  std::int64_t live_blocks_ = 0;
};

// The eight events, each made through the public interface, in one run.
TEST_F(WaitForEventTest, EveryChangeArrivesWithItsMaskAndObjects) {
  const LONG queue = Queue({0xFF0});
  FolderObject* root = nullptr;
  FolderObject* office = nullptr;
  FolderObject* archive = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root), S_OK);
  ASSERT_EQ(root->CreateSubFolder(W(u"Office"), &office), S_OK);
  ASSERT_EQ(root->CreateSubFolder(W(u"Archive"), &archive), S_OK);
  Expect(queue, 0x10, office, nullptr);  // the registered objects
  Expect(queue, 0x10, archive, nullptr);

  ASSERT_EQ(office->SetObjectName(W(u"Work")), S_OK);
  Event e = Wait(queue);
  EXPECT_EQ(e.mask, 0x40);
  EXPECT_EQ(e.object, office);
  ASSERT_NE(e.second, nullptr);
  EXPECT_EQ(NameOf(e.second), u"Office");
  Release(e);

  ASSERT_EQ(farm_->MoveObject(office, static_cast<AppFolderObject*>(archive)), S_OK);
  Expect(queue, 0x80, office, root);
  ZQWinAppObject* app = Publish(u"Editor", u"\\Applications\\Archive\\Work");
  ASSERT_NE(app, nullptr);
  Expect(queue, 0x100, app, nullptr);
  ASSERT_EQ(app->SetDescription(W(u"edits")), S_OK);
  ASSERT_EQ(app->Save(), S_OK);
  Expect(queue, 0x400, app, nullptr);
  ASSERT_EQ(farm_->MoveObject(app, static_cast<AppFolderObject*>(archive)), S_OK);
  Expect(queue, 0x800, app, office);
  ASSERT_EQ(app->Delete(), S_OK);
  Expect(queue, 0x200, app, nullptr);

  ASSERT_EQ(office->Delete(), S_OK);
  e = Wait(queue);
  EXPECT_EQ(e.mask, 0x20);
  ASSERT_NE(e.object, nullptr);
  EXPECT_NE(e.object, office);  // detached, with the folder's last name
  EXPECT_EQ(NameOf(e.object), u"Work");
  EXPECT_EQ(e.second, nullptr);
  Release(e);
  EXPECT_EQ(Wait(queue, 0).result, E_FAIL);  // nothing more
  for (CommonObject* held : std::initializer_list<CommonObject*>{app, office, archive, root}) Release(held);
  ExpectNothingLeft();
}

// An application moved in the farm while its object caches P as its parent:
// the event moves the cache to N. A write that changes the folder itself
// (the cache is already N) arrives as a move and then a change, and only
// the counts are adjusted.
TEST_F(WaitForEventTest, MovedApplicationReportsItsNewParent) {
  const ULONG64 p_id = AddFolder(u"P");
  const ULONG64 n_id = AddFolder(u"N");
  ULONG64 app_id = AddApplication(u"calc", p_id);
  const LONG queue = Queue({0x800, 0x400});
  ZQWinAppObject* app = nullptr;
  ASSERT_EQ(farm_->CreateWinAppFromID(app_id, &app), S_OK);
  ASSERT_EQ(app->Load(), S_OK);
  FolderObject* parent = nullptr;
  ASSERT_EQ(app->GetParentFolder(&parent), S_OK);  // P cached: P's count 1
  AppFolderObject* p = Folder(p_id);
  AppFolderObject* n = Folder(n_id);
  ASSERT_EQ(parent, p);
  ASSERT_EQ(farm_->MoveObject(app, n), S_OK);  // the farm moves it; the object still says P
  Expect(queue, 0x800, app, p);
  ASSERT_EQ(app->GetParentFolder(&parent), S_OK);
  EXPECT_EQ(parent, n);
  EXPECT_EQ(p->GetChildCount(), 0);
  EXPECT_EQ(n->GetChildCount(), 1);

  ASSERT_EQ(app->SetParentFolder(p), S_OK);  // cache P again: P 1, N 0
  ASSERT_EQ(app->Save(), S_OK);
  Expect(queue, 0x800, app, n);
  Expect(queue, 0x400, app, nullptr);
  EXPECT_EQ(n->GetChildCount(), 0);  // not below 0
  EXPECT_EQ(p->GetChildCount(), 2);
  for (CommonObject* held : std::initializer_list<CommonObject*>{app, n, p}) Release(held);
  ExpectNothingLeft();
}

TEST_F(WaitForEventTest, DeletedFolderIsDetachedWithItsLastName) {
  const ULONG64 named = AddFolder(u"Old");
  const ULONG64 unheld = AddFolder(u"Unheld");
  const LONG queue = Queue({0x20});
  AppFolderObject* held = Folder(named);
  EXPECT_EQ(NameOf(held), u"Old");  // cached
  VORNCommonApplicationSAL folders(subsystem());
  ASSERT_EQ(folders.DeleteFolder(named), 0u);
  ASSERT_EQ(folders.DeleteFolder(unheld), 0u);

  Event e = Wait(queue);
  ASSERT_EQ(e.result, S_OK);
  EXPECT_EQ(e.mask, 0x20);
  ASSERT_NE(e.object, nullptr);
  EXPECT_NE(e.object, held);
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(NameOf(e.object), u"Old");
  feroq::services::StopServiceCallLog();
  EXPECT_TRUE(feroq::services::ServiceCallLog().empty());
  AppFolderObject* fresh = Folder(named);  // a new registered object
  EXPECT_NE(fresh, held);
  EXPECT_NE(fresh, e.object);
  Release(fresh);
  Release(e);

  // Nobody held the other folder: a new object, not registered, no name.
  e = Wait(queue);
  ASSERT_EQ(e.result, S_OK);
  EXPECT_EQ(IdOf(e.object), unheld);
  EXPECT_EQ(NameOf(e.object), u"");
  EXPECT_EQ(Registered(), 0u);  // `held` left the registry when it was detached
  Release(e);
  Release(held);
  ExpectNothingLeft();
}

// Waited on only after all of its changes, a queue still learns from the
// farm the name each object had as of each change: before the folder's
// rename, before each delete, after the move.
TEST_F(WaitForEventTest, LateWaiterLearnsTheNameEachChangeHad) {
  const LONG queue = Queue({0xFF0});
  const ULONG64 office = AddFolder(u"Office");
  const ULONG64 archive = AddFolder(u"Archive");
  feroq::testing::AppSeed editor;
  editor.browser_name = u"ed";
  editor.folder = office;
  editor.friendly_name = u"Editor";
  const ULONG64 app = AddApplication(editor);
  VORNCommonApplicationSAL folders(subsystem());
  ASSERT_EQ(folders.RenameFolder(office, W(u"Work")), 0u);
  ASSERT_EQ(folders.MoveApplication(app, office, archive), 0u);
  ZQAppSAL store(subsystem());
  ASSERT_EQ(store.Delete(app), 0u);
  ASSERT_EQ(folders.DeleteFolder(office), 0u);

  const struct {
    USHORT event_id;
    ULONG64 object;
    const char16_t* dn;
  } expected[] = {
      {0x1000, office, u"\\Applications\\Office"},
      {0x1000, archive, u"\\Applications\\Archive"},
      {0x1100, app, u"\\Applications\\Office\\Editor"},
      {0x1001, office, u"\\Applications\\Work"},
      {0x1003, app, u"\\Applications\\Archive\\Editor"},
      {0x1102, app, u"\\Applications\\Archive\\Editor"},
      {0x1004, office, u"\\Applications\\Work"},
  };
  feroq::admin::DeliveredEvent delivered;
  for (const auto& change : expected) {
    Event e = Wait(queue);
    ASSERT_EQ(e.result, S_OK);
    Release(e);
    ASSERT_EQ(admin().GetDeliveredEvent(queue, &delivered), 0u) << std::hex << change.event_id;
    EXPECT_EQ(delivered.event_id, change.event_id);
    EXPECT_EQ(delivered.object_id, change.object);
    EXPECT_TRUE(delivered.name_known);
    EXPECT_EQ(delivered.dn, change.dn) << std::hex << change.event_id;
  }
  // A queue that has delivered nothing has nothing to tell.
  EXPECT_EQ(admin().GetDeliveredEvent(Queue({0x10}), &delivered), feroq::VORN_E_FAILURE);
  ExpectNothingLeft();
}

TEST_F(WaitForEventTest, IdentifierOutsideTheTableIsNotMapped) {
  const LONG queue = Queue({0xFF0});
  VSTATUS status = 0;
  auto store = feroq::services::EventStore(&status);
  ASSERT_NE(store, nullptr);
  const ULONG64 folder = RootFolder();
  ASSERT_EQ(store->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
    feroq::store::EventQueueRecord record = *txn.GetEventQueue(queue);
    record.event_ids.push_back(0x1005);
    txn.PutEventQueue(record);
    std::vector<BYTE> bytes(10, 0);
    std::memcpy(bytes.data() + 2, &folder, 8);
    txn.AppendEvent(0x1005, bytes);
    return 0;
  }), 0u);
  feroq::services::StartServiceCallLog();
  Event e = Wait(queue);
  feroq::services::StopServiceCallLog();
  EXPECT_EQ(e.result, E_NOTIMPL);
  EXPECT_EQ(e.mask, 0);
  EXPECT_EQ(e.object, kUntouched);
  EXPECT_EQ(e.second, kUntouched);
  EXPECT_EQ(Count(feroq::services::ServiceCallLog(), "VORNFree_RPC_Mem"), 1u);
  ExpectNothingLeft();
}

TEST_F(WaitForEventTest, FailedWaitsWriteNothing) {
  const LONG queue = Queue({0xFF0});
  feroq::services::StartServiceCallLog();
  Event e;
  EXPECT_EQ(farm_->WaitForEvent(0, 0, &e.mask, &e.object, &e.second), E_INVALIDARG);
  EXPECT_EQ(farm_->WaitForEvent(queue, 0, nullptr, &e.object, &e.second), E_INVALIDARG);
  EXPECT_EQ(farm_->WaitForEvent(queue, 0, &e.mask, nullptr, &e.second), E_INVALIDARG);
  EXPECT_EQ(farm_->WaitForEvent(queue, 0, &e.mask, &e.object, nullptr), E_INVALIDARG);
  EXPECT_TRUE(feroq::services::ServiceCallLog().empty());

  const Event waits[] = {Wait(queue, 0), Wait(queue, 20)};  // timed out
  feroq::services::StopServiceCallLog();
  AddFolder(u"Pending");
  for (const Event& failed : waits) {
    EXPECT_EQ(failed.result, E_FAIL);
    EXPECT_EQ(failed.mask, -1);
    EXPECT_EQ(failed.object, kUntouched);
    EXPECT_EQ(failed.second, kUntouched);
  }
  EXPECT_EQ(Count(feroq::services::ServiceCallLog(), "VORNFree_RPC_Mem"), 0u);
  e = Wait(queue);  // the event is still there
  EXPECT_EQ(e.mask, 0x10);
  Release(e);
  ExpectNothingLeft();
}

// A thread blocked without a timeout wakes when another thread commits. Each
// thread has its own farm object (the registry is not shared across threads).
TEST_F(WaitForEventTest, BlockedWaiterWakesOnAnotherThreadsPublish) {
  const LONG queue = Queue({0x100});
  auto waiter_farm = std::make_unique<FarmObject>();
  std::promise<Event> arrived;
  std::future<Event> result = arrived.get_future();
  std::thread waiter([&] {
    Event e;
    e.result = waiter_farm->WaitForEvent(queue, -1, &e.mask, &e.object, &e.second);
    arrived.set_value(e);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (feroq::services::BlockedEventWaits() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ZQWinAppObject* app = Publish(u"Notepad", u"");
  const bool woke = result.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  if (!woke) farm_->DeleteEventQueue(queue);  // ends the wait within a second
  waiter.join();
  ASSERT_TRUE(woke);
  Event e = result.get();
  EXPECT_EQ(e.result, S_OK);
  EXPECT_EQ(e.mask, 0x100);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(IdOf(e.object), IdOf(app));
  EXPECT_NE(e.object, app);  // the waiter's own farm object made it
  waiter_farm->FreeObject(e.object);
  waiter_farm.reset();
  Release(app);
  ExpectNothingLeft();
}

}  // namespace
