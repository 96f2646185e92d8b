#include "report/rows_in_turns.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tessaro {
namespace {

// Rows written in turns reach the file as when one thread writes them all: for row counts on
// either side of the split and of the chunks' ends, and for a row that fails in either thread's
// chunk, which leaves exactly the rows before it.
class RowsInTurns : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rows_in_turns_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    path_ = std::string(pattern) + "/rows.txt";
  }
  void TearDown() override {
    std::filesystem::remove_all(std::filesystem::path(path_).parent_path());
  }

  // Writes a header record and the rows 1..n, the row `failing` throwing before it is written;
  // returns whether the call threw, and the file's bytes in `bytes`.
  bool write(std::int64_t n, std::int64_t failing, std::string& bytes) {
    OutputFile unit(path_);
    unit.open();
    unit.write_record("header");
    auto rows = [failing](OutputFile& out, std::int64_t first, std::int64_t last) {
      for (std::int64_t r = first; r <= last; ++r) {
        if (r == failing) throw std::runtime_error("row " + std::to_string(r));
        out.write_record("row " + std::to_string(r));
      }
    };
    bool threw = false;
    try {
      write_rows_in_turns(unit, n, rows, false);
    } catch (const std::runtime_error& error) {
      threw = true;
      EXPECT_EQ(error.what(), "row " + std::to_string(failing));
    }
    unit.close();
    std::ifstream in(path_, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return threw;
  }

  static std::string rows_before(std::int64_t end) {
    std::string bytes = "header\r\n";
    for (std::int64_t r = 1; r < end; ++r) bytes += "row " + std::to_string(r) + "\r\n";
    return bytes;
  }

 private:
  std::string path_;
};

TEST_F(RowsInTurns, SameRecordsAsOneThread) {
  for (const std::int64_t n : {1, 4096, 49999, 50000, 50001, 4096 * 13 + 5, 200000}) {
    std::string bytes;
    EXPECT_FALSE(write(n, 0, bytes)) << n;
    EXPECT_TRUE(bytes == rows_before(n + 1)) << n << " rows";
  }
}

TEST_F(RowsInTurns, FailureLeavesTheRowsBeforeIt) {
  // Rows 1-4096 are the first chunk (the calling thread's), 4097-8192 the second (the helper's).
  for (const std::int64_t failing : {1, 4096, 4097, 9000, 12289, 60000, 100000}) {
    std::string bytes;
    EXPECT_TRUE(write(100000, failing, bytes)) << failing;
    EXPECT_TRUE(bytes == rows_before(failing)) << "failing at row " << failing;
  }
}

}  // namespace
}  // namespace tessaro
