// What vxpack shows of an archive: where it was found and its entries as the
// installer's reader walks them (the library's one block walk), plus path helpers between the tool's
// std::filesystem paths and the library's UTF-16 buffers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/text.h"

namespace vxpack {

using WideString = std::basic_string<WideChar>;

struct EntryRow {
  std::string name;         // ANSI bytes as stored, separators made '\'
  uint16_t head_flags = 0;
  uint32_t pack_size = 0;
  uint32_t unp_size = 0;
  uint8_t host_os = 0;
  uint8_t unp_ver = 0;
  uint8_t method = 0;
  uint32_t file_attr = 0;
  uint32_t file_time = 0;
  uint32_t file_crc = 0;
  bool header_damaged = false;
};

struct ArchiveInfo {
  int32_t location = 0;     // 0 none, 1 plain, 2 volume, 3 behind an image
  int32_t offset = 0;
  uint32_t format = 0;      // 1 old signature form, 2 marked form
  bool main_header_damaged = false;
  bool walk_damaged = false;  // the walk broke off: cut short, a broken block or a missing end
  std::vector<EntryRow> entries;
};

// Walks the archive in file as far as it can be walked. Returns false with a
// message when the file cannot be opened or holds no archive.
bool read_archive_info(const std::filesystem::path& file, ArchiveInfo* info, std::string* error);

WideString to_wide(const std::filesystem::path& path);
// A path as UTF-8 text, for messages.
std::string path_text(const std::filesystem::path& path);
std::filesystem::path from_wide(const WideChar* text);
// The entry name in UTF-8, for messages (ANSI code page to UTF-16 to UTF-8).
std::string display_name(const std::string& ansi_name);

}  // namespace vxpack
