// PostgresFarmTest: a gtest fixture for the PostgreSQL farm's own tests. Each
// test gets a new scratch database on the suite's cluster (the test is
// skipped when the cluster is not up, as outside CTest), opens stores on it
// (each on a connection of its own) and reads the farm name back.
#ifndef FEROQ_TESTS_SUPPORT_POSTGRES_FARM_FIXTURE_H_
#define FEROQ_TESTS_SUPPORT_POSTGRES_FARM_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "services/store/postgres_farm_store.h"
#include "support/postgres_cluster.h"

namespace feroq::testing {

class PostgresFarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!feroq::testing::PostgresClusterAvailable()) GTEST_SKIP() << "no PostgreSQL test cluster (run through CTest)";
    database_ = std::make_unique<ScratchDatabase>();
  }

  // A store on the test's database, made a farm when it is not one yet.
  std::shared_ptr<store::FarmStore> Open() {
    std::shared_ptr<store::FarmStore> store;
    EXPECT_EQ(store::OpenPostgresFarmStore(database_->url(), /*create=*/true, &store), 0u);
    return store;
  }

  static std::u16string Name(const std::shared_ptr<store::FarmStore>& store) {
    std::u16string name;
    store->Read([&](const store::FarmView& v) -> VSTATUS {
      name = v.FarmName();
      return 0;
    });
    return name;
  }

  std::unique_ptr<ScratchDatabase> database_;
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_POSTGRES_FARM_FIXTURE_H_
