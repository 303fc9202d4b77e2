// vxpack build: a package folder into one setup executable, the stub
// followed by the archive, checked, compressed, verified.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace vxpack {

struct BuildOptions {
  std::filesystem::path folder{};  // the package
  std::filesystem::path output{};  // the setup executable to write
  std::filesystem::path stub{};    // empty: the stub carried inside vxpack
  int level = 4;                   // 0 store, 1 fastest .. 5 best
  bool solid = true;
  bool reproducible = false;       // fixed times, UTC
  bool verify = true;
  bool quiet = false;
  bool strict = false;             // warnings stop the build too
  bool verbose = false;
  bool progress = false;           // a progress bar (standard error is a terminal)
  bool uninstaller = true;         // add the standard UnInst.exe when the package has none
  std::vector<std::string> excludes{};  // --exclude patterns
};

// The largest setup program the installer reads: its file positions are
// signed 32-bit numbers.
inline constexpr uint64_t kMaxSetupSize = 0x7FFFFFFF;

inline constexpr int kDefaultLevel = 4;

// The stub built with vxpack; empty when none was built in.
std::string embedded_stub();
// Why bytes are not one of our setup stubs (empty when they are): a Windows
// program, not a DLL, whose version resource names the vxsetup Setup, with
// nothing behind its image (an earlier package there would be found first).
std::string stub_fault(const std::string& bytes);

int run_build(const BuildOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vxpack
