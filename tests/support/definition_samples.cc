#include "support/definition_samples.h"

#include "support/temp_files.h"

namespace feroq::testing {

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

std::string FullDefinitionFile() {
  return ReadWholeFile(std::string(FEROQ_TEST_DATA_DIR) + "/definition/sample.txt").value_or("");
}

}  // namespace feroq::testing
