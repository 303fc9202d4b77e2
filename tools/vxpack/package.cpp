// Package scan and checks. The checks mirror how the installer reads a
// package: FILE_ID.DIZ at the top level, every .INF, the .LNG packs (the
// first one names the package's base name), and files installed flat.
#include "tools/vxpack/package.h"

#include <algorithm>
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
  std::vector<WideChar> wide(part.size() + 1);
  ansi_to_wide(part.c_str(), wide.data(), static_cast<int>(wide.size()));
  if (!is_safe_file_name(wide.data())) return "the installer does not write files of this name";
  return {};
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

// The base name the installer derives from the first .LNG entry.
std::string installer_base_name(const std::string& file_name) {
  std::string base = file_name.substr(0, std::min<std::size_t>(file_name.size(), 31));
  if (base.size() > 7) base.resize(base.size() - 7);
  return base;
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
void collect(const fs::path& folder, Checker* check) {
  Package& pkg = *check->package;
  std::error_code ec;
  std::vector<fs::path> paths;
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::none, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_regular_file(type_ec)) {
      paths.push_back(it->path());
    } else if (!it->is_directory(type_ec)) {
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
  read_description(text, &check->package->facts.product, &check->package->facts.version);
  if (check->package->facts.product.empty()) {
    check->warn(diz->shown, "its first line yields no product name; write the name first, for example "
                            "\"Foo Tool Version 1.2\", before any '(' or '['");
  }
}

void check_install_keys(const std::vector<const PackageFile*>& infs, const PackageFile* diz,
                        const std::vector<PackageFile>& files, Checker* check) {
  PackageFacts& facts = check->package->facts;
  if (infs.empty()) {
    check->warn("(package)", "has no .INF file, so the installer gets no ID, Group, Class or Exe; add one with "
                             "lines such as ID=FOO, Group=Foo Tool and Exe=Foo.exe");
  }
  struct Key {
    const char* key;
    std::size_t capacity;
    std::string* field;
  } keys[] = {{"ID", 4, &facts.id}, {"Group", 32, &facts.group}, {"Class", 32, &facts.window_class},
              {"Exe", 32, &facts.exe}};
  const PackageFile* last_inf = infs.empty() ? nullptr : infs.back();
  for (const PackageFile* inf : infs) {
    bool ok = false;
    const std::string text = read_all(inf->source, &ok);
    for (const Key& k : keys) {
      std::string value, whole;
      if (read_install_key(text, k.key, k.capacity, &value) && !value.empty()) *k.field = value;
      read_install_key(text, k.key, 1 << 20, &whole);
      if (whole.size() > k.capacity - 1) {
        check->warn(inf->shown, std::string("its ") + k.key + " value \"" + whole + "\" is longer than " +
                                    std::to_string(k.capacity - 1) + " characters and will be cut to \"" +
                                    whole.substr(0, k.capacity - 1) + "\"; shorten it");
      }
    }
  }
  if (last_inf != nullptr) {
    if (facts.group.empty()) {
      check->warn(last_inf->shown, facts.product.empty()
                                       ? "gives no Group, and FILE_ID.DIZ no product name; add a line "
                                         "Group=Product Name"
                                       : "gives no Group, so the product name from FILE_ID.DIZ (\"" +
                                             facts.product + "\") is used; add a line Group=Product Name");
    }
    if (facts.exe.empty()) {
      check->warn(last_inf->shown, "gives no Exe, so the installer takes the first file named V*.EXE as the main "
                                   "program, or makes no shortcuts; add a line Exe=Program.exe");
    }
  }
  if (facts.group.empty() && diz != nullptr) facts.group = facts.product.substr(0, 31);
  if (!facts.exe.empty()) {
    // The installer's own rule: an Exe that names no file of the package is
    // ignored, and the package then gets no shortcut to the program meant.
    auto widen = [](const std::string& text) {
      std::vector<WideChar> wide(text.size() + 1);
      ansi_to_wide(text.c_str(), wide.data(), static_cast<int>(wide.size()));
      return wide;
    };
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
                            "language code, .LNG); rename it");
    } else if (b != base) {
      check->warn(f->shown, "has the base name \"" + b + "\" while the other language packs use \"" + base +
                                "\"; rename it so that all packs share one base");
    } else if (first == nullptr) {
      first = f;
    }
    if (named && f->file_name.size() > 31) {
      check->warn(f->shown, "has a name longer than 31 characters; the installer cuts it and then filters "
                            "language files wrongly, so shorten the base name");
    }
    bool ok = false;
    std::string data = read_all(f->source, &ok);
    std::string name;
    const std::string why = read_language_name(data, &name);
    if (!why.empty()) {
      check->warn(f->shown, why);
    } else if (named) {
      check->package->facts.languages.push_back(code);
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

Package scan_package(const fs::path& folder) {
  Package pkg;
  Checker check{&pkg};
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    check.error(utf8_of(folder), "is not a folder; name the folder that holds the package's files");
    return pkg;
  }
  collect(folder, &check);
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
  const PackageFile* first_pack = check_language_packs(packs, &check);
  if (!uninstaller) {
    check.warn("UnInst.exe", "is missing, so Windows gets no uninstall entry for the product; add the "
                             "uninstaller to the package");
  }
  order_entries(&pkg, diz, first_pack);
  return pkg;
}

}  // namespace vxpack
