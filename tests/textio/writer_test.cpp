#include "textio/writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "textio/layout.h"
#include "textio/math.h"
#include "textio/run_end.h"

namespace tessaro {
namespace {

using Item = std::variant<std::int32_t, double, std::string_view>;

void write_items(Statement& statement, const std::vector<Item>& items) {
  for (const Item& item : items) {
    if (const auto* integer = std::get_if<std::int32_t>(&item)) write_integer(statement, *integer);
    if (const auto* real = std::get_if<double>(&item)) write_real(statement, *real);
    if (const auto* text = std::get_if<std::string_view>(&item)) write_text(statement, *text);
  }
}

// Runs `statements` on a fresh output file and returns the bytes the file holds afterwards. The
// file is the process's own, so that tests run in parallel do not share it.
template <class Statements>
std::string file_bytes(Statements statements) {
  const std::string path =
      ::testing::TempDir() + "tessaro_writer_test_" + std::to_string(::getpid()) + ".txt";
  std::remove(path.c_str());
  {
    OutputFile unit(path);
    unit.open();
    statements(unit);
    unit.close();
  }
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::remove(path.c_str());
  return bytes;
}

// The bytes of one statement with these items: layout-directed, or list-directed when the layout
// is empty.
std::string statement_bytes(std::string_view layout, const std::vector<Item>& items) {
  return file_bytes([&](OutputFile& unit) {
    Statement statement = write_begin(unit, layout);
    write_items(statement, items);
    write_end(statement);
  });
}

// The failure number with which a statement ends the run, or 0 when it does not.
int failure_of(std::string_view layout, const std::vector<Item>& items) {
  int number = 0;
  file_bytes([&](OutputFile& unit) {
    try {
      Statement statement = write_begin(unit, layout);
      write_items(statement, items);
      write_end(statement);
    } catch (const RunEnd& end) {
      EXPECT_EQ(end.failure_class, 'F');
      EXPECT_NE(end.stderr_text.find(": WRITE(" + unit.name() + ")"), std::string::npos);
      number = end.failure_number;
    }
  });
  return number;
}

std::string padded(std::string_view text, std::size_t width) {
  std::string result(text);
  result.resize(width, ' ');
  return result;
}

double from_bits(std::uint64_t bits) {
  return std::bit_cast<double>(bits);
}

struct FieldRow {
  double value;
  const char* descriptor;
  const char* text;
};

// The text of one real item in one Ew.d field.
const FieldRow e_rows[] = {
    {12.345, "E10.3", "  .123E+02"},
    {0.0, "E10.3", "  .000E+00"},
    {-0.0, "E10.3", "  .000E+00"},
    {-0.5, "E10.3", " -.500E+00"},
    {9.9996, "E10.3", "  .100E+02"},
    {0.00012345, "E10.3", "  .123E-03"},
    {490.5, "E10.3", "  .491E+03"},
    {1.0E-101, "E10.3", "  .100-100"},
    {-1.0E-101, "E10.3", " -.100-100"},
    {1.0E+100, "E10.3", "  .100+101"},
    {1.0E-100, "E10.3", "  .100E-99"},
    {9.9E+99, "E10.3", "  .990+100"},
    // Carries that add a digit and move the exponent.
    {9.9995, "E10.3", "  .100E+02"},
    {0.99951, "E10.3", "  .100E+01"},
    {-999.5, "E10.3", " -.100E+04"},
    {1.0E+99, "E10.3", "  .100+100"},
    {0x1.fffffffffffffp+1023, "E10.3", "  .180+309"},
    {0x0.0000000000001p-1022, "E10.3", "  .494-323"},
    // Two roundings: 0.1235 is 0.123499999999999998667..., whose 17-digit string is 1235; the
    // double below it, 0.123499999999999984789..., keeps 12349999999999998.
    {0x1.f9db22d0e5604p-4, "E10.3", "  .124E+00"},
    {0x1.f9db22d0e5603p-4, "E10.3", "  .123E+00"},
    {12.35, "E10.3", "  .124E+02"},
    {2.675, "E10.3", "  .267E+01"},
    // Other widths; digits past the 16th are zeros.
    {3.14159265, "E12.5", "  .31416E+01"},
    {-3.14159265, "E11.5", "-.31416E+01"},
    {1.0 / 3.0, "E24.17", "  .33333333333333330E+00"},
    {0.1, "E24.17", "  .10000000000000000E+00"},
    // Too wide for the field.
    {-0.5, "E8.3", "********"},
    {0.5, "E3.1", "***"},
    // No digits.
    {from_bits(0x7ff0000000000000), "E10.3", "1#INF....."},
    {from_bits(0xfff0000000000000), "E10.3", "1#INF....."},
    {from_bits(0x7ff8000000000000), "E10.3", "1#QNAN...."},
    {from_bits(0xfff8000000000000), "E10.3", "1#IND....."},
    {from_bits(0x7ff8000000000001), "E10.3", "1#QNAN...."},
    {from_bits(0x7ff0000000000001), "E10.3", "1#SNAN...."},
    {from_bits(0xfff4000000000000), "E10.3", "1#SNAN...."},
    {from_bits(0x7ff0000000000000), "E5.1", "1#INF"},
    {from_bits(0x7ff0000000000000), "E4.1", "****"},
};

TEST(WriterFields, RealInExponentForm) {
  for (const FieldRow& row : e_rows) {
    SCOPED_TRACE(std::string(row.descriptor) + " " + row.text);
    const std::string layout = std::string("(") + row.descriptor + ")";
    EXPECT_EQ(statement_bytes(layout, {row.value}), std::string(row.text) + "\r\n");
  }
}

struct IntegerRow {
  std::int32_t value;
  const char* descriptor;
  const char* text;
};

const IntegerRow i_rows[] = {
    {7, "I4", "   7"},
    {0, "I4", "   0"},
    {-7, "I4", "  -7"},
    {9999, "I4", "9999"},
    {-999, "I4", "-999"},
    {12345, "I4", "****"},
    {-1000, "I4", "****"},
    {2147483647, "I10", "2147483647"},
    {-2147483647 - 1, "I12", " -2147483648"},
    {-2147483647 - 1, "I10", "**********"},
    {5, "I1", "5"},
};

TEST(WriterFields, IntegerRightAligned) {
  for (const IntegerRow& row : i_rows) {
    SCOPED_TRACE(std::string(row.descriptor) + " " + row.text);
    const std::string layout = std::string("(") + row.descriptor + ")";
    EXPECT_EQ(statement_bytes(layout, {row.value}), std::string(row.text) + "\r\n");
  }
}

TEST(WriterFields, TextWithOwnLengthOrWidth) {
  EXPECT_EQ(statement_bytes("(A)", {std::string_view("PIPE1     ")}), "PIPE1     \r\n");
  EXPECT_EQ(statement_bytes("(A5)", {std::string_view("PIPE12")}), "PIPE1\r\n");
  EXPECT_EQ(statement_bytes("(A5)", {std::string_view("AB")}), "   AB\r\n");
  EXPECT_EQ(statement_bytes("(A2)", {std::string_view("AB")}), "AB\r\n");
  EXPECT_EQ(statement_bytes("(I2,A,I2)", {1, std::string_view(""), 2}), " 1 2\r\n");
}

// The text of one item in a list-directed record, after the record's leading blank.
const FieldRow list_rows[] = {
    {1.0, "", "       1.000000000000000"},
    {100.0, "", "     100.000000000000000"},
    {0.5, "", "  5.000000000000000E-001"},
    {1.0E7, "", "  1.000000000000000E+007"},
    {-2.5E-3, "", " -2.500000000000000E-003"},
    {0.0, "", "  0.000000000000000E+000"},
    {-0.0, "", "  0.000000000000000E+000"},
    {9999999.0, "", " 9999999.000000000000000"},
    {-1234567.891, "", "-1234567.891000000000000"},
    {0.1, "", "  1.000000000000000E-001"},
    {1.0 / 3.0, "", "  3.333333333333333E-001"},
    {0.3, "", "  3.000000000000000E-001"},
    {1.0E+23, "", "  9.999999999999999E+022"},
    {-1.0E-101, "", " -1.000000000000000E-101"},
    {0x1.fffffffffffffp+1023, "", "  1.797693134862316E+308"},
    {0x0.0000000000001p-1022, "", "  4.940656458412465E-324"},
    // The largest double below 10^8 has the 17-digit string 99999999999999985.
    {0x1.7d783ffffffffp+26, "", "  9.999999999999999E+007"},
    // Two roundings to 16 digits: the 17th digit is 4 in the expansion and 5 in the 17-digit
    // string, so the 16th digit goes up.
    {0x1.4cccccccccc90p+0, "", "       1.299999999999987"},
    {0x1.0001999999999p+12, "", "    4096.100000000000000"},
    {0x1.9999999999992p-4, "", "  9.999999999999990E-002"},
    {0x1.47ae147ae147ap-7, "", "  9.999999999999999E-003"},
    // Digits 19 to 26 of the expansion are nines after an 18th digit 4: rounded at 25 digits
    // first, the value would wrongly read 1.000004791840155.
    {0x1.00005064cbf7ep+0, "", "       1.000004791840154"},
    {from_bits(0x7ff0000000000000), "", "  1#INF................."},
    {from_bits(0xfff8000000000000), "", "  1#IND................."},
};

TEST(WriterList, RealInFixedOrExponentForm) {
  for (const FieldRow& row : list_rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(statement_bytes({}, {row.value}), std::string(" ") + row.text + "\r\n");
  }
}

TEST(WriterList, IntegerInElevenColumns) {
  EXPECT_EQ(statement_bytes({}, {5}), "           5\r\n");
  EXPECT_EQ(statement_bytes({}, {-2147483647 - 1}), " -2147483648\r\n");
}

TEST(WriterList, TextAndNumbers) {
  const std::string_view imbalance = "Maximum accumulative junctional flowrate =";
  EXPECT_EQ(statement_bytes({}, {imbalance, 0.5}),
            " Maximum accumulative junctional flowrate =  5.000000000000000E-001\r\n");
  const std::string_view pressure = "terminal node pressure definition error\tin branch";
  EXPECT_EQ(statement_bytes({}, {pressure, 7}),
            " terminal node pressure definition error\tin branch          7\r\n");
  EXPECT_EQ(statement_bytes({}, {std::string_view("Calculation processed successfully")}),
            " Calculation processed successfully\r\n");
  EXPECT_EQ(statement_bytes({}, {std::string_view("ab"), std::string_view("cd")}), " abcd\r\n");
}

TEST(WriterList, NumbersAfterNumbersGetOneMoreColumn) {
  EXPECT_EQ(statement_bytes({}, {1.0, 2.0}),
            "        1.000000000000000        2.000000000000000\r\n");
  EXPECT_EQ(statement_bytes({}, {1, 2}), "           1           2\r\n");
  EXPECT_EQ(statement_bytes({}, {1, 0.5}), "           1   5.000000000000000E-001\r\n");
  // A text between two numbers, even an empty one, clears the extra column.
  EXPECT_EQ(statement_bytes({}, {1, std::string_view(""), 2}), "           1          2\r\n");
}

TEST(WriterList, NoItemsIsOneBlank) {
  EXPECT_EQ(statement_bytes({}, {}), " \r\n");
  EXPECT_EQ(statement_bytes({}, {std::string_view("")}), " \r\n");
}

std::string repeated(char c, std::size_t count) {
  return std::string(count, c);
}

TEST(WriterList, NumberThatDoesNotFitStartsANewRecord) {
  // The leading blank and six integers use 72 columns; a seventh needs 12 of the 8 left.
  std::string expected = "           1";
  for (int i = 2; i <= 6; ++i) expected += "           " + std::to_string(i);
  expected += "\r\n           7\r\n";
  EXPECT_EQ(statement_bytes({}, {1, 2, 3, 4, 5, 6, 7}), expected);

  // After a text of 67 characters an integer needs 11 of 12 free columns and fits; after 68 it
  // needs 11 of 11 and does not.
  const std::string text67 = repeated('a', 67);
  const std::string text68 = repeated('a', 68);
  EXPECT_EQ(statement_bytes({}, {std::string_view(text67), 5}), " " + text67 + "          5\r\n");
  EXPECT_EQ(statement_bytes({}, {std::string_view(text68), 5}),
            " " + text68 + "\r\n          5\r\n");

  // Three reals use 75 columns; the fourth keeps its 25-column field in the new record.
  EXPECT_EQ(statement_bytes({}, {1.0, 2.0, 3.0, 4.0}),
            "        1.000000000000000        2.000000000000000        3.000000000000000\r\n"
            "        4.000000000000000\r\n");
}

TEST(WriterList, LongTextContinuesInRecordsThatStartWithABlank) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('a' + i % 26);
  std::string expected;
  for (const std::string& part : {text.substr(0, 79), text.substr(79, 79), text.substr(158)}) {
    expected += " " + part + "\r\n";
  }
  EXPECT_EQ(statement_bytes({}, {std::string_view(text)}), expected);

  const std::string text78 = repeated('x', 78);
  const std::string text79 = repeated('x', 79);
  EXPECT_EQ(statement_bytes({}, {std::string_view(text78)}), " " + text78 + "\r\n");
  EXPECT_EQ(statement_bytes({}, {std::string_view(text79)}), " " + text79 + "\r\n \r\n");

  // A second text fills what the first left free, then continues.
  const std::string first = repeated('a', 50);
  const std::string second = repeated('b', 40);
  EXPECT_EQ(statement_bytes({}, {std::string_view(first), std::string_view(second), 5}),
            " " + first + repeated('b', 29) + "\r\n " + repeated('b', 11) + "          5\r\n");
}

const std::string_view branch_header = "(1X,A,2X,A,4X,A,2X,A)";
const std::string_view branch_row = "(1X,I4,10X,A,1X,E10.3,4X,E10.3,5X,A,1X,I4)";
const std::string_view node_header = "(2X,A,5X,A)";
const std::string_view node_row = "(1X,I4,4X,E10.3)";

// The example results file: density 1000, gravity 9.81; PIPE1 with resistance 2.5 and head
// difference 4.0, PIPE2 with 0.8 and -0.05, VALVE with resistance 0.
TEST(WriterLayout, ResultsFileExample) {
  const std::string from = padded("Flow direction from node", 35);
  const std::string towards = padded("Flow direction towards node", 35);
  const std::string no_flow = padded("No flow", 35);
  const std::string bytes = file_bytes([&](OutputFile& unit) {
    Statement header = write_begin(unit, branch_header);
    write_items(header, {std::string_view("Branch No."), std::string_view("Branch Name"),
                         std::string_view("Flowrate"), std::string_view("Pressure Difference")});
    write_end(header);
    Statement row1 = write_begin(unit, branch_row);
    write_items(row1, {1, std::string_view("PIPE1     "), std::sqrt(4.0) / std::sqrt(2.5),
                       (4.0 * 1000.0) * 9.81, std::string_view(from), 1});
    write_end(row1);
    Statement row2 = write_begin(unit, branch_row);
    write_items(row2, {2, std::string_view("PIPE2     "), 0.25, (0.05 * 1000.0) * 9.81,
                       std::string_view(towards), 3});
    write_end(row2);
    Statement row3 = write_begin(unit, branch_row);
    write_items(row3, {3, std::string_view("VALVE     "), 0.0, 0.0, std::string_view(no_flow)});
    write_end(row3);
    Statement blank = write_begin(unit);
    write_end(blank);
    Statement nodes = write_begin(unit, node_header);
    write_items(nodes, {std::string_view("Node"), std::string_view("Pressure")});
    write_end(nodes);
    const double pressures[] = {2.5E5, -1234.5, 0.0};
    for (std::int32_t n = 1; n <= 3; ++n) {
      Statement row = write_begin(unit, node_row);
      write_items(row, {n, pressures[n - 1]});
      write_end(row);
    }
  });
  EXPECT_EQ(bytes,
            " Branch No.  Branch Name    Flowrate  Pressure Difference\r\n"
            "    1          PIPE1        .126E+01      .392E+05     Flow direction from node"
            "               1\r\n"
            "    2          PIPE2        .250E+00      .491E+03     Flow direction towards node"
            "            3\r\n"
            "    3          VALVE        .000E+00      .000E+00     No flow"
            "                            \r\n"
            " \r\n"
            "  Node     Pressure\r\n"
            "    1      .250E+06\r\n"
            "    2     -.123E+04\r\n"
            "    3      .000E+00\r\n");
}

TEST(WriterLayout, PositionsAndTheEndOfTheRecord) {
  // No blank of its own at the start; blanks from positioning only before a character.
  EXPECT_EQ(statement_bytes("(I4)", {12}), "  12\r\n");
  EXPECT_EQ(statement_bytes("(I4,5X)", {7}), "   7\r\n");
  EXPECT_EQ(statement_bytes("(X,I1,3X,2X,I1)", {1, 2}), " 1     2\r\n");
  EXPECT_EQ(statement_bytes("(2X,I4)", {}), "\r\n");
  // Blanks and case do not matter, and text after the closing parenthesis is not read.
  EXPECT_EQ(statement_bytes(" ( 1 x , i 4 , e1 0. 3 , a )", {1, 0.5, std::string_view("z")}),
            "    1  .500E+00z\r\n");
  EXPECT_EQ(statement_bytes("(1X,I4)(F9.9,Q", {7}), "    7\r\n");
  // Items left at the closing parenthesis start a new record with the layout from its start.
  EXPECT_EQ(statement_bytes("(1X,I4,2X)", {1, 2, 3}), "    1\r\n    2\r\n    3\r\n");
}

TEST(WriterFailures, MalformedLayoutStrings) {
  const char* malformed[] = {
      "I4",    "(I4",        "(I4,",    "(I4,)",    "(",         "(F10.3)",
      "(I)",   "(E10)",      "(E10.)",  "(E10.0)",  "(I0)",      "(0X)",
      "(2I4)", "(I4 E10.3)", "(I4;I4)", "(I99999)", "(E10.3.2)", "(A0)",
  };
  for (const char* layout : malformed) {
    SCOPED_TRACE(layout);
    EXPECT_EQ(failure_of(layout, {1}), 6610);
    EXPECT_FALSE(parse_layout(layout).fault.empty());
  }
}

TEST(WriterFailures, ItemOfAnotherKind) {
  EXPECT_EQ(failure_of("(I4)", {1.0}), 6611);
  EXPECT_EQ(failure_of("(I4)", {std::string_view("1")}), 6611);
  EXPECT_EQ(failure_of("(E10.3)", {1}), 6611);
  EXPECT_EQ(failure_of("(1X,A)", {1}), 6611);
  EXPECT_EQ(failure_of("(I4,E10.3)", {1, 2}), 6611);
  EXPECT_EQ(failure_of("()", {1}), 6612);
  EXPECT_EQ(failure_of("(3X)", {1}), 6612);
  EXPECT_EQ(failure_of("(I4,E10.3)", {1, 2.0}), 0);
}

TEST(WriterFailures, NothingIsWrittenBeforeTheEnd) {
  const std::string bytes = file_bytes([](OutputFile& unit) {
    try {
      Statement statement = write_begin(unit, "(I4,I4)");
      write_integer(statement, 1);
      write_real(statement, 2.0);
      write_end(statement);
    } catch (const RunEnd&) {
    }
  });
  EXPECT_EQ(bytes, "");
}

// Infinities and not-a-numbers are told apart by their bits, so writing them raises no
// floating-point exception, not even for a signalling not-a-number.
TEST(WriterFields, NoTrapWhileWritingAnyValue) {
  const std::string path =
      ::testing::TempDir() + "tessaro_writer_trap_test_" + std::to_string(::getpid()) + ".txt";
  EXPECT_EXIT(
      {
        enable_fp_traps();
        OutputFile unit(path);
        unit.open();
        for (const std::uint64_t bits :
             {0x7ff0000000000001ull, 0x7ff8000000000000ull, 0xfff0000000000000ull, 1ull,
              0x7fefffffffffffffull, 0x8000000000000000ull}) {
          Statement layout = write_begin(unit, "(E10.3)");
          write_real(layout, from_bits(bits));
          write_end(layout);
          Statement list = write_begin(unit);
          write_real(list, from_bits(bits));
          write_end(list);
        }
        unit.close();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace tessaro
