// The fixed-layout writer: layout-directed and list-directed output statements, one record each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "textio/files.h"

namespace tessaro {

struct Layout;

// Run-time failures of the writer (class F, tag ": WRITE(", the file's name).
inline constexpr int failure_bad_layout = 6610;  // the layout string is malformed
inline constexpr int failure_item_kind = 6611;   // a data descriptor given an item of another kind
inline constexpr int failure_no_data_field =
    6612;  // items given to a layout without data descriptors

// One output statement, from write_begin to write_end. Items are placed in the record as they
// are added; nothing reaches the file before write_end.
struct Statement {
  OutputFile* unit = nullptr;
  const Layout* layout = nullptr;        // null for a list-directed statement
  std::size_t next_descriptor = 0;       // the descriptor the next item's search starts from
  int pending_blanks = 0;                // blanks owed before the next character placed
  bool after_number = false;             // list-directed: the last item placed was a number
  std::string records;                   // the finished records, then the one being built
  std::size_t record_start = 0;          // where the record being built starts in `records`
  std::vector<std::size_t> record_ends;  // ends of the finished records
};

// Begins a statement on an open output file: layout-directed with a layout string such as
// "(1X,I4,4X,E10.3)", list-directed when the layout is empty.
Statement write_begin(OutputFile& unit, std::string_view layout = {});
void write_integer(Statement& statement, std::int32_t value);
void write_real(Statement& statement, double value);
void write_text(Statement& statement, std::string_view text);
// Ends the record and writes the statement's records, each followed by CR LF, to the file.
void write_end(Statement& statement);

}  // namespace tessaro
