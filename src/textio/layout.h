// Layout strings such as "(1X,I4,4X,E10.3)", turned into the list of descriptors that places
// the items of a layout-directed record.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tessaro {

struct Descriptor {
  enum class Kind : std::uint8_t {
    position,  // nX: n more blanks before the next character placed
    integer,   // Iw
    text,      // A or Aw
    real,      // Ew.d
  };
  Kind kind = Kind::position;
  int width = 0;     // columns, or n of nX; 0 for A, which writes the item with its own length
  int decimals = 0;  // Ew.d: d, the digits after the point
};

struct Layout {
  std::vector<Descriptor> descriptors;
  int data_descriptors = 0;  // descriptors that take an item
  std::string_view fault;    // why the string is no layout; empty when it is one
};

// Reads a layout string from its first character, which must be "(", up to the ")" that closes
// it; text after that ")" is ignored. Blanks are ignored and letters may be of either case. The
// descriptors are nX (X alone is 1X), Iw, A, Aw and Ew.d, separated by commas; widths, counts and
// d are 1 to 9999. Anything else gives a layout with a fault.
Layout parse_layout(std::string_view text);

}  // namespace tessaro
