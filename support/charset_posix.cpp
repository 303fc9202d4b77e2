// ANSI code page conversions off Windows: the code page is taken to be
// Windows-1252. Bytes 0x80..0x9F map through a table; the five bytes that
// code page leaves undefined map to the C1 controls of the same value, as
// Windows itself does, so every byte converts and converts back.
#include "support/charset.h"

namespace {

const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

char16_t to_wide(uint8_t b) {
  if (b >= 0x80 && b < 0xA0) return kHighControls[b - 0x80];
  return b;
}

// The byte for c, or -1 when code page 1252 has none.
int to_ansi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == c) return 0x80 + i;
  }
  return -1;
}

}  // namespace

void convert_ansi_to_wide(const char* text, WideChar* buffer, int room) {
  int i = 0;
  for (; i < room && text[i] != 0; ++i) buffer[i] = to_wide(static_cast<uint8_t>(text[i]));
  buffer[i] = 0;
}

void convert_wide_to_ansi(const WideChar* text, char* buffer, int room) {
  int i = 0;
  for (; i < room && text[i] != 0; ++i) {
    const int b = to_ansi(text[i]);
    buffer[i] = static_cast<char>(b < 0 ? '?' : b);  // the system's default character
  }
  buffer[i] = 0;
}

bool wide_fits_ansi(const WideChar* text) {
  for (int i = 0; text[i] != 0; ++i) {
    if (to_ansi(text[i]) < 0) return false;
  }
  return true;
}
