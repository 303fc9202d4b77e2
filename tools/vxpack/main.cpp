// vxpack: builds setup executables and lists, tests and extracts their archives.
#include <CLI/CLI.hpp>

#include <iostream>

#include "tools/vxpack/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"vxpack: build, list, test and extract vxsetup packages"};
  app.require_subcommand(1);
  app.footer(vxpack::exit_code_help());

  std::string file, folder;
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
  if (*list) return vxpack::run_list(file, std::cout, std::cerr);
  if (*test) return vxpack::run_test(file, std::cout, std::cerr);
  if (*extract) return vxpack::run_extract(file, folder, std::cout, std::cerr);
  return vxpack::kExitUsage;
}
