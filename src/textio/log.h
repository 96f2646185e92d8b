// The log file of the run and its records: list-directed, one blank, the sentence, and for some
// sentences a number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "textio/files.h"

namespace tessaro {

// The log file, unit 3: open from the first action of the run to the last.
OutputFile& log_file();

void log_sentence(std::string_view sentence);
void log_sentence(std::string_view sentence, std::int32_t number);
void log_sentence(std::string_view sentence, double value);

// The sentence of the first record of this run's log, empty while there is none.
std::string_view first_log_sentence();
// The number of that record, when it has one.
std::optional<std::int32_t> first_log_number();
// That record as one line for a person: its sentence with blanks for tabs, then its number.
std::string first_log_line();

}  // namespace tessaro
