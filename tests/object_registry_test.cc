// The object registry: one live object per identifier, reference counts,
// release at zero, the root-folder cache and the detaching form.
#include <gtest/gtest.h>


#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::W;
constexpr ULONG64 kApp = feroq::MakeObjectId(feroq::kObjectKindApplication, 40);
constexpr ULONG64 kFolder = feroq::MakeObjectId(feroq::kObjectKindFolder, 41);

class ObjectRegistryTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
    ASSERT_NE(farm_->GetObjectIDMap(), nullptr);
  }
  bool Registered(ULONG64 id) {
    // The registry is reached through the public factory in mode 2, which
    // never registers: a registered object comes back with a raised count.
    AppFolderObject* probe = nullptr;
    ULONG64 key = id;
    farm_->CreateAppFolderObject(key, &probe, 2);
    const bool registered = probe->GetRefCount() > 1;
    CommonObject* release = probe;
    farm_->FreeObject(release);
    return registered;
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

  CommonObject* handle = first;
  EXPECT_EQ(farm_->FreeObject(handle), S_OK);
  EXPECT_EQ(handle, first);  // still alive for the other holder
  EXPECT_EQ(first->GetRefCount(), 1u);
  handle = second;
  EXPECT_EQ(farm_->FreeObject(handle), S_OK);
  EXPECT_EQ(handle, nullptr);

  ZQWinAppObject* third = nullptr;
  ASSERT_EQ(farm_->CreateWinAppFromID(id, &third), S_OK);
  EXPECT_EQ(third->GetRefCount(), 1u);
  handle = third;
  farm_->FreeObject(handle);
}

TEST_F(ObjectRegistryTest, FolderModes) {
  ULONG64 id = kFolder;
  AppFolderObject* a = nullptr;
  AppFolderObject* b = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(id, &a, 0), S_OK);
  ASSERT_EQ(farm_->CreateAppFolderObject(id, &b, 0), S_OK);
  EXPECT_EQ(a, b);
  CommonObject* handle = b;
  farm_->FreeObject(handle);
  EXPECT_EQ(a->GetRefCount(), 1u);

  // Mode 2 on an unregistered identifier: new, count 1, not registered.
  ULONG64 other = feroq::MakeObjectId(feroq::kObjectKindFolder, 99);
  AppFolderObject* loose = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(other, &loose, 2), S_OK);
  EXPECT_EQ(loose->GetRefCount(), 1u);
  AppFolderObject* registered = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(other, &registered, 0), S_OK);
  EXPECT_NE(registered, loose);
  EXPECT_EQ(registered->GetRefCount(), 1u);

  // Releasing the loose object leaves the registered one registered.
  handle = loose;
  farm_->FreeObject(handle);
  EXPECT_TRUE(Registered(other));
  handle = registered;
  farm_->FreeObject(handle);
  EXPECT_FALSE(Registered(other));
  handle = a;
  farm_->FreeObject(handle);
}

TEST_F(ObjectRegistryTest, DetachingFormCarriesTheLastKnownName) {
  // The root folder exists in the farm: its name is read and cached.
  FolderObject* root = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root), S_OK);
  char16_t* name = nullptr;
  ASSERT_EQ(root->GetObjectName(&name), S_OK);
  farm_->FreeMemory(name);

  ULONG64 id = 0;
  root->GetObjectID(id);
  AppFolderObject* detached = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(id, &detached, 1), S_OK);
  EXPECT_NE(detached, root);
  EXPECT_EQ(detached->farm(), nullptr);
  name = nullptr;
  ASSERT_EQ(detached->GetObjectName(&name), S_OK);
  EXPECT_EQ(std::u16string(name), u"Applications");
  farm_->FreeMemory(name);
  EXPECT_EQ(detached->Delete(), S_OK);  // detached: does nothing
  EXPECT_EQ(detached->SetObjectName(W(u"x")), E_ACCESSDENIED);
  EXPECT_FALSE(Registered(id));

  CommonObject* handle = detached;
  farm_->FreeObject(handle);
  handle = root;
  farm_->FreeObject(handle);  // the old root lives until its holder lets go
}

TEST_F(ObjectRegistryTest, RootFolderIsCachedUntilItsLastRelease) {
  FolderObject* first = nullptr;
  FolderObject* second = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &first), S_OK);
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &second), S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->GetRefCount(), 2u);
  CommonObject* handle = first;
  farm_->FreeObject(handle);
  handle = second;
  farm_->FreeObject(handle);
  EXPECT_EQ(handle, nullptr);

  FolderObject* fresh = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &fresh), S_OK);
  EXPECT_EQ(fresh->GetRefCount(), 1u);
  // Left for the farm object's destructor, which destroys a cached root.
}

TEST_F(ObjectRegistryTest, AnIdentifierIsHandedOutOnlyAsTheKindRegisteredForIt) {
  ULONG64 app_id = kApp;
  ULONG64 folder_id = kFolder;
  ZQWinAppObject* app = nullptr;
  AppFolderObject* folder = nullptr;
  ASSERT_EQ(farm_->CreateWinAppFromID(app_id, &app), S_OK);
  ASSERT_EQ(farm_->CreateAppFolderObject(folder_id, &folder, 0), S_OK);

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
  ZQWinAppObject* again = nullptr;
  ASSERT_EQ(farm_->CreateWinAppFromID(app_id, &again), S_OK);
  EXPECT_EQ(again, app);
  for (CommonObject* handle : {static_cast<CommonObject*>(app), static_cast<CommonObject*>(again),
                               static_cast<CommonObject*>(folder)}) {
    farm_->FreeObject(handle);
  }
}

TEST_F(ObjectRegistryTest, UnknownTypeIsRefused) {
  struct Stranger : CommonObject {
    Stranger() : CommonObject(static_cast<_FarmObjectType>(5), 1) {}
    HRESULT GetParentFolder(FolderObject**) override { return E_NOTIMPL; }
  } stranger;
  CommonObject* handle = &stranger;
  EXPECT_EQ(farm_->FreeObject(handle), E_UNEXPECTED);
  EXPECT_EQ(stranger.GetRefCount(), 1u);
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
