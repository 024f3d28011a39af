// The operating system behind one small interface.
//
// This is the only code of feroq that calls the operating system. The build
// picks one implementation: src/platform/posix or src/platform/windows;
// both share src/platform/portable, which calls no system function (UTF-16
// to UTF-8, case folding, the heap's failure hooks, and the icon readers: ICO files, PE
// resources, bitmap and PNG images). ExtractIcon32 reads the file and hands
// it to the portable readers on POSIX, and is the system's own icon call on
// Windows. Every function here is safe to call from several threads
// at once unless its comment says otherwise.
#ifndef FEROQ_PLATFORM_PLATFORM_H_
#define FEROQ_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "feroq/types.h"

#if defined(FEROQ_BUILDING_PLATFORM)
#define FEROQ_PLATFORM_API FEROQ_DLL_EXPORT
#else
#define FEROQ_PLATFORM_API FEROQ_DLL_IMPORT
#endif

namespace feroq::platform {

// ---- Process heap -----------------------------------------------------------
// Stands for the Windows process heap. Blocks are zero-filled (but those of
// HeapAllocUnfilled). A null result means the allocation failed (never an
// exception).
//
// Like a Windows heap, the heap keeps released blocks for reuse instead of
// handing their memory back to the system at once: on POSIX, a released
// block of up to kHeapLargestKeptBlock bytes (its header included) goes to
// a free list of its size class, one set of lists per thread, and the next
// allocation of that class on the thread takes it back (zero-filled again).
// The blocks kept by all threads together never pass the heap's reuse limit
// (kHeapDefaultReuseLimit); a block released beyond it, and every larger
// block, goes back to the C library. A thread's kept blocks go back to the
// C library, and its share of the limit to the other threads, when the
// thread ends. The Windows system heap does all this itself.
inline constexpr std::size_t kHeapLargestKeptBlock = 32 * 1024;
inline constexpr std::size_t kHeapDefaultReuseLimit = std::size_t{256} << 20;

// Opaque handle of the process heap; what FarmObject::GetHeap hands out.
FEROQ_PLATFORM_API void* ProcessHeap() noexcept;

// Allocates `bytes` zero-filled bytes; null on failure. A request of 0 bytes
// yields a valid, distinct block.
FEROQ_PLATFORM_API void* HeapAllocZero(std::size_t bytes) noexcept;

// As HeapAllocZero (counted and failed the same way), but the block's bytes
// are left as they are: a block taken back from the kept ones still holds
// what it held. For memory its caller writes before it reads any of it,
// where filling it would only bring it into the caches for nothing.
FEROQ_PLATFORM_API void* HeapAllocUnfilled(std::size_t bytes) noexcept;

// Resizes `block` to `bytes`; bytes beyond the old size are zero. On failure
// returns null and leaves `block` allocated and unchanged. A null `block`
// behaves as HeapAllocZero.
FEROQ_PLATFORM_API void* HeapReAllocZero(void* block, std::size_t bytes) noexcept;

// Releases a block from HeapAllocZero/HeapAllocUnfilled/HeapReAllocZero;
// null is accepted.
// A pointer that is not a live block of this heap (a foreign pointer, or one
// released already) is detected where possible and ends the process with a
// message, rather than corrupting memory silently.
FEROQ_PLATFORM_API void HeapFree(void* block) noexcept;

// Size requested for a live block (same check as HeapFree); 0 for null.
FEROQ_PLATFORM_API std::size_t HeapBlockSize(const void* block) noexcept;

// Bytes (headers and unused class space included) of the released blocks
// that the calling thread keeps for reuse now; 0 where the system heap
// keeps them.
FEROQ_PLATFORM_API std::size_t HeapBytesKeptForReuse() noexcept;

// Hands the blocks the calling thread keeps for reuse back to the C library
// (other threads' blocks stay kept). Nothing is lost: kept blocks hold no data.
FEROQ_PLATFORM_API void ReleaseKeptHeapBlocks() noexcept;

// ---- Heap failure injection (a build with FEROQ_TESTING only) --------------
#if defined(FEROQ_TESTING)
// Counts every allocation attempt (HeapAllocZero, HeapAllocUnfilled,
// HeapReAllocZero, and the
// object allocations that go through them). FailAllocationAt(n) makes the
// n-th attempt from now on fail (n >= 1); with `persistent` every attempt
// from that one on fails too, until ClearAllocationFailure.
FEROQ_PLATFORM_API void FailAllocationAt(std::uint64_t nth, bool persistent = false) noexcept;
FEROQ_PLATFORM_API void ClearAllocationFailure() noexcept;
// True once an injected failure has been handed out since the last
// FailAllocationAt; lets a sweep know whether a run reached its failure point.
FEROQ_PLATFORM_API bool AllocationFailureTriggered() noexcept;
// Number of allocation attempts since the process started.
FEROQ_PLATFORM_API std::uint64_t AllocationAttempts() noexcept;
// Number of heap blocks currently live (allocated and not yet freed).
FEROQ_PLATFORM_API std::int64_t LiveHeapBlocks() noexcept;
// Sets how many bytes of released blocks the heap may keep for reuse in all
// threads together and returns the limit it replaces. Blocks kept already
// stay kept; the limit decides only what is kept from then on.
FEROQ_PLATFORM_API std::size_t SetHeapReuseLimit(std::size_t bytes) noexcept;
#endif  // FEROQ_TESTING

// ---- Interlocked counters ---------------------------------------------------
// Atomically add or subtract one and return the new value, wrapping on
// overflow, as the system's interlocked increment and decrement do. (Named
// apart from the system's calls, which <windows.h> may define as macros.)
FEROQ_PLATFORM_API LONG IncrementCounter(volatile LONG* value) noexcept;
FEROQ_PLATFORM_API LONG DecrementCounter(volatile LONG* value) noexcept;

// ---- Text ------------------------------------------------------------------
// Converts `source_bytes` bytes of the system's multibyte text to UTF-16
// (MultiByteToWideChar with the system code page). On Windows that is the
// ANSI code page. On POSIX the system code page is the charset of the
// process locale (LC_CTYPE); a process that never called setlocale runs in
// the "C" locale, which is taken as UTF-8, so UTF-8 is the default. NULs in the source are converted like any character.
// Writes at most `capacity` units to `dest`; returns the number of units
// written, or 0 when the text is invalid or does not fit (as Windows does).
// As on Windows, a `source_bytes` of -1 converts up to and including the
// source's NUL, and a `capacity` of 0 writes nothing and returns the number
// of units the conversion needs (0 if the text is invalid). A `source_bytes`
// of 0 gives 0.
FEROQ_PLATFORM_API int MultiByteToUtf16(const char* source, int source_bytes, char16_t* dest,
                                        int capacity) noexcept;

// Appends the UTF-8 form of the `length` UTF-16 units at `text` to `out`.
// An unpaired surrogate becomes U+FFFD when `replace_invalid`; otherwise the
// conversion stops there and returns false (`out` keeps what was appended).
FEROQ_PLATFORM_API bool AppendUtf16AsUtf8(const char16_t* text, std::size_t length, std::string* out,
                                          bool replace_invalid) noexcept(false);

// Appends the UTF-16 form of the `length` bytes of UTF-8 at `text` to `out`.
// Returns false at the first fault, `out` keeping what was appended before
// it: a byte that cannot start or continue a sequence, a sequence cut off by
// the end, an overlong form, a surrogate, a value above U+10FFFF, or a NUL
// (which no wide string of the farm can hold). Throws std::bad_alloc.
FEROQ_PLATFORM_API bool AppendUtf8AsUtf16(const char* text, std::size_t length, std::u16string* out);

// Compares two NUL-terminated UTF-16 strings without regard to case (simple
// one-to-one case folding of the Basic Multilingual Plane). Returns <0, 0, >0.
// The folding is a constant of feroq (portable code, the same on every
// machine and in every locale); texts are ordered unit by unit by the rank
// of each unit's case class.
FEROQ_PLATFORM_API int CompareUtf16NoCase(const char16_t* a, const char16_t* b) noexcept;

// The runtime's wide-string comparison without regard to case, which the
// library's own checks use (the authority type "NT", export language names).
// On Windows it is the C runtime's _wcsicmp, as a Windows program compares;
// elsewhere it is CompareUtf16NoCase. Farm name keys never use it: they must
// fold alike on every system. Returns <0, 0, >0.
FEROQ_PLATFORM_API int CompareWideNoCase(const char16_t* a, const char16_t* b) noexcept;

// The rank of each UTF-16 unit's case class: CaseClassRanks()[unit] for
// every unit from 0 to 0xFFFF (a table of static storage, never released).
// Two units are equal without regard to case exactly when their ranks are
// equal, and CompareUtf16NoCase orders units by rank; NUL alone has rank 0.
FEROQ_PLATFORM_API const std::uint16_t* CaseClassRanks() noexcept;
// A fingerprint of those ranks; it changes whenever any rank changes, so a
// file that keeps keys made from the ranks can tell that they must be
// remade.
FEROQ_PLATFORM_API std::uint64_t CaseClassesFingerprint() noexcept;

// ---- Files -----------------------------------------------------------------
struct FileHandle;

// Creates (or truncates) the file at the UTF-16 `path` for writing; null on
// failure. The file is made readable and writable by its owner, and as the
// process umask allows for others.
FEROQ_PLATFORM_API FileHandle* CreateFileForWrite(const char16_t* path) noexcept;
// Writes all `bytes`; false on any failure.
FEROQ_PLATFORM_API bool WriteFileBytes(FileHandle* file, const void* data, std::size_t bytes) noexcept;
// Closes the file; false if buffered data could not be written. Null is accepted.
FEROQ_PLATFORM_API bool CloseFile(FileHandle* file) noexcept;

enum class ReadFileResult : int {
  kRead = 0,       // `*contents` holds every byte of the file
  kNotFound = 1,   // nothing exists at the path
  kTooLarge = 2,   // the file holds more than the bytes asked for at most
  kFailed = 3,     // it cannot be opened or read (no permission, a directory,
                   // a read error, an invalid path, no memory for the bytes)
};

// Reads the whole file at the UTF-16 `path` into `*contents` (replacing what
// it held) when it holds at most `max_bytes` bytes. Never reads more than
// `max_bytes` + 1 bytes, whatever the file is (a device without end gives
// kTooLarge), and never waits for data (a pipe without data gives what was
// there). `*contents` is unspecified unless the result is kRead.
FEROQ_PLATFORM_API ReadFileResult ReadFileUpTo(const char16_t* path, std::size_t max_bytes,
                                               std::string* contents) noexcept;

// ---- Environment and the user's files ---------------------------------------
// Paths here are UTF-8 strings; on POSIX they are passed to the system as
// they are.

// The value of the environment variable `name`: true and `*value` set when it
// is set (to anything, the empty text included), false with `*value`
// untouched when it is not. Throws std::bad_alloc when `*value` cannot grow.
FEROQ_PLATFORM_API bool GetEnvironmentValue(const char* name, std::string* value);

// The directory in which this user's programs keep their data, as an
// absolute path without a trailing separator; empty when none is known. On
// Windows: %LOCALAPPDATA%, else %USERPROFILE%\AppData\Local. On POSIX: $XDG_DATA_HOME when it is an absolute path, else
// $HOME/.local/share, with HOME taken from the environment when it is
// absolute and from the user database otherwise. Throws std::bad_alloc.
FEROQ_PLATFORM_API std::string UserDataDirectory();

// Makes the directory `path` and every missing directory above it, each new
// one accessible to its owner only whatever the process umask (POSIX mode
// 0700; on Windows an access list of the user alone, not inherited); directories that exist are left as they are. True when `path` is a
// directory afterwards; false when a directory could not be made or a part
// of the path is not a directory.
FEROQ_PLATFORM_API bool CreateOwnerOnlyDirectories(const std::string& path) noexcept;

enum class CreateFileResult : int {
  kCreated = 0,        // a new, empty file now exists
  kAlreadyExists = 1,  // something of that name existed; it was not touched
  kFailed = 2,         // nothing was made (no such directory, no permission, ...)
};

// Creates the file `path`, readable and writable by its owner only whatever
// the umask (POSIX mode 0600), only if nothing of that name exists: the test
// and the creation are one step, so two processes cannot both create it.
FEROQ_PLATFORM_API CreateFileResult CreateOwnerOnlyFile(const std::string& path) noexcept;

enum class FileAccess : int {
  kMissing = 0,    // nothing of that name exists (or its folder cannot be searched)
  kReadOnly = 1,   // it exists and this process may read it but not write it
  kReadWrite = 2,  // it exists and this process may read and write it
  kNoAccess = 3,   // it exists and this process may not even read it
};

// What this process may do with the file or directory `path`, as the
// system's permission checks answer now (for a directory, "write" is
// making and removing files in it).
FEROQ_PLATFORM_API FileAccess ProbeFileAccess(const std::string& path) noexcept;

// Creates the file `path` holding the `size` bytes at `data`, for its owner
// only (POSIX mode 0600), only if nothing of that name exists; no process
// ever finds it there partly written. kAlreadyExists leaves what exists
// alone.
FEROQ_PLATFORM_API CreateFileResult CreateOwnerOnlyFileHolding(const std::string& path, const void* data,
                                                              std::size_t size) noexcept;

// ---- Change signals between processes ------------------------------------------
// A counter that every process of this machine sharing a file can raise and
// wait on, so that a process waiting for another's commit to the file wakes
// at once instead of reading the file again and again. The signal belongs to
// the file's path: every opening of the signal of one path, in any process,
// is the same signal. On Linux it lives in a small companion file, `path`
// with "-wake" appended, made (when missing) with the permission bits and
// owner of the file at `path`, and mapped into memory; waiting blocks on a
// futex there. Other systems have no signal yet (OpenChangeSignal answers
// null). The counter holds no data of the file: a damaged or removed
// companion costs only early or missed wake-ups, which is why a waiter
// still reads the file now and then (see the users of this interface).
struct ChangeSignal;

// Opens the signal of the file at `path` for raising and waiting, making its
// companion if needed. Null when it cannot be opened that way (the file or
// its folder is missing or may not be written by this process, the
// companion is no regular file, no memory); the caller then falls back to
// reading the file at intervals. Release with CloseChangeSignal.
FEROQ_PLATFORM_API ChangeSignal* OpenChangeSignal(const std::string& path) noexcept;
// Releases an opening of a signal (the signal itself stays); null is accepted.
FEROQ_PLATFORM_API void CloseChangeSignal(ChangeSignal* signal) noexcept;
// The counter's value now; it only ever changes by RaiseChangeSignal (and
// wraps after 2^32 raises).
FEROQ_PLATFORM_API std::uint32_t ChangeSignalValue(const ChangeSignal* signal) noexcept;
// Adds one to the counter and wakes every waiter of the signal, in every
// process.
FEROQ_PLATFORM_API void RaiseChangeSignal(ChangeSignal* signal) noexcept;
// Blocks until the counter differs from `seen` (typically a value read
// before looking at the file), or `timeout_ms` milliseconds have passed (0:
// only looks; a negative value waits without bound). Returns true when the
// counter differs from `seen`. Never misses a raise made after `seen` was
// read.
FEROQ_PLATFORM_API bool WaitForChangeSignal(ChangeSignal* signal, std::uint32_t seen, int timeout_ms) noexcept;
// How many waiters are blocked in WaitForChangeSignal on this signal now, in
// every process (a process killed while it waited stays counted, which
// costs raisers a system call and nothing else).
FEROQ_PLATFORM_API std::uint32_t ChangeSignalWaiters(const ChangeSignal* signal) noexcept;

// ---- Processes ---------------------------------------------------------------

// Who runs a piece of work, in a form another process can check later: the
// machine (its host name) and, on that machine, the process and a token of
// its start, so that a process number used again by a later process (or
// after a restart of the machine) is not taken for the first one.
struct ProcessIdentity {
  std::string host;
  std::uint32_t process = 0;
  std::uint64_t start = 0;
};

// This process. Throws std::bad_alloc.
FEROQ_PLATFORM_API ProcessIdentity CurrentProcessIdentity();

enum class ProcessState : int {
  kRunning = 0,  // the process runs on this machine
  kGone = 1,     // it ran on this machine and has ended
  kUnknown = 2,  // it runs, or ran, on another machine
};
FEROQ_PLATFORM_API ProcessState CheckProcess(const ProcessIdentity& owner) noexcept;

// Seconds since 1970-01-01 UTC by the system clock.
FEROQ_PLATFORM_API std::uint64_t WallClockSeconds() noexcept;

// ---- Libraries loaded at run time -------------------------------------------
// Loads the shared library `name` (a file name the system's search finds,
// such as "libpq.so.5", or a path) into the process, or finds it loaded.
// Null when it cannot be loaded. A loaded library stays for the process's
// life.
FEROQ_PLATFORM_API void* LoadSharedLibrary(const char* name) noexcept;
// The address of the function `name` in a library LoadSharedLibrary gave;
// null when it has none.
FEROQ_PLATFORM_API void* FindLibraryFunction(void* library, const char* name) noexcept;

// ---- Icons -----------------------------------------------------------------
// Reads one application icon in the form the farm stores it: 32 by 32 pixels,
// a 1-bit transparency mask and 4-bit colour indices into the standard
// 16-colour palette (0 black, 1 dark red, 2 dark green, 3 dark yellow, 4 dark
// blue, 5 dark magenta, 6 dark cyan, 7 grey, 8 light grey, 9 red, 10 green,
// 11 yellow, 12 blue, 13 magenta, 14 cyan, 15 white).
//
// `mask` receives 32 rows of 4 bytes, top row first, most significant bit
// leftmost, a set bit marking a transparent pixel; `colors` receives 32 rows
// of 16 bytes, top row first, the high half of a byte being the left pixel.
// Both are written only when the result is kIconOk.
enum IconExtractResult : int {
  kIconOk = 0,
  // The file is none of icon file, executable or library, cannot be opened,
  // or holds no icon at `index` (the shell's 1 or null).
  kIconNotAnIconFile = 1,
  // The file is an icon file or executable but yields no icon at `index`:
  // a read error, a damaged or hostile file (bad offsets, counts,
  // dimensions or image data), a file beyond kMaxIconSourceBytes, or memory
  // ran out. As the shell's null, this is no icon.
  kIconUnreadable = 2,
  // The shell would hand back something that is no icon: the count request
  // (index -1) on a file of several icons answers a number, not an icon.
  kIconFailed = 3,
};

constexpr std::size_t kIconMaskBytes = 128;
constexpr std::size_t kIconColorBytes = 512;

// The icon at `index` in the icon file, executable or library at the UTF-16
// `path` (ExtractIconW semantics): an index >= 0 selects the index-th icon
// group in resource order (an icon file holds one); a negative index selects
// the group whose resource identifier is -index. Index -1 is the shell's
// request for the number of icons, which is no icon: kIconNotAnIconFile
// when the file holds at most one icon, kIconFailed otherwise. The group's
// image nearest to 32 by 32 is reduced to the form above (the portable
// readers document their choice of image, scaling and colour matching in
// portable/icon_image.h). Never reads outside the file; refuses files larger
// than kMaxIconSourceBytes with kIconUnreadable. On Windows the shell reads
// the file (ExtractIconW) and the system maps the colours; a file the shell
// yields no icon from is kIconNotAnIconFile, whatever the reason.
FEROQ_PLATFORM_API IconExtractResult ExtractIcon32(const char16_t* path, LONG index,
                                                   BYTE mask[kIconMaskBytes],
                                                   BYTE colors[kIconColorBytes]) noexcept;

// As ExtractIcon32, on the `size` bytes at `data` taken as the file's
// content (any alignment; null with size 0 is an empty file). Portable code
// without system calls; the entry point for fuzzing the icon readers.
FEROQ_PLATFORM_API IconExtractResult ExtractIcon32FromBytes(const BYTE* data, std::size_t size,
                                                            LONG index, BYTE mask[kIconMaskBytes],
                                                            BYTE colors[kIconColorBytes]) noexcept;

// Largest icon source ExtractIcon32 reads.
constexpr std::size_t kMaxIconSourceBytes = std::size_t{64} << 20;

}  // namespace feroq::platform

#endif  // FEROQ_PLATFORM_PLATFORM_H_
