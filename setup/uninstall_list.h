// The list the standard uninstaller carries: what one package's installation
// creates. vxpack build writes it as the text of the single entry (named
// kUninstallListName) of an archive appended to the uninstaller; the
// uninstaller reads it back through the archive reader. Pure logic, tested on
// both platforms.
//
// 8-bit text, one key=value pair a line, keys at the start of their line:
//   ID=<the package's ID>            names the stored destination
//   Group=<Group as the .INF gives it, else the product name>
//   Exe=<file name of the main program>
//   File=<name of one installed file, without folders>   (one line per file)
// ID, Group and Exe are read with read_install_key (package_text.h).
#pragma once

inline constexpr char kUninstallListName[] = "UNINST.LST";

// The value of the next "File=" line at or after *cursor into name and moves
// *cursor behind that line. A value that does not fit into capacity - 1 bytes
// comes back empty (a cut name would be another file). False when no such
// line is left.
bool next_listed_file(const char** cursor, char* name, int capacity);
