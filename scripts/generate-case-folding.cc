// Writes src/platform/portable/case_folding_table.inc: the lower-case form of
// every UTF-16 unit whose form differs from itself, as the C library's
// "C.UTF-8" locale gives it (towlower_l), in runs of units with the same
// distance to their lower-case form.
//
// The table is the source of the farm's case-insensitive comparison; it is
// made once and checked in, so that no process builds it at start-up and
// every machine folds names alike. Made with glibc 2.36. Run again only to
// take a newer Unicode version (farm files remake their folded keys when
// the table's fingerprint changes):
//   g++ -std=c++20 -O1 scripts/generate-case-folding.cc -o /tmp/gen-fold &&
//   /tmp/gen-fold > src/platform/portable/case_folding_table.inc
#include <locale.h>
#include <wctype.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Run {
  unsigned first;
  unsigned count;
  unsigned stride;
  long delta;
};

// The lower-case form as the farm takes it: surrogates and mappings that
// would leave the Basic Multilingual Plane stay as they are.
unsigned Lower(unsigned unit, locale_t locale) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  const wint_t lower = towlower_l(static_cast<wint_t>(unit), locale);
  return lower <= 0xFFFF ? static_cast<unsigned>(lower) : unit;
}

}  // namespace

int main() {
  const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) {
    std::fprintf(stderr, "the C.UTF-8 locale is not installed\n");
    return EXIT_FAILURE;
  }
  std::vector<unsigned> mapped;
  for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
    if (Lower(unit, locale) != unit) mapped.push_back(unit);
  }
  const auto delta = [&](unsigned unit) { return static_cast<long>(Lower(unit, locale)) - static_cast<long>(unit); };
  std::vector<Run> runs;
  for (std::size_t i = 0; i < mapped.size();) {
    Run run{mapped[i], 1, 1, delta(mapped[i])};
    if (i + 1 < mapped.size() && mapped[i + 1] - mapped[i] <= 2 && delta(mapped[i + 1]) == run.delta) {
      run.stride = mapped[i + 1] - mapped[i];
      while (i + run.count < mapped.size() &&
             mapped[i + run.count] == run.first + run.count * run.stride &&
             delta(mapped[i + run.count]) == run.delta) {
        ++run.count;
      }
    }
    runs.push_back(run);
    i += run.count;
  }
  std::printf("// Made by scripts/generate-case-folding.cc; do not edit.\n");
  std::printf("// %zu units in %zu runs: {first unit, units, stride, distance to the lower-case form}.\n",
              mapped.size(), runs.size());
  for (const Run& run : runs) {
    std::printf("{0x%04X, %u, %u, %ld},\n", run.first, run.count, run.stride, run.delta);
  }
  return EXIT_SUCCESS;
}
