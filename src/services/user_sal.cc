// VORN_UserMgmt_SAL: resolution between account names and directory names
// (DNs) against the farm's account directory.
//
// An account is found by (authority type, instance, account name), all
// compared without regard to case; the kind the caller passes must be 0, 1 or
// 2 (else VORN_E_INVALIDVALUE) but does not take part in the lookup: within
// one authority instance an account name names one account. An account the
// directory does not know answers VORN_E_FAILURE with the cause
// FARM_E_NO_SUCH_ACCOUNT. Outputs are written only on
// success, except that running out of memory while ResolveDNToAccountName
// writes them (0x80000002) may leave the authority record partly set.
#include <new>

#include "feroq/services/user_service.h"
#include "platform/platform.h"
#include "services/service_support.h"

namespace {

using feroq::services::EnterServiceCall;
using feroq::services::ReadFarm;
using feroq::services::Refuse;
using feroq::services::ToText;
using feroq::store::AccountRecord;
using feroq::store::FarmView;

}  // namespace

VORN_UserMgmt_SAL::VORN_UserMgmt_SAL(VORN_PIF_ISubSystem* subsystem) : VORN_PIF_SAL(subsystem) {}

VORN_UserMgmt_SAL::~VORN_UserMgmt_SAL() = default;

VSTATUS VORN_UserMgmt_SAL::ResolveAccountNameToDN(UM_AcctAuthInfo& authority, VORNString& account,
                                                  ULONG kind, VORNString& dn) {
  if (VSTATUS s = EnterServiceCall("VORN_UserMgmt_SAL::ResolveAccountNameToDN")) return s;
  if (kind > feroq::kAccountKindOther) return feroq::VORN_E_INVALIDVALUE;
  if (account.IsEmpty()) return feroq::VORN_E_INVALIDVALUE;
  try {
    char16_t* type = nullptr;
    char16_t* instance = nullptr;
    if (authority.GetType(type) != feroq::VORN_OK ||
        authority.GetInstance(instance) != feroq::VORN_OK) {
      return feroq::VORN_E_INVALIDVALUE;
    }
    std::u16string found_dn;
    VSTATUS status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
      std::optional<AccountRecord> found =
          farm.FindAccount(ToText(type), ToText(instance), ToText(account));
      if (!found) return Refuse(feroq::VORN_E_FAILURE, feroq::FARM_E_NO_SUCH_ACCOUNT, "account");
      found_dn = std::move(found->dn);
      return feroq::VORN_OK;
    });
    if (status != feroq::VORN_OK) return status;
    dn = found_dn.c_str();
    return feroq::VORN_OK;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS VORN_UserMgmt_SAL::ResolveDNToAccountName(VORNString& dn, UM_AcctAuthInfo& authority,
                                                  VORNString& account, ULONG& kind) {
  if (VSTATUS s = EnterServiceCall("VORN_UserMgmt_SAL::ResolveDNToAccountName")) return s;
  if (dn.IsEmpty()) return feroq::VORN_E_INVALIDVALUE;
  try {
    AccountRecord found;
    VSTATUS status = ReadFarm(subsystem(), [&](const FarmView& farm) -> VSTATUS {
      std::optional<AccountRecord> record = farm.FindAccountByDn(ToText(dn));
      if (!record) return feroq::VORN_E_FAILURE;
      found = std::move(*record);
      return feroq::VORN_OK;
    });
    if (status != feroq::VORN_OK) return status;
    VORNString name(found.account_name.c_str());
    if (VSTATUS set = authority.SetType(found.authority_type.c_str())) return set;
    if (VSTATUS set = authority.SetInstance(found.instance.c_str())) return set;
    account = name;
    kind = found.kind;
    return feroq::VORN_OK;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

// Not a service call with a result code: it is not recorded or faulted (an
// injected code would read as a yes or no).
ULONG UMCompareAcctDNs(const char16_t* a, const char16_t* b) {
  if (a == nullptr || b == nullptr) return (a == nullptr && b == nullptr) ? 1 : 0;
  return feroq::platform::CompareUtf16NoCase(a, b) == 0 ? 1 : 0;
}
