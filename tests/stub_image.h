// A small stand-in for the setup stub: a PE image with one section whose raw
// data ends the file and holds the version strings vxpack looks for, plus
// whatever the test puts there.
#pragma once

#include <string>

namespace vxtest {

inline std::string stub_image(const std::string& section_payload = {}) {
  const auto utf16 = [](const std::string& s) {
    std::string out;
    for (char c : s) out += std::string{c, '\0'};
    return out + std::string(2, '\0');
  };
  std::string data = utf16("ProductName") + utf16("vxsetup") + utf16("FileDescription") + std::string(2, '\0') +
                     utf16("Setup") + section_payload;
  data.resize((data.size() + 511) / 512 * 512, '\0');
  std::string image(0x200, '\0');
  const auto put = [&](std::size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) image[at + i] = static_cast<char>(v >> (8 * i));
  };
  image.replace(0, 2, "MZ");
  put(0x3C, 0x40, 4);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  put(0x44, 0x8664, 2);                                  // machine: x86-64
  put(0x46, 1, 2);                                       // one section
  put(0x56, 0x22, 2);                                    // an executable image
  put(0x58 + 16, static_cast<uint32_t>(data.size()), 4);  // its raw data: size
  put(0x58 + 20, 0x200, 4);                              // and place
  return image + data;
}

}  // namespace vxtest
