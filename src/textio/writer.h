// The fixed-layout writer: layout-directed and list-directed output statements, one record each.
#pragma once

#include <cstdint>
#include <string_view>

#include "textio/files.h"

namespace tessaro {

// One output statement, from write_begin to write_end. (Fields are the writer's own.)
struct Statement;

// Begins a statement on an open output file: layout-directed with a layout string such as
// "(1X,I4,4X,E10.3)", list-directed when the layout is empty.
Statement write_begin(OutputFile& unit, std::string_view layout = {});
void write_integer(Statement& statement, std::int32_t value);
void write_real(Statement& statement, double value);
void write_text(Statement& statement, std::string_view text);
// Places the items, ends the record with CR LF and writes it to the file.
void write_end(Statement& statement);

}  // namespace tessaro
