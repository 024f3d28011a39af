#include "streaming_output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "output.h"

namespace feroq::cli {

namespace {

// A row is its cell count and then each cell as its length and its bytes,
// the numbers as 32-bit words in the machine's order (the file lives only
// as long as the process).
void AppendWord(std::string* out, std::uint32_t word) {
  out->append(reinterpret_cast<const char*>(&word), sizeof(word));
}

void EncodeRow(const std::vector<std::string>& cells, std::string* out) {
  AppendWord(out, static_cast<std::uint32_t>(cells.size()));
  for (const std::string& cell : cells) {
    AppendWord(out, static_cast<std::uint32_t>(cell.size()));
    out->append(cell);
  }
}

// Reads what EncodeRow wrote, from memory or from the file.
class RowReader {
 public:
  RowReader(const std::string* memory, std::FILE* file) : memory_(memory), file_(file) {}

  bool Read(void* into, std::size_t bytes) {
    if (file_ != nullptr) return bytes == 0 || std::fread(into, 1, bytes, file_) == bytes;
    if (memory_->size() - at_ < bytes) return false;
    std::memcpy(into, memory_->data() + at_, bytes);
    at_ += bytes;
    return true;
  }

  bool Row(std::vector<std::string>* cells) {
    std::uint32_t count = 0;
    if (!Read(&count, sizeof(count))) return false;
    cells->resize(count);
    for (std::string& cell : *cells) {
      std::uint32_t length = 0;
      if (!Read(&length, sizeof(length))) return false;
      cell.resize(length);
      if (!Read(cell.data(), length)) return false;
    }
    return true;
  }

 private:
  const std::string* memory_;
  std::FILE* file_;
  std::size_t at_ = 0;
};

// Code points in UTF-8 text (continuation bytes are not counted).
std::size_t DisplayWidth(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string Indent(int depth) { return std::string(static_cast<std::size_t>(depth) * 2, ' '); }

std::string Dumped(const nlohmann::json& value) {
  return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

// ---- RowSpool -----------------------------------------------------------------

RowSpool::RowSpool(std::size_t memory_limit) : memory_limit_(memory_limit) {}

RowSpool::~RowSpool() {
  if (file_ != nullptr) std::fclose(file_);
}

void RowSpool::Add(const std::vector<std::string>& cells) {
  EncodeRow(cells, &buffer_);
  ++rows_;
  if (file_ == nullptr && buffer_.size() > memory_limit_) Spill();
  // Once in the file, rows go on in blocks of a bounded size.
  if (file_ != nullptr && buffer_.size() >= (std::size_t{64} << 10)) {
    const bool written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    if (!written) throw ToolFailure("the listing's temporary file cannot be written: " + std::string(std::strerror(errno)));
  }
}

void RowSpool::Spill() {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/feroq-listing-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    throw ToolFailure("a temporary file for the listing cannot be made in " + pattern.substr(0, pattern.rfind('/')) +
                      ": " + std::strerror(errno) + " (TMPDIR names where)");
  }
  // The file has no name from now on: it goes when the process ends.
  ::unlink(pattern.c_str());
  file_ = ::fdopen(fd, "w+b");
  if (file_ == nullptr) {
    ::close(fd);
    throw ToolFailure("a temporary file for the listing cannot be opened: " + std::string(std::strerror(errno)));
  }
}

void RowSpool::Drain(const std::function<void(const std::vector<std::string>&)>& visit) {
  if (file_ != nullptr) {
    const bool written = buffer_.empty() || std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    buffer_.shrink_to_fit();
    if (!written || std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
      throw ToolFailure("the listing's temporary file cannot be written: " + std::string(std::strerror(errno)));
    }
  }
  RowReader reader(&buffer_, file_);
  std::vector<std::string> cells;
  for (std::size_t i = 0; i < rows_; ++i) {
    if (!reader.Row(&cells)) throw ToolFailure("the listing's temporary file cannot be read back");
    visit(cells);
  }
  rows_ = 0;
  buffer_.clear();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

// ---- TableWriter --------------------------------------------------------------

TableWriter::TableWriter(std::vector<std::string> headers, std::size_t memory_limit)
    : headers_(std::move(headers)), rows_(memory_limit) {
  for (const std::string& header : headers_) widths_.push_back(DisplayWidth(header));
}

void TableWriter::AddRow(const std::vector<std::string>& row) {
  std::vector<std::string> cells;
  cells.reserve(row.size());
  for (std::size_t c = 0; c < row.size(); ++c) {
    cells.push_back(Visible(row[c]));
    if (c < widths_.size()) widths_[c] = std::max(widths_[c], DisplayWidth(cells.back()));
  }
  rows_.Add(cells);
}

void TableWriter::Print(std::FILE* out) {
  // Cells are shown as Visible shows them; every column but the last is
  // padded to its widest cell and two spaces.
  auto print_row = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t c = 0; c < cells.size() && c < widths_.size(); ++c) {
      line += cells[c];
      if (c + 1 < cells.size()) line += std::string(widths_[c] - DisplayWidth(cells[c]) + 2, ' ');
    }
    line += '\n';
    std::fputs(line.c_str(), out);
  };
  std::vector<std::string> headers;
  for (const std::string& header : headers_) headers.push_back(Visible(header));
  print_row(headers);
  rows_.Drain(print_row);
}

// ---- JSON ---------------------------------------------------------------------

std::string NestedJson(const nlohmann::json& value, int depth) {
  const std::string text = Dumped(value);
  if (depth == 0) return text;
  const std::string indent = Indent(depth);
  std::string out;
  out.reserve(text.size());
  // Line breaks occur only between the members and elements of the dump
  // (inside strings they are escaped).
  for (char c : text) {
    out += c;
    if (c == '\n') out += indent;
  }
  return out;
}

void JsonArrayPrinter::Next() {
  std::fputs(any_ ? ",\n" : "[\n", out_);
  any_ = true;
  std::fputs(Indent(depth_ + 1).c_str(), out_);
}

void JsonArrayPrinter::Element(const nlohmann::json& value) {
  Next();
  std::fputs(NestedJson(value, depth_ + 1).c_str(), out_);
}

namespace {

// Ends a JSON array or object: an empty one as "[]" or "{}" where it stands,
// otherwise the closing bracket on a line of its own at the opening's depth.
void CloseBrackets(std::FILE* out, bool any, int depth, char open, char close) {
  if (any) {
    std::fputc('\n', out);
    std::fputs(Indent(depth).c_str(), out);
  } else {
    std::fputc(open, out);
  }
  std::fputc(close, out);
}

}  // namespace

void JsonArrayPrinter::Close() { CloseBrackets(out_, any_, depth_, '[', ']'); }

void JsonObjectPrinter::Key(const std::string& key) {
  std::fputs(any_ ? ",\n" : "{\n", out_);
  any_ = true;
  std::fputs((Indent(depth_ + 1) + Dumped(nlohmann::json(key)) + ": ").c_str(), out_);
}

void JsonObjectPrinter::Member(const std::string& key, const nlohmann::json& value) {
  Key(key);
  std::fputs(NestedJson(value, depth_ + 1).c_str(), out_);
}

void JsonObjectPrinter::Close() { CloseBrackets(out_, any_, depth_, '{', '}'); }

}  // namespace feroq::cli
