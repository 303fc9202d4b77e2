// vxpack build: a package folder into one setup executable, the stub
// followed by the archive, checked, compressed, verified.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

namespace vxpack {

struct BuildOptions {
  std::filesystem::path folder;    // the package
  std::filesystem::path output;    // the setup executable to write
  std::filesystem::path stub;      // empty: the stub carried inside vxpack
  int level = 4;                   // 0 store, 1 fastest .. 5 best
  bool solid = true;
  bool reproducible = false;       // fixed times, UTC
  bool verify = true;
  bool quiet = false;
  bool verbose = false;
  bool progress = false;           // a progress bar (standard error is a terminal)
  bool uninstaller = true;         // add the standard UnInst.exe when the package has none
};

inline constexpr int kDefaultLevel = 4;

// The stub built with vxpack; empty when none was built in.
std::string embedded_stub();

int run_build(const BuildOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vxpack
