// Reading the uninstaller's list of installed files.
#include "setup/uninstall_list.h"

bool next_listed_file(const char** cursor, char* name, int capacity) {
  const char* line = *cursor;
  while (*line != 0) {
    const char* end = line;
    while (*end != 0 && *end != '\r' && *end != '\n') ++end;
    const char* next = end;
    while (*next == '\r' || *next == '\n') ++next;
    if (end - line >= 5 && line[0] == 'F' && line[1] == 'i' && line[2] == 'l' && line[3] == 'e' && line[4] == '=') {
      const long n = static_cast<long>(end - line - 5);
      name[0] = 0;
      if (n < capacity) {
        for (long i = 0; i < n; ++i) name[i] = line[5 + i];
        name[n] = 0;
      }
      *cursor = next;
      return true;
    }
    line = next;
  }
  *cursor = line;
  return false;
}
