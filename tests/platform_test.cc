// The platform layer: heap and its failure hook, interlocked counters,
// multibyte conversion, case-insensitive comparison, file output and change
// signals. The same expectations hold on POSIX and on Windows, except where
// a case says which system it is about (umask and modes, the locale's
// charset, devices on POSIX; the ANSI code page on Windows).
#include <locale.h>
#include <wctype.h>
#include <sys/stat.h>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <signal.h>
#include <sys/time.h>
#endif

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/temp_files.h"

namespace fp = feroq::platform;

namespace {

bool AllZero(const void* block, std::size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(block);
  return std::all_of(p, p + bytes, [](unsigned char c) { return c == 0; });
}

class HeapTest : public ::testing::Test {
 protected:
  void SetUp() override { live_at_start_ = fp::LiveHeapBlocks(); }
  void TearDown() override {
    fp::ClearAllocationFailure();
    EXPECT_EQ(fp::LiveHeapBlocks(), live_at_start_) << "heap blocks leaked";
  }
  std::int64_t live_at_start_ = 0;
};

TEST_F(HeapTest, BlocksAreZeroFilledRecordTheirSizeAndAreCounted) {
  const std::uint64_t attempts = fp::AllocationAttempts();
  void* first = fp::HeapAllocZero(4096);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(fp::HeapBlockSize(first), 4096u);
  EXPECT_EQ(fp::LiveHeapBlocks(), live_at_start_ + 1);
  std::memset(first, 0xAB, 4096);
  fp::HeapFree(first);
  EXPECT_EQ(fp::LiveHeapBlocks(), live_at_start_);
  void* second = fp::HeapAllocZero(4096);  // a reused block is zero again
  EXPECT_TRUE(AllZero(second, 4096));
  second = fp::HeapReAllocZero(second, 80);  // an attempt, not a new block
  EXPECT_EQ(fp::LiveHeapBlocks(), live_at_start_ + 1);
  fp::HeapFree(second);
  void* a = fp::HeapAllocZero(0);
  void* b = fp::HeapAllocZero(0);
  EXPECT_NE(a, b);  // zero-byte requests give distinct blocks
  EXPECT_EQ(fp::HeapBlockSize(a), 0u);
  fp::HeapFree(a);
  fp::HeapFree(b);
  fp::HeapFree(nullptr);  // accepted
  void* unfilled = fp::HeapAllocUnfilled(24);  // counted, sized and released as the others
  EXPECT_EQ(fp::HeapBlockSize(unfilled), 24u);
  fp::HeapFree(unfilled);
  EXPECT_EQ(fp::AllocationAttempts(), attempts + 6);
}

TEST_F(HeapTest, ReAllocKeepsContentAndZeroFillsGrowth) {
  auto* block = static_cast<unsigned char*>(fp::HeapAllocZero(10));
  std::memset(block, 0x5A, 10);
  auto* grown = static_cast<unsigned char*>(fp::HeapReAllocZero(block, 100000));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(fp::HeapBlockSize(grown), 100000u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(grown[i], 0x5A);
  EXPECT_TRUE(AllZero(grown + 10, 100000 - 10));

  // Shrink, dirty, grow again: the regrown part is zero, not the old bytes.
  std::memset(grown, 0x77, 100000);
  auto* shrunk = static_cast<unsigned char*>(fp::HeapReAllocZero(grown, 4));
  EXPECT_EQ(fp::HeapBlockSize(shrunk), 4u);
  auto* regrown = static_cast<unsigned char*>(fp::HeapReAllocZero(shrunk, 64));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(regrown[i], 0x77);
  EXPECT_TRUE(AllZero(regrown + 4, 60));
  fp::HeapFree(regrown);

  void* fresh = fp::HeapReAllocZero(nullptr, 32);  // behaves as an allocation
  EXPECT_TRUE(AllZero(fresh, 32));
  fp::HeapFree(fresh);
}

#if !defined(_WIN32)  // the Windows system heap keeps released blocks itself
// 200 and 208 bytes share a size class (with the header: 224 bytes a block).
constexpr std::size_t kClassBytes = 224;

TEST_F(HeapTest, AReleasedBlockIsKeptAndServesTheNextRequestOfItsClassZeroed) {
  fp::ReleaseKeptHeapBlocks();
  const std::size_t kept_before = fp::HeapBytesKeptForReuse();
  void* first = fp::HeapAllocZero(200);
  std::memset(first, 0xCD, 200);
  fp::HeapFree(first);
  EXPECT_EQ(fp::HeapBytesKeptForReuse(), kept_before + kClassBytes);
  void* other_class = fp::HeapAllocZero(400);
  EXPECT_NE(other_class, first);
  void* again = fp::HeapAllocZero(208);
  EXPECT_EQ(again, first);
  EXPECT_TRUE(AllZero(again, 208));
  EXPECT_EQ(fp::HeapBlockSize(again), 208u);
  EXPECT_EQ(fp::HeapBytesKeptForReuse(), kept_before);

  // Within its class a block is resized where it is; what grows is zero.
  std::memset(again, 0xEE, 208);
  EXPECT_EQ(fp::HeapReAllocZero(again, 193), again);
  EXPECT_EQ(fp::HeapReAllocZero(again, 208), again);
  EXPECT_TRUE(AllZero(static_cast<char*>(again) + 193, 15));
  fp::HeapFree(again);
  fp::HeapFree(other_class);
  fp::ReleaseKeptHeapBlocks();
  EXPECT_EQ(fp::HeapBytesKeptForReuse(), kept_before);
}

// Frees `count` blocks of 200 bytes and answers how many bytes of them the
// calling thread kept.
std::size_t KeptOfReleasing(std::size_t count) {
  const std::size_t kept_before = fp::HeapBytesKeptForReuse();
  std::vector<void*> blocks(count);
  for (void*& block : blocks) block = fp::HeapAllocZero(200);
  for (void* block : blocks) fp::HeapFree(block);
  return fp::HeapBytesKeptForReuse() - kept_before;
}

TEST_F(HeapTest, KeptBlocksStayWithinTheReuseLimitAndAnEndedThreadsShareReturns) {
  fp::ReleaseKeptHeapBlocks();
  const std::size_t previous = fp::SetHeapReuseLimit(10 * kClassBytes);
  EXPECT_EQ(KeptOfReleasing(40), 10 * kClassBytes);  // ten kept, thirty given back
  fp::ReleaseKeptHeapBlocks();
  std::thread([] { EXPECT_EQ(KeptOfReleasing(10), 10 * kClassBytes); }).join();
  EXPECT_EQ(KeptOfReleasing(10), 10 * kClassBytes);  // the thread's share came back with its blocks
  fp::ReleaseKeptHeapBlocks();
  EXPECT_EQ(fp::HeapBytesKeptForReuse(), 0u);
  fp::SetHeapReuseLimit(previous);
}

TEST_F(HeapTest, AnInjectedFailureHitsAlsoWhenAKeptBlockWouldServe) {
  fp::HeapFree(fp::HeapAllocZero(200));
  fp::FailAllocationAt(1);
  EXPECT_EQ(fp::HeapAllocZero(200), nullptr);
  fp::ClearAllocationFailure();
  fp::HeapFree(fp::HeapAllocZero(200));
}

TEST(HeapDeathTest, ReleasingAKeptBlockAgainEndsTheProcess) {
  void* block = fp::HeapAllocZero(200);
  fp::HeapFree(block);
  EXPECT_DEATH(fp::HeapFree(block), "invalid or released block");
}
#endif

// The failure hook every failure sweep relies on.
TEST_F(HeapTest, InjectedFailuresHitTheNthAttemptOnceOrFromThenOn) {
  fp::FailAllocationAt(3);
  const std::uint64_t attempts = fp::AllocationAttempts();
  void* blocks[4];
  for (void*& block : blocks) {
    EXPECT_FALSE(fp::AllocationFailureTriggered());
    block = fp::HeapAllocZero(16);
    if (block == nullptr) break;
  }
  EXPECT_EQ(blocks[2], nullptr);
  EXPECT_TRUE(fp::AllocationFailureTriggered());
  blocks[3] = fp::HeapAllocZero(16);  // only the third
  EXPECT_NE(blocks[3], nullptr);
  EXPECT_EQ(fp::AllocationAttempts(), attempts + 4);  // failed attempts count too
  for (void* block : blocks) fp::HeapFree(block);

  auto* kept = static_cast<char*>(fp::HeapAllocZero(8));
  std::memcpy(kept, "feroq12", 8);
  fp::FailAllocationAt(1, true);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fp::HeapAllocZero(16), nullptr);
  EXPECT_EQ(fp::HeapAllocUnfilled(16), nullptr);
  EXPECT_EQ(fp::HeapReAllocZero(kept, 4096), nullptr);
  EXPECT_STREQ(kept, "feroq12");  // a failed reallocation leaves the block as it was
  EXPECT_EQ(fp::HeapBlockSize(kept), 8u);
  fp::ClearAllocationFailure();
  EXPECT_TRUE(fp::AllocationFailureTriggered());  // stays set until the next FailAllocationAt
  void* after = fp::HeapAllocZero(16);
  EXPECT_NE(after, nullptr);
  fp::FailAllocationAt(100);
  EXPECT_FALSE(fp::AllocationFailureTriggered());
  fp::HeapFree(kept);
  fp::HeapFree(after);
}

TEST(CounterTest, ReturnsTheNewValueAndWraps) {
  const std::pair<LONG, LONG> cases[] = {{5, 6}, {INT_MAX, INT_MIN}, {0, 1}, {-1, 0}};
  for (const auto& [from, above] : cases) {
    volatile LONG value = from;
    EXPECT_EQ(fp::IncrementCounter(&value), above);
    EXPECT_EQ(value, above);
    EXPECT_EQ(fp::DecrementCounter(&value), from);
  }
}

TEST(CounterTest, ConcurrentChangesAreNotLost) {
  volatile LONG value = 0;
  constexpr int kRounds = 100000;
  std::vector<std::thread> threads;
  for (auto change : {fp::IncrementCounter, fp::IncrementCounter, fp::DecrementCounter}) {
    threads.emplace_back([&value, change] {
      for (int i = 0; i < kRounds; ++i) change(&value);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(value, kRounds);
}

#if !defined(_WIN32)
// The thread raises the counter while a signal handler, interrupting it at
// arbitrary instructions 20,000 times, lowers it: no change is lost
// however busy the machine (threads sharing one processor seldom interleave
// inside a change). The timer fires every 50 us: a shorter period can keep
// a virtual machine's processor busy with timer interrupts alone, so that
// the thread barely runs.
volatile LONG g_counter = 0;
std::atomic<long> g_lowered{0};

TEST(CounterTest, ChangesInterruptedBySignalsAreNotLost) {
  struct sigaction lower {}, before {};
  lower.sa_handler = [](int) {
    fp::DecrementCounter(&g_counter);
    g_lowered.fetch_add(1);
  };
  ASSERT_EQ(sigaction(SIGALRM, &lower, &before), 0);
  itimerval often{{0, 50}, {0, 50}}, off{};
  ASSERT_EQ(setitimer(ITIMER_REAL, &often, nullptr), 0);
  long raised = 0;
  for (; g_lowered.load() < 20000; ++raised) fp::IncrementCounter(&g_counter);
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &before, nullptr);
  EXPECT_EQ(g_counter, raised - g_lowered.load());
}
#endif

// ---- Multibyte text ----------------------------------------------------------

int Convert(const std::string& bytes, std::u16string* out, int capacity = 64) {
  std::vector<char16_t> buffer(static_cast<std::size_t>(capacity) + 1, u'#');
  const int units = fp::MultiByteToUtf16(bytes.data(), static_cast<int>(bytes.size()), buffer.data(), capacity);
  if (out != nullptr) out->assign(buffer.data(), static_cast<std::size_t>(units));
  return units;
}

TEST(MultiByteTest, CapacityRules) {
  std::u16string out;
  EXPECT_EQ(Convert("abc", &out, 3), 3);
  EXPECT_EQ(out, u"abc");
  EXPECT_EQ(Convert("abcd", &out, 3), 0);
  // NULs inside the counted bytes are converted like any character.
  EXPECT_EQ(Convert(std::string("a\0b", 3), &out), 3);
  EXPECT_EQ(out, std::u16string(u"a\0b", 3));
  // Capacity 0 asks for the size the conversion needs.
  EXPECT_EQ(fp::MultiByteToUtf16("wxyz", 4, nullptr, 0), 4);
  // -1 converts through the NUL and counts it.
  char16_t buffer[8] = {};
  EXPECT_EQ(fp::MultiByteToUtf16("xy", -1, buffer, 8), 3);
  EXPECT_EQ(std::u16string(buffer, 3), std::u16string(u"xy\0", 3));
  EXPECT_EQ(fp::MultiByteToUtf16("xy", 0, buffer, 8), 0);
}

#if defined(_WIN32)
// The system converts from the ANSI code page, not from UTF-8.
TEST(MultiByteTest, AnsiCodePageIsTheSystemCharset) {
  if (::GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 1252";
  std::u16string out;
  EXPECT_EQ(Convert("F\xC4\x80", &out), 3);
  EXPECT_EQ(out, std::u16string({u'F', 0x00C4, 0x20AC}));
}
#else
TEST(MultiByteTest, DefaultLocaleDecodesUtf8) {
  std::u16string out;
  // Two-, three- and four-byte forms: A-umlaut, euro sign, an emoji (a surrogate pair).
  EXPECT_EQ(Convert("F\xC3\x84\xE2\x82\xAC\xF0\x9F\x98\x80", &out), 5);
  EXPECT_EQ(out, std::u16string({u'F', 0x00C4, 0x20AC, 0xD83D, 0xDE00}));
  // Invalid input (the strict decoder's table below) gives zero.
  EXPECT_EQ(Convert("ab\xE2\x82", nullptr), 0);
  EXPECT_EQ(Convert("\xC0\xAF", nullptr), 0);
  // The surrogate pair does not fit in the last free unit.
  EXPECT_EQ(Convert("a\xF0\x9F\x98\x80", &out, 2), 0);
  const std::string text = "\xC3\x84\xF0\x9F\x98\x80z";
  EXPECT_EQ(fp::MultiByteToUtf16(text.data(), static_cast<int>(text.size()), nullptr, 0), 4);
}
#endif

TEST(Utf8Test, StrictDecodingRefusesEveryMalformedForm) {
  std::u16string out;
  const std::string good = "Farm \xC3\x84\xE2\x82\xAC\xF0\x9F\x98\x80";
  ASSERT_TRUE(fp::AppendUtf8AsUtf16(good.data(), good.size(), &out));
  EXPECT_EQ(out, std::u16string(u"Farm ") + std::u16string({0x00C4, 0x20AC, 0xD83D, 0xDE00}));
  // Appended after what the string holds; a fault keeps what came before it.
  ASSERT_TRUE(fp::AppendUtf8AsUtf16("!", 1, &out));
  EXPECT_EQ(out, std::u16string(u"Farm ") + std::u16string({0x00C4, 0x20AC, 0xD83D, 0xDE00}) + u"!");
  out = u"x";
  EXPECT_FALSE(fp::AppendUtf8AsUtf16("y\xC3z", 3, &out));
  EXPECT_EQ(out, u"xy");
  // Bad lead, cut off, bad continuation, overlong, surrogate, past U+10FFFF, NUL.
  for (const std::string& bad : {std::string("\xFF"), std::string("ab\xE2\x82"), std::string("\xC3x"),
                                std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                                std::string("\xF4\x90\x80\x80"), std::string("a\0b", 3)}) {
    out.clear();
    EXPECT_FALSE(fp::AppendUtf8AsUtf16(bad.data(), bad.size(), &out)) << bad;
  }
}

// ---- Case-insensitive comparison ------------------------------------------

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(CompareNoCaseTest, FoldsTheBmpAndOrders) {
  const char16_t emoji[] = {0xD83D, 0xDE00, 0};
  const char16_t other_emoji[] = {0xD83D, 0xDE01, 0};
  // A Deseret capital letter (U+10400) is not folded to its small letter (U+10428).
  const char16_t deseret_capital[] = {0xD801, 0xDC00, 0};
  const char16_t deseret_small[] = {0xD801, 0xDC28, 0};
  struct Case {
    const char16_t* a;
    const char16_t* b;
    int sign;
  };
  const Case cases[] = {
      {u"English", u"ENGLISH", 0},
      {u"\u00C4rger", u"\u00E4RGER", 0},           // Ä / ä
      {u"\u0416\u0418", u"\u0436\u0438", 0},       // Cyrillic ЖИ / жи
      {u"", u"", 0},
      {u"abc", u"ABD", -1},
      {u"ABD", u"abc", 1},
      {u"ab", u"ABC", -1},  // a prefix sorts first
      {u"\u00C4", u"A", 1},  // an umlaut is not its base letter
      {emoji, other_emoji, -1},
      {deseret_capital, deseret_small, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(fp::CompareUtf16NoCase(c.a, c.b)), c.sign) << feroq::testing::Utf8(c.a);
  }
}

#if !defined(_WIN32)  // the C library's locale objects are POSIX
// The constant case-class table against the folding it was taken from: the
// C library's towlower in "C.UTF-8" (surrogates and forms outside the plane
// left alone), with classes found by sorting all units and ranked in order.
// Every unit's rank, the fingerprint that farm files keep, and the order of
// neighbouring classes must come out as that computation gives them.
TEST(CompareNoCaseTest, ConstantTableMatchesTheLocaleFoldingForEveryUnit) {
  const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) GTEST_SKIP() << "the C.UTF-8 locale is not installed";
  const auto fold = [&](std::uint16_t unit) -> char32_t {
    if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
    const wint_t lower = towlower_l(unit, locale);
    return lower <= 0xFFFF ? static_cast<char32_t>(lower) : unit;
  };
  std::vector<std::uint16_t> units(0x10000);
  std::iota(units.begin(), units.end(), std::uint16_t{0});
  std::stable_sort(units.begin(), units.end(), [&](std::uint16_t a, std::uint16_t b) { return fold(a) < fold(b); });
  std::vector<std::uint16_t> expected(0x10000);
  std::uint16_t rank = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (i > 0 && fold(units[i - 1]) != fold(units[i])) ++rank;
    expected[units[i]] = rank;
  }

  const std::uint16_t* ranks = fp::CaseClassRanks();
  std::uint64_t hash = 14695981039346656037ull;
  int mismatches = 0;
  for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
    if (ranks[unit] != expected[unit] && ++mismatches <= 5) {
      ADD_FAILURE() << "unit U+" << std::hex << unit << ": rank " << std::dec << ranks[unit] << ", expected "
                    << expected[unit];
    }
    for (std::uint32_t v : {unit, static_cast<std::uint32_t>(expected[unit])}) {
      hash = (hash ^ (v & 0xFF)) * 1099511628211ull;
      hash = (hash ^ (v >> 8)) * 1099511628211ull;
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(fp::CaseClassesFingerprint(), hash);
  for (std::size_t i = 1; i < units.size(); ++i) {  // each unit beside the next in folded order
    const char16_t left[2] = {units[i - 1], 0};
    const char16_t right[2] = {units[i], 0};
    const int want = fold(units[i - 1]) == fold(units[i]) ? 0 : -1;
    if (Sign(fp::CompareUtf16NoCase(left, right)) != want || Sign(fp::CompareUtf16NoCase(right, left)) != -want) {
      ADD_FAILURE() << "U+" << std::hex << units[i - 1] << " against U+" << units[i];
      break;
    }
  }
  freelocale(locale);
}
#endif  // !_WIN32

// ---- Files -----------------------------------------------------------------
// (Whole files written and replaced are compared byte for byte by the
// definition and icon file tests.)

class FileTest : public ::testing::Test {
 protected:
  std::u16string WidePath(const std::string& name) { return dir_.WideFile(name); }
  feroq::testing::ScratchDir dir_;
};

// A path is the same file whatever its characters (UTF-8 on POSIX); new
// files honour the umask.
TEST_F(FileTest, NonAsciiPathsAreTheSameFileAndNewFilesHonourTheUmask) {
  const std::string name = "\xC3\x84pfel-\xCE\xA9.ico";
  const std::u16string path = feroq::testing::Utf16(dir_.File(name));
#if !defined(_WIN32)
  const mode_t old_mask = umask(027);
#endif
  fp::FileHandle* file = fp::CreateFileForWrite(path.c_str());
#if !defined(_WIN32)
  umask(old_mask);
#endif
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(fp::WriteFileBytes(file, "x", 1));
  EXPECT_TRUE(fp::WriteFileBytes(file, nullptr, 0));
  EXPECT_TRUE(fp::CloseFile(file));
  std::string contents;
  EXPECT_EQ(fp::ReadFileUpTo(path.c_str(), 10, &contents), fp::ReadFileResult::kRead);
  EXPECT_EQ(contents, "x");
  EXPECT_EQ(fp::ReadFileUpTo(WidePath("Apfel-\xCE\xA9.ico").c_str(), 10, &contents), fp::ReadFileResult::kNotFound);
#if !defined(_WIN32)
  struct stat info {};
  ASSERT_EQ(stat(dir_.File(name).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
#endif
}

TEST_F(FileTest, RefusedPathsGiveNull) {
  EXPECT_EQ(fp::CreateFileForWrite(WidePath("missing/dir/icon.ico").c_str()), nullptr);
  EXPECT_EQ(fp::CreateFileForWrite(u""), nullptr);
  const std::u16string unpaired = WidePath("x") + std::u16string(1, static_cast<char16_t>(0xD800));
  EXPECT_EQ(fp::CreateFileForWrite(unpaired.c_str()), nullptr);
  EXPECT_FALSE(fp::WriteFileBytes(nullptr, "x", 1));
  EXPECT_TRUE(fp::CloseFile(nullptr));
}

// Two openings of one file's signal stand for two processes: a raise on one
// wakes a waiter blocked on the other. The companion is made with the
// file's permissions, so that whoever may write the file may raise it.
TEST_F(FileTest, ChangeSignalWakesAWaiterOfAnotherOpening) {
#if !defined(__linux__)
  GTEST_SKIP() << "change signals are made with Linux futexes only";
#endif
  EXPECT_EQ(fp::OpenChangeSignal(dir_.File("missing.db")), nullptr);
  const std::string shared = dir_.File("farm.db");
  ASSERT_TRUE(feroq::testing::WriteWholeFile(shared, "x"));
  ASSERT_EQ(chmod(shared.c_str(), 0640), 0);
  const mode_t old_mask = umask(077);
  fp::ChangeSignal* raiser = fp::OpenChangeSignal(shared);
  umask(old_mask);
  ASSERT_NE(raiser, nullptr);
  struct stat info {};
  ASSERT_EQ(stat((shared + "-wake").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  fp::ChangeSignal* waiter = fp::OpenChangeSignal(shared);
  ASSERT_NE(waiter, nullptr);

  const std::uint32_t seen = fp::ChangeSignalValue(waiter);
  EXPECT_FALSE(fp::WaitForChangeSignal(waiter, seen, 0));
  bool woke = false;
  std::thread waiting([&] { woke = fp::WaitForChangeSignal(waiter, seen, 60000); });
  while (fp::ChangeSignalWaiters(raiser) == 0) std::this_thread::yield();
  fp::RaiseChangeSignal(raiser);
  waiting.join();
  EXPECT_TRUE(woke);  // false only after the minute, had the raise not woken it
  EXPECT_EQ(fp::ChangeSignalValue(waiter), seen + 1);
  EXPECT_EQ(fp::ChangeSignalWaiters(raiser), 0u);
  EXPECT_TRUE(fp::WaitForChangeSignal(waiter, seen, 0));  // a raise already made is not waited for
  fp::CloseChangeSignal(waiter);
  fp::CloseChangeSignal(raiser);
}

// Reading is bounded by the size asked for, whatever the file is.
TEST_F(FileTest, ReadsWholeFilesUpToALimit) {
  ASSERT_TRUE(feroq::testing::WriteWholeFile(dir_.File("ten.txt"), "0123456789"));
  struct Case {
    std::u16string path;
    std::size_t limit;
    fp::ReadFileResult expected;
  };
  const Case cases[] = {
      {WidePath("ten.txt"), 10, fp::ReadFileResult::kRead},
      {WidePath("ten.txt"), 9, fp::ReadFileResult::kTooLarge},
      {WidePath("missing.txt"), 10, fp::ReadFileResult::kNotFound},
      {WidePath(""), 10, fp::ReadFileResult::kFailed},  // the directory
#if !defined(_WIN32)
      {u"/dev/zero", 100000, fp::ReadFileResult::kTooLarge},
#endif
  };
  for (const Case& c : cases) {
    std::string contents = "old";
    EXPECT_EQ(fp::ReadFileUpTo(c.path.c_str(), c.limit, &contents), c.expected) << c.limit;
    if (c.expected == fp::ReadFileResult::kRead) {
      EXPECT_EQ(contents, "0123456789");
    }
  }
}

TEST_F(FileTest, OwnerOnlyFilesAndDirectories) {
  const std::string path = dir_.File("farm.db");
#if defined(_WIN32)
  // The access list that makes it the owner's is not checked here: Wine,
  // which runs these tests, keeps no access lists on files.
  EXPECT_EQ(fp::CreateOwnerOnlyFile(path), fp::CreateFileResult::kCreated);
#else
  const mode_t old_mask = umask(0);
  EXPECT_EQ(fp::CreateOwnerOnlyFile(path), fp::CreateFileResult::kCreated);
  umask(old_mask);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
  EXPECT_EQ(fp::CreateOwnerOnlyFile(path), fp::CreateFileResult::kAlreadyExists);
  EXPECT_EQ(fp::CreateOwnerOnlyFile(dir_.File("missing/farm.db")), fp::CreateFileResult::kFailed);

  const std::string made = dir_.File("a/b");
  EXPECT_TRUE(fp::CreateOwnerOnlyDirectories(made));
  EXPECT_TRUE(fp::CreateOwnerOnlyDirectories(made));  // existing ones are fine
  EXPECT_FALSE(fp::CreateOwnerOnlyDirectories(path));
  EXPECT_FALSE(fp::CreateOwnerOnlyDirectories(path + "/c"));
}

// A library is loaded by name and gives its functions; a name that is not
// there gives null, never another library's function.
TEST(SharedLibraryTest, LoadsByNameAndFindsOnlyItsOwnFunctions) {
#if defined(_WIN32)
  const char* const system_library = "kernel32.dll";
  const char* const function = "GetTickCount";
#else
  const char* const system_library = "libm.so.6";
  const char* const function = "cos";
#endif
  EXPECT_EQ(fp::LoadSharedLibrary("libferoq-no-such-library.so.1"), nullptr);
  void* library = fp::LoadSharedLibrary(system_library);
  ASSERT_NE(library, nullptr);
  EXPECT_NE(fp::FindLibraryFunction(library, function), nullptr);
  EXPECT_EQ(fp::FindLibraryFunction(library, "feroq_no_such_function"), nullptr);
  EXPECT_EQ(fp::FindLibraryFunction(nullptr, function), nullptr);
}

}  // namespace
