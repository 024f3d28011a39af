// The server list of a published application: adding and removing servers
// by name, the store entries that result, iteration with its open/closed
// state, and what a failure while a server is handed out leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "farm/object_access.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "services/record_access.h"
#include "services/service_faults.h"
#include "support/app_object_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::W;

// A server as the tool sees it; "(null)" marks a null string.
struct ServerView {
  std::u16string name;
  std::u16string program;
  std::u16string directory;
  bool operator==(const ServerView&) const = default;
};

std::u16string TextOrNull(const char16_t* text) { return text == nullptr ? u"(null)" : std::u16string(text); }

class AppServersTest : public feroq::testing::AppObjectTest {
 protected:
  void SetUp() override {
    AppObjectTest::SetUp();
    alpha_ = AddServer(u"ALPHA");
    beta_ = AddServer(u"BETA");
    gamma_ = AddServer(u"GAMMA");
    OpenApplication(AddApplication(u"Editor"));
  }
  HRESULT Add(const std::u16string& name, const char16_t* program = nullptr, const char16_t* directory = nullptr) {
    feroq::testing::TextPool texts;
    _ZQServerConfig config{0, texts(name), program != nullptr ? texts(program) : nullptr,
                           directory != nullptr ? texts(directory) : nullptr};
    return app_->AddServer(&config);
  }
  // Takes the strings out of `config` and releases them.
  ServerView Take(_ZQServerConfig& config) {
    EXPECT_EQ(config.reserved, 0u);
    ServerView view{TextOrNull(config.serverName), TextOrNull(config.initialProgram),
                    TextOrNull(config.workingDirectory)};
    farm_->FreeMemory(config.serverName);
    farm_->FreeMemory(config.initialProgram);
    farm_->FreeMemory(config.workingDirectory);
    config = _ZQServerConfig{};
    return view;
  }
  // Walks the whole list; the walk must end with S_FALSE.
  std::vector<ServerView> AllServers() {
    std::vector<ServerView> servers;
    _ZQServerConfig config{};
    HRESULT result = app_->GetFirstServer(&config);
    for (; result == S_OK; result = app_->GetNextServer(&config)) servers.push_back(Take(config));
    EXPECT_EQ(result, S_FALSE);
    return servers;
  }

  ULONG64 alpha_ = 0, beta_ = 0, gamma_ = 0;
};

TEST_F(AppServersTest, AddServerChecksItsArgumentsBeforeTheLookup) {
  EXPECT_EQ(app_->AddServer(nullptr), E_INVALIDARG);
  _ZQServerConfig no_name{0, nullptr, nullptr, nullptr};
  EXPECT_EQ(app_->AddServer(&no_name), E_INVALIDARG);
  EXPECT_EQ(Add(u""), E_INVALIDARG);

  const std::u16string longest(256, u'p');
  const std::u16string too_long(257, u'p');
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(Add(u"ALPHA", too_long.c_str()), E_INVALIDARG);
  EXPECT_EQ(Add(u"ALPHA", nullptr, too_long.c_str()), E_INVALIDARG);
  feroq::services::StopServiceCallLog();
  EXPECT_FALSE(feroq::testing::ServiceWasCalled("VORN_ZQServerSAL::GetUIDByName"));
  EXPECT_EQ(feroq::ObjectAccess::Record(*app_)->GetServerCount(), 0);

  EXPECT_EQ(Add(u"ALPHA", longest.c_str(), longest.c_str()), S_OK);
  _ZQAPP_SERVER_CONFIG entry;
  ASSERT_EQ(feroq::services::RecordAccess::Servers(*feroq::ObjectAccess::Record(*app_)).FindServer(alpha_, entry), 0u);
  EXPECT_EQ(entry.flags, feroq::kServerConfigHasInitialProgram | feroq::kServerConfigHasWorkDirectory);
  EXPECT_EQ(std::u16string(entry.initialProgram.c_str()), longest);
}

TEST_F(AppServersTest, IterationHandsOutNamesAndOwnStrings) {
  _ZQServerConfig config{7, nullptr, nullptr, nullptr};
  EXPECT_EQ(app_->GetFirstServer(&config), S_FALSE);  // empty: the iteration stays closed
  EXPECT_EQ(app_->GetNextServer(&config), E_UNEXPECTED);
  EXPECT_EQ(config.reserved, 7u);  // untouched
  EXPECT_EQ(app_->GetFirstServer(nullptr), E_INVALIDARG);
  EXPECT_EQ(app_->GetNextServer(nullptr), E_INVALIDARG);
  EXPECT_EQ(app_->GetServerCount(nullptr), E_INVALIDARG);

  ASSERT_EQ(Add(u"ALPHA", u"a.exe", u"C:\\A"), S_OK);
  ASSERT_EQ(Add(u"beta", nullptr, u"C:\\B"), S_OK);  // names compare without case
  ASSERT_EQ(Add(u"GAMMA", u""), S_OK);  // an empty own string is none
  LONG count = 0;
  EXPECT_EQ(app_->GetServerCount(&count), S_OK);
  EXPECT_EQ(count, 3);

  std::vector<ServerView> servers = AllServers();
  std::sort(servers.begin(), servers.end(), [](const ServerView& a, const ServerView& b) { return a.name < b.name; });
  const std::vector<ServerView> expected = {
      {u"ALPHA", u"a.exe", u"C:\\A"},
      {u"BETA", u"(null)", u"C:\\B"},
      {u"GAMMA", u"(null)", u"(null)"},
  };
  EXPECT_EQ(servers, expected);

  // The walk ended without closing the object's iteration; a new
  // GetFirstServer closes the old one and starts again, as it does in the
  // middle of a walk.
  ASSERT_EQ(app_->GetFirstServer(&config), S_OK);
  const ServerView first = Take(config);
  ASSERT_EQ(app_->GetNextServer(&config), S_OK);
  Take(config);
  ASSERT_EQ(app_->GetFirstServer(&config), S_OK);
  EXPECT_EQ(Take(config), first);
}

TEST_F(AppServersTest, RemoveServer) {
  ASSERT_EQ(Add(u"ALPHA"), S_OK);
  ASSERT_EQ(Add(u"BETA"), S_OK);
  EXPECT_EQ(app_->RemoveServer(nullptr), E_INVALIDARG);
  EXPECT_EQ(app_->RemoveServer(W(u"")), E_INVALIDARG);
  EXPECT_EQ(app_->RemoveServer(W(u"NO-SUCH-SERVER")), E_FAIL);
  EXPECT_EQ(app_->RemoveServer(W(u"GAMMA")), E_FAIL);  // known to the farm, not in the list
  EXPECT_EQ(app_->RemoveServer(W(u"ALPHA")), S_OK);
  EXPECT_EQ(AllServers(), (std::vector<ServerView>{{u"BETA", u"(null)", u"(null)"}}));
}

// A failed name lookup while handing out a server leaves the caller's record
// alone; during GetFirstServer it closes the iteration, during GetNextServer
// it leaves it open.
TEST_F(AppServersTest, ConversionFailuresAndTheIteration) {
  ASSERT_EQ(Add(u"ALPHA"), S_OK);
  ASSERT_EQ(Add(u"BETA"), S_OK);
  ASSERT_EQ(Add(u"GAMMA"), S_OK);
  char16_t left_over[] = u"left over";
  _ZQServerConfig config{5, left_over, left_over, left_over};

  feroq::services::InjectServiceFault("VORN_ZQServerSAL::GetNameByUID", 0x80000002u);
  EXPECT_EQ(app_->GetFirstServer(&config), E_OUTOFMEMORY);
  EXPECT_EQ(config.reserved, 5u);
  EXPECT_EQ(config.serverName, left_over);
  EXPECT_EQ(app_->GetNextServer(&config), E_UNEXPECTED);

  ASSERT_EQ(app_->GetFirstServer(&config), S_OK);
  const ServerView first = Take(config);
  feroq::services::InjectServiceFault("VORN_ZQServerSAL::GetNameByUID", 0x80000001u);
  EXPECT_EQ(app_->GetNextServer(&config), E_FAIL);
  ASSERT_EQ(app_->GetNextServer(&config), S_OK);  // still open: the third server
  const ServerView third = Take(config);
  EXPECT_NE(third, first);
  EXPECT_EQ(app_->GetNextServer(&config), S_FALSE);
}

// What the sweeps cannot see: a failure while the strings are copied out
// leaves all three pointers null and the iteration closed.
TEST_F(AppServersTest, RunningOutOfMemoryWhileHandingOutAServer) {
  ASSERT_EQ(Add(u"ALPHA", u"alpha.exe", u"C:\\Alpha"), S_OK);
  char16_t left_over[] = u"left over";
  _ZQServerConfig config{};
  HRESULT result = S_OK;
  int copy_failures = 0;
  feroq::testing::ForEachAllocationFailure(
      [&] {
        config = _ZQServerConfig{0, left_over, left_over, left_over};
        result = app_->GetFirstServer(&config);
      },
      [&](bool failed) {
        if (!failed) {
          EXPECT_EQ(Take(config), (ServerView{u"ALPHA", u"alpha.exe", u"C:\\Alpha"}));
        } else if (result == E_OUTOFMEMORY && config.serverName != left_over) {
          ++copy_failures;
          EXPECT_EQ(config.serverName, nullptr);
          EXPECT_EQ(config.initialProgram, nullptr);
          EXPECT_EQ(config.workingDirectory, nullptr);
          EXPECT_EQ(app_->GetNextServer(&config), E_UNEXPECTED);  // closed again
        }
      });
  EXPECT_GE(copy_failures, 3);  // at least the three copies
}

}  // namespace
