// The object registry: one live object per identifier, reference counts,
// release at zero, the root-folder cache and the detaching form.
#include <gtest/gtest.h>

#include <vector>

#include "farm/object_id_map.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::HeapText;
using feroq::testing::Ref;
using feroq::testing::W;
constexpr ULONG64 kApp = feroq::MakeObjectId(feroq::kObjectKindApplication, 40);
constexpr ULONG64 kFolder = feroq::MakeObjectId(feroq::kObjectKindFolder, 41);

class ObjectRegistryTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
  }
  bool Registered(ULONG64 id) {
    // Mode 2 never registers: a registered object comes back with a raised count.
    Ref<AppFolderObject> probe(*farm_);
    farm_->CreateAppFolderObject(id, &probe.out(), 2);
    return probe->GetRefCount() > 1;
  }
  // Gives back one reference; true when that was the last one.
  bool Free(CommonObject* object) {
    farm_->FreeObject(object);
    return object == nullptr;
  }
};

TEST_F(ObjectRegistryTest, SameApplicationIsSharedAndReleasedAtZero) {
  ULONG64 id = kApp;
  ZQWinAppObject* first = nullptr;
  ZQWinAppObject* second = nullptr;
  ASSERT_EQ(farm_->CreateWinAppFromID(id, &first), S_OK);
  feroq::services::StartServiceCallLog();
  ASSERT_EQ(farm_->CreateWinAppFromID(id, &second), S_OK);
  feroq::services::StopServiceCallLog();
  EXPECT_TRUE(feroq::services::ServiceCallLog().empty());  // the store is not asked
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->GetRefCount(), 2u);
  EXPECT_FALSE(Free(first));  // still alive for the other holder
  EXPECT_EQ(first->GetRefCount(), 1u);
  EXPECT_TRUE(Free(second));

  Ref<ZQWinAppObject> third(*farm_);
  ASSERT_EQ(farm_->CreateWinAppFromID(id, &third.out()), S_OK);
  EXPECT_EQ(third->GetRefCount(), 1u);
}

// An object made from its identifier makes its record when first reached,
// in memory that an earlier object may have used: until loaded it reads as
// a blank record, and so does a copy of it.
TEST_F(ObjectRegistryTest, AnObjectReadsAsABlankRecordUntilLoaded) {
  ULONG64 id = kApp;
  HeapText text(*farm_);
  for (int round = 0; round < 2; ++round) {
    Ref<ZQWinAppObject> app(*farm_);
    ASSERT_EQ(farm_->CreateWinAppFromID(id, &app.out()), S_OK);
    ZQWinAppObject copy(*app.get());
    EXPECT_EQ(copy.GetDescription(&text.out()), S_FALSE);
    EXPECT_EQ(app->GetDescription(&text.out()), S_FALSE) << round;
    ASSERT_EQ(app->SetDescription(W(u"changed")), S_OK);
  }
}

// Every entry stays reachable through growth and erasures: runs of
// identifiers of two kinds (folders every third serial), then the
// applications erased.
TEST(ObjectTableTest, EntriesStayReachableThroughGrowthAndErasures) {
  feroq::ObjectTable table;
  std::vector<ULONG64> ids;
  for (ULONG serial = 1; serial <= 300; ++serial) {
    ids.push_back(feroq::MakeObjectId(feroq::kObjectKindApplication, serial));
    ids.push_back(feroq::MakeObjectId(feroq::kObjectKindFolder, serial * 3));
  }
  std::vector<char> objects(ids.size());
  const auto object = [&](std::size_t i) { return reinterpret_cast<CommonObject*>(&objects[i]); };
  for (std::size_t i = 0; i < ids.size(); ++i) table.insert_or_assign(ids[i], object(i));
  for (std::size_t i = 0; i < ids.size(); i += 2) table.erase(ids[i]);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto found = table.find(ids[i]);
    EXPECT_EQ(found == table.end() ? nullptr : found->second, i % 2 == 0 ? nullptr : object(i)) << i;
  }
  EXPECT_EQ(table.size(), ids.size() / 2);
}

TEST_F(ObjectRegistryTest, FolderModes) {
  ULONG64 other = feroq::MakeObjectId(feroq::kObjectKindFolder, 99);
  // Mode 2 on an unregistered identifier: new, count 1, not registered.
  Ref<AppFolderObject> loose(*farm_), registered(*farm_), again(*farm_);
  ASSERT_EQ(farm_->CreateAppFolderObject(other, &loose.out(), 2), S_OK);
  EXPECT_EQ(loose->GetRefCount(), 1u);
  ASSERT_EQ(farm_->CreateAppFolderObject(other, &registered.out(), 0), S_OK);
  EXPECT_NE(registered.get(), loose.get());
  ASSERT_EQ(farm_->CreateAppFolderObject(other, &again.out(), 0), S_OK);
  EXPECT_EQ(again.get(), registered.get());
  again.reset();
  EXPECT_EQ(registered->GetRefCount(), 1u);

  // Releasing the loose object leaves the registered one registered.
  loose.reset();
  EXPECT_TRUE(Registered(other));
  registered.reset();
  EXPECT_FALSE(Registered(other));
}

TEST_F(ObjectRegistryTest, DetachingFormCarriesTheLastKnownName) {
  // The root folder exists in the farm: its name is read and cached.
  Ref<FolderObject> root(*farm_);
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root.out()), S_OK);
  HeapText name(*farm_);
  ASSERT_EQ(root->GetObjectName(&name.out()), S_OK);

  ULONG64 id = 0;
  root->GetObjectID(id);
  Ref<AppFolderObject> detached(*farm_);
  ASSERT_EQ(farm_->CreateAppFolderObject(id, &detached.out(), 1), S_OK);
  EXPECT_NE(detached.get(), root.get());
  EXPECT_EQ(detached->farm(), nullptr);
  ASSERT_EQ(detached->GetObjectName(&name.out()), S_OK);
  EXPECT_EQ(name.str(), u"Applications");
  EXPECT_EQ(detached->Delete(), S_OK);  // detached: does nothing
  EXPECT_EQ(detached->SetObjectName(W(u"x")), E_ACCESSDENIED);
  EXPECT_FALSE(Registered(id));
}

TEST_F(ObjectRegistryTest, RootFolderIsCachedUntilItsLastRelease) {
  FolderObject* first = nullptr;
  FolderObject* second = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &first), S_OK);
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &second), S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->GetRefCount(), 2u);
  EXPECT_FALSE(Free(first));
  EXPECT_TRUE(Free(second));

  FolderObject* fresh = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &fresh), S_OK);
  EXPECT_EQ(fresh->GetRefCount(), 1u);
  // Left for the farm object's destructor, which destroys a cached root.
}

TEST_F(ObjectRegistryTest, AnIdentifierIsHandedOutOnlyAsTheKindRegisteredForIt) {
  ULONG64 app_id = kApp;
  ULONG64 folder_id = kFolder;
  Ref<ZQWinAppObject> app(*farm_), again(*farm_);
  Ref<AppFolderObject> folder(*farm_);
  ASSERT_EQ(farm_->CreateWinAppFromID(app_id, &app.out()), S_OK);
  ASSERT_EQ(farm_->CreateAppFolderObject(folder_id, &folder.out(), 0), S_OK);
  for (int mode : {0, 1, 2}) {
    AppFolderObject* as_folder = reinterpret_cast<AppFolderObject*>(0x8);
    EXPECT_EQ(farm_->CreateAppFolderObject(app_id, &as_folder, mode), E_INVALIDARG) << mode;
    EXPECT_EQ(as_folder, nullptr);
  }
  ZQWinAppObject* as_app = reinterpret_cast<ZQWinAppObject*>(0x8);
  EXPECT_EQ(farm_->CreateWinAppFromID(folder_id, &as_app), E_INVALIDARG);
  EXPECT_EQ(as_app, nullptr);
  // Neither object was counted or taken out of the registry.
  EXPECT_EQ(app->GetRefCount(), 1u);
  EXPECT_EQ(folder->GetRefCount(), 1u);
  ASSERT_EQ(farm_->CreateWinAppFromID(app_id, &again.out()), S_OK);
  EXPECT_EQ(again.get(), app.get());
}

// What the sweeps cannot see: a factory that runs out of memory hands out
// a null pointer.
TEST_F(ObjectRegistryTest, AllocationFailuresHandOutNull) {
  ZQWinAppObject* app = nullptr;
  AppFolderObject* folder = nullptr;
  HRESULT app_result = S_OK;
  HRESULT folder_result = S_OK;
  feroq::testing::ForEachAllocationFailure(
      [&] {
        ULONG64 app_id = kApp;
        ULONG64 folder_id = kFolder;
        app = reinterpret_cast<ZQWinAppObject*>(0x1);
        folder = reinterpret_cast<AppFolderObject*>(0x1);
        app_result = farm_->CreateWinAppFromID(app_id, &app);
        folder_result = farm_->CreateAppFolderObject(folder_id, &folder, 0);
      },
      [&](bool) {
        for (auto [result, object] : {std::pair<HRESULT, CommonObject*>{app_result, app}, {folder_result, folder}}) {
          if (result == S_OK) {
            farm_->FreeObject(object);
          } else {
            EXPECT_EQ(result, E_OUTOFMEMORY);
            EXPECT_EQ(object, nullptr);
          }
        }
      });
}

}  // namespace
