// VORN_ZQServerSAL: the farm's servers, by identifier and by name (names
// compare without regard to case). Unknown names and identifiers answer
// VORN_E_FAILURE (an unknown name with the cause FARM_E_NO_SUCH_SERVER); a
// null or empty name VORN_E_INVALIDVALUE.
#include <new>

#include "feroq/services/directory_services.h"
#include "services/service_support.h"

namespace {

using feroq::services::EnterServiceCall;
using feroq::services::ReadFarm;
using feroq::services::Refuse;
using feroq::services::ToText;
using feroq::store::FarmView;
using feroq::store::ServerRecord;

}  // namespace

VORN_ZQServerSAL::VORN_ZQServerSAL(VORN_PIF_ISubSystem* subsystem) : VORN_PIF_SAL(subsystem) {}

VORN_ZQServerSAL::~VORN_ZQServerSAL() = default;

VSTATUS VORN_ZQServerSAL::GetUIDByName(char16_t* name, ULONG64& server) {
  if (VSTATUS s = EnterServiceCall("VORN_ZQServerSAL::GetUIDByName")) return s;
  if (name == nullptr || name[0] == u'\0') return feroq::VORN_E_INVALIDVALUE;
  return ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    std::optional<ServerRecord> found = farm.FindServerByName(ToText(name));
    if (!found) return Refuse(feroq::VORN_E_FAILURE, feroq::FARM_E_NO_SUCH_SERVER, "server");
    server = found->id;
    return feroq::VORN_OK;
  });
}

VSTATUS VORN_ZQServerSAL::GetNameByUID(ULONG64 server, VORNString& name) {
  if (VSTATUS s = EnterServiceCall("VORN_ZQServerSAL::GetNameByUID")) return s;
  std::u16string text;
  VSTATUS status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    std::optional<ServerRecord> found = farm.GetServer(server);
    if (!found) return feroq::VORN_E_FAILURE;
    text = std::move(found->name);
    return feroq::VORN_OK;
  });
  if (status != feroq::VORN_OK) return status;
  try {
    name = text.c_str();  // VORNString keeps its old value when this fails
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
  return feroq::VORN_OK;
}

VSTATUS VORN_ZQServerSAL::EnumerateAllServerAddresses(ULONG& count, VORNString*& names,
                                                      VORNMultiString*& addresses,
                                                      VORNMultiString*& zones,
                                                      VORNString*& versions) {
  if (VSTATUS s = EnterServiceCall("VORN_ZQServerSAL::EnumerateAllServerAddresses")) return s;
  std::vector<ServerRecord> servers;
  VSTATUS status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
    servers = farm.ListServers();
    return feroq::VORN_OK;
  });
  if (status != feroq::VORN_OK) return status;
  // The farm keeps no addresses, zones or versions: each server gets an
  // empty address list, an empty zone list and an empty version.
  VORNString* new_names = nullptr;
  VORNMultiString* new_addresses = nullptr;
  VORNMultiString* new_zones = nullptr;
  VORNString* new_versions = nullptr;
  try {
    if (!servers.empty()) {
      new_names = new VORNString[servers.size()];
      for (std::size_t i = 0; i < servers.size(); ++i) new_names[i] = servers[i].name.c_str();
      new_addresses = new VORNMultiString[servers.size()];
      new_zones = new VORNMultiString[servers.size()];
      new_versions = new VORNString[servers.size()];
    }
  } catch (const std::bad_alloc&) {
    delete[] new_names;
    delete[] new_addresses;
    delete[] new_zones;
    delete[] new_versions;
    return feroq::VORN_E_OUTOFMEMORY;
  }
  count = static_cast<ULONG>(servers.size());
  names = new_names;
  addresses = new_addresses;
  zones = new_zones;
  versions = new_versions;
  return feroq::VORN_OK;
}
