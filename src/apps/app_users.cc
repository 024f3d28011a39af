// ZQWinAppObject: the application's user list. The record keeps accounts by
// directory name; the tool sees them as domain and account name in
// _UserAccountInfo records. Both conversions go through the user service,
// with the account authority "NT" (Windows domains) only.
#include "apps/app_users.h"

#include <memory>
#include <new>

#include "apps/account_authorities.h"
#include "apps/heap_text.h"
#include "farm/holders.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

namespace {

// Authority records live on the platform heap, so that running out of
// memory while making one is reported (and can be provoked by tests).
struct AuthorityRecordDeleter {
  void operator()(UM_AcctAuthInfo* authority) const {
    authority->~UM_AcctAuthInfo();
    feroq::platform::HeapFree(authority);
  }
};
using AuthorityRecord = std::unique_ptr<UM_AcctAuthInfo, AuthorityRecordDeleter>;

// A new, empty authority record; null when memory runs out.
AuthorityRecord MakeAuthorityRecord() {
  void* block = feroq::platform::HeapAllocZero(sizeof(UM_AcctAuthInfo));
  if (block == nullptr) return nullptr;
  return AuthorityRecord(new (block) UM_AcctAuthInfo());
}

bool IsWindowsDomainAuthority(const char16_t* type) {
  return type != nullptr && feroq::platform::CompareWideNoCase(type, feroq::NtAuthority().GetValue()) == 0;
}

// The public account kind for the user service's kind word: its low two
// bits 1 and 2 are reported, anything else reads 0.
LONG AccountKindFromService(ULONG kind) {
  switch (kind & 3u) {
    case 1: return 1;
    case 2: return 2;
    default: return 0;
  }
}

// Writes the account whose directory name is `dn` into `user`: authority kind
// 0, its account kind, and new heap copies of its domain and account name.
// A failed resolution leaves `user` untouched; any later failure leaves both
// string pointers null with nothing allocated. Pointers already in `user`
// are overwritten, not released. E_FAIL for an account of any authority but
// a Windows domain.
HRESULT ConvertDNToAccount(FarmObject* farm, VORNString& dn, _UserAccountInfo* user) {
  VORN_UserMgmt_SAL* users = feroq::UserServiceOf(farm);
  if (users == nullptr) return E_UNEXPECTED;
  try {
    UM_AcctAuthInfo authority;
    VORNString account;
    ULONG kind = 0;
    const VSTATUS status = users->ResolveDNToAccountName(dn, authority, account, kind);
    if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, feroq::kOutOfMemoryStatus);

    *user = _UserAccountInfo{};
    char16_t* type = nullptr;
    if (authority.GetType(type) != feroq::VORN_OK || !IsWindowsDomainAuthority(type)) return E_FAIL;
    user->authorityKind = feroq::kUserAuthorityWindowsDomain;
    user->accountKind = AccountKindFromService(kind);
    char16_t* instance = nullptr;
    if (authority.GetInstance(instance) != feroq::VORN_OK) return E_FAIL;
    feroq::FarmBlock<char16_t> domain(feroq::CopyTextToHeap(instance));
    if (!domain) return E_OUTOFMEMORY;
    feroq::FarmBlock<char16_t> account_name(feroq::CopyTextToHeap(account.c_str()));
    if (!account_name) return E_OUTOFMEMORY;
    user->domain = domain.release();
    user->accountName = account_name.release();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

constexpr feroq::StatusMapping kFirstUserStatuses[] = {
    {feroq::ZQAPP_E_NO_MORE, S_FALSE}, {feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY}, {feroq::ZQAPP_E_ITERATING, E_ACCESSDENIED}};
constexpr feroq::StatusMapping kNextUserStatuses[] = {{feroq::ZQAPP_E_NO_MORE, S_FALSE},
                                                      {feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY}};

}  // namespace

namespace feroq {

HRESULT ResolveAccountToDN(FarmObject* farm, const _UserAccountInfo* user, VORNString& dn) {
  VORN_UserMgmt_SAL* users = UserServiceOf(farm);
  if (users == nullptr) return E_UNEXPECTED;
  if (user->authorityKind != kUserAuthorityWindowsDomain) return E_INVALIDARG;
  if (user->accountKind < 0 || user->accountKind > 2) return E_INVALIDARG;
  if (!HasText(user->accountName) || !HasText(user->domain)) return E_INVALIDARG;

  AuthorityRecord authority = MakeAuthorityRecord();
  if (authority == nullptr) return E_OUTOFMEMORY;
  // A type or instance that could not be set makes the resolution fail.
  authority->SetType(NtAuthority().GetValue());
  authority->SetInstance(user->domain);
  try {
    VORNString account(user->accountName);
    return MapServiceStatus(
        users->ResolveAccountNameToDN(*authority, account, static_cast<ULONG>(user->accountKind), dn),
        kOutOfMemoryStatus);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace feroq

HRESULT ZQWinAppObject::AddUser(_UserAccountInfo* user) {
  if (user == nullptr) return E_INVALIDARG;
  if (record_ == nullptr) return E_UNEXPECTED;
  VORNString dn;
  const HRESULT resolved = feroq::ResolveAccountToDN(farm_, user, dn);
  if (resolved != S_OK) return resolved;
  return record_->AddUser(dn) == feroq::VORN_OK ? S_OK : E_FAIL;
}

HRESULT ZQWinAppObject::RemoveUser(_UserAccountInfo* user) {
  if (user == nullptr) return E_INVALIDARG;
  if (record_ == nullptr) return E_UNEXPECTED;
  VORNString dn;
  const HRESULT resolved = feroq::ResolveAccountToDN(farm_, user, dn);
  if (resolved != S_OK) return resolved;
  return record_->RemoveUser(dn) == feroq::VORN_OK ? S_OK : E_FAIL;
}

HRESULT ZQWinAppObject::GetUserCount(LONG* count) {
  if (count == nullptr) return E_INVALIDARG;
  if (record_ == nullptr) return E_UNEXPECTED;
  *count = static_cast<LONG>(record_->GetUserCount());
  return S_OK;
}

HRESULT ZQWinAppObject::GetFirstUser(_UserAccountInfo* user) {
  if (user == nullptr) return E_INVALIDARG;
  if (record_ == nullptr) return E_UNEXPECTED;
  if (user_iteration_active_ != 0) {
    record_->StopGetUser();
    user_iteration_active_ = 0;
  }
  VORNString dn;
  const VSTATUS status = record_->GetFirstUser(dn);
  if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, kFirstUserStatuses);
  const HRESULT converted = ConvertDNToAccount(farm_, dn, user);
  if (converted != S_OK) {
    record_->StopGetUser();
    return converted;
  }
  user_iteration_active_ = 1;
  return S_OK;
}

HRESULT ZQWinAppObject::GetNextUser(_UserAccountInfo* user) {
  if (user == nullptr) return E_INVALIDARG;
  if (record_ == nullptr || user_iteration_active_ == 0) return E_UNEXPECTED;
  VORNString dn;
  const VSTATUS status = record_->GetNextUser(dn);
  if (status != feroq::VORN_OK) return feroq::MapServiceStatus(status, kNextUserStatuses);
  return ConvertDNToAccount(farm_, dn, user);
}
