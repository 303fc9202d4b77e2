// A vendor's package folder as vxpack build sees it: the files with their
// archive names, the checks that the installer's reading rules call for
// (errors stop the build, warnings do not), and the order of the entries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vxpack {

struct PackageFile {
  std::filesystem::path source;  // the file on disk
  std::string name;              // archive name: ANSI bytes, '\' between folders
  std::string shown;             // the relative path in UTF-8, for messages
  std::string file_name;         // ANSI name without folders (where the installer puts it)
  uint64_t size = 0;
  int64_t modified = 0;          // seconds since 1970, UTC
  bool read_only = false;        // the source is not writable
};

struct Problem {
  bool error = false;
  std::string file;              // what it is about (a relative path, or the folder)
  std::string text;              // what is wrong and what to do
};

// What the installer will read from the package, as the checks found it.
struct PackageFacts {
  std::string product;           // name from FILE_ID.DIZ
  std::string version;           // version from FILE_ID.DIZ
  std::string id, group, window_class, exe, publisher;  // the .INF keys, as the installer keeps them
  std::string base_name;         // from the first .LNG entry
  std::vector<std::string> languages;        // codes of readable language packs
};

struct Package {
  std::vector<PackageFile> files;  // in archive order once checked
  std::vector<Problem> problems;
  PackageFacts facts;
  std::vector<std::string> left_out;  // leftovers and --exclude matches (folders end in '/')
  bool has_errors() const;
};

struct ScanOptions {
  std::filesystem::path output;        // the setup program being built: never packed, nor its .partial
  std::vector<std::string> excludes;   // --exclude patterns (* and ?, letter case ignored)
};

// Collects the files below folder, checks them and puts them in archive
// order. The problems say what would go wrong when installing.
Package scan_package(const std::filesystem::path& folder, const ScanOptions& options = {});

// True when pattern matches the relative path ('/' between folders): a
// pattern with a '/' matches the whole path, one without matches the last
// name. '*' stands for any run of characters but '/', '?' for one.
bool matches_exclude(const std::string& pattern, const std::string& relative);

// The destination most installations use: the installed path of a file is
// this, the Group, '\' and the file name.
inline constexpr char kTypicalProgramFiles[] = "C:\\Program Files\\";

// The installer's own readers of package text (setup/package_text.h), in
// the tool's string types.
// First line of FILE_ID.DIZ: product name and version.
void read_description(const std::string& text, std::string* name, std::string* version);
// A key's value: the first line that begins with the key and '=', up to
// CR/LF, at most capacity - 1 bytes. False when there is none or it is empty.
bool read_install_key(const std::string& text, const std::string& key, std::size_t capacity,
                      std::string* value);
// The display name of a language pack, or why there is none (empty on success).
std::string read_language_name(const std::string& data, std::string* name);

}  // namespace vxpack
