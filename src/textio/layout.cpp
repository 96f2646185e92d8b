#include "textio/layout.h"

namespace tessaro {

namespace {

constexpr int largest_number = 9999;

constexpr std::string_view no_opening = "the layout string does not begin with \"(\"";
constexpr std::string_view no_closing = "the layout string has no closing \")\"";
constexpr std::string_view unknown_descriptor = "unknown descriptor in the layout string";
constexpr std::string_view no_comma = "descriptors of the layout string not separated by a comma";
constexpr std::string_view no_width = "a descriptor of the layout string without its width";
constexpr std::string_view bad_number = "a width or count of the layout string not in 1 to 9999";
constexpr std::string_view no_decimals = "an E descriptor without \".\" and digits after the point";

// Reads the characters of a layout string with its blanks skipped.
class LayoutScanner {
 public:
  explicit LayoutScanner(std::string_view text) : text_(text) {}

  // The next character that is not a blank, in upper case; 0 at the end of the text.
  char peek() {
    while (next_ < text_.size() && text_[next_] == ' ') ++next_;
    if (next_ >= text_.size()) return 0;
    const char c = text_[next_];
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  void advance() {
    if (next_ < text_.size()) ++next_;
  }

  bool at_digit() {
    const char c = peek();
    return c >= '0' && c <= '9';
  }

  // Reads an unsigned decimal number; one above largest_number stops growing before it could
  // overflow and still reads as too large.
  int number() {
    int value = 0;
    while (at_digit()) {
      if (value <= largest_number) value = value * 10 + (peek() - '0');
      advance();
    }
    return value;
  }

 private:
  std::string_view text_;
  std::size_t next_ = 0;
};

// Reads a width, count or digit number that must be present; returns its fault or empty.
std::string_view read_number(LayoutScanner& scan, int& value) {
  if (!scan.at_digit()) return no_width;
  value = scan.number();
  if (value < 1 || value > largest_number) return bad_number;
  return {};
}

// Reads one descriptor; returns its fault or empty.
std::string_view read_descriptor(LayoutScanner& scan, Descriptor& descriptor) {
  int count = 1;
  const bool counted = scan.at_digit();
  if (counted) {
    count = scan.number();
    if (count < 1 || count > largest_number) return bad_number;
  }
  const char letter = scan.peek();
  if (letter == 0) return no_closing;
  scan.advance();
  if (letter == 'X') {
    descriptor = {Descriptor::Kind::position, count, 0};
    return {};
  }
  // Only X takes a number in front of it.
  if (counted) return unknown_descriptor;
  switch (letter) {
    case 'I':
      descriptor.kind = Descriptor::Kind::integer;
      return read_number(scan, descriptor.width);
    case 'A':
      descriptor.kind = Descriptor::Kind::text;
      descriptor.width = 0;
      return scan.at_digit() ? read_number(scan, descriptor.width) : std::string_view{};
    case 'E': {
      descriptor.kind = Descriptor::Kind::real;
      const std::string_view fault = read_number(scan, descriptor.width);
      if (!fault.empty()) return fault;
      if (scan.peek() != '.') return no_decimals;
      scan.advance();
      if (!scan.at_digit()) return no_decimals;
      return read_number(scan, descriptor.decimals);
    }
    default:
      return unknown_descriptor;
  }
}

}  // namespace

Layout parse_layout(std::string_view text) {
  Layout layout;
  LayoutScanner scan(text);
  if (scan.peek() != '(') {
    layout.fault = no_opening;
    return layout;
  }
  scan.advance();
  if (scan.peek() == ')') return layout;
  for (;;) {
    Descriptor descriptor;
    layout.fault = read_descriptor(scan, descriptor);
    if (!layout.fault.empty()) return layout;
    layout.descriptors.push_back(descriptor);
    if (descriptor.kind != Descriptor::Kind::position) ++layout.data_descriptors;
    const char separator = scan.peek();
    scan.advance();
    if (separator == ')') return layout;
    if (separator != ',') {
      layout.fault = separator == 0 ? no_closing : no_comma;
      return layout;
    }
  }
}

}  // namespace tessaro
