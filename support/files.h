// The platform layer for files and folders: the existence probe, full paths,
// folder trees, the archive reader's streams, and the shell's move and delete.
// files_win32.cpp uses Win32; files_posix.cpp reaches the same effects by POSIX
// means for what portable code needs (paths are UTF-16, stored as UTF-8).
#pragma once

#include <cstdint>
#include <cstdio>

#include "support/text.h"

// 0 when the path names an existing file or folder, -1 otherwise.
int path_missing(const WideChar* path);
// Replaces path (capacity >= 260) by its full form; unchanged on failure.
void full_path(WideChar* path);
// Creates a folder and its missing parents: 0 created, 2 failed (an existing
// folder included), 3 parents created but the folder itself failed.
int create_folder_tree(const WideChar* path);

// Opens a file for reading in byte mode. share: 0 deny read, 1 deny write,
// 2 and 3 deny nothing. nullptr on failure.
std::FILE* open_archive_file(const WideChar* path, int share);
// Creates (or empties) a file for reading and writing in byte mode ("w+b"),
// unbuffered: its writers hand over large pieces.
std::FILE* create_output_file(const WideChar* path);
// Closes a stream; nullptr is ignored.
void close_stream(std::FILE* stream);
// Deletes a file; 0 on success.
int delete_file(const WideChar* path);
// Gives an extracted file, still open as created by create_output_file, its
// last-write time from an MS-DOS local time (date in the high 16 bits) and
// its attributes from an MS-DOS attribute byte (read-only 0x01), through the
// stream's own handle. Failures are ignored.
void apply_entry_time_and_attributes(std::FILE* file, uint32_t dos_time, uint32_t attributes);

#ifdef _WIN32
struct HWND__;
// Moves source to target with the shell: 0 success, -1 failure or abort.
int shell_move(HWND__* owner, const WideChar* source, const WideChar* target);
// Deletes a folder tree with the shell, without the recycle bin.
void shell_delete_folder(const WideChar* path);
#endif
