// The platform-neutral half of the ANSI conversions.
#include "support/charset.h"

void append_ansi_as_wide(const char* text, WideChar* buffer, int capacity) {
  const int used = wide_length(buffer);
  if (used < capacity) ansi_to_wide(text, buffer + used, capacity - used);
}
