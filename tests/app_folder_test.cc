// Application folders: names and their cache, sub-folders, moves, deletion,
// children and the child-count bookkeeping.
#include <gtest/gtest.h>

#include <optional>
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

using feroq::testing::FarmBuilder;
using feroq::testing::HeapText;
using feroq::testing::Ref;
using feroq::testing::W;

class AppFolderTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    build_.emplace(OpenFarm());
  }
  Ref<AppFolderObject> Folder(ULONG64 id) {
    Ref<AppFolderObject> folder(*farm_);
    EXPECT_EQ(farm_->CreateAppFolderObject(id, &folder.out(), 0), S_OK);
    return folder;
  }
  std::u16string NameOf(CommonObject* object) {
    HeapText name(*farm_);
    EXPECT_EQ(object->GetObjectName(&name.out()), S_OK);
    return name.is_null() ? u"(null)" : name.str();
  }
  // Enumerates `folder`'s children (asking for `count`), releases them and
  // returns how many came, or -1 when the call failed.
  LONG Children(FolderObject* folder, LONG count = 0, HRESULT expected = S_OK) {
    CommonObject** children = nullptr;
    EXPECT_EQ(folder->EnumerateChildren(&children, &count), expected);
    if (children == nullptr) return -1;
    for (LONG i = 0; i < count; ++i) farm_->FreeObject(children[i]);
    farm_->FreeMemory(children);
    return count;
  }
  std::optional<FarmBuilder> build_;
};

TEST_F(AppFolderTest, RenameChecksRefusalsAndTheNameCache) {
  auto folder = Folder(build_->Folder(u"LongerName"));
  build_->Folder(u"Tools");
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(folder->SetObjectName(W(u"")), E_INVALIDARG);
  EXPECT_EQ(folder->SetObjectName(nullptr), E_INVALIDARG);
  feroq::services::StopServiceCallLog();
  EXPECT_TRUE(feroq::services::ServiceCallLog().empty());
  EXPECT_EQ(folder->SetObjectName(W(u"Tools")), E_ACCESSDENIED);  // a sibling's name

  EXPECT_EQ(NameOf(folder.get()), u"LongerName");
  EXPECT_EQ(feroq::ObjectAccess::CachedNameCapacity(*folder.get()), 22u);
  ASSERT_EQ(folder->SetObjectName(W(u"Short")), S_OK);
  EXPECT_EQ(NameOf(folder.get()), u"Short");
  EXPECT_EQ(feroq::ObjectAccess::CachedNameCapacity(*folder.get()), 22u);  // the buffer is kept
  ASSERT_EQ(folder->SetObjectName(W(u"AnEvenLongerName")), S_OK);
  EXPECT_EQ(feroq::ObjectAccess::CachedNameCapacity(*folder.get()), 34u);  // grown to the new name's size
  // When the service cannot answer, the last name read stands in.
  feroq::services::InjectServiceFault("VORNCommonApplicationSAL::GetFolderName", feroq::VORN_E_FAILURE);
  EXPECT_EQ(NameOf(folder.get()), u"AnEvenLongerName");
}

TEST_F(AppFolderTest, DetachedFoldersHaveNoNameAndRefuseTheTree) {
  AppFolderObject unnamed(feroq::MakeObjectId(feroq::kObjectKindFolder, 5), static_cast<char16_t*>(nullptr));
  AppFolderObject empty(feroq::MakeObjectId(feroq::kObjectKindFolder, 6), W(u""));
  for (AppFolderObject* folder : {&unnamed, &empty}) {
    char16_t* name = reinterpret_cast<char16_t*>(0x10);
    EXPECT_EQ(folder->GetObjectName(&name), S_OK);
    EXPECT_EQ(name, nullptr);
  }
  FolderObject* child = nullptr;
  CommonObject** children = nullptr;
  LONG count = 0;
  char16_t* dn = nullptr;
  EXPECT_EQ(unnamed.CreateSubFolder(W(u"x"), &child), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.EnumerateChildren(&children, &count), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.GetParentFolder(&child), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.GetDistinguishedName(&dn), E_ACCESSDENIED);
  EXPECT_EQ(unnamed.SetParentFolder(&empty), E_ACCESSDENIED);
  LONG version = 9;
  EXPECT_EQ(unnamed.GetVersion(&version), S_OK);
  EXPECT_EQ(version, 0);
}

// The child count rises with each sub-folder made and each child handed
// out; a folder that counts children is not deleted, and the folder
// service refuses one that has children it does not count.
TEST_F(AppFolderTest, SubFoldersRaiseTheChildCountAndBlockDeletion) {
  Ref<FolderObject> root(*farm_);
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root.out()), S_OK);
  Ref<FolderObject> made(*farm_), inner(*farm_), parent(*farm_);
  ASSERT_EQ(root->CreateSubFolder(W(u"Made"), &made.out()), S_OK);
  EXPECT_EQ(root->GetChildCount(), 1);
  EXPECT_EQ(NameOf(made.get()), u"Made");
  FolderObject* taken = nullptr;
  EXPECT_EQ(root->CreateSubFolder(W(u"Made"), &taken), E_FAIL);  // name taken
  ASSERT_EQ(made->GetParentFolder(&parent.out()), S_OK);
  EXPECT_EQ(parent.get(), root.get());  // the registered object, one more reference

  ASSERT_EQ(made->CreateSubFolder(W(u"Inner"), &inner.out()), S_OK);
  EXPECT_EQ(inner->Delete(), S_OK);
  EXPECT_EQ(made->GetChildCount(), 0);
  build_->App(u"Editor", 0);
  EXPECT_EQ(Children(root.get()), 2);  // Made and Editor
  EXPECT_EQ(made->Delete(), S_OK);

  const ULONG64 office_id = build_->Folder(u"Office");
  build_->Folder(u"Tools", office_id);
  EXPECT_EQ(Folder(office_id)->Delete(), E_ACCESSDENIED);  // the service refuses
  auto office = Folder(office_id);
  EXPECT_EQ(Children(office.get()), 1);
  EXPECT_EQ(office->Delete(), E_ACCESSDENIED);  // refused before the service is asked
}

TEST_F(AppFolderTest, EnumerationLimitsAndResults) {
  EXPECT_EQ(Children(Folder(build_->Folder(u"Empty")).get()), 0);  // an empty array, not null
  ULONG64 parent_id = build_->Folder(u"P");
  for (const char16_t* name : {u"a", u"b", u"c", u"d", u"e"}) build_->Folder(name, parent_id);
  auto parent = Folder(parent_id);
  const std::pair<LONG, LONG> cases[] = {{2, 2}, {10, 5}, {0, 5}, {-3, 5}};
  for (const auto& [requested, delivered] : cases) EXPECT_EQ(Children(parent.get(), requested), delivered);
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
          for (LONG i = 0; i < count; ++i) farm_->FreeObject(children[i]);
          farm_->FreeMemory(children);
        });
    EXPECT_TRUE(saw_shortfall) << requested;
  }
}

TEST_F(AppFolderTest, MovesKeepChildCountsInStep) {
  ULONG64 a_id = build_->Folder(u"A");
  auto a = Folder(a_id);
  auto b = Folder(build_->Folder(u"B"));
  auto c = Folder(build_->Folder(u"C", a_id));

  feroq::services::StartServiceCallLog();
  EXPECT_EQ(c->SetParentFolder(a.get()), S_OK);  // already there: no move
  feroq::services::StopServiceCallLog();
  EXPECT_FALSE(feroq::testing::ServiceWasCalled("VORNCommonApplicationSAL::MoveFolder"));

  EXPECT_EQ(c->SetParentFolder(b.get()), S_OK);
  EXPECT_EQ(b->GetChildCount(), 1);
  EXPECT_EQ(a->GetChildCount(), -1);  // the count has no floor
  EXPECT_EQ(a->SetParentFolder(c.get()), S_OK);  // A below C is fine (C is not below A now)
  EXPECT_EQ(c->SetParentFolder(a.get()), E_ACCESSDENIED);  // C below its own descendant

  Ref<ZQWinAppObject> app(*farm_);
  ULONG64 app_id = build_->App(u"Editor");
  ASSERT_EQ(farm_->CreateWinAppFromID(app_id, &app.out()), S_OK);
  EXPECT_EQ(c->SetParentFolder(reinterpret_cast<FolderObject*>(app.get())), E_INVALIDARG);
  EXPECT_EQ(c->SetParentFolder(nullptr), E_INVALIDARG);
  Ref<FolderObject> root(*farm_);
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root.out()), S_OK);
  EXPECT_EQ(root->SetParentFolder(a.get()), E_ACCESSDENIED);  // the root does not move
}

}  // namespace
