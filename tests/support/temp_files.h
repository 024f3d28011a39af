// A scratch directory per test and whole-file reads, for tests that write
// files through the library.
#ifndef FEROQ_TESTS_SUPPORT_TEMP_FILES_H_
#define FEROQ_TESTS_SUPPORT_TEMP_FILES_H_

#include <optional>
#include <string>

namespace feroq::testing {

// A new empty directory, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // `path()/name` as a narrow path and as the UTF-16 path the library takes.
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::u16string WideFile(const std::string& name) const;

 private:
  std::string path_;
};

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Writes `bytes` to `path` (replacing it); false on failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// UTF-8 <-> UTF-16 for test texts (well-formed input only).
std::u16string Utf16(const std::string& utf8);
std::string Utf8(const std::u16string& utf16);

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_TEMP_FILES_H_
