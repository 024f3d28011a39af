// Shared libraries loaded at run time on POSIX: dlopen and dlsym (see
// platform.h).
#include <dlfcn.h>

#include "platform/platform.h"

namespace feroq::platform {

void* LoadSharedLibrary(const char* name) noexcept {
  // Every symbol at once, so that a missing one shows here and not in the
  // middle of a call; local, so that its symbols do not take the place of
  // another library's.
  return name != nullptr ? ::dlopen(name, RTLD_NOW | RTLD_LOCAL) : nullptr;
}

void* FindLibraryFunction(void* library, const char* name) noexcept {
  return library != nullptr && name != nullptr ? ::dlsym(library, name) : nullptr;
}

}  // namespace feroq::platform
