// Shared libraries loaded at run time on Windows: LoadLibraryA and
// GetProcAddress (see platform.h).
#include "platform/platform.h"
#include "platform/windows/system.h"

namespace feroq::platform {

void* LoadSharedLibrary(const char* name) noexcept {
  return name != nullptr ? static_cast<void*>(::LoadLibraryA(name)) : nullptr;
}

void* FindLibraryFunction(void* library, const char* name) noexcept {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace feroq::platform
