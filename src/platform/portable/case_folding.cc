// Case-insensitive comparison of UTF-16 text, from a constant table.
//
// Each unit folds to its simple lower-case form across the Basic
// Multilingual Plane (the C library's towlower in "C.UTF-8", taken once by
// scripts/generate-case-folding.cc into case_folding_table.inc); surrogate
// units and forms outside the plane stay as they are. The units with one
// form make a case class, and classes are ranked in the order of their
// forms. Both tables are made by the compiler: a process pays nothing for
// them until it touches their pages, and every machine folds alike whatever
// locales it has installed.
#include <cstdint>

#include "platform/platform.h"

namespace feroq::platform {
namespace {

// Units first, first + stride, ... (count of them) fold to unit + delta.
struct FoldRun {
  std::uint16_t first;
  std::uint16_t count;
  std::uint16_t stride;
  std::int32_t delta;
};

constexpr FoldRun kFoldRuns[] = {
#include "platform/portable/case_folding_table.inc"
};

// A value for every UTF-16 unit. Plain arrays, and each table made by a
// constant evaluation of its own, keep the compilers' evaluation limits
// far away.
struct UnitTable {
  std::uint16_t at[0x10000];
};
constexpr std::size_t kUnits = 0x10000;

constexpr UnitTable MakeLowerCaseForms() {
  UnitTable form{};
  for (std::size_t unit = 0; unit < kUnits; ++unit) form.at[unit] = static_cast<std::uint16_t>(unit);
  for (const FoldRun& run : kFoldRuns) {
    for (std::uint32_t k = 0, unit = run.first; k < run.count; ++k, unit += run.stride) {
      form.at[unit] = static_cast<std::uint16_t>(static_cast<std::int32_t>(unit) + run.delta);
    }
  }
  return form;
}

// For each value v: how many distinct forms lie below v.
constexpr UnitTable MakeFormsBelow(const UnitTable& form) {
  UnitTable below{};  // first: 1 where some unit has that form
  for (std::size_t unit = 0; unit < kUnits; ++unit) below.at[form.at[unit]] = 1;
  std::uint16_t count = 0;
  for (std::size_t value = 0; value < kUnits; ++value) {
    const std::uint16_t used = below.at[value];
    below.at[value] = count;
    count = static_cast<std::uint16_t>(count + used);
  }
  return below;
}

// A unit's rank is the number of distinct forms below its own form.
constexpr UnitTable MakeRanks(const UnitTable& form, const UnitTable& forms_below) {
  UnitTable rank{};
  for (std::size_t unit = 0; unit < kUnits; ++unit) rank.at[unit] = forms_below.at[form.at[unit]];
  return rank;
}

// FNV-1a over each (unit, rank) pair, low byte first.
constexpr std::uint64_t Fingerprint(const UnitTable& rank) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::size_t unit = 0; unit < kUnits; ++unit) {
    const std::uint64_t r = rank.at[unit];
    hash = (((((((hash ^ (unit & 0xFF)) * 1099511628211ull) ^ (unit >> 8)) * 1099511628211ull) ^ (r & 0xFF)) *
             1099511628211ull) ^
            (r >> 8)) *
           1099511628211ull;
  }
  return hash;
}

constexpr UnitTable kLowerCaseForms = MakeLowerCaseForms();
constexpr UnitTable kFormsBelow = MakeFormsBelow(kLowerCaseForms);
constexpr UnitTable kCaseClassRanks = MakeRanks(kLowerCaseForms, kFormsBelow);
constexpr std::uint64_t kCaseClassesFingerprint = Fingerprint(kCaseClassRanks);

static_assert(kCaseClassRanks.at[0] == 0 && kCaseClassRanks.at[1] == 1,
              "NUL alone ranks 0 (it ends a comparison)");
static_assert(kCaseClassRanks.at[u'A'] == kCaseClassRanks.at[u'a'] &&
                  kCaseClassRanks.at[u'Z'] > kCaseClassRanks.at[u'_'],
              "letters rank as their lower-case forms");

}  // namespace

const std::uint16_t* CaseClassRanks() noexcept { return kCaseClassRanks.at; }

std::uint64_t CaseClassesFingerprint() noexcept { return kCaseClassesFingerprint; }

int CompareUtf16NoCase(const char16_t* a, const char16_t* b) noexcept {
  for (;; ++a, ++b) {
    const std::uint16_t left = kCaseClassRanks.at[*a];
    const std::uint16_t right = kCaseClassRanks.at[*b];
    if (left != right) return left < right ? -1 : 1;
    if (left == 0) return 0;
  }
}

}  // namespace feroq::platform
