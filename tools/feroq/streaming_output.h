// Output of listings that may be far larger than what the tool should hold:
// rows kept outside memory until a table's column widths are known, and JSON
// printed piece by piece as the objects it describes are visited, in exactly
// the form PrintTable and PrintJson give the whole listing.
#ifndef FEROQ_TOOLS_FEROQ_STREAMING_OUTPUT_H_
#define FEROQ_TOOLS_FEROQ_STREAMING_OUTPUT_H_

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace feroq::cli {

// Rows of text cells, read back once in the order they were added. The rows
// stay in memory up to `memory_limit` bytes; past that they all move to an
// unnamed temporary file (in $TMPDIR, or /tmp), so a listing of any length
// holds a bounded amount. Throws ToolFailure when the temporary file cannot
// be made or written.
class RowSpool {
 public:
  static constexpr std::size_t kDefaultMemoryLimit = std::size_t{4} << 20;

  explicit RowSpool(std::size_t memory_limit = kDefaultMemoryLimit);
  ~RowSpool();
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;

  void Add(const std::vector<std::string>& cells);
  std::size_t size() const { return rows_; }
  // Whether the rows have moved to the temporary file.
  bool spilled() const { return file_ != nullptr; }
  // Calls `visit` with every row, in the order added. The spool is left
  // empty.
  void Drain(const std::function<void(const std::vector<std::string>&)>& visit);

 private:
  void Spill();

  std::size_t memory_limit_;
  std::string buffer_;  // the encoded rows not yet in the file
  std::FILE* file_ = nullptr;
  std::size_t rows_ = 0;
};

// A table as PrintTable prints it, given row by row: the rows go to a
// RowSpool while the column widths are measured, and Print writes the
// headers and every row to `out`.
class TableWriter {
 public:
  explicit TableWriter(std::vector<std::string> headers, std::size_t memory_limit = RowSpool::kDefaultMemoryLimit);
  void AddRow(const std::vector<std::string>& row);
  void Print(std::FILE* out = stdout);

 private:
  std::vector<std::string> headers_;
  std::vector<std::size_t> widths_;
  RowSpool rows_;
};

// `value` as PrintJson prints it (without the final line end), for a value
// nested `depth` levels deep: every line after the first indented by two
// more spaces a level.
std::string NestedJson(const nlohmann::json& value, int depth);

// A JSON array at nesting `depth`, printed one element at a time. Element
// either prints a whole value or, with Next, lets the caller print an
// element of its own (at depth + 1) right after. Close prints the end; an
// array given no element prints as "[]".
class JsonArrayPrinter {
 public:
  explicit JsonArrayPrinter(int depth, std::FILE* out = stdout) : depth_(depth), out_(out) {}
  void Next();
  void Element(const nlohmann::json& value);
  void Close();

 private:
  int depth_;
  std::FILE* out_;
  bool any_ = false;
};

// A JSON object at nesting `depth`, printed one member at a time. Keys must
// come in ascending order (the order PrintJson gives them). Member prints a
// whole value; Key prints only the key, and the caller prints the value (at
// depth + 1) right after. Close prints the end; "{}" for no member.
class JsonObjectPrinter {
 public:
  explicit JsonObjectPrinter(int depth, std::FILE* out = stdout) : depth_(depth), out_(out) {}
  void Key(const std::string& key);
  void Member(const std::string& key, const nlohmann::json& value);
  void Close();

 private:
  int depth_;
  std::FILE* out_;
  bool any_ = false;
};

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_STREAMING_OUTPUT_H_
