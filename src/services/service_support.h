// What the stand-in services share: running a call against their farm store
// and converting between the services' texts and the store's.
#ifndef FEROQ_SERVICES_SERVICE_SUPPORT_H_
#define FEROQ_SERVICES_SERVICE_SUPPORT_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
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

// Whether `text` holds any of the units `Set`. A record's texts are a few
// hundred units that hardly ever hold one, read on every write, so they are
// compared eight units at a time (one 16-byte vector, which GCC and clang
// lower to SSE2 on x86-64 and to NEON on ARM), the last eight overlapping
// the block before them; a text shorter than that is compared unit by unit.
// Each unit of the set is spelled out in all eight lanes: clang 14 fails on
// a comparison of such a vector with a single unit from a parameter pack.
template <char16_t... Set>
inline bool HasAnyUnit(std::u16string_view text) {
  const std::size_t size = text.size();
#if defined(__GNUC__)
  constexpr std::size_t kBlock = 8;
  if (size >= kBlock) {
    using Units = std::uint16_t __attribute__((vector_size(16)));
    using Lanes = std::int16_t __attribute__((vector_size(16)));  // a comparison's: all ones where equal
    Lanes found{};
    auto scan = [&](std::size_t at) {
      Units block;
      std::memcpy(&block, text.data() + at, sizeof(block));
      found |= ((block == Units{Set, Set, Set, Set, Set, Set, Set, Set}) | ...);
    };
    for (std::size_t at = 0; at + kBlock <= size; at += kBlock) scan(at);
    scan(size - kBlock);
    std::uint64_t lanes[2];
    std::memcpy(lanes, &found, sizeof(lanes));
    return (lanes[0] | lanes[1]) != 0;
  }
#endif
  for (std::size_t i = 0; i < size; ++i) {
    if (((text[i] == Set) || ...)) return true;
  }
  return false;
}

// Whether `text` holds a carriage return or a line feed. The application
// definition file is a format of lines without escapes, so no text that goes
// into one (application strings, a server's own program and directory,
// server and account names) may hold either: the services refuse them
// wherever such a text is set.
inline bool HasLineBreak(std::u16string_view text) { return HasAnyUnit<u'\r', u'\n'>(text); }

// The most UTF-16 units a record's string property holds (a 260-unit buffer
// with its NUL).
inline constexpr ULONG kMaxRecordTextUnits = 259;

// The creation serial of a new folder: the serial part of its identifier,
// so that a folder's children list in creation order.
inline ULONG64 CreationSerialOf(ULONG64 id) { return id & 0xFFFFFFFFu; }

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_SERVICE_SUPPORT_H_
