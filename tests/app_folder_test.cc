// Application folders: names and their cache, sub-folders, moves, deletion,
// children and the child-count bookkeeping.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "farm/object_access.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "services/service_faults.h"
#include "support/farm_builder.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::W;
using feroq::testing::FarmBuilder;

class AppFolderTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
    build_ = std::make_unique<FarmBuilder>(*farm_);
  }
  void TearDown() override {
    build_.reset();
    FarmTest::TearDown();
  }
  AppFolderObject* Folder(ULONG64 id) {
    AppFolderObject* folder = nullptr;
    EXPECT_EQ(farm_->CreateAppFolderObject(id, &folder, 0), S_OK);
    return folder;
  }
  void Release(CommonObject* object) { farm_->FreeObject(object); }
  std::u16string NameOf(CommonObject* object) {
    char16_t* name = nullptr;
    EXPECT_EQ(object->GetObjectName(&name), S_OK);
    std::u16string text = name == nullptr ? u"(null)" : std::u16string(name);
    farm_->FreeMemory(name);
    return text;
  }
  std::unique_ptr<FarmBuilder> build_;
};

TEST_F(AppFolderTest, RenameChecksAndRefusals) {
  AppFolderObject* office = Folder(build_->Folder(u"Office"));
  build_->Folder(u"Tools");
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(office->SetObjectName(W(u"")), E_INVALIDARG);
  EXPECT_EQ(office->SetObjectName(nullptr), E_INVALIDARG);
  feroq::services::StopServiceCallLog();
  EXPECT_TRUE(feroq::services::ServiceCallLog().empty());

  // A sibling already has the name: the folder service refuses.
  EXPECT_EQ(office->SetObjectName(W(u"Tools")), E_ACCESSDENIED);
  EXPECT_EQ(office->SetObjectName(W(u"Suite")), S_OK);
  EXPECT_EQ(NameOf(office), u"Suite");
  Release(office);
}

TEST_F(AppFolderTest, NameCacheKeepsOrGrowsItsBuffer) {
  AppFolderObject* folder = Folder(build_->Folder(u"LongerName"));
  EXPECT_EQ(NameOf(folder), u"LongerName");
  EXPECT_EQ(feroq::ObjectAccess::CachedNameCapacity(*folder), 22u);
  ASSERT_EQ(folder->SetObjectName(W(u"Short")), S_OK);
  EXPECT_EQ(feroq::ObjectAccess::CachedNameCapacity(*folder), 22u);  // the buffer is kept
  ASSERT_EQ(folder->SetObjectName(W(u"AnEvenLongerName")), S_OK);
  EXPECT_EQ(feroq::ObjectAccess::CachedNameCapacity(*folder), 34u);  // grown to the new name's size

  // When the service cannot answer, the last name read stands in.
  feroq::services::InjectServiceFault("VORNCommonApplicationSAL::GetFolderName",
                                      feroq::VORN_E_FAILURE);
  EXPECT_EQ(NameOf(folder), u"AnEvenLongerName");
  Release(folder);
}

TEST_F(AppFolderTest, DetachedFolders) {
  AppFolderObject unnamed(feroq::MakeObjectId(feroq::kObjectKindFolder, 5),
                          static_cast<char16_t*>(nullptr));
  char16_t* name = reinterpret_cast<char16_t*>(0x10);
  EXPECT_EQ(unnamed.GetObjectName(&name), S_OK);
  EXPECT_EQ(name, nullptr);
  AppFolderObject empty(feroq::MakeObjectId(feroq::kObjectKindFolder, 6), W(u""));
  EXPECT_EQ(empty.GetObjectName(&name), S_OK);
  EXPECT_EQ(name, nullptr);

  FolderObject* child = nullptr;
  CommonObject** children = nullptr;
  LONG count = 0;
  EXPECT_EQ(unnamed.CreateSubFolder(W(u"x"), &child), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.EnumerateChildren(&children, &count), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.GetParentFolder(&child), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.GetDistinguishedName(&name), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.SetParentFolder(&empty), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.Delete(), S_OK);
  LONG version = 9;
  EXPECT_EQ(unnamed.GetVersion(&version), S_OK);
  EXPECT_EQ(version, 0);
}

TEST_F(AppFolderTest, SubFoldersRaiseTheChildCountAndBlockDeletion) {
  FolderObject* root = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root), S_OK);
  FolderObject* made = nullptr;
  ASSERT_EQ(root->CreateSubFolder(W(u"Made"), &made), S_OK);
  EXPECT_EQ(root->GetChildCount(), 1);
  EXPECT_EQ(NameOf(made), u"Made");
  EXPECT_EQ(root->CreateSubFolder(W(u"Made"), &made), E_FAIL);  // name taken

  FolderObject* parent = nullptr;
  ASSERT_EQ(made->GetParentFolder(&parent), S_OK);
  EXPECT_EQ(parent, root);  // the registered object, one more reference
  Release(parent);

  // Enumeration raises the count, so the folder is not deleted.
  FolderObject* inner = nullptr;
  ASSERT_EQ(made->CreateSubFolder(W(u"Inner"), &inner), S_OK);
  EXPECT_EQ(inner->Delete(), S_OK);
  EXPECT_EQ(made->GetChildCount(), 0);
  ULONG64 app = build_->App(u"Editor", 0);
  (void)app;
  CommonObject** children = nullptr;
  LONG count = 0;
  ASSERT_EQ(root->EnumerateChildren(&children, &count), S_OK);
  ASSERT_EQ(count, 2);  // Made and Editor
  for (LONG i = 0; i < count; ++i) Release(children[i]);
  farm_->FreeMemory(children);
  EXPECT_EQ(made->Delete(), S_OK);
  Release(inner);
  Release(made);
  Release(root);
}

TEST_F(AppFolderTest, DeletionAfterEnumerationIsRefused) {
  ULONG64 office_id = build_->Folder(u"Office");
  build_->Folder(u"Tools", office_id);
  AppFolderObject* office = Folder(office_id);
  CommonObject** children = nullptr;
  LONG count = 0;
  ASSERT_EQ(office->EnumerateChildren(&children, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(office->Delete(), E_ACCESSDENIED);
  Release(children[0]);
  farm_->FreeMemory(children);
  Release(office);
}

TEST_F(AppFolderTest, FolderServiceRefusesToDeleteAFolderWithChildren) {
  ULONG64 office_id = build_->Folder(u"Office");
  build_->Folder(u"Tools", office_id);
  AppFolderObject* office = Folder(office_id);  // knows of no children
  EXPECT_EQ(office->Delete(), E_ACCESSDENIED);
  Release(office);
}

TEST_F(AppFolderTest, EnumerationLimitsAndResults) {
  ULONG64 parent_id = build_->Folder(u"P");
  for (const char16_t* name : {u"a", u"b", u"c", u"d", u"e"}) build_->Folder(name, parent_id);
  AppFolderObject* parent = Folder(parent_id);
  struct Case {
    LONG requested;
    LONG delivered;
    HRESULT result;
  };
  for (Case c : {Case{2, 2, S_OK}, Case{10, 5, S_OK}, Case{0, 5, S_OK}, Case{-3, 5, S_OK}}) {
    CommonObject** children = nullptr;
    LONG count = c.requested;
    EXPECT_EQ(parent->EnumerateChildren(&children, &count), c.result) << c.requested;
    EXPECT_EQ(count, c.delivered) << c.requested;
    for (LONG i = 0; i < count; ++i) Release(children[i]);
    farm_->FreeMemory(children);
  }
  EXPECT_EQ(parent->GetChildCount(), 2 + 5 + 5 + 5);

  // A creation failure cuts the walk short; the result says so only for a
  // definite request.
  for (LONG requested : {4, 0}) {
    bool saw_shortfall = false;
    CommonObject** children = nullptr;
    LONG count = 0;
    HRESULT hr = S_OK;
    feroq::testing::ForEachAllocationFailure(
        [&] {
          count = requested;
          hr = parent->EnumerateChildren(&children, &count);
        },
        [&](bool) {
          if (hr == E_OUTOFMEMORY) return;  // the identifier list or the array
          if (count < (requested == 0 ? 5 : requested)) {
            saw_shortfall = true;
            EXPECT_EQ(hr, requested == 0 ? S_OK : S_FALSE) << requested;
          }
          for (LONG i = 0; i < count; ++i) Release(children[i]);
          farm_->FreeMemory(children);
        });
    EXPECT_TRUE(saw_shortfall) << requested;
  }
  Release(parent);
}

TEST_F(AppFolderTest, EmptyFolderYieldsAnEmptyArray) {
  AppFolderObject* empty = Folder(build_->Folder(u"Empty"));
  CommonObject** children = nullptr;
  LONG count = 0;
  ASSERT_EQ(empty->EnumerateChildren(&children, &count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_NE(children, nullptr);
  farm_->FreeMemory(children);
  Release(empty);
}

TEST_F(AppFolderTest, MovesKeepChildCountsInStep) {
  ULONG64 a_id = build_->Folder(u"A");
  ULONG64 b_id = build_->Folder(u"B");
  ULONG64 c_id = build_->Folder(u"C", a_id);
  AppFolderObject* a = Folder(a_id);
  AppFolderObject* b = Folder(b_id);
  AppFolderObject* c = Folder(c_id);

  feroq::services::StartServiceCallLog();
  EXPECT_EQ(c->SetParentFolder(a), S_OK);  // already there: no move
  feroq::services::StopServiceCallLog();
  EXPECT_FALSE(feroq::testing::ServiceWasCalled("VORNCommonApplicationSAL::MoveFolder"));

  EXPECT_EQ(c->SetParentFolder(b), S_OK);
  EXPECT_EQ(b->GetChildCount(), 1);
  EXPECT_EQ(a->GetChildCount(), -1);
  EXPECT_EQ(a->SetParentFolder(c), S_OK);  // A below C is fine (C is not below A now)
  EXPECT_EQ(c->SetParentFolder(a), E_ACCESSDENIED);  // C below its own descendant

  ZQWinAppObject* app = nullptr;
  ULONG64 app_id = build_->App(u"Editor");
  ASSERT_EQ(farm_->CreateWinAppFromID(app_id, &app), S_OK);
  EXPECT_EQ(c->SetParentFolder(reinterpret_cast<FolderObject*>(app)), E_INVALIDARG);
  EXPECT_EQ(c->SetParentFolder(nullptr), E_INVALIDARG);

  FolderObject* root = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root), S_OK);
  EXPECT_EQ(root->SetParentFolder(a), E_ACCESSDENIED);  // the root does not move
  for (CommonObject* o : std::initializer_list<CommonObject*>{app, root, c, b, a}) Release(o);
}

}  // namespace
