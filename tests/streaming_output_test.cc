// The tool's listings printed piece by piece: a table whose rows wait in a
// spool (in memory, or moved to a temporary file) prints as the whole table
// would, and JSON printed member by member is the dump of the whole value.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "streaming_output.h"

namespace feroq::cli {
namespace {

using nlohmann::json;

// What `print` writes to a file, as text.
template <class Fn>
std::string Printed(Fn&& print) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return "";
  print(file);
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// Columns are as wide as their widest cell as shown (control characters
// escaped, code points counted) plus two spaces; the last column is not
// padded. A limit of 0 moves the rows to the temporary file at once.
TEST(TableWriterTest, PrintsAlignedRowsFromMemoryAndFromTheSpoolFile) {
  for (std::size_t limit : {RowSpool::kDefaultMemoryLimit, std::size_t{0}}) {
    SCOPED_TRACE(limit);
    const std::string text = Printed([&](std::FILE* out) {
      TableWriter table({"A", "BB"}, limit);
      table.AddRow({"\u00e9\x1b", "x"});
      table.AddRow({"long", ""});
      table.AddRow({"s", std::string("n\0l", 3)});
      table.Print(out);
    });
    EXPECT_EQ(text, "A      BB\n\u00e9\\x1B  x\nlong   \ns      n\\x00l\n");
  }
}

// Rows come back in order, whole, across the move to the file.
TEST(RowSpoolTest, GivesBackEveryRowInOrderAcrossTheMoveToTheFile) {
  RowSpool spool(100);
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 50; ++i) rows.push_back({std::to_string(i), std::string(static_cast<std::size_t>(i), 'x'), ""});
  rows.push_back({});
  for (const auto& row : rows) spool.Add(row);
  EXPECT_TRUE(spool.spilled());
  std::vector<std::vector<std::string>> back;
  spool.Drain([&](const std::vector<std::string>& row) { back.push_back(row); });
  EXPECT_EQ(back, rows);
  EXPECT_EQ(spool.size(), 0u);
}

// Prints `value` through the printers, nesting objects and arrays the way
// the listings do (Key and Next, then the nested value), leaves whole.
void Stream(const json& value, int depth, std::FILE* out) {
  if (value.is_object()) {
    JsonObjectPrinter object(depth, out);
    for (const auto& [key, member] : value.items()) {
      if (member.is_structured()) {
        object.Key(key);
        Stream(member, depth + 1, out);
      } else {
        object.Member(key, member);
      }
    }
    object.Close();
  } else if (value.is_array()) {
    JsonArrayPrinter array(depth, out);
    for (const json& element : value) {
      if (element.is_structured()) {
        array.Next();
        Stream(element, depth + 1, out);
      } else {
        array.Element(element);
      }
    }
    array.Close();
  } else {
    std::fputs(NestedJson(value, depth).c_str(), out);
  }
}

TEST(JsonPrintersTest, StreamedValueIsTheDumpOfTheWholeValue) {
  const json tree = {
      {"applications", {{{"dn", "\\A\\Ed\u00e9\x1b"}, {"name", std::string("bad \xff byte")}}}},
      {"dn", "\\A"},
      {"folders", {{{"applications", json::array()}, {"dn", "\\A\\B"}, {"folders", json::array()}, {"n", 1}},
                   json::object()}},
      {"id", "0x0000000100000001"},
      {"list", {1, "two", {3, {{"four", nullptr}}}, json::array()}}};
  for (const json& value : {tree, json::array(), json::object(), json(tree["folders"])}) {
    EXPECT_EQ(Printed([&](std::FILE* out) { Stream(value, 0, out); }),
              value.dump(2, ' ', false, json::error_handler_t::replace));
  }
}

}  // namespace
}  // namespace feroq::cli
