#include "textio/reader.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "textio/run_end.h"

namespace tessaro {
namespace {

using namespace std::literals;

// An input file in a temporary folder holding the given bytes, open at its first line.
class TextFile {
 public:
  explicit TextFile(std::string_view bytes) : file_(next_path()) {
    std::ofstream(file_.name(), std::ios::binary) << bytes;
    file_.open();
  }
  ~TextFile() { std::remove(file_.name().c_str()); }
  InputFile& file() { return file_; }

  // Everything a next request would find: the rest of the file.
  std::string rest() {
    std::string text;
    for (int c = file_.get(); c != InputFile::end_of_file; c = file_.get()) {
      text += static_cast<char>(c);
    }
    return text;
  }

 private:
  // A fresh folder for the files of this test run, removed when the run ends.
  struct Folder {
    std::string path;
    Folder() {
      char pattern[] = "/tmp/reader_test_XXXXXX";
      path = mkdtemp(pattern);
    }
    ~Folder() { rmdir(path.c_str()); }
  };
  static std::string next_path() {
    static const Folder folder;
    static int count = 0;
    return folder.path + "/input" + std::to_string(++count) + ".txt";
  }
  InputFile file_;
};

// One request over the targets named by letters: i 32-bit integer, d 64-bit real, f 32-bit
// real, t text of width 10. Each target is shown as text: an integer in decimal, a real in
// hexadecimal floating point, a text as its ten characters, and "~" for a target left unchanged.
std::vector<std::string> read_request(InputFile& file, std::string_view targets) {
  constexpr std::int32_t int_unchanged = -123456789;
  constexpr double double_unchanged = -123.25;
  constexpr float float_unchanged = -123.25f;
  ReadRequest request = read_begin(file);
  std::vector<std::string> shown;
  char hex[64];
  for (char kind : targets) {
    if (kind == 'i') {
      std::int32_t value = int_unchanged;
      read_int32(request, value);
      shown.push_back(value == int_unchanged ? "~" : std::to_string(value));
    } else if (kind == 'd') {
      double value = double_unchanged;
      read_real64(request, value);
      std::snprintf(hex, sizeof hex, "%a", value);
      shown.push_back(value == double_unchanged ? "~" : hex);
    } else if (kind == 'f') {
      float value = float_unchanged;
      read_real32(request, value);
      std::snprintf(hex, sizeof hex, "%af", static_cast<double>(value));
      shown.push_back(value == float_unchanged ? "~" : hex);
    } else {
      char text[10] = {'~', '~', '~', '~', '~', '~', '~', '~', '~', '~'};
      read_text(request, text, 10);
      shown.push_back(std::string(text, 10) == "~~~~~~~~~~" ? "~" : std::string(text, 10));
    }
  }
  read_end(request);
  return shown;
}

std::string hex(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", x);
  return text;
}

struct AcceptRow {
  std::string_view input;
  std::string_view targets;
  std::vector<std::string> values;
  std::string_view rest;  // what the next request reads
};

TEST(Reader, AcceptedRequests) {
  const std::string long_quote = "'" + std::string(300, 'x') + "' 5\n";
  const std::string long_comment = "5 " + std::string(1 << 20, 'x') + "\nnext\n";
  const std::string long_blanks = std::string(1 << 20, ' ') + "5\n";
  const std::string longest_value = std::string(259, '0') + "1\n";
  // A value whose characters lie on both sides of the first block's end.
  const std::string across_blocks = std::string(65531, ' ') + "123456789.125 5\n";
  const AcceptRow rows[] = {
      // Lines: LF, CR LF, a lone CR hiding the rest of its line, no final line end.
      {"1.5 2.5\nnext\n", "d", {hex(1.5)}, "next\n"},
      {"1 2\n3 4\nnext\n", "iii", {"1", "2", "3"}, "next\n"},
      {"1 2\r\n\r\n3\r\nnext\r\n", "iii", {"1", "2", "3"}, "next\r\n"},
      {"1\rjunk 9\n2\rx/y\nnext\n", "ii", {"1", "2"}, "next\n"},
      {"5 6\rjunk\nnext\n", "i", {"5"}, "next\n"},
      {"1 2", "ii", {"1", "2"}, ""},
      {"7", "i", {"7"}, ""},
      {"\n  \t \n\t1\t2\n", "ii", {"1", "2"}, ""},
      {"1\n2\n", "i", {"1"}, "2\n"},
      {"1 \n2\n", "i", {"1"}, "2\n"},
      {long_comment, "i", {"5"}, "next\n"},
      {long_blanks, "i", {"5"}, ""},
      // Commas, null values and the slash.
      {"1,,3\n", "iii", {"1", "~", "3"}, ""},
      {"5 , 6\n", "ii", {"5", "6"}, ""},
      {"5 ,, 6\n", "iii", {"5", "~", "6"}, ""},
      {",7\n", "ii", {"~", "7"}, ""},
      {"1,\n2\n", "ii", {"1", "2"}, ""},
      {"1\n,2\n", "ii", {"1", "2"}, ""},
      {"1,\n2\n", "i", {"1"}, "2\n"},
      {"4 /\nnext\n", "iii", {"4", "~", "~"}, "next\n"},
      {"4/ 5 6\nnext\n", "ii", {"4", "~"}, "next\n"},
      {"N/7\n", "ti", {"N         ", "~"}, ""},
      // Repeat counts.
      {"2*7 8\n", "iii", {"7", "7", "8"}, ""},
      {"3* 9\n", "iiii", {"~", "~", "~", "9"}, ""},
      {"2*,5\n", "iii", {"~", "~", "5"}, ""},
      {"3*\n9\n", "iiii", {"~", "~", "~", "9"}, ""},
      {"3*\nnext\n", "ii", {"~", "~"}, "next\n"},  // the null ended at the line end
      {"1*5\n", "i", {"5"}, ""},
      {"1* 5\n", "ii", {"~", "5"}, ""},
      {"2*5/ 6\n", "iii", {"5", "5", "~"}, ""},
      {"2*7\nnext\n", "ii", {"7", "7"}, "next\n"},
      {"2*12\n", "ti", {"12        ", "12"}, ""},
      {"2*'AB'\n", "tt", {"AB        ", "AB        "}, ""},
      {"16#2*5\n", "ii", {"5", "5"}, ""},
      {"2*2 , 1*0\n", "iii", {"2", "2", "0"}, ""},
      // Quoted texts.
      {"'A b'\n", "t", {"A b       "}, ""},
      {"ABCDEFGHIJKL\n", "t", {"ABCDEFGHIJ"}, ""},
      {"'It''s'\n", "t", {"It's      "}, ""},
      {"\"a,b/c* d\" 'x'\n", "tt", {"a,b/c* d  ", "x         "}, ""},
      {"''\n", "t", {"          "}, ""},
      {"O'NEIL\n", "t", {"O'NEIL    "}, ""},
      {"'abc\nXdef'\n", "t", {"abcdef    "}, ""},
      {"'abc\r\nXdef'\r\nnext\n", "t", {"abcdef    "}, "next\n"},
      {"'A',5\n", "ti", {"A         ", "5"}, ""},
      {"'A' ,5\n", "ti", {"A         ", "5"}, ""},
      {"'A',,5\n", "tii", {"A         ", "~", "5"}, ""},
      {"'A'/5\n", "ti", {"A         ", "~"}, ""},
      {"'A'x5\n", "ti", {"A         ", "5"}, ""},
      {"'A'\n5\n", "ti", {"A         ", "5"}, ""},
      {"'A'\nnext\n", "t", {"A         "}, "next\n"},
      {"'A'\rjunk\nnext\n", "t", {"A         "}, "next\n"},
      {long_quote, "ti", {"xxxxxxxxxx", "5"}, ""},
      // Parenthesised values for a text target, other bytes as they come.
      {"(1.5, 2) 5\n", "ti", {"1.5,2     ", "5"}, ""},
      {"() 5\n", "ti", {"          ", "5"}, ""},
      {"(1,\n2) 5\nnext\n", "ti", {"1,2       ", "5"}, "next\n"},
      {"a\0b 5\n"sv, "ti", {"a\0b       "s, "5"}, ""},
      {"A(B)C'D\"E 5\n", "ti", {"A(B)C'D\"E ", "5"}, ""},  // after a value's first byte
      // Numbers in their forms.
      {"-2.5E-3 1d3 1.5+3\n", "ddd", {hex(-2.5E-3), hex(1000.0), hex(1500.0)}, ""},
      {"-0 1e-50 -2147483648\n", "dfi", {hex(-0.0), "0x0p+0f", "-2147483648"}, ""},
      {longest_value, "d", {hex(1.0)}, ""},
      {across_blocks, "di", {hex(123456789.125), "5"}, ""},
  };
  for (const AcceptRow& row : rows) {
    TextFile input(row.input);
    std::vector<std::string> values;
    try {
      values = read_request(input.file(), row.targets);
    } catch (const RunEnd& end) {
      ADD_FAILURE() << row.input.substr(0, 40) << ": failure " << end.failure_number;
      continue;
    }
    EXPECT_EQ(values, row.values) << row.input.substr(0, 40);
    EXPECT_EQ(input.rest(), row.rest) << row.input.substr(0, 40);
  }
}

struct RejectRow {
  std::string_view input;
  std::string_view targets;
  int failure;
};

TEST(Reader, RejectedRequests) {
  const std::string too_long = std::string(261, '1') + "\n";
  const std::string many_digits = std::string(10000, '7') + "\n";
  const std::string huge_line = std::string(1 << 20, '9') + "\n";
  const RejectRow rows[] = {
      {"", "i", 6501},
      {"\n  \n\t\n", "i", 6501},
      {"1 2\n", "iii", 6501},
      {"'abc", "t", 6501},
      {"'abc\n", "t", 6501},
      {"(1", "t", 6501},
      {"3*\n", "iiii", 6501},
      {"1.0\n", "i", 6101},
      {"1e3\n", "i", 6101},
      {"\0\n"sv, "i", 6101},
      {"2147483648\n", "i", 6100},
      {"0#1\n", "i", 6303},
      {"2#1#1\n", "i", 6302},
      {"1e\n", "d", 6103},
      {".\n", "d", 6103},
      {"1.5x\n", "d", 6103},
      {"N\n", "f", 6103},
      {"1e309\n", "d", 6102},
      {"1e39\n", "f", 6104},
      {"*5\n", "i", 6502},
      {"0*5\n", "i", 6502},
      {"-2*5\n", "i", 6502},
      {"2*3*4\n", "i", 6503},
      {"1*1*1\n", "i", 6503},
      {"x*5\n", "i", 6101},
      {"99999999999*1\n", "i", 6100},
      {"'5'\n", "i", 6504},
      {"''\n", "d", 6504},
      {"(1,2)\n", "d", 6504},
      {"()\n", "f", 6504},
      // A repeat count and a quote keep their meaning inside parentheses.
      {"(0*1)\n", "d", 6502},
      {"(*1)\n", "d", 6502},
      {"(1.5*2)\n", "d", 6101},
      {"('x')\n", "d", 6504},
      {"2*'x'\n", "ti", 6504},
      {too_long, "i", 6105},
      {too_long, "t", 6105},
      {many_digits, "d", 6105},
      {huge_line, "i", 6105},
  };
  for (const RejectRow& row : rows) {
    TextFile input(row.input);
    try {
      read_request(input.file(), row.targets);
      ADD_FAILURE() << row.input.substr(0, 40) << ": no failure";
    } catch (const RunEnd& end) {
      EXPECT_EQ(end.failure_class, 'F') << row.input.substr(0, 40);
      EXPECT_EQ(end.failure_number, row.failure) << row.input.substr(0, 40);
      EXPECT_EQ(end.exit_status, exit_failed);
    }
  }
}

TEST(Reader, FailureReportNamesTheInputFile) {
  const struct {
    std::string_view input;
    std::string_view line;
  } rows[] = {{"", "F6501: READ(%)\r\n- end of file reached"},
              {"1.0\n", "F6101: READ(%)\r\n- invalid character in integer value"}};
  for (const auto& row : rows) {
    TextFile input(row.input);
    try {
      read_request(input.file(), "i");
      ADD_FAILURE() << "no failure";
    } catch (const RunEnd& end) {
      std::string expected = "\r\nrun-time error " + std::string(row.line) + "\r\n";
      expected.replace(expected.find('%'), 1, input.file().name());
      EXPECT_EQ(end.stderr_text, expected);
    }
  }
}

// Requests follow each other line by line: each starts where the one before left the file.
TEST(Reader, RequestsReadOneRecordEach) {
  TextFile input("6 100\n7\n1 1 'MAIN' 1 200000.0 2 -1.0 0.10 100.0 1 comment\n\n0\n");
  EXPECT_EQ(read_request(input.file(), "fi"), (std::vector<std::string>{"0x1.8p+2f", "100"}));
  EXPECT_EQ(read_request(input.file(), "f"), (std::vector<std::string>{"0x1.cp+2f"}));
  EXPECT_EQ(read_request(input.file(), "fitididddi"),
            (std::vector<std::string>{"0x1p+0f", "1", "MAIN      ", "1", hex(200000.0), "2",
                                      hex(-1.0), hex(0.10), hex(100.0), "1"}));
  EXPECT_EQ(read_request(input.file(), "f"), (std::vector<std::string>{"0x0p+0f"}));
  EXPECT_EQ(input.rest(), "");
}

// The line and column of every value of a request, and the line the file stands at after it.
std::string value_places(InputFile& file, std::string_view targets) {
  ReadRequest request = read_begin(file);
  std::string places;
  for (char kind : targets) {
    std::int32_t integer = 0;
    double real = 0.0;
    char text[10];
    if (kind == 'i') read_int32(request, integer);
    if (kind == 'd') read_real64(request, real);
    if (kind == 't') read_text(request, text, 10);
    places += std::to_string(request.value_line) + ":" + std::to_string(request.value_column) + " ";
  }
  read_end(request);
  return places + "then " + std::to_string(file.line());
}

TEST(Reader, TellsTheLineAndColumnOfEachValue) {
  const std::string long_line(70000, ' ');
  struct Row {
    std::string input;
    std::string_view targets;
    std::string places;
  };
  const Row rows[] = {
      {"1 22  333\n", "iii", "1:1 1:3 1:7 then 2"},
      {"\r\n\n  \t7,,8\r\n", "iii", "3:4 3:6 3:7 then 4"},        // blank lines, CR LF, a null
      {"'A\n b' 5\n", "ti", "1:1 2:5 then 3"},                    // a quote over a line end
      {"(1, 2) 3*4 x\n", "tii", "1:1 1:8 1:8 then 2"},            // a parenthesis, a repeat
      {"1\rjunk\n2\n", "ii", "1:1 2:1 then 3"},                   // a lone CR ends the data
      {long_line + "8 9\nlast", "ii", "1:70001 1:70003 then 2"},  // past a block of the file
      {"4 5", "ii", "1:1 1:3 then 2"},                            // no final line feed
  };
  for (const Row& row : rows) {
    TextFile input(row.input);
    EXPECT_EQ(value_places(input.file(), row.targets), row.places) << row.input.substr(0, 40);
  }
}

}  // namespace
}  // namespace tessaro
