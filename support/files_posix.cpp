// The file and folder layer on POSIX systems. Paths arrive as UTF-16 with '\'
// or '/' between folders and are handed to the system as UTF-8 with '/'.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "support/files.h"

namespace {

// UTF-16 path to a native UTF-8 path; both separators become '/'.
std::string native_path(const WideChar* path) {
  std::string out;
  for (int i = 0; path[i] != 0; ++i) {
    uint32_t c = path[i];
    if (c >= 0xD800 && c < 0xDC00 && path[i + 1] >= 0xDC00 && path[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
      ++i;
    }
    if (c == '\\') c = '/';
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 back to UTF-16 into a buffer of the given capacity.
void to_wide_path(const std::string& in, WideChar* out, int capacity) {
  int n = 0;
  for (size_t i = 0; i < in.size() && n < capacity - 1;) {
    uint32_t c = static_cast<uint8_t>(in[i]);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) c &= 0x3F >> extra;
    ++i;
    for (int k = 0; k < extra && i < in.size(); ++k, ++i) c = (c << 6) | (in[i] & 0x3F);
    if (c >= 0x10000) {
      if (n + 2 > capacity - 1) break;
      c -= 0x10000;
      out[n++] = static_cast<WideChar>(0xD800 + (c >> 10));
      out[n++] = static_cast<WideChar>(0xDC00 + (c & 0x3FF));
    } else {
      out[n++] = static_cast<WideChar>(c);
    }
  }
  out[n] = 0;
}

}  // namespace

int path_missing(const WideChar* path) {
  struct stat st;
  return stat(native_path(path).c_str(), &st) == 0 ? 0 : -1;
}

void full_path(WideChar* path) {
  std::string p = native_path(path);
  if (p.empty()) return;
  if (p[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return;
    p = std::string(cwd) + "/" + p;
  }
  if (p.size() > 259) return;  // does not fit the 260-character buffer
  to_wide_path(p, path, 260);
}

int create_folder_tree(const WideChar* path) {
  if (mkdir(native_path(path).c_str(), 0777) == 0) return 0;
  if (errno != ENOENT) return 2;
  WideChar parent[260];
  copy_text(path, parent, 260);
  cut_at_last_separator(parent);
  if (wide_length(parent) < 4) return 2;
  const int result = create_folder_tree(parent);
  if (result != 0) return result;
  return mkdir(native_path(path).c_str(), 0777) == 0 ? 0 : 3;
}

std::FILE* open_archive_file(const WideChar* path, int /*share: no share modes here*/) {
  return std::fopen(native_path(path).c_str(), "rb");
}

std::FILE* create_output_file(const WideChar* path) {
  std::FILE* stream = std::fopen(native_path(path).c_str(), "w+b");
  if (stream != nullptr) std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

void close_stream(std::FILE* stream) {
  if (stream != nullptr) std::fclose(stream);
}

int delete_file(const WideChar* path) { return unlink(native_path(path).c_str()) == 0 ? 0 : -1; }

void apply_entry_time_and_attributes(std::FILE* file, uint32_t dos_time, uint32_t attributes) {
  std::fflush(file);  // nothing may be written after the time is set
  const int descriptor = fileno(file);
  std::tm t{};
  t.tm_year = static_cast<int>((dos_time >> 25) & 0x7F) + 80;
  t.tm_mon = static_cast<int>((dos_time >> 21) & 0x0F) - 1;
  t.tm_mday = static_cast<int>((dos_time >> 16) & 0x1F);
  t.tm_hour = static_cast<int>((dos_time >> 11) & 0x1F);
  t.tm_min = static_cast<int>((dos_time >> 5) & 0x3F);
  t.tm_sec = static_cast<int>(dos_time & 0x1F) * 2;
  t.tm_isdst = -1;  // the MS-DOS time is local wall time
  const std::time_t when = std::mktime(&t);
  if (when != static_cast<std::time_t>(-1)) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // last access unchanged
    times[1].tv_sec = when;
    times[1].tv_nsec = 0;
    futimens(descriptor, times);
  }
  if (attributes & 0x01) {  // read-only: no write bits
    struct stat st;
    if (fstat(descriptor, &st) == 0) fchmod(descriptor, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
  }
}
