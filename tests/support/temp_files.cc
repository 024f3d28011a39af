#include "support/temp_files.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace feroq::testing {

ScratchDir::ScratchDir() {
#if defined(_WIN32)
  // A new directory of a name not taken yet (the system has no mkdtemp).
  std::random_device seed;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        std::filesystem::temp_directory_path() / ("feroq-test-" + std::to_string(seed()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) path_ = candidate.string();
  }
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "feroq-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::u16string ScratchDir::WideFile(const std::string& name) const { return Utf16(File(name)); }

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  if (!platform::AppendUtf8AsUtf16(utf8.data(), utf8.size(), &out)) ADD_FAILURE() << "not UTF-8: " << utf8;
  return out;
}

std::string Utf8(const std::u16string& utf16) {
  std::string out;
  platform::AppendUtf16AsUtf8(utf16.data(), utf16.size(), &out, true);
  return out;
}

}  // namespace feroq::testing
