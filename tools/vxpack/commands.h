// vxpack's commands as functions: each writes its report to out, its problems
// to err, and returns the process exit code (see ExitCode).
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

namespace vxpack {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,         // bad command line
  kExitNoArchive = 2,     // file missing or unreadable, or no archive in it
  kExitDamaged = 3,       // an entry failed its checksum, or the archive is damaged
  kExitCannotWrite = 4,   // an output file or folder cannot be created
  kExitNoMemory = 5,      // memory exhausted
  kExitUnsafeName = 6,    // extract refused entries whose names leave the folder
  kExitPackageErrors = 7, // build: the package has errors, nothing was written
  kExitVerifyFailed = 8,  // build: the output did not read back; it was removed
  kExitNoStub = 9,        // build: no stub built in and none given, or --stub is no setup stub
};

// The exit codes in words, for --help.
const char* exit_code_help();

// One pass through the installer's reader with every entry taken into
// memory, so that every checksum is tested.
struct TestOutcome {
  int result = 0;       // extract_archive's result
  int entries = 0;      // entries that passed
  std::string current;  // the entry being read, empty between entries (names the failing one)
};
TestOutcome test_archive(const std::filesystem::path& file, std::ostream* report);

int run_list(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
int run_test(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
int run_extract(const std::filesystem::path& file, const std::filesystem::path& folder,
                std::ostream& out, std::ostream& err);

}  // namespace vxpack
