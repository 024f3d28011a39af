// AppObjectTest: a FarmTest with a farm object and one loaded application
// object, for the tests of the application object's own operations.
#ifndef FEROQ_TESTS_SUPPORT_APP_OBJECT_FIXTURE_H_
#define FEROQ_TESTS_SUPPORT_APP_OBJECT_FIXTURE_H_

#include <memory>

#include "feroq/farm_object.h"
#include "feroq/zqwinapp_object.h"
#include "support/farm_fixture.h"

namespace feroq::testing {

class AppObjectTest : public FarmTest {
 protected:
  // Makes the farm object and opens the application `app_id_` as `app_`;
  // a derived SetUp seeds the farm and sets app_id_ before calling it.
  void OpenApplication(ULONG64 id) {
    OpenFarm();
    app_id_ = id;
    app_ = Open(app_id_);
    ASSERT_NE(app_, nullptr);
  }
  void TearDown() override {
    Release(app_);
    FarmTest::TearDown();
  }
  // The application object for `id`, loaded; null (and a test failure) if not.
  ZQWinAppObject* Open(ULONG64 id) {
    ZQWinAppObject* app = nullptr;
    EXPECT_EQ(farm_->CreateWinAppFromID(id, &app), S_OK);
    if (app != nullptr) {
      EXPECT_EQ(app->Load(), S_OK);
    }
    return app;
  }
  // Gives back one reference and nulls the pointer; null is accepted.
  void Release(ZQWinAppObject*& app) {
    CommonObject* object = app;
    if (object != nullptr) farm_->FreeObject(object);
    app = nullptr;
  }

  ULONG64 app_id_ = 0;
  ZQWinAppObject* app_ = nullptr;
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_APP_OBJECT_FIXTURE_H_
