// Bounded text and path operations on zero-terminated buffers of a fixed
// capacity (the capacity counts the terminator). Pure logic, no platform calls,
// no allocation. Both '\' and '/' count as separators; '\' is the one written.
#pragma once

#include <cstddef>
#include <cstdint>

// UTF-16 text: wchar_t where the platform's wide type is 16 bits (Windows),
// char16_t elsewhere. VX_WIDE("x") spells a literal of that type.
#ifdef _WIN32
using WideChar = wchar_t;
#define VX_WIDE(s) L##s
#else
using WideChar = char16_t;
#define VX_WIDE(s) u##s
#endif
static_assert(sizeof(WideChar) == 2, "wide text is UTF-16");

// Result codes of the bounded append and the operations built on it.
enum TextResult : int {
  kTextOk = 0,          // all appended (also: capacity <= 0 or a missing pointer)
  kTextTruncated = 111, // ERROR_BUFFER_OVERFLOW: cut, buffer full and terminated
  kTextNoRoom = 123,    // ERROR_INVALID_NAME: buffer already full, unchanged
};

int wide_length(const WideChar* text);
int narrow_length(const char* text);
bool is_separator(WideChar c);

// Appends text to buffer by the 0/111/123 rule.
int append_text(const WideChar* text, WideChar* buffer, int capacity);
int append_narrow(const char* text, char* buffer, int capacity);
// Empties buffer (capacity > 0), then append_text. Missing source: empty buffer.
int copy_text(const WideChar* source, WideChar* buffer, int capacity);
// Appends '\' unless the buffer is empty or already ends in a separator.
// Returns the append's result, 0 when nothing was appended.
int add_separator(WideChar* buffer, int capacity);
// Joins second onto buffer with one separator; 0 when second is empty/missing.
int join_path(const WideChar* second, WideChar* buffer, int capacity);
// Terminates buffer at its last separator (keeping a drive root's "X:\") and
// returns that index; 0 when there is no separator.
int cut_at_last_separator(WideChar* buffer);
// Index just behind the last separator, 0 when there is none.
int name_offset(const WideChar* text);

// The ASCII letters a-z as A-Z; every other value (bytes of 0x80 and above
// included, read unsigned) unchanged. Names the installer compares ignore
// the case of ASCII letters only, as the package's naming rules do.
constexpr unsigned ascii_upper(unsigned c) { return c - 'a' <= 'z' - 'a' ? c - ('a' - 'A') : c; }
// True when the n characters of text are exactly the ASCII word, ASCII case ignored.
bool equals_ascii_nocase(const WideChar* text, int n, const char* word);
