// The application store's checks of a record on Write and ValidateOldApp,
// and how publishing maps the detailed errors they hand back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "feroq/app_data.h"
#include "feroq/farm_object.h"
#include "feroq/services/farm_admin.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

class AppStoreChecksTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    store_ = std::make_unique<ZQAppSAL>(subsystem());
  }
  // A record every rule accepts.
  void FillValid(ZQApp& record, const char16_t* browser = u"editor") {
    ASSERT_EQ(record.Initialize(feroq::kZQAppCurrentVersion), 0u);
    VORNString name(browser), friendly(u"Editor"), program(u"C:\\Apps\\editor.exe");
    ASSERT_EQ(record.SetBrowserName(name), 0u);
    ASSERT_EQ(record.SetFriendlyName(friendly), 0u);
    ASSERT_EQ(record.SetDefaultInitialProgram(program), 0u);
  }
  // The detail codes Write answers for a valid record changed by `change`.
  std::vector<ULONG> Refusal(const std::function<void(ZQApp&)>& change) {
    ZQApp record;
    FillValid(record);
    change(record);
    ULONG64 id = 0;
    _VORN_ZQAPP_DETAILED_ERR* details = nullptr;
    std::vector<ULONG> codes;
    const VSTATUS status = store_->Write(id, record, &details);
    if (status == 0) {
      store_->Delete(id);  // leave the browser name free for the next case
      return codes;
    }
    EXPECT_EQ(status, feroq::ZQAPP_E_CHECKS_FAILED);
    for (auto* entry = details; entry != nullptr; entry = entry->next) {
      // Each entry lives on the heap both libraries share (a foreign block would end the process here).
      EXPECT_EQ(feroq::platform::HeapBlockSize(entry), sizeof(*entry));
      codes.push_back(entry->code);
    }
    ReleaseZQAppErrMemory(details);
    EXPECT_EQ(id, 0u);
    return codes;
  }
  static std::vector<ULONG> Codes(std::initializer_list<ULONG> indexes) {
    std::vector<ULONG> codes;
    for (ULONG index : indexes) codes.push_back(feroq::kDetailedErrorBase + index);
    return codes;
  }
  std::unique_ptr<ZQAppSAL> store_;
};

// One row per rule: the change to a valid record and the detail codes Write
// answers, in the order of the chain.
TEST_F(AppStoreChecksTest, EachRuleGivesItsDetailCode) {
  auto text = [](VSTATUS (ZQApp::*setter)(VORNString&), const char16_t* value) {
    return [=](ZQApp& r) {
      VORNString v(value);
      ASSERT_EQ((r.*setter)(v), 0u);
    };
  };
  auto both = [](std::function<void(ZQApp&)> first, std::function<void(ZQApp&)> second) {
    return [=](ZQApp& r) {
      first(r);
      second(r);
    };
  };
  auto window = [](BYTE type, ULONG height, ULONG width, BYTE scale) {
    return [=](ZQApp& r) {
      r.SetDefaultWindowType(type);
      r.SetDefaultWindowHeight(height);
      r.SetDefaultWindowWidth(width);
      r.SetDefaultWindowScale(scale);
    };
  };
  const auto no_program = text(&ZQApp::SetDefaultInitialProgram, u"");
  const struct {
    const char* rule;
    std::function<void(ZQApp&)> change;
    std::vector<ULONG> codes;
  } cases[] = {
      {"valid", [](ZQApp&) {}, {}},
      {"browser name missing", text(&ZQApp::SetBrowserName, u""), Codes({0})},
      {"browser name with a full stop", text(&ZQApp::SetBrowserName, u"my.app"), Codes({1})},
      {"browser name beginning with a blank", text(&ZQApp::SetBrowserName, u" app"), Codes({1})},
      {"no initial program", no_program, Codes({2})},
      {"working directory with a bar", text(&ZQApp::SetDefaultWorkDirectory, u"C:\\a|b"), Codes({3})},
      {"name missing", text(&ZQApp::SetFriendlyName, u""), Codes({4})},
      {"unknown folder",
       [](ZQApp& r) { r.SetCommonAppFolder(feroq::MakeObjectId(feroq::kObjectKindFolder, 999)); }, Codes({5})},
      // A custom size needs a height and width within 1 to 4096.
      {"custom size without one", window(6, 0, 0, 0), Codes({7, 9})},
      {"custom size at the largest", window(6, 4096, 4096, 0), {}},
      {"custom size above the largest", window(6, 4097, 4097, 0), Codes({8, 10})},
      // A percentage window needs a scale within 1 to 100.
      {"percentage without a scale", window(7, 0, 0, 0), Codes({11})},
      {"percentage at 100", window(7, 0, 0, 100), {}},
      {"percentage above 100", window(7, 0, 0, 101), Codes({12})},
      {"unknown server",
       [](ZQApp& r) {
         _ZQAPP_SERVER_CONFIG config;
         r.AddServer(feroq::MakeObjectId(feroq::kObjectKindServer, 999), config);
       },
       Codes({27})},
      {"working directory without a program",
       both(no_program, text(&ZQApp::SetDefaultWorkDirectory, u"C:\\Work")), Codes({2, 39})},
      // A desktop needs no initial program, nor one for its working directory.
      {"desktop", both(no_program, [](ZQApp& r) { r.SetWLAttributes(0x10); }), {}},
      {"desktop with a working directory",
       both(both(no_program, [](ZQApp& r) { r.SetWLAttributes(0x10); }),
            text(&ZQApp::SetDefaultWorkDirectory, u"C:\\Work")),
       {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Refusal(c.change), c.codes) << c.rule;
  // Each unit a working directory may not hold, wherever it lies in a long
  // or short text; a unit past ASCII that shares its low byte is allowed.
  for (char16_t unit : std::u16string(u"/*?\"<>|")) {
    for (std::size_t at : {0, 5, 7, 8, 203, 212}) {
      std::u16string dir = u"C:\\" + std::u16string(at < 6 ? 3 : 210, u'w');
      dir[at] = unit;
      EXPECT_EQ(Refusal(text(&ZQApp::SetDefaultWorkDirectory, dir.c_str())), Codes({3})) << char(unit) << at;
      dir[at] = static_cast<char16_t>(unit | 0x100);
      EXPECT_EQ(Refusal(text(&ZQApp::SetDefaultWorkDirectory, dir.c_str())), Codes({})) << char(unit) << at;
    }
  }

  // The setters refuse a line break; a stored record that holds one (from
  // an older farm file) is refused by the checks.
  const ULONG64 id = AddApplication(u"old");
  RewriteStoredApplication(id, [](feroq::store::AppRecordData& app) { app.description = u"two\r\nlines"; });
  _VORN_ZQAPP_DETAILED_ERR* details = nullptr;
  EXPECT_EQ(store_->ValidateOldApp(id, &details), feroq::ZQAPP_E_CHECKS_FAILED);
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(details->code, feroq::kDetailedErrorBase + 6);
  ReleaseZQAppErrMemory(details);
}

TEST_F(AppStoreChecksTest, BrowserNamesAreUniqueWithoutRegardToCase) {
  ZQApp first;
  FillValid(first, u"Editor");
  ULONG64 id = 0;
  ASSERT_EQ(store_->Write(id, first, nullptr), 0u);
  // Rewriting the same application keeps its own name.
  ASSERT_EQ(store_->Write(id, first, nullptr), 0u);
  feroq::admin::ClearLastServiceFailure();
  EXPECT_EQ(Refusal([](ZQApp& r) {
              VORNString same(u"EDITOR"), other_name(u"Other");
              r.SetBrowserName(same);
              r.SetFriendlyName(other_name);
            }),
            Codes({1}));
  // The cause says why: the name is taken, not malformed.
  feroq::admin::ServiceFailure failure;
  ASSERT_TRUE(feroq::admin::LastServiceFailure(&failure));
  ASSERT_FALSE(failure.causes.empty());
  EXPECT_EQ(failure.causes[0].code, feroq::FARM_E_BROWSER_NAME_TAKEN);
  // Without a detail pointer the refusal comes without a chain.
  ZQApp second;
  FillValid(second, u"editor");
  ULONG64 other = 0;
  EXPECT_EQ(store_->Write(other, second, nullptr), feroq::ZQAPP_E_CHECKS_FAILED);
}

// The refusal's chain is built one entry at a time; running out of memory
// part way gives back what was built.
TEST_F(AppStoreChecksTest, RunningOutOfMemoryWhileListingRefusalsLeaksNothing) {
  ZQApp record;
  FillValid(record);
  record.SetDefaultWindowType(6);  // two refusals: no height, no width
  const std::int64_t live = feroq::platform::LiveHeapBlocks();
  const int failed_runs = feroq::testing::ForEachAllocationFailure(
      [&] {
        ULONG64 id = 0;
        _VORN_ZQAPP_DETAILED_ERR* details = nullptr;
        store_->Write(id, record, &details);
        ReleaseZQAppErrMemory(details);
      },
      [&](bool) { EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live); });
  EXPECT_GT(failed_runs, 1);
}

TEST_F(AppStoreChecksTest, ValidationOfStoredApplications) {
  ZQApp record;
  FillValid(record);
  ULONG64 id = 0;
  ASSERT_EQ(store_->Write(id, record, nullptr), 0u);
  _VORN_ZQAPP_DETAILED_ERR* details = reinterpret_cast<_VORN_ZQAPP_DETAILED_ERR*>(0x8);
  EXPECT_EQ(store_->ValidateOldApp(id, &details), 0u);
  EXPECT_EQ(details, nullptr);
  EXPECT_EQ(
      store_->ValidateOldApp(feroq::MakeObjectId(feroq::kObjectKindApplication, 999), &details),
      feroq::VORN_E_FAILURE);

  feroq::services::InjectDetailedErrors("ZQAppSAL::ValidateOldApp",
                                        {feroq::kDetailedErrorBase + 4});
  ASSERT_EQ(store_->ValidateOldApp(id, &details), feroq::ZQAPP_E_CHECKS_FAILED);
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(details->code, feroq::kDetailedErrorBase + 4);
  ReleaseZQAppErrMemory(details);
}

TEST_F(AppStoreChecksTest, PublishingMapsTheFirstDetail) {
  FarmObject farm;
  feroq::testing::TextPool texts;
  const auto data = feroq::testing::AppData(texts, u"Editor", u"editor");

  const struct {
    std::vector<ULONG> chain;
    HRESULT result;
  } cases[] = {
      {{feroq::kDetailedErrorBase + 0x17, feroq::kDetailedErrorBase + 1},
       feroq::ZQ_CREATE_E_WINDOW_COLOR},
      {{feroq::kDetailedErrorBase + 0x28}, E_FAIL},
      {{feroq::kDetailedErrorBase + 5}, feroq::ZQ_CREATE_E_PARENT_NOT_FOUND},
      {{feroq::kDetailedErrorBase + 29}, feroq::ZQ_CREATE_E_DETAIL_29},
      {{feroq::kDetailedErrorBase + 39}, feroq::ZQ_CREATE_E_WORKING_DIRECTORY},
      {{0x1234u}, E_FAIL},
  };
  for (const auto& c : cases) {
    feroq::services::InjectDetailedErrors("ZQAppSAL::Write", c.chain);
    ZQWinAppObject* app = nullptr;
    EXPECT_EQ(farm.CreateZQWinApp(data.get(), &app), c.result) << std::hex << c.chain.front();
    EXPECT_EQ(app, nullptr);
  }
  // The store's own refusal, through the library: a browser name with a
  // full stop.
  data->browserName = texts(u"editor.exe");
  feroq::testing::Ref<ZQWinAppObject> app(farm);
  EXPECT_EQ(farm.CreateZQWinApp(data.get(), &app.out()), feroq::ZQ_CREATE_E_BROWSER_NAME);
  // A path naming an application is no folder to publish into.
  data->browserName = texts(u"editor");
  ASSERT_EQ(farm.CreateZQWinApp(data.get(), &app.out()), S_OK);
  data->browserName = texts(u"other");
  data->parentFolder = texts(u"\\Applications\\Editor");
  EXPECT_EQ(farm.CreateZQWinApp(data.get(), &app.out()), feroq::ZQ_CREATE_E_PARENT_NOT_FOUND);
}

}  // namespace
