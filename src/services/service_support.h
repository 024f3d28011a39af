// What the stand-in services share: running a call against their farm store
// and converting between the services' texts and the store's.
#ifndef FEROQ_SERVICES_SERVICE_SUPPORT_H_
#define FEROQ_SERVICES_SERVICE_SUPPORT_H_

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "feroq/services/service_base.h"
#include "feroq/services/vorn_system.h"
#include "services/farm_connection.h"
#include "services/service_failure.h"
#include "services/service_faults.h"
#include "services/store/farm_store.h"

namespace feroq::services {

// Runs a store call. A failure that the call did not record itself (with
// Refuse or RecordFailure) is recorded as the thread's last service failure
// with its own code as the cause.
template <class Fn>
VSTATUS RecordedStoreCall(Fn&& call) {
  const unsigned long before = FailuresRecorded();
  VSTATUS status;
  try {
    status = call();
  } catch (const std::bad_alloc&) {
    status = VORN_E_OUTOFMEMORY;
  }
  if (status != VORN_OK && FailuresRecorded() == before) RecordFailure(status, {});
  return status;
}

// Runs `call` on the farm behind `subsystem`, recorded as a store call.
// VORN_E_FAILURE without a farm; VORN_E_OUTOFMEMORY when memory runs out
// (std::bad_alloc from the store, `call` or the system types).
template <class Call>
VSTATUS OnFarm(VORN_PIF_ISubSystem* subsystem, Call&& call) {
  return RecordedStoreCall([&]() -> VSTATUS {
    std::shared_ptr<store::FarmStore> farm = StoreOf(subsystem);
    if (!farm) return VORN_E_FAILURE;
    return call(*farm);
  });
}

// Runs `fn` in a read transaction of the farm behind `subsystem`.
template <class Fn>
VSTATUS ReadFarm(VORN_PIF_ISubSystem* subsystem, Fn&& fn) {
  return OnFarm(subsystem, [&](store::FarmStore& farm) { return farm.Read(fn); });
}

// ReadFarm for a function that asks the farm one question
// (store::FarmStore::ReadOne: it may be run again).
template <class Fn>
VSTATUS ReadFarmOne(VORN_PIF_ISubSystem* subsystem, Fn&& fn) {
  return OnFarm(subsystem, [&](store::FarmStore& farm) { return farm.ReadOne(fn); });
}

// Runs `fn` in one write transaction: a non-zero result (or running out of
// memory) leaves the farm unchanged.
template <class Fn>
VSTATUS WriteFarm(VORN_PIF_ISubSystem* subsystem, Fn&& fn) {
  return OnFarm(subsystem, [&](store::FarmStore& farm) { return farm.Write(fn); });
}

// The text of a wide string; empty for null.
inline std::u16string ToText(const char16_t* text) {
  return text == nullptr ? std::u16string() : std::u16string(text);
}
inline std::u16string ToText(const VORNString& text) {
  return std::u16string(text.c_str(), text.Length());
}

// Whether `text` holds a carriage return or a line feed. The application
// definition file is a format of lines without escapes, so no text that goes
// into one (application strings, a server's own program and directory,
// server and account names) may hold either: the services refuse them
// wherever such a text is set.
inline bool HasLineBreak(std::u16string_view text) {
  // One pass with both tests per unit (find_first_of searches the set of
  // two for every unit, which reading a record's texts felt).
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c == u'\r' || c == u'\n'; });
}

// The most UTF-16 units a record's string property holds (a 260-unit buffer
// with its NUL).
inline constexpr ULONG kMaxRecordTextUnits = 259;

// The creation serial of a new folder: the serial part of its identifier,
// so that a folder's children list in creation order.
inline ULONG64 CreationSerialOf(ULONG64 id) { return id & 0xFFFFFFFFu; }

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_SERVICE_SUPPORT_H_
