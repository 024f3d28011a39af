// AppObjectTest: a FarmTest with a farm object and loaded application
// objects, for the tests of the application object's own operations.
#ifndef FEROQ_TESTS_SUPPORT_APP_OBJECT_FIXTURE_H_
#define FEROQ_TESTS_SUPPORT_APP_OBJECT_FIXTURE_H_

#include <list>

#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace feroq::testing {

class AppObjectTest : public FarmTest {
 protected:
  // Makes the farm object and opens the application `id` as `app_`; a
  // derived SetUp seeds the farm before calling it.
  void OpenApplication(ULONG64 id) {
    OpenFarm();
    app_ = Open(id);
    ASSERT_NE(app_, nullptr);
  }
  void TearDown() override {
    opened_.clear();
    FarmTest::TearDown();
  }
  // The application object for `id`, loaded and held until the test ends
  // (or Release); null (and a test failure) if not.
  ZQWinAppObject* Open(ULONG64 id) {
    Ref<ZQWinAppObject> app(*farm_);
    EXPECT_EQ(farm_->CreateWinAppFromID(id, &app.out()), S_OK);
    if (!app) return nullptr;
    EXPECT_EQ(app->Load(), S_OK);
    return opened_.emplace_back(std::move(app)).get();
  }
  // Gives back the reference Open took for `app`.
  void Release(ZQWinAppObject* app) {
    opened_.remove_if([app](const Ref<ZQWinAppObject>& held) { return held.get() == app; });
  }

  ZQWinAppObject* app_ = nullptr;

 private:
  std::list<Ref<ZQWinAppObject>> opened_;
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_APP_OBJECT_FIXTURE_H_
