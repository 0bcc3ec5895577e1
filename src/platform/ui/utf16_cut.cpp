// Walks UTF-8 sequences so that a cut never splits a character.
#include "platform/ui/utf16_cut.h"

namespace ui {

namespace {

struct Sequence {
  size_t bytes;
  size_t units;
};

// Length of the sequence at `i`; malformed bytes are taken one at a time.
Sequence SequenceAt(std::string_view s, size_t i) {
  auto b = static_cast<unsigned char>(s[i]);
  size_t need = 0;
  size_t units = 1;
  if (b < 0x80) return {1, 1};
  if ((b & 0xE0) == 0xC0) {
    need = 1;
  } else if ((b & 0xF0) == 0xE0) {
    need = 2;
  } else if ((b & 0xF8) == 0xF0) {
    need = 3;
    units = 2;  // outside the basic plane: a surrogate pair
  } else {
    return {1, 1};
  }
  if (i + need >= s.size()) return {1, 1};  // cut short at the end
  for (size_t k = 1; k <= need; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return {1, 1};
  return {need + 1, units};
}

}  // namespace

size_t Utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (size_t i = 0; i < utf8.size();) {
    Sequence q = SequenceAt(utf8, i);
    units += q.units;
    i += q.bytes;
  }
  return units;
}

std::string CutToUtf16Units(std::string_view utf8, size_t maxUnits) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    Sequence q = SequenceAt(utf8, i);
    if (units + q.units > maxUnits) break;
    units += q.units;
    i += q.bytes;
  }
  return std::string(utf8.substr(0, i));
}

}  // namespace ui
