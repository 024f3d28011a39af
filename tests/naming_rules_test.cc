// The farm's naming rules through the library: every writer of a folder or
// application name refuses each broken rule with the code the library maps
// its service's refusal to, and the thread's last service failure names the
// rule; every accepted name can be looked up again.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "feroq/app_data.h"
#include "feroq/feroq.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace feroq::testing {
namespace {

class NamingRulesTest : public FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
    ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root_), S_OK);
    office_ = AddFolder(u"Office");
    AddFolder(u"Renamed");
    AddFolder(u"Holder");
    AddFolder(u"Target/Editor");
    ASSERT_NE(Publish(u"Editor", u"editor"), 0u);
    ASSERT_NE(Publish(u"Viewer", u"viewer"), 0u);
  }
  void TearDown() override {
    for (CommonObject* object : held_) farm_->FreeObject(object);
    FarmTest::TearDown();
  }
  template <class T>
  T* Hold(T* object) {
    held_.push_back(object);
    return object;
  }
  template <class T = CommonObject>
  T* Find(const std::u16string& dn) {
    CommonObject* found = nullptr;
    if (farm_->GetObjectByDN(nullptr, W(dn), &found) != S_OK || found == nullptr) return nullptr;
    return static_cast<T*>(Hold(found));
  }
  // Publishes `name` into `folder_dn` (empty: the root); the new id, or 0
  // with the result in `*hr`.
  ULONG64 Publish(const std::u16string& name, const std::u16string& browser, HRESULT* hr = nullptr,
                  const std::u16string& folder_dn = u"") {
    TextPool texts;
    ZQWinAppObject* app = nullptr;
    const HRESULT result = farm_->CreateZQWinApp(AppData(texts, name, browser, folder_dn).get(), &app);
    if (hr != nullptr) *hr = result;
    if (result != S_OK) return 0;
    ULONG64 id = 0;
    Hold(app)->GetObjectID(id);
    return id;
  }
  // The first cause of the thread's last service failure, then cleared.
  VSTATUS Cause() {
    admin::ServiceFailure failure;
    VSTATUS cause = 0;
    if (admin::LastServiceFailure(&failure) && !failure.causes.empty()) {
      cause = failure.causes.front().code;
      messages_[cause] = failure.causes.front().message;
    }
    admin::ClearLastServiceFailure();
    return cause;
  }

  FolderObject* root_ = nullptr;
  ULONG64 office_ = 0;
  std::vector<CommonObject*> held_;
  std::map<VSTATUS, std::string> messages_;
};

TEST_F(NamingRulesTest, EveryWriterRefusesEachBrokenRuleAndNamesIt) {
  Hold(root_);
  const std::u16string too_long(kMaxFarmNameLength + 1, u'x');
  const struct {
    std::u16string name;
    VSTATUS cause;
  } cases[] = {
      {u"x/y", FARM_E_NAME_SEPARATOR},  {u"x\\y", FARM_E_NAME_SEPARATOR}, {u"tab\there", FARM_E_NAME_CONTROL},
      {u"del\u007F", FARM_E_NAME_CONTROL}, {u"c1\u0085", FARM_E_NAME_CONTROL}, {u"c1\u009F", FARM_E_NAME_CONTROL}, {u"line\nbreak", FARM_E_NAME_CONTROL},
      {u".", FARM_E_NAME_DOTS},         {u"..", FARM_E_NAME_DOTS},          {too_long, FARM_E_NAME_TOO_LONG},
      {u"OFFICE", FARM_E_NAME_TAKEN},   {u"vIeWeR", FARM_E_NAME_TAKEN},
  };
  auto* renamed = Find<AppFolderObject>(u"\\Applications\\Renamed");
  auto* editor = Find<ZQWinAppObject>(u"\\Applications\\Editor");
  ASSERT_NE(renamed, nullptr);
  ASSERT_NE(editor, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.begin() + std::min<std::size_t>(c.name.size(), 12)));
    const std::u16string& name = c.name;
    FolderObject* made = nullptr;
    EXPECT_EQ(root_->CreateSubFolder(W(name), &made), E_FAIL);
    EXPECT_EQ(Cause(), c.cause);
    EXPECT_EQ(renamed->SetObjectName(W(name)), E_ACCESSDENIED);
    EXPECT_EQ(Cause(), c.cause);
    HRESULT hr = S_OK;
    EXPECT_EQ(Publish(name, u"refused", &hr), 0u);
    EXPECT_EQ(hr, ZQ_CREATE_E_OBJECT_NAME);
    EXPECT_EQ(Cause(), c.cause);
    // An application's name is refused by its setter (too long, or a line
    // break, which no text of a record may hold) or by its Save.
    const bool setter_refuses = c.cause == FARM_E_NAME_TOO_LONG || name.find(u'\n') != std::u16string::npos;
    hr = editor->SetObjectName(W(name));
    if (hr == S_OK) hr = editor->Save();
    EXPECT_EQ(hr, setter_refuses ? E_INVALIDARG : E_NOTIMPL);
    EXPECT_EQ(Cause(), c.cause);
    ASSERT_EQ(editor->Load(), S_OK);  // the record back to what is stored
  }
  EXPECT_EQ(Find(u"\\Applications\\Renamed"), renamed);

  // Moves into a folder whose child already has the name.
  auto* target = Find<AppFolderObject>(u"\\Applications\\Target");
  EXPECT_EQ(farm_->MoveObject(editor, target), E_FAIL);
  EXPECT_EQ(Cause(), FARM_E_NAME_TAKEN);
  EXPECT_EQ(editor->SetParentFolder(target), S_OK);
  EXPECT_EQ(editor->Save(), E_NOTIMPL);
  EXPECT_EQ(Cause(), FARM_E_NAME_TAKEN);
  auto* holder = Find<AppFolderObject>(u"\\Applications\\Holder");
  FolderObject* inner = nullptr;
  ASSERT_EQ(holder->CreateSubFolder(W(u"Office"), &inner), S_OK);
  Hold(inner);
  EXPECT_EQ(inner->SetParentFolder(root_), E_ACCESSDENIED);
  EXPECT_EQ(Cause(), FARM_E_NAME_TAKEN);

  // The root folder keeps its name.
  EXPECT_EQ(root_->SetObjectName(W(u"Other")), E_ACCESSDENIED);
  EXPECT_EQ(Cause(), FARM_E_ROOT_RENAME);

  // Each cause has a message of its own.
  std::set<std::string> distinct;
  for (const auto& [cause, message] : messages_) {
    EXPECT_FALSE(message.empty()) << std::hex << cause;
    distinct.insert(message);
  }
  EXPECT_EQ(distinct.size(), messages_.size());
  EXPECT_EQ(messages_.size(), 6u);
}

TEST_F(NamingRulesTest, EveryAcceptedNameIsFoundAgain) {
  Hold(root_);
  const std::u16string longest(kMaxFarmNameLength, u'y');
  const std::u16string names[] = {u"...", u".hidden", u"a.", u" spaced ", u"Büro <&> 'x'", u"\u00A0nbsp",
                                  u"\U0001F600", longest};
  auto* apps = Find<AppFolderObject>(u"\\Applications\\Office");
  ASSERT_NE(apps, nullptr);
  int n = 0;
  for (const std::u16string& name : names) {
    FolderObject* made = nullptr;
    ASSERT_EQ(root_->CreateSubFolder(W(name), &made), S_OK);
    Hold(made);
    HRESULT hr = S_OK;
    const ULONG64 app = Publish(name, u"app" + std::u16string(1, static_cast<char16_t>(u'a' + n++)), &hr,
                                u"\\Applications\\Office");
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(Find(u"\\Applications\\" + name), made);
    auto* found = Find<ZQWinAppObject>(u"\\Applications\\Office\\" + name);
    ASSERT_NE(found, nullptr);
    ULONG64 id = 0;
    found->GetObjectID(id);
    EXPECT_EQ(id, app);
  }
}

TEST_F(NamingRulesTest, NamesFromBeforeTheRulesStillOpenAndAreListedForRepair) {
  Hold(root_);
  ULONG64 slash = AddFolder(u"Slash");
  ForceName(slash, u"a/b");
  ULONG64 twin = Publish(u"Twin", u"twin");
  ForceName(twin, u"office");  // beside the folder Office
  std::vector<admin::NameProblem> problems;
  ASSERT_EQ(admin().ListNameProblems(&problems), 0u);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0].id, office_);
  EXPECT_EQ(problems[0].cause, FARM_E_NAME_TAKEN);
  EXPECT_EQ(problems[1].id, slash);
  EXPECT_EQ(problems[1].cause, FARM_E_NAME_SEPARATOR);
  EXPECT_EQ(problems[2].id, twin);
  EXPECT_EQ(problems[2].cause, FARM_E_NAME_TAKEN);

  // The application still loads and saves while its name stays; a rename
  // repairs it.
  ZQWinAppObject* app = nullptr;
  ASSERT_EQ(farm_->CreateWinAppFromID(twin, &app), S_OK);
  Hold(app);
  ASSERT_EQ(app->Load(), S_OK);
  EXPECT_EQ(app->Save(), S_OK);
  EXPECT_EQ(app->Validate(), E_INVALIDARG);
  ASSERT_EQ(app->SetObjectName(W(u"Office twin")), S_OK);
  ASSERT_EQ(app->Save(), S_OK);
  AppFolderObject* folder = nullptr;
  ASSERT_EQ(farm_->CreateAppFolderObject(slash, &folder, 0), S_OK);
  Hold(folder);
  ASSERT_EQ(folder->SetObjectName(W(u"a-b")), S_OK);
  ASSERT_EQ(admin().ListNameProblems(&problems), 0u);
  EXPECT_TRUE(problems.empty());
}

}  // namespace
}  // namespace feroq::testing
