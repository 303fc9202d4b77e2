// list, test and extract.
#include "tools/vxpack/commands.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "archive/extract.h"
#include "support/charset.h"
#include "support/files.h"
#include "tools/vxpack/archive_view.h"

namespace vxpack {
namespace {

const char* host_name(uint8_t host) {
  static const char* const kNames[] = {"MS-DOS", "OS/2", "Win32", "Unix"};
  return host < 4 ? kNames[host] : "other";
}

std::string attribute_text(uint32_t attr) {
  std::string s = ".....";
  if (attr & 0x01) s[0] = 'R';
  if (attr & 0x02) s[1] = 'H';
  if (attr & 0x04) s[2] = 'S';
  if (attr & 0x10) s[3] = 'D';
  if (attr & 0x20) s[4] = 'A';
  return s;
}

std::string dos_time_text(uint32_t t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + ((t >> 25) & 0x7F), (t >> 21) & 0x0F,
                (t >> 16) & 0x1F, (t >> 11) & 0x1F, (t >> 5) & 0x3F, (t & 0x1F) * 2);
  return buf;
}

// The words for a pass's result code, and the exit code it maps to.
const char* result_words(int result) {
  switch (result) {
    case kExtractOk: return "success";
    case kExtractNoReader: return "out of memory";
    case kExtractNoArchive: return "the file cannot be opened, holds no archive, or starts inside a volume set";
    case kExtractBadChecksum:
      return "the archive is damaged (a checksum does not match, an entry is short, or the archive is cut short "
             "or broken)";
    case kExtractNoWindow: return "out of memory for the 1 MB window";
    case kExtractNoCopyBuffer: return "out of memory for the copy buffer";
    case kExtractCannotCreate: return "an output file cannot be created";
    default: return "unknown failure";
  }
}

int exit_for(int result) {
  switch (result) {
    case kExtractOk: return kExitOk;
    case kExtractNoArchive: return kExitNoArchive;
    case kExtractBadChecksum: return kExitDamaged;
    case kExtractCannotCreate: return kExitCannotWrite;
    default: return kExitNoMemory;
  }
}

std::string utf8_of(const WideChar* text) { return path_text(from_wide(text)); }

bool check_file(const std::filesystem::path& file, std::ostream& err) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    err << "vxpack: " << path_text(file) << ": no such file\n";
    return false;
  }
  if (std::filesystem::is_directory(file, ec)) {
    err << "vxpack: " << path_text(file) << ": is a folder, not an archive or setup executable\n";
    return false;
  }
  return true;
}

// --- test ---

struct TestPass {
  std::ostream* report;  // one OK line per entry, or nullptr
  TestOutcome* outcome;
};

int32_t test_callback(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  auto* pass = static_cast<TestPass*>(user);
  if (data == nullptr) {
    pass->outcome->current = utf8_of(name);
    name[0] = 1;  // into memory, so that the checksum is tested
    return 0;
  }
  if (pass->report != nullptr) *pass->report << "  OK      " << pass->outcome->current << " (" << size << " bytes)\n";
  ++pass->outcome->entries;
  pass->outcome->current.clear();  // a failure from here on lies behind this entry
  return 0;
}

// --- extract ---

struct ExtractPass {
  WideString folder;  // output folder, ends without a separator
  std::ostream* out;
  std::ostream* err;
  int refused = 0;
  int folder_failures = 0;
  int written = 0;
};

// An archive name that would leave the output folder: empty components
// excepted, any "..", a drive letter, or a leading separator.
bool name_is_unsafe(const WideChar* name) {
  if (name[0] == '\\' || name[0] == '/') return true;
  int start = 0;
  for (int i = 0;; ++i) {
    if (name[i] == ':') return true;
    if (name[i] == 0 || name[i] == '\\' || name[i] == '/') {
      if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return true;
      if (name[i] == 0) return false;
      start = i + 1;
    }
  }
}

// Creates every missing folder on the way to the file at path.
bool make_parents(WideChar* path) {
  for (int i = 1; path[i] != 0; ++i) {
    if (path[i] != '\\' && path[i] != '/') continue;
    const WideChar keep = path[i];
    path[i] = 0;
    bool ok = path_missing(path) == 0 || create_folder_tree(path) == 0;
    path[i] = keep;
    if (!ok) return false;
  }
  return true;
}

int32_t extract_callback(WideChar* name, const uint8_t* data, uint32_t, void* user) {
  auto* pass = static_cast<ExtractPass*>(user);
  if (data != nullptr) return 0;
  const std::string shown = utf8_of(name);
  if (name_is_unsafe(name)) {
    *pass->err << "vxpack: refusing entry \"" << shown
               << "\": its name would write outside the output folder\n";
    ++pass->refused;
    name[0] = 0;  // read through, write nowhere
    return 0;
  }
  WideChar path[kNameCapacity];
  copy_text(pass->folder.c_str(), path, kNameCapacity);
  if (join_path(name, path, kNameCapacity) != kTextOk) {
    *pass->err << "vxpack: skipping entry \"" << shown << "\": the output path would exceed 259 characters\n";
    ++pass->refused;
    name[0] = 0;
    return 0;
  }
  if (!make_parents(path)) {
    *pass->err << "vxpack: cannot create the folders for \"" << shown << "\"\n";
    ++pass->folder_failures;
  }
  copy_text(path, name, kNameCapacity);
  *pass->out << "  " << shown << "\n";
  ++pass->written;
  return 0;
}

}  // namespace

const char* exit_code_help() {
  return "Exit codes:\n"
         "  0  success\n"
         "  1  bad command line\n"
         "  2  the file is missing or unreadable, or holds no archive\n"
         "  3  the archive is damaged: a checksum fails, an entry is short, or it is cut short\n"
         "  4  an output file or folder cannot be created\n"
         "  5  out of memory\n"
         "  6  extract refused entries whose names would leave the output folder\n"
         "  7  build: the package has errors (or warnings, with --strict); nothing was written\n"
         "  8  build: the output did not read back correctly and was removed\n"
         "  9  build: no stub built in, or --stub is not a setup stub\n";
}

int run_list(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
  if (!check_file(file, err)) return kExitNoArchive;
  ArchiveInfo info;
  std::string error;
  if (!read_archive_info(file, &info, &error)) {
    err << "vxpack: " << path_text(file) << ": " << error << "\n";
    return kExitNoArchive;
  }
  out << path_text(file) << ": ";
  if (info.location == 3) {
    out << "archive behind a program image at offset " << info.offset;
  } else {
    out << "archive at offset " << info.offset << (info.location == 2 ? " (a volume of a set)" : "");
  }
  out << ", " << (info.format == 1 ? "old signature form" : "marked form");
  if (info.main_header_damaged && info.format == 2) out << ", main header checksum damaged";
  out << "\n";
  char line[256];
  std::snprintf(line, sizeof line, "%10s %10s %-6s %3s %4s %5s %-19s %8s  %s\n", "Packed", "Unpacked", "Host",
                "Ver", "Meth", "Attr", "Modified", "Checksum", "Name");
  out << line;
  uint64_t packed = 0, unpacked = 0;
  int damaged = 0;
  for (const EntryRow& e : info.entries) {
    std::snprintf(line, sizeof line, "%10" PRIu32 " %10" PRIu32 " %-6s %1u.%1u 0x%02X %5s %19s %08" PRIX32 "%s ",
                  e.pack_size, e.unp_size, host_name(e.host_os), e.unp_ver / 10, e.unp_ver % 10, e.method,
                  attribute_text(e.file_attr).c_str(), dos_time_text(e.file_time).c_str(), e.file_crc,
                  e.header_damaged && info.format == 2 ? "!" : " ");
    out << line << display_name(e.name);
    if (e.head_flags & 0x10) out << " [solid]";
    if (e.header_damaged && info.format == 2) out << " [header checksum damaged]";
    out << "\n";
    packed += e.pack_size;
    unpacked += e.unp_size;
    damaged += e.header_damaged && info.format == 2;
  }
  out << info.entries.size() << " entries, " << packed << " bytes packed, " << unpacked << " bytes unpacked";
  if (damaged) out << ", " << damaged << " with a damaged header";
  out << "\n";
  if (info.walk_damaged) {
    err << "vxpack: " << path_text(file) << ": the archive is damaged behind entry " << info.entries.size()
        << ": cut short, a block header is broken, or its end is missing\n";
  }
  const bool main_damaged = info.main_header_damaged && info.format == 2;
  if (info.walk_damaged || damaged || main_damaged) return kExitDamaged;
  return kExitOk;
}

TestOutcome test_archive(const std::filesystem::path& file, std::ostream* report) {
  TestOutcome outcome;
  TestPass pass{report, &outcome};
  const WideString path = to_wide(file);
  outcome.result = extract_archive(path.c_str(), test_callback, &pass);
  return outcome;
}

int run_test(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
  if (!check_file(file, err)) return kExitNoArchive;
  out << "Testing " << path_text(file) << "\n";
  const TestOutcome t = test_archive(file, &out);
  if (t.result != kExtractOk) {
    if (t.result == kExtractBadChecksum && !t.current.empty()) out << "  FAILED  " << t.current << "\n";
    err << "vxpack: " << path_text(file) << ": " << result_words(t.result) << " (result " << t.result << ")\n";
    return exit_for(t.result);
  }
  out << "All " << t.entries << " entries OK\n";
  return kExitOk;
}

int run_extract(const std::filesystem::path& file, const std::filesystem::path& folder, std::ostream& out,
                std::ostream& err) {
  if (!check_file(file, err)) return kExitNoArchive;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder, ec)) {
    err << "vxpack: cannot create the output folder " << path_text(folder) << "\n";
    return kExitCannotWrite;
  }
  ExtractPass pass;
  pass.folder = to_wide(std::filesystem::absolute(folder, ec).lexically_normal());
  while (!pass.folder.empty() && (pass.folder.back() == '/' || pass.folder.back() == '\\')) pass.folder.pop_back();
  pass.out = &out;
  pass.err = &err;
  const WideString path = to_wide(file);
  out << "Extracting " << path_text(file) << " into " << path_text(folder) << "\n";
  const int result = extract_archive(path.c_str(), extract_callback, &pass);
  if (result != kExtractOk) {
    err << "vxpack: " << path_text(file) << ": " << result_words(result) << " (result " << result << ")\n";
    return exit_for(result);
  }
  if (pass.folder_failures) return kExitCannotWrite;
  if (pass.refused) {
    err << "vxpack: " << pass.refused << " entries were not extracted\n";
    return kExitUnsafeName;
  }
  out << pass.written << " files extracted\n";
  return kExitOk;
}

}  // namespace vxpack
