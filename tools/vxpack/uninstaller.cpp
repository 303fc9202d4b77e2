// Building the standard uninstaller of a package.
#include "tools/vxpack/uninstaller.h"

#include "packer/writer.h"
#include "setup/uninstall_list.h"
#include "support/charset.h"

extern const unsigned char vx_uninstaller_data[];
extern const std::size_t vx_uninstaller_size;

namespace vxpack {

EntryRole entry_role_of(const std::string& file_name) {
  WideChar wide[260];
  ansi_to_wide(file_name.c_str(), wide, 260);
  return entry_role(wide);
}

std::string embedded_uninstaller() {
  return std::string(reinterpret_cast<const char*>(vx_uninstaller_data), vx_uninstaller_size);
}

std::string uninstall_list(const Package& package) {
  std::string main_program = package.facts.exe;
  std::string files;
  for (const PackageFile& f : package.files) {
    const EntryRole role = entry_role_of(f.file_name);
    if (role == kRoleScript || role == kRoleUninstaller) continue;
    if (main_program.empty() && role == kRoleMainProgram) main_program = f.file_name;
    files += "File=" + f.file_name + "\r\n";
  }
  return "ID=" + package.facts.id + "\r\nGroup=" + package.facts.group + "\r\nExe=" + main_program + "\r\n" + files +
         "File=UnInst.exe\r\n";
}

std::string attach_uninstall_list(const std::string& program, const std::string& list) {
  ArchiveWriter writer;
  writer.bytes.assign(program.begin(), program.end());
  begin_archive(&writer, ArchiveForm::kMarked, 0);
  EntrySpec header;
  header.name = kUninstallListName;
  header.file_time = dos_time_from_parts(1980, 1, 1, 0, 0, 0);
  add_stored_entry(&writer, header, reinterpret_cast<const uint8_t*>(list.data()), static_cast<uint32_t>(list.size()));
  end_archive(&writer);
  return std::string(writer.bytes.begin(), writer.bytes.end());
}

}  // namespace vxpack
