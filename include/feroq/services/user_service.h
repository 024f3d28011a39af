// The user service: account authorities, account records, and the
// resolution between account names and directory names (DNs).
#ifndef FEROQ_USER_SERVICE_H_
#define FEROQ_USER_SERVICE_H_

#include <cstddef>

#include "feroq/services/service_base.h"
#include "feroq/services/vorn_system.h"

// Base of the user service's descriptor types.
class FEROQ_SERVICES_API UM_BaseDataType {
 public:
  UM_BaseDataType() = default;
  virtual ~UM_BaseDataType() = default;
};

// A descriptor holding one wide-string value.
class FEROQ_SERVICES_API UM_GenericDescriptor : public UM_BaseDataType {
 public:
  UM_GenericDescriptor() = default;
  // Copies `value` (null empties it). Returns 0, or 0x80000002.
  VSTATUS SetValue(const char16_t* value);
  const char16_t* GetValue() const { return value_.c_str(); }

 private:
  VORNString value_;
};

// An account authority type ("NT", "NDS", ...).
class FEROQ_SERVICES_API UM_AcctAuthType : public UM_GenericDescriptor {
 public:
  UM_AcctAuthType() = default;
};

// An account authority: its type word (such as "NT" or "NDS") and its
// instance (the domain or tree).
class FEROQ_SERVICES_API UM_AcctAuthInfo {
 public:
  UM_AcctAuthInfo();
  virtual ~UM_AcctAuthInfo();
  UM_AcctAuthInfo(const UM_AcctAuthInfo&) = delete;
  UM_AcctAuthInfo& operator=(const UM_AcctAuthInfo&) = delete;
  // Copy the text (null empties it). Return 0, or 0x80000002.
  VSTATUS SetType(const char16_t* type);
  VSTATUS SetInstance(const char16_t* instance);
  // Point `type` / `instance` at the record's own text (valid while the
  // record lives and is not changed). Return 0.
  VSTATUS GetType(char16_t*& type);
  VSTATUS GetInstance(char16_t*& instance);

 private:
  VORNString type_;
  VORNString instance_;
};

// One account of an account list: its name and its kind.
class FEROQ_SERVICES_API UM_AccountInfo {
 public:
  UM_AccountInfo();
  ~UM_AccountInfo();
  UM_AccountInfo(const UM_AccountInfo& other) = default;
  UM_AccountInfo& operator=(const UM_AccountInfo& other) = default;

  VORNString name;
  ULONG kind;
};
#if defined(FEROQ_FARM_RECORD_LAYOUTS)
static_assert(sizeof(UM_AccountInfo) == 76 && offsetof(UM_AccountInfo, kind) == 72);
#endif

// Account kinds that resolution takes and yields.
namespace feroq {
constexpr ULONG kAccountKindUser = 0;
constexpr ULONG kAccountKindGroup = 1;
constexpr ULONG kAccountKindOther = 2;
}  // namespace feroq

// The user service. One instance per farm object.
class FEROQ_SERVICES_API VORN_UserMgmt_SAL : public VORN_PIF_SAL {
 public:
  VORN_SERVICE_ALLOCATION(VORN_UserMgmt_SAL)

  explicit VORN_UserMgmt_SAL(VORN_PIF_ISubSystem* subsystem);
  ~VORN_UserMgmt_SAL() override;

  // The directory name of the account `account` of authority `authority`
  // and kind `kind` (0, 1 or 2). Fails for an account the directory does not
  // know.
  VSTATUS ResolveAccountNameToDN(UM_AcctAuthInfo& authority, VORNString& account, ULONG kind,
                                 VORNString& dn);
  // The authority (type and instance), account name and kind of the account
  // whose directory name is `dn`. Fails for an unknown name.
  VSTATUS ResolveDNToAccountName(VORNString& dn, UM_AcctAuthInfo& authority, VORNString& account,
                                 ULONG& kind);
};

// Whether `a` and `b` name the same account: the low byte of the result is 1
// when they do, 0 otherwise. Directory names compare without regard to case.
FEROQ_SERVICES_API ULONG UMCompareAcctDNs(const char16_t* a, const char16_t* b);

#endif  // FEROQ_USER_SERVICE_H_
