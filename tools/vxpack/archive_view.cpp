// Walks an archive with the extraction driver's walk, collecting its entries.
#include "tools/vxpack/archive_view.h"

#include "archive/checksum.h"
#include "archive/reader.h"
#include "support/charset.h"
#include "support/files.h"

namespace vxpack {

WideString to_wide(const std::filesystem::path& path) {
  const std::u16string s = path.u16string();
  return WideString(s.begin(), s.end());
}

std::string path_text(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}

std::filesystem::path from_wide(const WideChar* text) {
  std::u16string s;
  for (int i = 0; text[i] != 0; ++i) s += static_cast<char16_t>(text[i]);
  return std::filesystem::path(s);
}

std::string display_name(const std::string& ansi_name) {
  WideChar wide[1024];
  ansi_to_wide(ansi_name.c_str(), wide, 1024);
  const std::u8string u8 = from_wide(wide).u8string();
  return std::string(u8.begin(), u8.end());
}

bool read_archive_info(const std::filesystem::path& file, ArchiveInfo* info, std::string* error) {
  *info = ArchiveInfo{};
  OwnedBlock record = alloc_zeroed(sizeof(ArchiveReader));
  if (record.data == nullptr) {
    *error = "out of memory";
    return false;
  }
  ArchiveReader* r = reinterpret_cast<ArchiveReader*>(record.data);
  init_crc_table(r);
  const WideString path = to_wide(file);
  r->archive_file = open_archive_file(path.c_str(), 1);
  if (r->archive_file == nullptr) {
    *error = "cannot open the file";
    release(&record);
    return false;
  }
  bool found = find_archive(r) != kLocationNone;
  if (!found) {
    *error = "no archive found in the file";
  } else {
    info->location = r->location;
    info->offset = r->archive_offset;
    info->format = r->archive_format;
    info->main_header_damaged = r->main_header_damaged;
    // Walked on past a damaged main header, so that the entries still show.
    info->walk_damaged = begin_walk(r) != 0 && !r->main_header_damaged;
    int walked;
    while ((walked = next_entry(r)) > 0) {
      const FileHeader& e = r->entry;
      EntryRow row;
      row.name = r->entry_name;
      row.head_flags = e.head_flags;
      row.pack_size = e.pack_size;
      row.unp_size = e.unp_size;
      row.host_os = e.host_os;
      row.unp_ver = e.unp_ver;
      row.method = e.method;
      row.file_attr = e.file_attr;
      row.file_time = e.file_time;
      row.file_crc = e.file_crc;
      row.header_damaged = r->entry_header_damaged;
      info->entries.push_back(row);
    }
    if (walked < 0) info->walk_damaged = true;
  }
  close_stream(r->archive_file);
  release(&record);
  return found;
}

}  // namespace vxpack
