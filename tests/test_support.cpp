// Helpers shared by the tests.
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>

namespace vxtest {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "vxtest";
  for (char& c : name) {
    if (c == '/' || c == '\\') c = '_';
  }
  path_ = std::filesystem::temp_directory_path() /
          ("vx-" + name + "-" + std::to_string(counter++) + "-" +
           std::to_string(std::hash<std::string>{}(std::filesystem::current_path().string()) & 0xFFFF));
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files must become writable before Windows lets them go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

WideString wide(const std::string& utf8) {
  return wide(std::filesystem::path(std::u8string(utf8.begin(), utf8.end())));
}

WideString wide(const std::filesystem::path& path) {
  const std::u16string s = path.u16string();
  return WideString(s.begin(), s.end());
}

std::string narrow(const WideChar* text) {
  std::u16string s;
  for (int i = 0; text[i] != 0; ++i) s += static_cast<char16_t>(text[i]);
  const std::u8string u8 = std::filesystem::path(s).u8string();
  return std::string(u8.begin(), u8.end());
}

Bytes random_bytes(std::size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t x = seed ? seed : 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

Bytes text_like_bytes(std::size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the ", "setup ", "program ", "installs ", "files ", "into ",
                                       "a ",   "folder ", "and ",   "records ",  "it\r\n", "window "};
  Bytes out;
  out.reserve(n);
  uint32_t x = seed ? seed : 1;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 12];
    for (; *w && out.size() < n; ++w) out.push_back(static_cast<uint8_t>(*w));
  }
  return out;
}

}  // namespace vxtest
