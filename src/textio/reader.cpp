#include "textio/reader.h"

#include <cstddef>
#include <string_view>

#include "textio/convert.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

constexpr int carriage_return = '\r';
constexpr int line_feed = '\n';

std::string_view failure_message(int number) {
  switch (number) {
    case failure_integer_too_large:
      return "integer value too large for 32 bits";
    case failure_integer_character:
      return "invalid character in integer value";
    case failure_real_overflow:
      return "real value beyond the double range";
    case failure_real_text:
      return "invalid real value";
    case failure_single_range:
      return "real value beyond the single range";
    case failure_value_too_long:
      return "value longer than 260 characters";
    case failure_second_base_mark:
      return "second # in based integer";
    case failure_base_range:
      return "base of based integer not in 2 to 36";
    case failure_end_of_file:
      return "end of file reached";
    case failure_repeat_count:
      return "repeat count is zero or negative";
    case failure_second_repeat:
      return "second repeat count for one value";
    case failure_value_kind:
      return "value kind does not fit the target";
    default:
      return "invalid value";
  }
}

[[noreturn]] void fail_read(const ReadRequest& request, int number) {
  fail_run('F', number, tag_read, request.file->name(), failure_message(number));
}

// The next character of the file; running out of characters ends the run.
int next_char(const ReadRequest& request) {
  const int c = request.file->get();
  if (c == InputFile::end_of_file) fail_read(request, failure_end_of_file);
  return c;
}

// Moves to the start of the next line after a line end character: a CR ends the line's data,
// and the line itself ends with the next LF.
void finish_line(const ReadRequest& request, int c) {
  while (c != line_feed && c != InputFile::end_of_file) c = request.file->get();
  if (c == line_feed) request.file->note_line_end();
}

std::string_view value_text(const ReadRequest& request) {
  return {request.text, static_cast<std::size_t>(request.length)};
}

// The value starts at the character read last: its line and column are noted.
void mark_value_start(ReadRequest& request) {
  request.value_line = request.file->line();
  request.value_column = request.file->column();
}

// Adds a character to a plain or parenthesised value, which must fit the value buffer.
void append(ReadRequest& request, int c, bool counted) {
  if (request.length == 0 && !counted && request.kind == ValueKind::plain) {
    mark_value_start(request);
  }
  if (request.length == ReadRequest::max_value_length) fail_read(request, failure_value_too_long);
  request.text[request.length++] = static_cast<char>(c);
}

// The text scanned so far, ended by "*", is a repeat count for the value that follows.
void start_repeat(ReadRequest& request, bool& counted) {
  if (counted) fail_read(request, failure_second_repeat);
  if (request.length == 0) fail_read(request, failure_repeat_count);
  const Converted<std::int32_t> count = convert_int32(value_text(request));
  if (count.failure != 0) fail_read(request, count.failure);
  if (count.value <= 0) fail_read(request, failure_repeat_count);
  request.repeat_remaining = count.value - 1;
  request.length = 0;
  counted = true;
}

// The character after a closing delimiter ends the value and is its separator: a comma or a
// slash keeps its meaning, a line end moves to the next line, anything else counts as a blank.
void end_quoted(ReadRequest& request, int c) {
  if (c == ',' || c == '/') {
    request.last_separator = static_cast<char>(c);
    return;
  }
  request.last_separator = ' ';
  if (c == carriage_return || c == line_feed) {
    finish_line(request, c);
    request.line_advanced = true;
  }
}

// A quoted text after its opening delimiter. A doubled delimiter stands for one; a line end
// continues the text on the next line, whose first character is dropped. Characters beyond the
// value buffer are read and dropped.
void scan_quoted(ReadRequest& request, int delimiter) {
  request.kind = ValueKind::quoted;
  for (;;) {
    int c = next_char(request);
    if (c == carriage_return || c == line_feed) {
      finish_line(request, c);
      if (next_char(request) == line_feed) request.file->note_line_end();
      continue;
    }
    if (c == delimiter) {
      c = next_char(request);
      if (c != delimiter) {
        end_quoted(request, c);
        return;
      }
    }
    if (request.length < ReadRequest::max_value_length) {
      request.text[request.length++] = static_cast<char>(c);
    }
  }
}

// Scans one value into the request's value text and kind, up to and including its separator.
// An empty plain value is a null value.
void scan_value(ReadRequest& request) {
  request.length = 0;
  request.kind = ValueKind::plain;
  request.line_advanced = false;
  bool counted = false;  // a repeat count has been read for this value
  for (;;) {
    const int c = next_char(request);
    const bool nothing_yet = request.length == 0 && !counted;
    const bool parenthesised = request.kind == ValueKind::parenthesised;
    switch (c) {
      case carriage_return:
      case line_feed:
        finish_line(request, c);
        if (nothing_yet || parenthesised) continue;
        request.line_advanced = true;
        request.last_separator = ' ';
        return;
      case ' ':
      case '\t':
        if (nothing_yet || parenthesised) continue;
        request.last_separator = ' ';
        return;
      case ',':
        if (parenthesised) break;
        // A comma after a blank separator is part of that same separator.
        if (nothing_yet && request.last_separator == ' ') {
          request.last_separator = ',';
          continue;
        }
        if (nothing_yet) mark_value_start(request);
        request.last_separator = ',';
        return;
      case '/':
        if (nothing_yet) mark_value_start(request);
        request.last_separator = '/';
        return;
      case '(':
        if (request.length == 0) {
          if (!counted) mark_value_start(request);
          request.kind = ValueKind::parenthesised;
          continue;
        }
        break;
      case ')':
        if (!parenthesised) break;
        request.last_separator = ' ';
        return;
      case '\'':
      case '"':
        // Also inside parentheses: what counts is that no character of the value came yet.
        if (request.length != 0) break;
        if (!counted) mark_value_start(request);
        scan_quoted(request, c);
        return;
      case '*':
        start_repeat(request, counted);
        continue;
      default:
        break;
    }
    append(request, c, counted);
    // Once a plain value has a character, only these end it or need more than appending; the
    // ordinary characters after it are taken from the file's block at once.
    if (request.kind == ValueKind::plain) {
      auto ends_plain_value = [](char next) {
        return next == carriage_return || next == line_feed || next == ' ' || next == '\t' ||
               next == ',' || next == '/' || next == '*';
      };
      request.length += request.file->take_until(request.text + request.length,
                                                 ReadRequest::max_value_length - request.length,
                                                 ends_plain_value);
    }
  }
}

// Makes the next value of the request current. Returns false when the target is to stay
// unchanged: after a slash, or for a null value.
bool next_value(ReadRequest& request) {
  if (request.repeat_remaining > 0) {
    --request.repeat_remaining;
  } else {
    if (request.last_separator == '/') return false;
    scan_value(request);
  }
  return request.kind != ValueKind::plain || request.length != 0;
}

template <class T>
void store_number(ReadRequest& request, T& target, Converted<T> (*convert)(std::string_view)) {
  if (!next_value(request)) return;
  if (request.kind != ValueKind::plain) fail_read(request, failure_value_kind);
  const Converted<T> converted = convert(value_text(request));
  if (converted.failure != 0) fail_read(request, converted.failure);
  target = converted.value;
}

}  // namespace

ReadRequest read_begin(InputFile& file) {
  ReadRequest request;
  request.file = &file;
  return request;
}

void read_real32(ReadRequest& request, float& target) {
  store_number(request, target, convert_real32);
}

void read_real64(ReadRequest& request, double& target) {
  store_number(request, target, convert_real64);
}

void read_int32(ReadRequest& request, std::int32_t& target) {
  store_number(request, target, convert_int32);
}

void read_text(ReadRequest& request, char* target, int width) {
  if (!next_value(request)) return;
  for (int k = 0; k < width; ++k) target[k] = k < request.length ? request.text[k] : ' ';
}

void read_end(ReadRequest& request) {
  if (request.line_advanced) return;
  request.file->skip_line();
}

}  // namespace tessaro
