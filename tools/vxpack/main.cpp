// vxpack: builds setup executables and lists, tests and extracts their archives.
#include <CLI/CLI.hpp>

#include <iostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "tools/vxpack/build.h"
#include "tools/vxpack/commands.h"

namespace {

bool stderr_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vxpack: build, list, test and extract vxsetup packages"};
  app.require_subcommand(1);
  // Paths such as /tmp/x are paths, also in the Windows build (Wine hands
  // Unix paths through): no /option syntax.
  app.allow_windows_style_options(false);
  app.footer(vxpack::exit_code_help());
  const std::size_t stub_size = vxpack::embedded_stub().size();
  app.set_version_flag("--version", std::string("vxpack ") + VX_VERSION + "\n" +
                                        (stub_size ? "setup stub built in: " + std::to_string(stub_size) + " bytes"
                                                   : std::string("no setup stub built in: build needs --stub PATH")));

  std::string file, folder;
  vxpack::BuildOptions build_options;
  std::string build_folder, build_output, build_stub;
  bool no_solid = false, no_verify = false, no_uninstaller = false;
  CLI::App* build = app.add_subcommand("build", "Check a package folder and build one setup executable from it");
  build->add_option("FOLDER", build_folder, "The package: program files, FILE_ID.DIZ, .INF, .LNG, UnInst.exe")
      ->required();
  build->add_option("-o,--output", build_output, "The setup executable to write")->required();
  build->add_option("--stub", build_stub, "Setup stub to put in front of the archive (default: the one built in)");
  build->add_option("-m,--level", build_options.level,
                    "Compression: -m0 store, -m1 fastest ... -m5 best (default -m" +
                        std::to_string(vxpack::kDefaultLevel) + ")")
      ->check(CLI::Range(0, 5));
  build->add_flag("--no-solid", no_solid, "Compress every file on its own (larger, each file decodes alone)");
  build->add_flag("--reproducible", build_options.reproducible,
                  "Byte-identical output everywhere: every entry dated SOURCE_DATE_EPOCH (or 1980-01-01), in UTC");
  build->add_flag("--no-verify", no_verify, "Skip reading the output back through the installer's reader");
  build->add_option("--exclude", build_options.excludes,
                    "Leave out files and folders matching PATTERN (* and ?; with a '/', the path in the package); "
                    "repeatable. .git, .svn, Thumbs.db, desktop.ini, .DS_Store and *~ are always left out")
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  build->add_flag("--strict", build_options.strict, "Warnings stop the build too (exit code 7)");
  build->add_flag("--no-uninstaller", no_uninstaller,
                  "Add no standard UnInst.exe to a package that has none (the product then has no uninstall entry)");
  build->add_flag("-q,--quiet", build_options.quiet, "Print errors only");
  build->add_flag("-v,--verbose", build_options.verbose, "Print one line per file");
  CLI::App* list = app.add_subcommand("list", "Show where the archive is and list its entries");
  list->add_option("FILE", file, "Archive or setup executable")->required();
  CLI::App* test = app.add_subcommand("test", "Decode every entry and test its checksum");
  test->add_option("FILE", file, "Archive or setup executable")->required();
  CLI::App* extract = app.add_subcommand("extract", "Extract every entry below a folder");
  extract->add_option("FILE", file, "Archive or setup executable")->required();
  extract->add_option("DIR", folder, "Output folder (created when missing)")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : vxpack::kExitUsage;
  }
  if (*build) {
    build_options.folder = build_folder;
    build_options.output = build_output;
    build_options.stub = build_stub;
    build_options.solid = !no_solid;
    build_options.verify = !no_verify;
    build_options.uninstaller = !no_uninstaller;
    build_options.progress = stderr_is_terminal() && !build_options.verbose;
    return vxpack::run_build(build_options, std::cout, std::cerr);
  }
  if (*list) return vxpack::run_list(file, std::cout, std::cerr);
  if (*test) return vxpack::run_test(file, std::cout, std::cerr);
  if (*extract) return vxpack::run_extract(file, folder, std::cout, std::cerr);
  return vxpack::kExitUsage;
}
