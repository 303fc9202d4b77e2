// Bounded text and path operations; see text.h for the result rule.
#include "support/text.h"

namespace {

template <typename Char>
int length_of(const Char* text) {
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// The bounded append shared by the wide and the 8-bit form.
template <typename Char>
int bounded_append(const Char* text, Char* buffer, int capacity) {
  if (capacity <= 0 || text == nullptr || buffer == nullptr) return kTextOk;
  const int used = length_of(buffer);
  const int room = capacity - 1 - used;
  if (room <= 0) return kTextNoRoom;
  const int n = length_of(text);
  if (n <= room) {
    for (int i = 0; i <= n; ++i) buffer[used + i] = text[i];
    return kTextOk;
  }
  for (int i = 0; i < room; ++i) buffer[used + i] = text[i];
  buffer[capacity - 1] = 0;
  return kTextTruncated;
}

}  // namespace

int wide_length(const WideChar* text) { return text ? length_of(text) : 0; }
int narrow_length(const char* text) { return text ? length_of(text) : 0; }
bool is_separator(WideChar c) { return c == '\\' || c == '/'; }

int append_text(const WideChar* text, WideChar* buffer, int capacity) {
  return bounded_append(text, buffer, capacity);
}

int append_narrow(const char* text, char* buffer, int capacity) {
  return bounded_append(text, buffer, capacity);
}

int copy_text(const WideChar* source, WideChar* buffer, int capacity) {
  if (capacity <= 0 || buffer == nullptr) return kTextOk;
  buffer[0] = 0;
  return append_text(source, buffer, capacity);
}

int add_separator(WideChar* buffer, int capacity) {
  if (buffer == nullptr) return kTextOk;
  const int n = length_of(buffer);
  if (n == 0 || is_separator(buffer[n - 1])) return kTextOk;
  static const WideChar backslash[] = {'\\', 0};
  return append_text(backslash, buffer, capacity);
}

int join_path(const WideChar* second, WideChar* buffer, int capacity) {
  if (second == nullptr || buffer == nullptr || second[0] == 0) return kTextOk;
  if (is_separator(second[0])) ++second;
  add_separator(buffer, capacity);
  return append_text(second, buffer, capacity);
}

int cut_at_last_separator(WideChar* buffer) {
  int last = 0;
  for (int i = 0; buffer[i] != 0; ++i) {
    if (is_separator(buffer[i])) last = i;
  }
  if (last == 2 && buffer[1] == ':') last = 3;  // a drive root keeps its separator
  buffer[last] = 0;
  return last;
}

int name_offset(const WideChar* text) {
  int offset = 0;
  for (int i = 0; text[i] != 0; ++i) {
    if (is_separator(text[i])) offset = i + 1;
  }
  return offset;
}

bool equals_ascii_nocase(const WideChar* text, int n, const char* word) {
  int i = 0;
  for (; i < n && word[i] != 0; ++i) {
    if (ascii_upper(text[i]) != ascii_upper(static_cast<unsigned char>(word[i]))) return false;
  }
  return i == n && word[i] == 0;
}
