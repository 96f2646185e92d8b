#include "textio/writer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <deque>
#include <utility>

#include "textio/decimal.h"
#include "textio/layout.h"
#include "textio/run_end.h"

namespace tessaro {

namespace {

// A list-directed record holds its leading blank and 79 further columns.
constexpr int line_columns = 80;
// List-directed fields: integers in 11 columns, reals in 24 with 16 significant digits, in
// fixed form when the point lies after the 1st to 7th digit.
constexpr int list_integer_columns = 11;
constexpr int list_real_columns = 24;
constexpr int list_real_digits = 16;
constexpr int list_fixed_max_point = 7;
// Infinities and not-a-numbers in a list-directed real field are two columns short of it.
constexpr int list_nonfinite_length = list_real_columns - 2;

constexpr std::string_view item_kind_message = "a data descriptor given an item of another kind";
constexpr std::string_view no_data_message = "items given to a layout without data descriptors";

constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;
constexpr std::uint64_t exponent_bits = std::uint64_t{0x7ff} << 52;
constexpr std::uint64_t fraction_bits = (std::uint64_t{1} << 52) - 1;
constexpr std::uint64_t quiet_bit = std::uint64_t{1} << 51;
// The indefinite value: negative, only the top fraction bit set.
constexpr std::uint64_t indefinite_bits = sign_bit | exponent_bits | quiet_bit;

// Every layout string seen in this run by this thread, parsed once. Entries are never removed, so
// a statement may keep a pointer to its layout.
struct CachedLayout {
  std::string text;
  Layout layout;
};

const Layout& cached_layout(std::string_view text, const OutputFile& unit) {
  thread_local std::deque<CachedLayout> cache;
  for (const CachedLayout& entry : cache) {
    if (entry.text == text) return entry.layout;
  }
  Layout layout = parse_layout(text);
  if (!layout.fault.empty()) {
    fail_run('F', failure_bad_layout, tag_write, unit.name(), layout.fault);
  }
  cache.push_back({std::string(text), std::move(layout)});
  return cache.back().layout;
}

// The record buffer of the last statement ended on this thread, handed to the next one so that a
// run of statements does not allocate a buffer per record.
std::string& spare_records() {
  thread_local std::string spare;
  return spare;
}

// Whether a real item has digits, that is, is neither infinite nor a not-a-number. The bits are
// examined directly so that a signalling not-a-number never meets a floating-point comparison.
bool is_finite(double value) {
  return (std::bit_cast<std::uint64_t>(value) & exponent_bits) != exponent_bits;
}

std::string_view nonfinite_name(double value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  if ((bits & fraction_bits) == 0) return "1#INF";
  if (bits == indefinite_bits) return "1#IND";
  if ((bits & quiet_bit) != 0) return "1#QNAN";
  return "1#SNAN";
}

int written_count(const Statement& statement) {
  return static_cast<int>(statement.records.size() - statement.record_start);
}

void place_pending_blanks(Statement& statement) {
  statement.records.append(static_cast<std::size_t>(statement.pending_blanks), ' ');
  statement.pending_blanks = 0;
}

// Ends the record being built and begins the next one of the same statement. Pending blanks are
// dropped in a layout-directed record; in a list-directed one only the leading blank of an empty
// record can be pending, and it is written.
void end_record(Statement& statement) {
  if (statement.layout == nullptr) place_pending_blanks(statement);
  statement.pending_blanks = 0;
  statement.record_ends.push_back(statement.records.size());
  statement.record_start = statement.records.size();
}

// Begins a right-aligned field: the blanks before a text of `length` characters in `width`
// columns are placed with those already pending. A text longer than the field is replaced by
// `width` asterisks; the return is then false and the caller writes nothing more.
bool begin_right_aligned(Statement& statement, int width, int length) {
  if (length > width) {
    place_pending_blanks(statement);
    statement.records.append(static_cast<std::size_t>(width), '*');
    return false;
  }
  statement.pending_blanks += width - length;
  place_pending_blanks(statement);
  return true;
}

// "1#INF", "1#QNAN", "1#SNAN" or "1#IND", continued with points to `length` characters, in a
// field of `width` columns.
void place_nonfinite(Statement& statement, double value, int width, int length) {
  const std::string_view name = nonfinite_name(value);
  length = std::max(length, static_cast<int>(name.size()));
  if (!begin_right_aligned(statement, width, length)) return;
  statement.records += name;
  statement.records.append(static_cast<std::size_t>(length) - name.size(), '.');
}

// |value| in `places` decimal digits with leading zeros.
void append_padded(std::string& out, int value, int places) {
  char text[4];
  for (int i = places - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(text, static_cast<std::size_t>(places));
}

void append_sign(std::string& out, int exponent) {
  out += exponent < 0 ? '-' : '+';
}

// Ew.d: a minus sign for a negative value, ".", d digits, then "E", the sign and 2 digits of the
// point position; beyond 99 the "E" gives way to a third digit.
void place_e_field(Statement& statement, double value, const Descriptor& field) {
  if (!is_finite(value)) {
    place_nonfinite(statement, value, field.width, field.width);
    return;
  }
  const DecimalDigits rounded =
      round_digits(decimal_digits(value), std::min(field.decimals, max_field_digits));
  const int length = (rounded.negative ? 1 : 0) + 1 + field.decimals + 4;
  if (!begin_right_aligned(statement, field.width, length)) return;
  std::string& out = statement.records;
  if (rounded.negative) out += '-';
  out += '.';
  out.append(rounded.digits.data(), static_cast<std::size_t>(rounded.count));
  out.append(static_cast<std::size_t>(field.decimals - rounded.count), '0');
  const int exponent = rounded.point;
  if (std::abs(exponent) > 99) {
    append_sign(out, exponent);
    append_padded(out, std::abs(exponent), 3);
  } else {
    out += 'E';
    append_sign(out, exponent);
    append_padded(out, std::abs(exponent), 2);
  }
}

// A minus sign for a negative value, then the digits with no leading zeros.
struct IntegerText {
  char text[12];
  int length;
};

IntegerText integer_text(std::int32_t value) {
  IntegerText result;
  result.length =
      static_cast<int>(std::to_chars(result.text, result.text + 12, value).ptr - result.text);
  return result;
}

void place_i_field(Statement& statement, std::int32_t value, const Descriptor& field) {
  const IntegerText integer = integer_text(value);
  if (!begin_right_aligned(statement, field.width, integer.length)) return;
  statement.records.append(integer.text, static_cast<std::size_t>(integer.length));
}

// A writes the whole item; Aw its first w characters, or w - L blanks and the item of length L.
void place_a_field(Statement& statement, std::string_view text, const Descriptor& field) {
  place_pending_blanks(statement);
  const auto width = static_cast<std::size_t>(field.width);
  if (field.width == 0) {
    statement.records += text;
  } else if (text.size() >= width) {
    statement.records += text.substr(0, width);
  } else {
    statement.records.append(width - text.size(), ' ');
    statement.records += text;
  }
}

// The next data descriptor of a layout-directed statement, after adding the positions before it
// to the pending blanks. Reaching the closing parenthesis with an item still to place ends the
// record and uses the layout again from its start.
const Descriptor& next_data_descriptor(Statement& statement) {
  const Layout& layout = *statement.layout;
  if (layout.data_descriptors == 0) {
    fail_run('F', failure_no_data_field, tag_write, statement.unit->name(), no_data_message);
  }
  for (;;) {
    if (statement.next_descriptor == layout.descriptors.size()) {
      end_record(statement);
      statement.next_descriptor = 0;
    }
    const Descriptor& descriptor = layout.descriptors[statement.next_descriptor++];
    if (descriptor.kind != Descriptor::Kind::position) return descriptor;
    statement.pending_blanks += descriptor.width;
  }
}

const Descriptor& data_descriptor_for(Statement& statement, Descriptor::Kind item) {
  const Descriptor& descriptor = next_data_descriptor(statement);
  if (descriptor.kind != item) {
    fail_run('F', failure_item_kind, tag_write, statement.unit->name(), item_kind_message);
  }
  return descriptor;
}

int free_columns(const Statement& statement) {
  return line_columns - written_count(statement) - statement.pending_blanks;
}

// Begins a list-directed number field of `columns` columns (one more after another number) for
// a text of `length` characters. A field that does not fit in the columns still free ends the
// record, and the number starts the next one, right-aligned in its field.
void begin_list_number(Statement& statement, int columns, int length) {
  if (statement.after_number) ++columns;
  columns = std::max(columns, length);
  if (columns >= free_columns(statement)) end_record(statement);
  begin_right_aligned(statement, columns, length);
  statement.after_number = true;
}

void list_integer(Statement& statement, std::int32_t value) {
  const IntegerText integer = integer_text(value);
  begin_list_number(statement, list_integer_columns, integer.length);
  statement.records.append(integer.text, static_cast<std::size_t>(integer.length));
}

// A list-directed real in 16 significant digits: in fixed form, the digits before the point and
// 15 after it, when the 17-digit string has its point after the 1st to 7th digit; otherwise one
// digit, the point, 15 digits and a 3-digit exponent. Zero is 0.000000000000000E+000.
void list_real(Statement& statement, double value) {
  if (!is_finite(value)) {
    begin_list_number(statement, list_real_columns, list_nonfinite_length);
    place_nonfinite(statement, value, list_nonfinite_length, list_nonfinite_length);
    return;
  }
  const DecimalDigits exact = decimal_digits(value);
  const bool zero = exact.digits[0] == '0';
  const bool fixed = !zero && exact.point >= 1 && exact.point <= list_fixed_max_point;
  const DecimalDigits rounded = round_digits(exact, list_real_digits);
  const int before_point = fixed ? rounded.point : 1;
  constexpr int after_point = list_real_digits - 1;
  const int length = (rounded.negative ? 1 : 0) + before_point + 1 + after_point + (fixed ? 0 : 5);
  begin_list_number(statement, list_real_columns, length);

  std::string& out = statement.records;
  if (rounded.negative) out += '-';
  const std::string_view digits(rounded.digits.data(), list_real_digits);
  out += digits.substr(0, static_cast<std::size_t>(before_point));
  out += '.';
  const std::string_view rest = digits.substr(static_cast<std::size_t>(before_point));
  out += rest;
  out.append(after_point - rest.size(), '0');
  if (!fixed) {
    const int exponent = zero ? 0 : rounded.point - 1;
    out += 'E';
    append_sign(out, exponent);
    append_padded(out, std::abs(exponent), 3);
  }
}

// A list-directed text is placed unchanged. Only the record's leading blank stays pending before
// it. A text longer than the columns still free fills them, and continues in new records that
// start with one blank.
void list_text(Statement& statement, std::string_view text) {
  if (statement.pending_blanks != 1) statement.pending_blanks = 0;
  while (static_cast<int>(text.size()) >= free_columns(statement)) {
    const auto fitting = static_cast<std::size_t>(free_columns(statement));
    place_pending_blanks(statement);
    statement.records += text.substr(0, fitting);
    text.remove_prefix(fitting);
    end_record(statement);
    statement.records += ' ';
  }
  place_pending_blanks(statement);
  statement.records += text;
  statement.after_number = false;
}

}  // namespace

Statement write_begin(OutputFile& unit, std::string_view layout) {
  Statement statement;
  statement.unit = &unit;
  statement.records.swap(spare_records());
  statement.records.clear();
  if (layout.empty()) {
    statement.pending_blanks = 1;
  } else {
    statement.layout = &cached_layout(layout, unit);
  }
  return statement;
}

void write_integer(Statement& statement, std::int32_t value) {
  if (statement.layout == nullptr) {
    list_integer(statement, value);
    return;
  }
  place_i_field(statement, value, data_descriptor_for(statement, Descriptor::Kind::integer));
}

void write_real(Statement& statement, double value) {
  if (statement.layout == nullptr) {
    list_real(statement, value);
    return;
  }
  place_e_field(statement, value, data_descriptor_for(statement, Descriptor::Kind::real));
}

void write_text(Statement& statement, std::string_view text) {
  if (statement.layout == nullptr) {
    list_text(statement, text);
    return;
  }
  place_a_field(statement, text, data_descriptor_for(statement, Descriptor::Kind::text));
}

void write_end(Statement& statement) {
  if (statement.layout == nullptr) place_pending_blanks(statement);
  const std::string_view records = statement.records;
  std::size_t start = 0;
  for (const std::size_t end : statement.record_ends) {
    statement.unit->write_record(records.substr(start, end - start));
    start = end;
  }
  statement.unit->write_record(records.substr(start));
  statement.records.clear();
  statement.records.swap(spare_records());
}

}  // namespace tessaro
