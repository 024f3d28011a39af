// The farm's lists (servers, applications), the root folder and moves; and a
// larger farm walked every way a tool would.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "farm/object_id_map.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "support/farm_builder.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::FarmBuilder;
using feroq::testing::HeapText;
using feroq::testing::Ref;
using feroq::testing::ReleaseObject;

class FarmEnumerationTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    OpenFarm();
  }
  FarmBuilder build() { return FarmBuilder(*farm_); }
  std::size_t RegisteredObjects() {
    return static_cast<feroq::ObjectIdMap*>(farm_->GetObjectIDMap())->entries.size();
  }
  void ReleaseAll(CommonObject** objects, ULONG count) {
    for (ULONG i = 0; i < count; ++i) farm_->FreeObject(objects[i]);
    farm_->FreeMemory(objects);
  }
};

TEST_F(FarmEnumerationTest, ServerNamesFormADoubleNulList) {
  char16_t* names = nullptr;
  ULONG count = 7;
  ASSERT_EQ(farm_->EnumerateServers(&names, &count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(feroq::platform::HeapBlockSize(names), 2u);
  EXPECT_EQ(names[0], 0);
  farm_->FreeMemory(names);

  ULONG64 id = 0;
  ASSERT_EQ(admin().AddServer(u"X", &id), 0u);
  ASSERT_EQ(admin().AddServer(u"YZ", &id), 0u);
  ASSERT_EQ(farm_->EnumerateServers(&names, &count), S_OK);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(feroq::platform::HeapBlockSize(names), 12u);
  const char16_t expected[] = {u'X', 0, u'Y', u'Z', 0, 0};
  EXPECT_EQ(std::memcmp(names, expected, 12), 0);
  farm_->FreeMemory(names);
}

TEST_F(FarmEnumerationTest, ApplicationCountsAndShortfalls) {
  CommonObject** apps = reinterpret_cast<CommonObject**>(0x8);
  ULONG count = 3;
  ASSERT_EQ(farm_->EnumerateApps(&apps, &count), S_OK);  // an empty farm
  EXPECT_EQ(apps, nullptr);
  EXPECT_EQ(count, 0u);

  for (int i = 0; i < 5; ++i) build().App(u"app" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
  struct Case {
    ULONG requested, delivered;
  };
  for (Case c : {Case{0, 5}, Case{3, 3}, Case{9, 5}}) {
    count = c.requested;
    ASSERT_EQ(farm_->EnumerateApps(&apps, &count), S_OK) << c.requested;
    EXPECT_EQ(count, c.delivered);
    ReleaseAll(apps, count);
  }
  EXPECT_EQ(RegisteredObjects(), 0u);

  // The third object cannot be made: asked for 4, two come back with
  // S_FALSE; asked for all, the same two come back with S_OK. The failure
  // point is found by counting the allocations of listings of 3 and of 5:
  // what every listing makes, then what each object costs.
  const auto attempts = [&](ULONG requested) {
    const auto before = feroq::platform::AllocationAttempts();
    count = requested;
    EXPECT_EQ(farm_->EnumerateApps(&apps, &count), S_OK);
    ReleaseAll(apps, count);
    return feroq::platform::AllocationAttempts() - before;
  };
  const auto per_object = (attempts(5) - attempts(3)) / 2;
  const auto shared = attempts(5) - 5 * per_object;
  for (ULONG requested : {4u, 0u}) {
    feroq::platform::FailAllocationAt(shared + 2 * per_object + 1, true);
    count = requested;
    HRESULT hr = farm_->EnumerateApps(&apps, &count);
    feroq::platform::ClearAllocationFailure();
    EXPECT_EQ(count, 2u) << requested;
    EXPECT_EQ(hr, requested == 4 ? S_FALSE : S_OK);
    ReleaseAll(apps, count);
  }
}

}  // namespace
