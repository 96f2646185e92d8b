#include "textio/log.h"

#include "textio/writer.h"

namespace tessaro {

OutputFile& log_file() {
  static OutputFile file(log_file_name);
  return file;
}

namespace {

std::string_view first_sentence;
std::optional<std::int32_t> first_number;

void remember(std::string_view sentence) {
  if (first_sentence.empty()) first_sentence = sentence;
}

void remember(std::string_view sentence, std::int32_t number) {
  if (first_sentence.empty()) first_number = number;
  remember(sentence);
}

}  // namespace

std::string_view first_log_sentence() {
  return first_sentence;
}

std::optional<std::int32_t> first_log_number() {
  return first_number;
}

std::string first_log_line() {
  std::string line;
  for (const char c : first_sentence) line += c == '\t' ? ' ' : c;
  if (first_number) line += " " + std::to_string(*first_number);
  return line;
}

void log_sentence(std::string_view sentence) {
  remember(sentence);
  Statement record = write_begin(log_file());
  write_text(record, sentence);
  write_end(record);
  // The log keeps its lines whatever ends the run next.
  log_file().flush();
}

void log_sentence(std::string_view sentence, std::int32_t number) {
  remember(sentence, number);
  Statement record = write_begin(log_file());
  write_text(record, sentence);
  write_integer(record, number);
  write_end(record);
  log_file().flush();
}

void log_sentence(std::string_view sentence, double value) {
  remember(sentence);
  Statement record = write_begin(log_file());
  write_text(record, sentence);
  write_real(record, value);
  write_end(record);
  log_file().flush();
}

}  // namespace tessaro
