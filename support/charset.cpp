// The platform-neutral half of the ANSI conversions: argument checks and
// termination around the platform's conversion.
#include "support/charset.h"

int ansi_to_wide(const char* text, WideChar* buffer, int capacity) {
  if (capacity <= 0 || buffer == nullptr) return 0;
  buffer[0] = 0;
  if (text != nullptr && capacity > 1) convert_ansi_to_wide(text, buffer, capacity - 1);
  buffer[capacity - 1] = 0;
  return 0;
}

void wide_to_ansi(const WideChar* text, char* buffer, int capacity) {
  if (capacity <= 0 || buffer == nullptr) return;
  buffer[0] = 0;
  if (text != nullptr && capacity > 1) convert_wide_to_ansi(text, buffer, capacity - 1);
  buffer[capacity - 1] = 0;
}

void append_ansi_as_wide(const char* text, WideChar* buffer, int capacity) {
  const int used = wide_length(buffer);
  if (used < capacity) ansi_to_wide(text, buffer + used, capacity - used);
}
