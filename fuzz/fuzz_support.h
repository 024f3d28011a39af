// What the farm fuzz targets share: seeding a farm through the services a
// FarmObject owns (as the farm's own tools would), the registry and resource
// counts a target checks after every input, and the way a target reports a
// broken contract (abort, so that libFuzzer keeps the input).
#ifndef FEROQ_FUZZ_FUZZ_SUPPORT_H_
#define FEROQ_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "feroq/farm_object.h"
#include "feroq/types.h"

namespace feroq::fuzzing {

// Prints "<target>: <what>" and aborts.
[[noreturn]] void Fail(const char* target, const std::string& what);

// UTF-8 rendering of UTF-16 text for messages (lone surrogates as U+FFFD).
std::string Narrow(const std::u16string& text);

// What PublishApp writes. The browser name is derived from the display name.
struct AppSeed {
  std::u16string display_name;
  ULONG64 folder = 0;  // 0: the root folder
  std::u16string description;
  std::vector<ULONG64> servers;
  std::vector<std::u16string> users;  // account DNs
};

// Seeding through `farm`'s services; each aborts when the farm refuses.
ULONG64 RootFolderId(FarmObject& farm);
ULONG64 AddFolder(FarmObject& farm, const std::u16string& name, ULONG64 parent = 0);
ULONG64 PublishApp(FarmObject& farm, const AppSeed& seed);

// Number of objects in `farm`'s registry.
std::size_t RegistrySize(FarmObject& farm);
// The registry's entries for a message: "id (kind K, count N)" each.
std::string RegistryContents(FarmObject& farm);

// Number of file descriptors this process holds open.
int OpenFileDescriptors();

// Gives back one reference to an object of any class of the model.
template <typename T>
void ReleaseObject(FarmObject& farm, T* object) {
  CommonObject* handle = object;
  if (handle != nullptr) farm.FreeObject(handle);
}

// The distinguished name of `object` as the library builds it, with the
// call's result in `*result` (an empty name when it is not S_OK).
std::u16string DistinguishedNameOf(FarmObject& farm, CommonObject* object, HRESULT* result);

}  // namespace feroq::fuzzing

#endif  // FEROQ_FUZZ_FUZZ_SUPPORT_H_
