// ANSI code page conversions on Windows: MultiByteToWideChar and
// WideCharToMultiByte with CP_ACP.
#include <windows.h>

#include "support/charset.h"

void convert_ansi_to_wide(const char* text, WideChar* buffer, int room) {
  // A text that does not fit fails the call as a whole; convert what fits.
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, room);
  if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    int bytes = 0;
    while (text[bytes] != 0) ++bytes;
    n = MultiByteToWideChar(CP_ACP, 0, text, bytes < room ? bytes : room, buffer, room);
    if (n >= 0 && n <= room) buffer[n] = 0;
  }
}

void convert_wide_to_ansi(const WideChar* text, char* buffer, int room) {
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, room, nullptr, nullptr);
  if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    // Convert character by character until the room is used up.
    int used = 0;
    char one[8];
    for (int i = 0; text[i] != 0; ++i) {
      const int k = WideCharToMultiByte(CP_ACP, 0, text + i, 1, one, sizeof one, nullptr, nullptr);
      if (k <= 0 || used + k > room) break;
      for (int j = 0; j < k; ++j) buffer[used++] = one[j];
    }
    buffer[used] = 0;
  }
}

bool wide_fits_ansi(const WideChar* text) {
  BOOL used_default = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr,
                                    &used_default);
  return n > 0 && !used_default;
}
