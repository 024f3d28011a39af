// The RPC client functions: the farm's name and the release of the memory
// the RPC functions hand out (event queues: event_service.cc).
//
// Blocks handed out come from the platform heap (so tests can make them fail
// and count them) and are released with VORNFree_RPC_Mem.
#include <cstring>
#include <string>

#include "feroq/services/directory_services.h"
#include "platform/multibyte_output.h"
#include "platform/platform.h"
#include "services/service_support.h"

// The farm's name in the system's multibyte text (the ANSI code page on
// Windows, UTF-8 on POSIX: platform/multibyte_output.h). Reads the connected farm, or, before any
// InitiateRemoteAccess, the farm the services would open. On failure
// `length` is 0 and `name` null.
VSTATUS VORN_FarmName(ULONG& length, char*& name) {
  length = 0;
  name = nullptr;
  if (VSTATUS s = feroq::services::EnterServiceCall("VORN_FarmName")) return s;
  try {
    VSTATUS status = feroq::VORN_OK;
    std::shared_ptr<feroq::store::FarmStore> farm = feroq::services::CurrentStore(&status);
    if (!farm) return status != feroq::VORN_OK ? status : feroq::VORN_E_FAILURE;
    std::u16string text;
    status = farm->Read([&](const feroq::store::FarmView& view) -> VSTATUS {
      text = view.FarmName();
      return feroq::VORN_OK;
    });
    if (status != feroq::VORN_OK) return status;
    std::string bytes;
    feroq::platform::AppendUtf16AsMultiByte(text.data(), text.size(), &bytes);
    auto* block = static_cast<char*>(feroq::platform::HeapAllocZero(bytes.size() + 1));
    if (block == nullptr) return feroq::VORN_E_OUTOFMEMORY;
    std::memcpy(block, bytes.data(), bytes.size());
    name = block;
    length = static_cast<ULONG>(bytes.size() + 1);
    return feroq::VORN_OK;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

// Has no result code: the call is recorded, but an armed code does not stop
// the release.
void VORNFree_RPC_Mem(void* block) {
  (void)feroq::services::EnterServiceCall("VORNFree_RPC_Mem");
  feroq::platform::HeapFree(block);
}
