// The standard uninstaller that vxpack build adds to a package that has no
// UnInst.exe of its own: the program built with vxpack and, appended to it,
// an archive with one stored entry, the list of what the installation of this
// package creates (its format: setup/uninstall_list.h).
#pragma once

#include <string>

#include "setup/install_names.h"
#include "tools/vxpack/package.h"

namespace vxpack {

// The installer's role (setup/install_names.h) of an ANSI file name.
EntryRole entry_role_of(const std::string& file_name);
// The uninstaller program built with vxpack; empty when none was built in.
std::string embedded_uninstaller();
// The list text for a package: its ID, its Group as the installer keeps it,
// its main program (Exe, else the first V*.EXE in archive order) and the
// file names it installs (every file but .INF files, flat), UnInst.exe last.
std::string uninstall_list(const Package& package);
// program with an archive appended whose single stored entry is list.
std::string attach_uninstall_list(const std::string& program, const std::string& list);

}  // namespace vxpack
