// Builds folder trees and applications in the farm a FarmObject is connected
// to, through the services the farm object owns (as a farm's own tools
// would), for tests of the object model.
#ifndef FEROQ_TESTS_SUPPORT_FARM_BUILDER_H_
#define FEROQ_TESTS_SUPPORT_FARM_BUILDER_H_

#include <string>

#include "feroq/farm_object.h"
#include "feroq/types.h"

namespace feroq::testing {

// Gives back one reference to an object of any class of the model.
template <typename T>
void ReleaseObject(FarmObject& farm, T* object) {
  CommonObject* handle = object;
  farm.FreeObject(handle);
}

class FarmBuilder {
 public:
  explicit FarmBuilder(FarmObject& farm) : farm_(farm) {}

  ULONG64 Root();
  // Creates folder `name` under `parent` (0: the root); fails the test on error.
  ULONG64 Folder(const std::u16string& name, ULONG64 parent = 0);
  // Publishes an application named `name` in `folder` (0: the root) with a
  // browser name derived from the name.
  ULONG64 App(const std::u16string& name, ULONG64 folder = 0);

 private:
  FarmObject& farm_;
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_FARM_BUILDER_H_
