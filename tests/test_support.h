// Helpers shared by the tests: a private temporary folder per test, whole-file
// reads and writes, and UTF-16 strings for the library's wide buffers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/text.h"

namespace vxtest {

using Bytes = std::vector<uint8_t>;
using WideString = std::basic_string<WideChar>;

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_file(const std::filesystem::path& path);
Bytes bytes_of(const std::string& text);

// UTF-8 text or a path as UTF-16, and back.
WideString wide(const std::string& utf8);
WideString wide(const std::filesystem::path& path);
std::string narrow(const WideChar* text);

// Deterministic pseudo-random bytes (xorshift), for incompressible data.
Bytes random_bytes(std::size_t n, uint32_t seed);
// Text-like bytes with plenty of repeats, for compressible data.
Bytes text_like_bytes(std::size_t n, uint32_t seed);

}  // namespace vxtest
