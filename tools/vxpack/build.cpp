// vxpack build: checks the package, writes stub + archive to a temporary
// file beside the output, reads it back through the installer's reader,
// and only then gives it the output's name.
#include "tools/vxpack/build.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>

#include "archive/checksum.h"
#include "archive/extract.h"
#include "packer/pack20.h"
#include "packer/writer.h"
#include "tools/vxpack/archive_view.h"
#include "tools/vxpack/commands.h"
#include "tools/vxpack/package.h"
#include "tools/vxpack/uninstaller.h"

extern const unsigned char vx_stub_data[];
extern const std::size_t vx_stub_size;

namespace fs = std::filesystem;

namespace vxpack {
namespace {

using Clock = std::chrono::steady_clock;

std::string megabytes(uint64_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1e6);
  return buf;
}

// MS-DOS time of seconds since 1970: local time, or UTC when reproducible.
uint32_t dos_time_of(int64_t seconds, bool utc) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
#ifdef _WIN32
  if (utc ? gmtime_s(&parts, &t) != 0 : localtime_s(&parts, &t) != 0) return dos_time_from_parts(1980, 1, 1, 0, 0, 0);
#else
  if ((utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts)) == nullptr) return dos_time_from_parts(1980, 1, 1, 0, 0, 0);
#endif
  return dos_time_from_parts(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                             parts.tm_sec);
}

// The time every entry gets in a reproducible build: SOURCE_DATE_EPOCH, or
// 1980-01-01 00:00:00 when it is unset or not a number.
int64_t reproducible_time() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text != nullptr && *text != 0) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end != nullptr && *end == 0 && v >= 0) return v;
  }
  return 315532800;  // 1980-01-01 00:00:00 UTC
}

// The progress bar on a terminal: files, bytes, rate, time left.
class Progress {
 public:
  Progress(std::ostream& err, bool enabled, std::size_t files, uint64_t bytes)
      : err_(err), enabled_(enabled), files_(files), bytes_(bytes), start_(Clock::now()) {}
  void update(std::size_t files_done, uint64_t bytes_done, bool force = false) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? bytes_done / seconds : 0;
    const int width = 24;
    const int filled = bytes_ ? static_cast<int>(width * static_cast<double>(bytes_done) / bytes_) : width;
    std::string bar(filled, '#');
    bar.resize(width, '.');
    char line[160];
    const double left = rate > 0 ? (bytes_ - bytes_done) / rate : 0;
    std::snprintf(line, sizeof line, "\r[%s] %zu/%zu files  %s/%s  %.1f MB/s  %d:%02d left ", bar.c_str(),
                  files_done, files_, megabytes(bytes_done).c_str(), megabytes(bytes_).c_str(), rate / 1e6,
                  static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    err_ << line << std::flush;
    shown_ = true;
  }
  void say(const char* text) {
    if (!enabled_) return;
    err_ << "\r" << text << std::string(60, ' ') << std::flush;
    shown_ = true;
  }
  void clear() {
    if (shown_) err_ << "\r" << std::string(100, ' ') << "\r" << std::flush;
    shown_ = false;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  std::size_t files_;
  uint64_t bytes_;
  Clock::time_point start_;
  Clock::time_point last_{};
  bool shown_ = false;
};

// Reads a file of the expected size in one piece (no growth on the way).
bool read_bytes(const fs::path& path, uint64_t size, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->resize(size);
  in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(size));
  return in.gcount() == static_cast<std::streamsize>(size) && in.peek() == std::char_traits<char>::eof();
}

// Writes a stored entry without holding it: its checksum from a first read,
// then the header and the data copied in pieces. False when the file cannot
// be read or is no longer of its size.
bool write_stored_streaming(const PackageFile& f, EntrySpec header, std::FILE* file, bool* write_ok) {
  std::vector<uint8_t> piece(1 << 20);
  uint32_t crc = 0xFFFFFFFFu;
  for (int round = 0; round < 2; ++round) {
    std::ifstream in(f.source, std::ios::binary);
    uint64_t done = 0;
    while (in && done < f.size) {
      in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(std::min<uint64_t>(piece.size(), f.size - done)));
      const std::size_t n = static_cast<std::size_t>(in.gcount());
      if (round == 0) crc = crc32_continue(crc, piece.data(), n);
      else if (std::fwrite(piece.data(), 1, n, file) != n) *write_ok = false;
      done += n;
    }
    if (done != f.size || in.peek() != std::char_traits<char>::eof()) return false;
    if (round == 1) break;
    ArchiveWriter head;
    header.method = kMethodStored;
    header.unp_size = static_cast<uint32_t>(f.size);
    header.file_crc = ~crc;
    add_entry_header(&head, header, static_cast<uint32_t>(f.size));
    if (std::fwrite(head.bytes.data(), 1, head.bytes.size(), file) != head.bytes.size()) *write_ok = false;
  }
  return true;
}

// A little-endian field of a PE image, 0 past the end.
uint32_t field_at(const std::string& b, std::size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | (at + i < b.size() ? static_cast<unsigned char>(b[at + i]) : 0u);
  return v;
}

// True when the version resource holds key with this value (UTF-16 strings,
// zero padding between them).
bool has_version_value(const std::string& bytes, const std::string& key, const std::string& value) {
  const auto utf16 = [](const std::string& s) {
    std::string out;
    for (char c : s) out += std::string{c, '\0'};
    return out + std::string(2, '\0');
  };
  const std::string k = utf16(key), v = utf16(value);
  for (std::size_t at = bytes.find(k); at != std::string::npos; at = bytes.find(k, at + 1)) {
    std::size_t p = at + k.size();
    while (p < bytes.size() && p < at + k.size() + 4 && bytes[p] == 0) ++p;
    if (bytes.compare(p, v.size(), v) == 0) return true;
  }
  return false;
}

void remove_quietly(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace

std::string embedded_stub() {
  return std::string(reinterpret_cast<const char*>(vx_stub_data), vx_stub_size);
}

std::string stub_fault(const std::string& b) {
  if (b.size() < 64 || b.compare(0, 2, "MZ") != 0) return "is not a Windows program (it does not begin with MZ)";
  const std::size_t pe = field_at(b, 0x3C, 4);
  if (pe > b.size() || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
    return "is not a Windows program (it has no PE header)";
  if (field_at(b, pe + 22, 2) & 0x2000) return "is a DLL, not a program";
  if (!has_version_value(b, "ProductName", "vxsetup") || !has_version_value(b, "FileDescription", "Setup"))
    return "is a Windows program but not a setup stub of vxsetup (its version resource does not name the "
           "vxsetup Setup); pass the stub that the Windows build makes (setup/vxstub.exe)";
  // The image ends with the section whose raw data ends last.
  const std::size_t sections = pe + 24 + field_at(b, pe + 20, 2);
  uint64_t end = 0;
  for (uint32_t i = 0; i < field_at(b, pe + 6, 2); ++i) {
    end = std::max<uint64_t>(end, uint64_t{field_at(b, sections + 40 * i + 20, 4)} + field_at(b, sections + 40 * i + 16, 4));
  }
  if (end < b.size())
    return "carries " + std::to_string(b.size() - end) + " bytes behind its program image (an earlier package, or a "
           "signature): pass the bare stub, and sign the finished setup program instead";
  return {};
}

int run_build(const BuildOptions& o, std::ostream& out, std::ostream& err) {
  const auto started = Clock::now();
  std::string stub;
  if (!o.stub.empty()) {
    std::ifstream in(o.stub, std::ios::binary);
    if (!in) {
      err << "vxpack: " << path_text(o.stub) << ": cannot read the stub\n";
      return kExitNoArchive;
    }
    stub.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const std::string fault = stub_fault(stub);
    if (!fault.empty()) {
      err << "vxpack: error: --stub " << path_text(o.stub) << " " << fault << "; nothing was written\n";
      return kExitNoStub;
    }
  } else {
    stub = embedded_stub();
    if (stub.empty()) {
      err << "vxpack: no stub built in; pass --stub PATH\n";
      return kExitNoStub;
    }
  }

  Package pkg = scan_package(o.folder, ScanOptions{o.output, o.excludes});
  // A package without an UnInst.exe of its own gets the standard one, as an
  // entry made in memory (no source file), last in the archive.
  std::string uninstaller, carried = "the package's own UnInst.exe";
  const bool has_own = std::any_of(pkg.files.begin(), pkg.files.end(),
                                   [](const PackageFile& f) { return entry_role_of(f.file_name) == kRoleUninstaller; });
  if (!has_own) {
    uninstaller = o.uninstaller ? embedded_uninstaller() : std::string();
    carried = uninstaller.empty() ? "none" : "the standard UnInst.exe";
  }
  if (!uninstaller.empty()) {
    uninstaller = attach_uninstall_list(uninstaller, uninstall_list(pkg));
    std::erase_if(pkg.problems, [](const Problem& p) { return !p.error && p.file == "UnInst.exe"; });
    PackageFile file;
    file.name = file.file_name = file.shown = "UnInst.exe";
    file.size = uninstaller.size();
    file.modified = std::time(nullptr);
    pkg.files.push_back(file);
  }
  for (const Problem& p : pkg.problems) {
    if (p.error || o.strict || !o.quiet) err << "vxpack: " << (p.error ? "error: " : "warning: ") << p.file << ": " << p.text << "\n";
  }
  // The stored size bounds the archive: an entry that does not shrink is stored.
  uint64_t largest = stub.size() + 64;
  for (const PackageFile& f : pkg.files) largest += kFileHeaderSize + f.name.size() + f.size;
  if (!pkg.has_errors() && largest > kMaxSetupSize) {
    char size[64];
    std::snprintf(size, sizeof size, "%llu bytes (%.2f GiB)", static_cast<unsigned long long>(largest),
                  largest / 1073741824.0);
    err << "vxpack: error: (package): its setup program could be " << size
        << " with the stub and the files stored; the installer reads setup programs of at most 2,147,483,647 "
           "bytes (2 GiB), so split the package into two setup programs\n";
    pkg.problems.push_back({true, "(package)", "too large"});
  }
  if (pkg.has_errors() || (o.strict && !pkg.problems.empty())) {
    err << "vxpack: the package has " << (pkg.has_errors() ? "errors" : "warnings, and --strict is set")
        << "; nothing was written\n";
    return kExitPackageErrors;
  }

  // Written beside the output, renamed once verified: a failed build never
  // leaves a setup program behind.
  fs::path temp = o.output;
  temp += ".partial";
  std::FILE* file = nullptr;
#ifdef _WIN32
  file = _wfopen(temp.c_str(), L"wb");
#else
  file = std::fopen(temp.c_str(), "wb");
#endif
  if (file == nullptr) {
    err << "vxpack: " << path_text(o.output) << ": cannot create the output file\n";
    return kExitCannotWrite;
  }
  bool write_ok = true;
  ArchiveWriter writer;
  auto flush = [&]() {
    if (!writer.bytes.empty() && std::fwrite(writer.bytes.data(), 1, writer.bytes.size(), file) != writer.bytes.size())
      write_ok = false;
    writer.bytes.clear();
  };
  writer.bytes.assign(stub.begin(), stub.end());
  begin_archive(&writer, ArchiveForm::kMarked, 0);
  flush();

  uint64_t total = 0, packed_total = 0, done_bytes = 0;
  for (const PackageFile& f : pkg.files) total += f.size;
  Progress progress(err, o.progress && !o.quiet, pkg.files.size(), total);
  std::unique_ptr<Packer, void (*)(Packer*)> packer(o.level > 0 ? create_packer(o.level) : nullptr, destroy_packer);
  if (o.level > 0 && packer == nullptr) {
    std::fclose(file);
    remove_quietly(temp);
    err << "vxpack: out of memory\n";
    return kExitNoMemory;
  }
  const int64_t fixed_time = reproducible_time();
  std::vector<uint8_t> data, packed;
  std::size_t done_files = 0;
  int stored = 0;
  for (const PackageFile& f : pkg.files) {
    EntrySpec header;
    header.name = f.name;
    header.file_time = dos_time_of(o.reproducible ? fixed_time : f.modified, o.reproducible);
    header.file_attr = kAttrArchive | (f.read_only ? uint32_t{kAttrReadOnly} : 0u);
    // Files on disk that are stored go in pieces; the rest is read whole
    // for the packer, or is the standard uninstaller made in memory.
    const bool in_memory = f.source.empty();
    const bool streamed = !in_memory && (!packer || f.size == 0);
    if (in_memory) data.assign(uninstaller.begin(), uninstaller.end());
    if (!in_memory &&
        (streamed ? !write_stored_streaming(f, header, file, &write_ok) : !read_bytes(f.source, f.size, &data))) {
      progress.clear();
      std::fclose(file);
      remove_quietly(temp);
      err << "vxpack: error: " << f.shown << ": cannot be read (or changed while being packed); check it and "
          << "build again\n";
      return kExitNoArchive;
    }
    const uint32_t size = static_cast<uint32_t>(f.size);
    bool compressed = false;
    if (!streamed) {
      bool continued = false;
      if (packer) {
        pack_entry(packer.get(), data.data(), size, o.solid, &packed, &continued);
        compressed = packed.size() < size;
        if (!compressed) discard_last_entry(packer.get());
      }
      header.method = compressed ? pack_method(o.level) : uint8_t{kMethodStored};
      header.head_flags = compressed && continued ? static_cast<uint16_t>(kFlagSolid) : uint16_t{0};
      header.unp_size = size;
      header.file_crc = entry_checksum(ArchiveForm::kMarked, data.data(), size);
      const std::vector<uint8_t>& body = compressed ? packed : data;
      add_entry_header(&writer, header, static_cast<uint32_t>(body.size()));
      flush();
      if (std::fwrite(body.data(), 1, body.size(), file) != body.size()) write_ok = false;
      if (compressed) packed_total += packed.size();
    }
    if (!compressed) {
      packed_total += size;
      ++stored;
    }
    ++done_files;
    done_bytes += size;
    if (o.verbose) {
      progress.clear();
      out << "  " << (compressed ? "packed " : "stored ") << f.shown << "  " << size << " -> "
          << (compressed ? packed.size() : size) << "\n";
    }
    progress.update(done_files, done_bytes);
  }
  end_archive(&writer);
  flush();
  progress.update(done_files, done_bytes, true);
  if (std::fclose(file) != 0) write_ok = false;
  if (!write_ok) {
    progress.clear();
    remove_quietly(temp);
    err << "vxpack: " << path_text(o.output) << ": writing failed (disk full?)\n";
    return kExitCannotWrite;
  }

  // The verify pass holds one entry at a time; the packing buffers go first.
  std::vector<uint8_t>().swap(data);
  std::vector<uint8_t>().swap(packed);
  packer.reset();
  if (o.verify) {
    progress.say("verifying: reading every entry back through the installer's reader...");
    const TestOutcome pass = test_archive(temp, nullptr);
    const int result = pass.result;
    progress.clear();
    if (result != kExtractOk || pass.entries != static_cast<int>(pkg.files.size())) {
      remove_quietly(temp);
      remove_quietly(o.output);
      err << "vxpack: verification failed";
      if (result == kExtractBadChecksum && !pass.current.empty()) err << " at " << pass.current << " (its checksum does not match)";
      else if (result != kExtractOk) err << " (reader result " << result << ")";
      else err << " (" << pass.entries << " of " << pkg.files.size() << " entries read back)";
      err << "; the output was removed. Please report this as a bug, and build with -m0 meanwhile\n";
      return kExitVerifyFailed;
    }
  }
  progress.clear();
  std::error_code ec;
#ifdef _WIN32
  fs::remove(o.output, ec);  // the rename does not replace a file there
#endif
  fs::rename(temp, o.output, ec);
  if (ec) {
    remove_quietly(temp);
    err << "vxpack: " << path_text(o.output) << ": cannot be replaced (" << ec.message() << ")\n";
    return kExitCannotWrite;
  }
  if (!o.quiet) {
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    char line[256];
    std::snprintf(line, sizeof line, "%s: %zu files, %llu bytes -> %llu bytes packed (%.1f%%), %d stored, %.1f s%s\n",
                  path_text(o.output).c_str(), pkg.files.size(), static_cast<unsigned long long>(total),
                  static_cast<unsigned long long>(packed_total), total ? 100.0 * packed_total / total : 100.0, stored,
                  seconds, o.verify ? ", verified" : "");
    out << line << "uninstaller: " << carried << "\n";
    if (!pkg.left_out.empty()) {
      out << "left out (common leftovers and --exclude): ";
      for (std::size_t i = 0; i < pkg.left_out.size() && i < 8; ++i) out << (i ? ", " : "") << pkg.left_out[i];
      if (pkg.left_out.size() > 8) out << " and " << pkg.left_out.size() - 8 << " more";
      out << "\n";
    }
  }
  return kExitOk;
}

}  // namespace vxpack
