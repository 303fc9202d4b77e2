// Package scan and checks. The checks mirror how the installer reads a
// package: FILE_ID.DIZ at the top level, every .INF, the .LNG packs (the
// first one names the package's base name), and files installed flat.
#include "tools/vxpack/package.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "setup/install_names.h"
#include "setup/package_text.h"
#include "support/charset.h"
#include "support/text.h"

namespace fs = std::filesystem;

namespace vxpack {
namespace {

constexpr uint64_t kMaxFileSize = 0x80000000ull;  // the decoder counts sizes in 31 bits
constexpr std::size_t kMaxNameBytes = 259;

// Paths in messages use '/' on every platform.
std::string utf8_of(const fs::path& p) {
  const std::u8string s = p.generic_u8string();
  return std::string(s.begin(), s.end());
}

// ASCII and Latin-1 letters upper-cased, as Windows compares file names.
std::string fold_case(const std::string& ansi) {
  std::string out = ansi;
  for (char& ch : out) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) ch = static_cast<char>(c - 0x20);
  }
  return out;
}

bool ends_with_folded(const std::string& name, const std::string& suffix) {
  return name.size() >= suffix.size() && fold_case(name.substr(name.size() - suffix.size())) == suffix;
}

std::string read_all(const fs::path& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  if (!*ok) return {};
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  *ok = !in.bad();
  return data;
}

// ANSI text as the installer widens it, with its terminator.
std::vector<WideChar> widen(const std::string& ansi) {
  std::vector<WideChar> wide(ansi.size() + 1);
  ansi_to_wide(ansi.c_str(), wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// Why Windows cannot create a file or folder of this name (ANSI bytes), or empty.
std::string windows_name_fault(const std::string& part) {
  for (unsigned char c : part) {
    if (c < 32) return "it contains a control character";
    if (std::string("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string::npos)
      return std::string("it contains the character ") + static_cast<char>(c) +
             ", which Windows does not allow in names";
  }
  if (!part.empty() && (part.back() == '.' || part.back() == ' '))
    return "it ends in a dot or a blank, which Windows drops";
  std::string stem = fold_case(part.substr(0, part.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* d : kDevices) {
    if (stem == d) return "\"" + stem + "\" is a device name on Windows";
  }
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
      stem[3] <= '9')
    return "\"" + stem + "\" is a device name on Windows";
  // Whatever else the installer itself refuses (COM0, CONIN$ and the like).
  if (!is_safe_file_name(widen(part).data())) return "the installer does not write files of this name";
  return {};
}

// Files and folders that editors, version control and file browsers leave
// behind; never part of a product.
bool is_leftover(const std::string& name, bool is_folder) {
  if (is_folder) return name == ".git" || name == ".svn";
  const std::string folded = fold_case(name);
  return folded == "THUMBS.DB" || folded == "DESKTOP.INI" || name == ".DS_Store" || (!name.empty() && name.back() == '~');
}

// Glob match of * and ? over text, ASCII letter case ignored; '*' stops at '/'.
bool glob(const char* p, const char* t) {
  for (; *p != 0; ++p, ++t) {
    if (*p == '*') {
      for (const char* rest = t;; ++rest) {
        if (glob(p + 1, rest)) return true;
        if (*rest == 0 || *rest == '/') return false;
      }
    }
    if (*t == 0 || *t == '/' ? *p != *t : !(*p == '?' || std::toupper(static_cast<unsigned char>(*p)) ==
                                                           std::toupper(static_cast<unsigned char>(*t))))
      return false;
  }
  return *t == 0;
}

// Levenshtein distance, letter case ignored: how far a misspelt key is.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      const bool same = std::toupper(static_cast<unsigned char>(a[i - 1])) == std::toupper(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// ANSI bytes as UTF-8, read the way the installer reads them.
std::string ansi_as_utf8(const std::string& ansi) {
  const std::vector<WideChar> wide = widen(ansi);
  return utf8_of(fs::path(std::u16string(wide.data(), wide.data() + wide_length(wide.data()))));
}

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

// Why a text file does not read right as 8-bit text in the installer's code
// page, or empty. UTF-8 is recognised by multi-byte sequences that are all
// well formed; the message shows one word as the setup window would show it.
// A byte-order mark alone is left to the checks of each file, which ask the
// installer's readers whether it gets in the way.
bool is_utf16(const std::string& data) {
  if (data.size() < 2) return false;
  const unsigned char a = static_cast<unsigned char>(data[0]), b = static_cast<unsigned char>(data[1]);
  return (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF) || ((a == 0) != (b == 0));
}

std::string text_encoding_fault(const std::string& data) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
  if (is_utf16(data)) return "is UTF-16 text, of which the installer reads nothing";
  std::size_t first = std::string::npos;
  for (std::size_t i = data.compare(0, 3, kUtf8Mark) == 0 ? 3 : 0; i < data.size();) {
    const unsigned char c = byte(i);
    const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= data.size() + (extra == 0)) return {};
    for (int k = 1; k <= extra; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return {};
    }
    if (extra > 0 && first == std::string::npos) first = i;
    i += extra + 1;
  }
  if (first == std::string::npos) return {};
  const char* const kBreaks = " \t\r\n=()[],.;:";
  std::size_t begin = data.find_last_of(kBreaks, first);
  begin = begin == std::string::npos ? 0 : begin + 1;
  const std::size_t end = std::min(data.find_first_of(kBreaks, first), data.size());
  const std::string word = data.substr(begin, end - begin);
  return "is UTF-8 text: the installer reads it as Windows-1252, so \"" + word + "\" shows as \"" +
         ansi_as_utf8(word) + "\"";
}

bool is_inf(const std::string& file_name) { return file_name.size() > 4 && ends_with_folded(file_name, ".INF"); }
bool is_lng(const std::string& file_name) { return file_name.size() >= 4 && ends_with_folded(file_name, ".LNG"); }

// base_XX.LNG: the base and a two-letter code; false when the name differs.
bool split_language_name(const std::string& file_name, std::string* base, std::string* code) {
  if (file_name.size() < 8 || !is_lng(file_name)) return false;
  const std::size_t n = file_name.size();
  if (file_name[n - 7] != '_') return false;
  for (std::size_t i = n - 6; i < n - 4; ++i) {
    const char c = file_name[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  *base = file_name.substr(0, n - 7);
  *code = fold_case(file_name.substr(n - 6, 2));
  return true;
}

// The base name the installer derives from the first .LNG entry, by its own rule.
std::string installer_base_name(const std::string& file_name) {
  WideChar base[kFieldCapacity];
  base_name_from_pack(widen(file_name).data(), base, kFieldCapacity);
  char ansi[2 * kFieldCapacity];
  wide_to_ansi(base, ansi, sizeof ansi);
  return ansi;
}

std::string extension_key(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  return dot == std::string::npos ? std::string() : fold_case(file_name.substr(dot + 1));
}

struct Checker {
  Package* package;
  void error(const std::string& file, const std::string& text) { package->problems.push_back({true, file, text}); }
  void warn(const std::string& file, const std::string& text) { package->problems.push_back({false, file, text}); }
};

// Gathers the files below folder with their archive names; records the
// errors of names and sizes.
void collect(const fs::path& folder, const ScanOptions& options, Checker* check) {
  Package& pkg = *check->package;
  std::error_code ec;
  std::vector<fs::path> paths;
  // The output and its .partial, also when they do not exist yet.
  const fs::path output = options.output.empty() ? fs::path() : fs::weakly_canonical(options.output, ec);
  fs::path partial = output;
  partial += ".partial";
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::none, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    const bool is_folder = it->is_directory(type_ec);
    const std::string rel = utf8_of(it->path().lexically_relative(folder));
    const bool excluded = std::any_of(options.excludes.begin(), options.excludes.end(),
                                      [&](const std::string& p) { return matches_exclude(p, rel); });
    if (excluded || is_leftover(utf8_of(it->path().filename()), is_folder)) {
      pkg.left_out.push_back(rel + (is_folder ? "/" : ""));
      if (is_folder) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(type_ec)) {
      if (!output.empty() && (it->path().filename() == output.filename() || it->path().filename() == partial.filename())) {
        const fs::path here = fs::weakly_canonical(it->path(), type_ec);
        if (here == output || here == partial) continue;
      }
      paths.push_back(it->path());
    } else if (!is_folder) {
      check->error(utf8_of(it->path().lexically_relative(folder)),
                   "is neither a file nor a folder; replace it by the file it stands for or remove it");
    }
  }
  if (ec) check->error(utf8_of(folder), "cannot be read completely (" + ec.message() + "); check its permissions");
  std::sort(paths.begin(), paths.end());
  for (const fs::path& path : paths) {
    PackageFile f;
    f.source = path;
    const fs::path rel = path.lexically_relative(folder);
    f.shown = utf8_of(rel);
    std::u16string wide;
    try {
      wide = rel.u16string();
    } catch (...) {
      check->error(f.shown, "its name is not valid text in this system's encoding; rename it");
      continue;
    }
    for (char16_t& c : wide) {
      if (c == u'/') c = u'\\';
    }
    const std::basic_string<WideChar> w(wide.begin(), wide.end());
    if (!wide_fits_ansi(w.c_str())) {
      check->error(f.shown, "its name has characters that the Windows-1252 code page cannot write; "
                            "rename it with Western European letters only");
      continue;
    }
    std::vector<char> ansi(w.size() * 2 + 2);
    wide_to_ansi(w.c_str(), ansi.data(), static_cast<int>(ansi.size()));
    f.name = ansi.data();
    const std::size_t slash = f.name.rfind('\\');
    f.file_name = slash == std::string::npos ? f.name : f.name.substr(slash + 1);
    bool name_ok = true;
    for (std::size_t start = 0; start <= f.name.size();) {
      std::size_t end = f.name.find('\\', start);
      if (end == std::string::npos) end = f.name.size();
      const std::string fault = windows_name_fault(f.name.substr(start, end - start));
      if (!fault.empty()) {
        check->error(f.shown, "Windows cannot create this name: " + fault + "; rename it");
        name_ok = false;
        break;
      }
      start = end + 1;
    }
    if (name_ok && f.name.size() > kMaxNameBytes) {
      check->error(f.shown, "its name is " + std::to_string(f.name.size()) +
                                " bytes long with its folders; the archive holds at most 259, so shorten "
                                "the name or move the file up");
      name_ok = false;
    }
    std::error_code size_ec;
    f.size = fs::file_size(path, size_ec);
    if (size_ec) {
      check->error(f.shown, "cannot be read (" + size_ec.message() + "); check its permissions");
      continue;
    }
    if (f.size >= kMaxFileSize) {
      check->error(f.shown, "is " + std::to_string(f.size) +
                                " bytes; files of 2 GiB or more cannot be installed, so split it");
      continue;
    }
    {
      std::ifstream probe(path, std::ios::binary);
      if (!probe) {
        check->error(f.shown, "cannot be opened for reading; check its permissions");
        continue;
      }
    }
    const auto status = fs::status(path, size_ec);
    f.read_only = !size_ec && (status.permissions() & fs::perms::owner_write) == fs::perms::none;
    const auto written = fs::last_write_time(path, size_ec);
    if (!size_ec) {
      const auto sys = std::chrono::file_clock::to_sys(written);
      f.modified = std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count();
    }
    if (name_ok) pkg.files.push_back(std::move(f));
  }
}

void check_flat_names(Checker* check) {
  std::map<std::string, const PackageFile*> seen;
  for (const PackageFile& f : check->package->files) {
    auto [it, fresh] = seen.emplace(fold_case(f.file_name), &f);
    if (!fresh) {
      check->error(f.shown, "lands on the same name as " + it->second->shown +
                                " once the installer drops the folders; rename one of them");
    }
  }
  bool installs = false;
  for (const PackageFile& f : check->package->files) installs = installs || !is_inf(f.file_name);
  if (!installs && !check->package->has_errors())
    check->error("(package)", "has nothing to install; put the program's files into the folder");
}

void check_description(const PackageFile* diz, const std::vector<PackageFile>& files, Checker* check) {
  if (diz == nullptr) {
    std::string nested;
    for (const PackageFile& f : files) {
      if (fold_case(f.file_name) == "FILE_ID.DIZ") nested = f.shown;
    }
    if (!nested.empty()) {
      check->warn(nested, "is inside a folder, where the installer does not read it; move it to the top of "
                          "the package so that the setup window shows the product name");
    } else {
      check->warn("FILE_ID.DIZ", "is missing; add it with the product name (and \" Version \" and the "
                                 "version) on its first line, or the setup window shows no product name");
    }
    return;
  }
  bool ok = false;
  const std::string text = read_all(diz->source, &ok);
  const std::string fault = text_encoding_fault(text);
  if (!fault.empty()) check->warn(diz->shown, fault + "; save it as ANSI (Windows-1252) text");
  read_description(text, &check->package->facts.product, &check->package->facts.version);
  if (check->package->facts.product.compare(0, 3, kUtf8Mark) == 0) {
    check->warn(diz->shown, "begins with a UTF-8 byte-order mark, which the setup window shows as \"" +
                                ansi_as_utf8(kUtf8Mark) + "\" in front of the product name; save it without the mark");
  }
  if (check->package->facts.product.empty()) {
    check->warn(diz->shown, "its first line yields no product name; write the name first, for example "
                            "\"Foo Tool Version 1.2\", before any '(' or '['");
  }
}

// The keys the installer reads, with the capacity of its field.
struct InstallKey {
  const char* key;
  std::size_t capacity;
  std::string PackageFacts::*field;
};
const InstallKey kInstallKeys[] = {{"ID", kIdCapacity, &PackageFacts::id},
                                   {"Group", kFieldCapacity, &PackageFacts::group},
                                   {"Class", kFieldCapacity, &PackageFacts::window_class},
                                   {"Exe", kFieldCapacity, &PackageFacts::exe},
                                   {"Publisher", kFieldCapacity, &PackageFacts::publisher}};
constexpr char kKeyList[] = "ID, Group, Class, Exe and Publisher";

// One line of an .INF as its author meant it: key and value around the first
// '=', blanks and a leading byte-order mark aside.
struct KeyLine {
  int number;       // 1 for the first line
  std::string raw;  // the line as written
  std::string key;  // without blanks; empty when the line has no '='
  std::string value;
};

std::vector<KeyLine> key_lines(const std::string& text) {
  std::vector<KeyLine> lines;
  std::size_t at = text.compare(0, 3, kUtf8Mark) == 0 ? 3 : 0;
  for (int number = 1; at < text.size(); ++number) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(at, end - at);
    at = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    const std::size_t start = raw.find_first_not_of(" \t");
    if (start == std::string::npos || raw[start] == ';') continue;  // blank or a comment
    const std::size_t eq = raw.find('=');
    std::string key = eq == std::string::npos ? std::string() : raw.substr(start, eq - start);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    lines.push_back({number, raw, key, eq == std::string::npos ? std::string() : raw.substr(eq + 1)});
  }
  return lines;
}

// Why the installer does not take line as the key it was meant to be (it
// skips a byte-order mark and blanks in front of a key itself).
std::string unread_reason(const KeyLine& line, const char* key) {
  if (line.key != key) return std::string("keys are read in this letter case only: ") + key;
  if (line.raw.compare(0, line.key.size() + 1, line.key + "=") != 0) return "blanks stand between the key and '='";
  return "an earlier line is taken for it";
}

// Reads the installer's keys from every .INF and says which lines it will
// not read as meant, and why.
void check_install_keys(std::vector<const PackageFile*> infs, const PackageFile* diz,
                        const std::vector<PackageFile>& files, Checker* check) {
  PackageFacts& facts = check->package->facts;
  // The one at the top of the package is taken as the intended one.
  std::stable_sort(infs.begin(), infs.end(), [](const PackageFile* a, const PackageFile* b) {
    return std::count(a->name.begin(), a->name.end(), '\\') < std::count(b->name.begin(), b->name.end(), '\\');
  });
  if (infs.empty()) {
    check->warn("(package)", "has no .INF file, so the installer gets no ID, Group, Class or Exe; add one with "
                             "lines such as ID=FOO, Group=Foo Tool and Exe=Foo.exe");
  }
  for (std::size_t i = 1; i < infs.size(); ++i) {
    check->error(infs[i]->shown, "is a second .INF file besides " + infs[0]->shown +
                                     ": the installer takes keys from every .INF and installs none of them; keep "
                                     "one .INF at the top of the package");
  }
  bool meant[std::size(kInstallKeys)] = {};
  for (const PackageFile* inf : infs) {
    bool ok = false;
    const std::string text = read_all(inf->source, &ok);
    const std::string fault = text_encoding_fault(text);
    if (!fault.empty()) check->warn(inf->shown, fault + "; save it as ANSI (Windows-1252) text without a byte-order mark");
    if (is_utf16(text)) continue;
    const std::vector<KeyLine> lines = key_lines(text);
    const std::string at = inf->shown + ": line ";
    for (const KeyLine& line : lines) {
      const bool known = std::any_of(std::begin(kInstallKeys), std::end(kInstallKeys),
                                     [&](const InstallKey& k) { return fold_case(line.key) == fold_case(k.key); });
      if (known) continue;
      if (line.key.empty()) {
        check->warn(at + std::to_string(line.number), "\"" + line.raw + "\" is not a key=value line and is ignored; "
                                                    "begin a comment with ';'");
        continue;
      }
      const InstallKey* nearest = &kInstallKeys[0];
      for (const InstallKey& k : kInstallKeys) {
        if (edit_distance(line.key, k.key) < edit_distance(line.key, nearest->key)) nearest = &k;
      }
      const std::size_t distance = edit_distance(line.key, nearest->key);
      check->warn(at + std::to_string(line.number),
                  "unknown key \"" + line.key + "\", which the installer ignores; " +
                      (distance <= 2 && distance < line.key.size() ? "did you mean " + std::string(nearest->key) + "?"
                                                                    : "it reads only " + std::string(kKeyList) +
                                                                          " (name and version come from FILE_ID.DIZ)"));
    }
    for (std::size_t k = 0; k < std::size(kInstallKeys); ++k) {
      const InstallKey& key = kInstallKeys[k];
      std::string value, whole;
      read_install_key(text, key.key, key.capacity, &value);
      read_install_key(text, key.key, 1 << 20, &whole);
      if (!value.empty()) facts.*key.field = value;
      // The line the installer takes is the first whose value it reads;
      // lines meant as the key before it go unread, lines after it repeat it.
      std::vector<const KeyLine*> meant_lines;
      const KeyLine* taken = nullptr;
      for (const KeyLine& line : lines) {
        if (fold_case(line.key) != fold_case(key.key) || line.value.empty()) continue;
        meant_lines.push_back(&line);
        if (taken == nullptr && line.value == whole) taken = &line;
      }
      meant[k] = meant[k] || !meant_lines.empty();
      for (const KeyLine* line : meant_lines) {
        const std::string where = at + std::to_string(line->number);
        if (taken == nullptr || line->number < taken->number) {
          check->warn(where, "\"" + line->raw + "\" is not read by the installer: " +
                                 unread_reason(*line, key.key) +
                                 "; write it as " + key.key + "=value at the start of the line");
        } else if (line != taken) {
          check->warn(where, std::string("repeats ") + key.key + ", and the installer reads only the first readable " +
                                 key.key + " line (line " + std::to_string(taken->number) + "); remove one");
        } else if (whole.size() > key.capacity - 1) {
          check->warn(inf->shown, std::string("its ") + key.key + " value \"" + whole + "\" is longer than " +
                                      std::to_string(key.capacity - 1) + " characters and will be cut to \"" +
                                      value + "\"; shorten it");
        } else if (whole[0] == ' ') {
          check->warn(where, std::string("the ") + key.key +
                                 " value begins with a blank, which the installer keeps as part of it; remove the "
                                 "blank behind '='");
        }
      }
    }
  }
  const PackageFile* last_inf = infs.empty() ? nullptr : infs.back();
  if (last_inf != nullptr) {
    if (!meant[0]) {
      check->warn(last_inf->shown, "gives no ID, so the installer stores no destination and an update does not "
                                   "find the earlier installation's folder; add a line such as ID=FOO (3 characters)");
    }
    if (!meant[1]) {
      check->warn(last_inf->shown, facts.product.empty()
                                       ? "gives no Group, and FILE_ID.DIZ no product name; add a line "
                                         "Group=Product Name"
                                       : "gives no Group, so the product name from FILE_ID.DIZ (\"" +
                                             facts.product + "\") is used; add a line Group=Product Name");
    }
    if (!meant[3]) {
      check->warn(last_inf->shown, "gives no Exe, so the installer takes the first file named V*.EXE as the main "
                                   "program, or makes no shortcuts; add a line Exe=Program.exe");
    }
  }
  if (facts.group.empty() && diz != nullptr) facts.group = facts.product.substr(0, kFieldCapacity - 1);
  std::vector<char> safe(facts.group.begin(), facts.group.end());
  safe.resize(kFieldCapacity, 0);
  make_group_name_safe(safe.data(), kFieldCapacity);
  if (safe.data() != facts.group) {
    check->warn(last_inf != nullptr ? last_inf->shown : diz->shown,
                "its Group \"" + facts.group + "\" becomes \"" + safe.data() +
                    "\" in the folder, the program group, the shortcuts and the Apps list, as Windows allows none "
                    "of < > : \" / \\ | ? * in names, nor a dot or blank at their end; choose a Group without them");
    facts.group = safe.data();
  }
  if (!facts.exe.empty()) {
    // The installer's own rule: an Exe that names no file of the package is
    // ignored, and the package then gets no shortcut to the program meant.
    const std::vector<WideChar> exe = widen(facts.exe);
    bool found = false;
    for (const PackageFile& f : files) found = found || exe_names_file(exe.data(), widen(f.file_name).data());
    if (!found) {
      check->error(last_inf->shown, "its Exe=" + facts.exe +
                                        (is_safe_file_name(exe.data()) ? " names no file in the package"
                                                                       : " is not a plain file name") +
                                        ", so the installer ignores it; name the program's file, without folders");
    }
  }
}

// Checks the language packs and returns the one that must come first: its
// name gives the installer the package's base name.
const PackageFile* check_language_packs(const std::vector<const PackageFile*>& packs, Checker* check) {
  if (packs.empty()) return nullptr;
  std::map<std::string, int> votes;
  for (const PackageFile* f : packs) {
    std::string base, code;
    if (split_language_name(f->file_name, &base, &code)) ++votes[base];
  }
  std::string base;
  int best = 0;
  for (const auto& [b, n] : votes) {
    if (n > best) base = b, best = n;
  }
  const PackageFile* first = nullptr;
  for (const PackageFile* f : packs) {
    std::string b, code;
    const bool named = split_language_name(f->file_name, &b, &code);
    if (!named) {
      check->warn(f->shown, "does not follow the naming rule base_XX.LNG (the base name, '_', a two-letter "
                            "language code, .LNG): the installer takes the two characters in front of .LNG as "
                            "the code; rename it, for example Foo_FR.LNG");
    } else if (b != base) {
      check->warn(f->shown, "has the base name \"" + b + "\" while the other language packs use \"" + base +
                                "\"; rename it so that all packs share one base");
    } else if (first == nullptr) {
      first = f;
    }
    if (named && installer_base_name(f->file_name) != b) {
      check->warn(f->shown, "has a base name longer than " + std::to_string(kFieldCapacity - 1) +
                                " characters, which the installer cuts and then filters language files wrongly; "
                                "shorten the base name");
    }
    bool ok = false;
    std::string data = read_all(f->source, &ok);
    const bool utf16le = data.size() >= 2 && data[0] == '\xFF' && data[1] == '\xFE';
    const std::string fault = utf16le ? std::string() : text_encoding_fault(data);
    if (!fault.empty()) {
      check->warn(f->shown, fault + "; save it as Windows-1252 (ANSI) text, or as UTF-16 LE with its byte-order mark");
    }
    std::string name;
    const std::string why = read_language_name(data, &name);
    if (!why.empty()) {
      if (data.compare(0, 3, kUtf8Mark) == 0) {
        check->warn(f->shown, "begins with a UTF-8 byte-order mark, so the installer does not find its '[' and "
                              "ignores it; save it as Windows-1252 text, or as UTF-16 LE with its byte-order mark");
      } else if (fault.empty()) {
        check->warn(f->shown, why);
      }
    } else if (named) {
      check->package->facts.languages.push_back(code);
      std::string folded = fold_case(name);
      while (!folded.empty() && folded.back() == ' ') folded.pop_back();
      const bool english = folded == "ENGLISH" || folded == "ENGLISCH";
      const bool german = folded == "GERMAN" || folded == "DEUTSCH";
      if ((english || german) && code != "US" && code != "DE") {
        check->warn(f->shown, std::string("adds a second ") + (english ? "English" : "German") +
                                  " item to the language list, as English and German are built in under the "
                                  "codes US and DE; name the pack " + b + (english ? "_US" : "_DE") + ".LNG");
      }
    }
  }
  if (first == nullptr) first = packs.front();
  check->package->facts.base_name = installer_base_name(first->file_name);
  return first;
}

// Archive order: FILE_ID.DIZ, the .INF files and the language packs first
// (small, and read by the installer's first pass), the pack that names the
// base name leading the packs; then the rest grouped by extension and, within
// one extension, by size, so that similar files sit next to each other in
// the solid stream (on the large benchmark payload, size order within an
// extension packs 1.8% smaller than name order).
void order_entries(Package* pkg, const PackageFile* diz, const PackageFile* first_pack) {
  auto rank = [&](const PackageFile& f) {
    if (&f == diz) return 0;
    if (is_inf(f.file_name)) return 1;
    if (&f == first_pack) return 2;
    if (is_lng(f.file_name)) return 3;
    return 4;
  };
  std::vector<std::pair<int, std::size_t>> keys;
  for (std::size_t i = 0; i < pkg->files.size(); ++i) keys.push_back({rank(pkg->files[i]), i});
  std::stable_sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    const PackageFile& x = pkg->files[a.second];
    const PackageFile& y = pkg->files[b.second];
    const std::string ex = extension_key(x.file_name), ey = extension_key(y.file_name);
    if (ex != ey) return ex < ey;
    if (x.size != y.size) return x.size < y.size;
    const std::string nx = fold_case(x.file_name), ny = fold_case(y.file_name);
    if (nx != ny) return nx < ny;
    return x.name < y.name;
  });
  std::vector<PackageFile> ordered;
  ordered.reserve(pkg->files.size());
  for (const auto& k : keys) ordered.push_back(std::move(pkg->files[k.second]));
  pkg->files = std::move(ordered);
}

}  // namespace

bool matches_exclude(const std::string& pattern, const std::string& relative) {
  std::string p = pattern;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.find('/') != std::string::npos) return glob(p.c_str(), relative.c_str());
  const std::size_t slash = relative.rfind('/');
  return glob(p.c_str(), relative.c_str() + (slash == std::string::npos ? 0 : slash + 1));
}

bool Package::has_errors() const {
  return std::any_of(problems.begin(), problems.end(), [](const Problem& p) { return p.error; });
}

void read_description(const std::string& text, std::string* name, std::string* version) {
  char name_buf[kProductNameCapacity] = {};
  char version_buf[kVersionCapacity] = {};
  parse_description(text.c_str(), name_buf, version_buf);
  *name = name_buf;
  *version = version_buf;
}

bool read_install_key(const std::string& text, const std::string& key, std::size_t capacity, std::string* value) {
  std::vector<char> field(capacity, 0);
  ::read_install_key(text.c_str(), key.c_str(), field.data(), static_cast<int>(capacity));
  *value = field.data();
  return !value->empty();
}

std::string read_language_name(const std::string& data, std::string* name) {
  name->clear();
  if (data.size() <= 7) return "is too short to be a language pack (7 bytes or less); fill it in";
  std::u16string text;
  if (static_cast<unsigned char>(data[0]) == 0xFF && static_cast<unsigned char>(data[1]) == 0xFE) {
    for (std::size_t i = 2; i + 1 < data.size() && text.size() < 259; i += 2) {
      const char16_t c = static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                               (static_cast<unsigned char>(data[i + 1]) << 8));
      if (c == 0) break;
      text += c;
    }
  } else {
    WideChar wide[260];
    ansi_to_wide(data.c_str(), wide, 260);
    for (int i = 0; wide[i] != 0; ++i) text += static_cast<char16_t>(wide[i]);
  }
  if (text.empty() || text[0] != u'[')
    return "does not begin with a section header '[' (saved as UTF-16 little-endian with its byte order mark, "
           "or as Windows-1252 text), so the installer ignores it";
  const std::size_t at = text.find(u"Language");
  if (at == std::u16string::npos)
    return "has no \"Language\" line within its first 259 characters, so its language is not offered; add a "
           "line such as Language=French";
  // The name itself comes from the installer's own reader.
  WideChar shown[kLanguageNameCapacity];
  if (!language_pack_name(reinterpret_cast<const uint8_t*>(data.data()), static_cast<uint32_t>(data.size()), shown,
                          kLanguageNameCapacity))
    return "its \"Language\" line yields no language name; write it as Language=Name, with nothing between "
           "Language and '='";
  *name = utf8_of(fs::path(std::u16string(shown, shown + wide_length(shown))));
  return {};
}

// Every installed file's path under the destination most installations use
// must fit the installer's 259 characters.
void check_installed_paths(Checker* check) {
  const std::string& group = check->package->facts.group;
  if (group.empty()) return;
  const std::string folder = kTypicalProgramFiles + group + "\\";
  for (const PackageFile& f : check->package->files) {
    const std::size_t length = folder.size() + f.file_name.size();
    if (is_inf(f.file_name) || length < kPathCapacity) continue;
    check->error(f.shown, "is installed as " + folder + f.file_name.substr(0, 20) + "... (" + std::to_string(length) +
                              " characters), longer than the 259 that the installer's paths hold, so it cannot be "
                              "created there; shorten its name to at most " +
                              std::to_string(kPathCapacity - 1 - folder.size()) + " characters");
  }
}

// The installer filters files by the characters behind the base name's
// length, whatever the name begins with: a file such as Lib_DE.dll in a
// package whose base name is Foo goes when German is unchecked.
void check_language_filter(Checker* check) {
  const PackageFacts& facts = check->package->facts;
  if (facts.base_name.empty()) return;
  std::vector<LanguageCode> listed = {kLanguageEnglish, kLanguageGerman};
  for (const std::string& code : facts.languages) listed.push_back(make_language_code(code[0], code[1]));
  for (const PackageFile& f : check->package->files) {
    if (fold_case(f.file_name).rfind(fold_case(facts.base_name + "_"), 0) == 0) continue;
    const LanguageCode code = entry_language_code(widen(f.file_name).data(), static_cast<int>(facts.base_name.size()));
    if (std::find(listed.begin(), listed.end(), code) == listed.end()) continue;
    const char letters[3] = {static_cast<char>(code), static_cast<char>(code >> 8), 0};
    check->warn(f.shown, std::string("is skipped when the language ") + letters +
                             " is unchecked, as its name has '_' and that code where language files of the base "
                             "name \"" + facts.base_name + "\" have theirs; rename it (for example without the '_')");
  }
}

Package scan_package(const fs::path& folder, const ScanOptions& options) {
  Package pkg;
  Checker check{&pkg};
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    check.error(utf8_of(folder), "is not a folder; name the folder that holds the package's files");
    return pkg;
  }
  collect(folder, options, &check);
  std::sort(pkg.left_out.begin(), pkg.left_out.end());
  check_flat_names(&check);
  const PackageFile* diz = nullptr;
  std::vector<const PackageFile*> infs, packs;
  bool uninstaller = false;
  for (const PackageFile& f : pkg.files) {
    if (fold_case(f.name) == "FILE_ID.DIZ") diz = &f;
    if (is_inf(f.file_name)) infs.push_back(&f);
    if (is_lng(f.file_name)) packs.push_back(&f);
    uninstaller = uninstaller || fold_case(f.file_name) == "UNINST.EXE";
  }
  check_description(diz, pkg.files, &check);
  check_install_keys(infs, diz, pkg.files, &check);
  check_installed_paths(&check);
  const PackageFile* first_pack = check_language_packs(packs, &check);
  check_language_filter(&check);
  if (!uninstaller) {
    check.warn("UnInst.exe", "is missing, so Windows gets no uninstall entry for the product; add the "
                             "uninstaller to the package");
  }
  order_entries(&pkg, diz, first_pack);
  return pkg;
}

}  // namespace vxpack
