// The user service's record types: descriptors, account authorities and the
// account record that VORN_SimpleArray<UM_AccountInfo> holds.
//
// Setters copy the caller's text into the record's own VORNString; when the
// heap refuses they answer 0x80000002 and leave the record as it was. Every
// operation that returns a code first asks the fault hook, under the name
// "<Class>::<Method>", so tests can make it answer any code.
#include <new>

#include "feroq/services/user_service.h"
#include "services/service_faults.h"

namespace {

// Copies `text` (null empties) into `target`; 0, or 0x80000002 with `target`
// unchanged.
VSTATUS CopyText(VORNString& target, const char16_t* text) {
  try {
    target = text;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
  return feroq::VORN_OK;
}

}  // namespace

VSTATUS UM_GenericDescriptor::SetValue(const char16_t* value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("UM_GenericDescriptor::SetValue")) return s;
  return CopyText(value_, value);
}

UM_AcctAuthInfo::UM_AcctAuthInfo() = default;

UM_AcctAuthInfo::~UM_AcctAuthInfo() = default;

VSTATUS UM_AcctAuthInfo::SetType(const char16_t* type) {
  if (VSTATUS s = feroq::services::EnterServiceCall("UM_AcctAuthInfo::SetType")) return s;
  return CopyText(type_, type);
}

VSTATUS UM_AcctAuthInfo::SetInstance(const char16_t* instance) {
  if (VSTATUS s = feroq::services::EnterServiceCall("UM_AcctAuthInfo::SetInstance")) return s;
  return CopyText(instance_, instance);
}

VSTATUS UM_AcctAuthInfo::GetType(char16_t*& type) {
  if (VSTATUS s = feroq::services::EnterServiceCall("UM_AcctAuthInfo::GetType")) return s;
  type = type_.m_string;
  return feroq::VORN_OK;
}

VSTATUS UM_AcctAuthInfo::GetInstance(char16_t*& instance) {
  if (VSTATUS s = feroq::services::EnterServiceCall("UM_AcctAuthInfo::GetInstance")) return s;
  instance = instance_.m_string;
  return feroq::VORN_OK;
}

// A new account record: empty name, kind 0 (a user).
UM_AccountInfo::UM_AccountInfo() : name(), kind(feroq::kAccountKindUser) {}

UM_AccountInfo::~UM_AccountInfo() = default;
