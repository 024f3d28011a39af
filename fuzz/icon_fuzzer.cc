// Fuzzes icon extraction: the input is taken as the content of an icon file,
// executable or library (ICO, PE32, PE32+ with icon resources, PNG images
// inside either).
//
// Besides the sanitizers, checks the reader's contract on every input: the
// result is one of the three codes, the outputs are written only on kIconOk,
// and no platform heap block is left behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

using feroq::platform::ExtractIcon32FromBytes;
using feroq::platform::IconExtractResult;

constexpr BYTE kUntouched = 0xA5;

[[noreturn]] void Fail(const char* what, LONG index) {
  std::fprintf(stderr, "icon_fuzzer: index %d: %s\n", static_cast<int>(index), what);
  std::abort();
}

void ExtractAt(const BYTE* data, std::size_t size, LONG index) {
  BYTE mask[feroq::platform::kIconMaskBytes];
  BYTE colors[feroq::platform::kIconColorBytes];
  std::memset(mask, kUntouched, sizeof mask);
  std::memset(colors, kUntouched, sizeof colors);
  const std::int64_t live = feroq::platform::LiveHeapBlocks();
  const IconExtractResult result = ExtractIcon32FromBytes(data, size, index, mask, colors);
  if (feroq::platform::LiveHeapBlocks() != live) Fail("heap blocks left allocated", index);
  switch (result) {
    case feroq::platform::kIconOk:
      break;
    case feroq::platform::kIconNotAnIconFile:
    case feroq::platform::kIconUnreadable:
    case feroq::platform::kIconFailed:
      for (BYTE b : mask) {
        if (b != kUntouched) Fail("mask written although the extraction failed", index);
      }
      for (BYTE b : colors) {
        if (b != kUntouched) Fail("colours written although the extraction failed", index);
      }
      break;
    default:
      Fail("result outside IconExtractResult", index);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The file's first icon, the second group of a library, the shell's count
  // request, and the group with resource identifier 1 and 2.
  for (LONG index : {0, 1, -1, -2}) ExtractAt(data, size, index);
  return 0;
}
