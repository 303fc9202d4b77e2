// End to end: the sample Setup.exe runs as a process and is driven by
// setup_probe (destination set, French unchecked, OK pressed, the closing
// message read and confirmed); then the installed files, the registry records
// (the Apps-list entry among them) and the shortcuts are checked, and the
// standard UnInst.exe that vxpack added must remove all of it again but a
// file of the user's own.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sample_package.h"
#include "tests/setup_harness.h"

namespace {

using namespace setup_test;

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" kSampleGroup;

bool key_exists(HKEY root, const wchar_t* key) {
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

std::wstring link_target(const fs::path& link) {
  const std::optional<Link> l = read_link(link);
  return l ? l->target : L"";
}

// An earlier installation of the sample in the prefix (the main job makes
// one) would turn this one into an update: its own uninstaller removes it,
// and whatever is left of its shortcuts and records goes too.
void remove_earlier_installation() {
  // The stored folder, and the default one that the preset would find.
  const std::wstring folders[2] = {
      read_registry(HKEY_CURRENT_USER, L"Software\\Vantorix", kSampleId),
      read_registry(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir") +
          L"\\" kSampleGroup};
  for (const std::wstring& folder : folders) {
    if (folder.find(L"<missing>") != std::wstring::npos || !fs::exists(fs::path(folder) / "UnInst.exe")) continue;
    run_process(L"\"" + (fs::path(folder) / "UnInst.exe").wstring() + L"\" /S", 20000);
    for (int i = 0; i < 200 && fs::exists(fs::path(folder) / "UnInst.exe"); ++i) Sleep(50);
  }
  std::error_code ec;
  fs::remove(special(CSIDL_DESKTOPDIRECTORY) / (std::wstring(kSampleGroup) + L".lnk"), ec);
  for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) fs::remove_all(special(csidl) / kSampleGroup, ec);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
  RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vantorix", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, kSampleId);
    RegCloseKey(key);
  }
}

TEST(SampleSetup, InstallsAndTheUninstallerRemovesIt) {
  CoInitialize(nullptr);
  remove_earlier_installation();
  vxtest::TempDir dir;
  const fs::path target = dir.path() / L"Foo Tool here";
  const std::wstring probe = L"\"" + fs::path(VX_PROBE_PATH).wstring() + L"\" \"" + fs::path(VX_SAMPLE_SETUP).wstring() +
                             L"\" --install \"" + target.wstring() + L"\" --uncheck FR --message \"" kSampleGroup
                             L" has been successfully installed.\"";
  ASSERT_EQ(run_process(probe, 120000), 0) << "the probe saw the installation fail";

  for (const wchar_t* const* name = kSampleFiles; *name != nullptr; ++name) {
    const bool french = std::wstring(*name).find(L"_FR.") != std::wstring::npos;
    EXPECT_EQ(fs::exists(target / *name), !french) << fs::path(*name).string();
  }
  EXPECT_FALSE(fs::exists(target / "FooTool.inf"));
  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, L"Software\\Vantorix", kSampleId), target));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), kSampleGroup);
  const std::wstring uninstaller = L"\"" + (target / "UnInst.exe").wstring() + L"\"";
  const std::wstring program = L"\"" + (target / "FooTool.exe").wstring() + L"\"";
  EXPECT_EQ(_wcsicmp(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString").c_str(), uninstaller.c_str()), 0);
  EXPECT_EQ(_wcsicmp(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString").c_str(),
                     (uninstaller + L" /S").c_str()), 0);
  EXPECT_EQ(_wcsicmp(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayIcon").c_str(), program.c_str()), 0);
  EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), target));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"1.2");
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Foo Works");
  uintmax_t bytes = 0;
  for (const auto& file : fs::directory_iterator(target)) bytes += file.file_size();
  EXPECT_EQ(read_registry_number(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), (bytes + 1023) / 1024);
  EXPECT_EQ(read_registry_number(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify"), 1u);
  EXPECT_EQ(read_registry_number(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair"), 1u);
  const fs::path desktop_link = special(CSIDL_DESKTOPDIRECTORY) / (std::wstring(kSampleGroup) + L".lnk");
  EXPECT_TRUE(same_path(link_target(desktop_link), target / "FooTool.exe"));
  fs::path programs = special(CSIDL_COMMON_PROGRAMS);
  if (!fs::exists(programs / kSampleGroup)) programs = special(CSIDL_PROGRAMS);
  const fs::path group = programs / kSampleGroup;
  EXPECT_TRUE(same_path(link_target(group / (std::wstring(kSampleGroup) + L".lnk")), target / "FooTool.exe"));
  EXPECT_TRUE(same_path(link_target(group / L"Uninstall.lnk"), target / "UnInst.exe"));

  // The uninstaller hands over to a copy of itself and ends; the copy then
  // removes everything but the user's file.
  vxtest::write_file(target / "notes.txt", vxtest::bytes_of("mine"));
  EXPECT_EQ(run_process(uninstaller + L" /S", 20000), 0);
  for (int i = 0; i < 200 && (fs::exists(target / "UnInst.exe") || key_exists(HKEY_LOCAL_MACHINE, kUninstallKey)); ++i) Sleep(50);
  for (const wchar_t* const* name = kSampleFiles; *name != nullptr; ++name) {
    EXPECT_FALSE(fs::exists(target / *name)) << fs::path(*name).string();
  }
  EXPECT_TRUE(fs::exists(target / "notes.txt"));
  EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, kUninstallKey));
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, L"Software\\Vantorix", kSampleId), L"<missing>");
  EXPECT_FALSE(fs::exists(desktop_link));
  EXPECT_FALSE(fs::exists(group));
  CoUninitialize();
}

TEST(SampleSetup, CutAtAnEntryBoundaryIsBrokenAndInstallsNothing) {
  remove_earlier_installation();
  // The sample cut where FooTool.exe's header begins: the name follows the
  // 32 fixed bytes of a file header.
  vxtest::Bytes bytes = vxtest::read_file(VX_SAMPLE_SETUP);
  const std::string name = "FooTool.exe";
  const auto at = std::find_end(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(at, bytes.end());
  bytes.resize(static_cast<std::size_t>(at - bytes.begin()) - 32);
  vxtest::TempDir dir;
  vxtest::write_file(dir / "Setup.exe", bytes);
  const std::wstring probe = L"\"" + fs::path(VX_PROBE_PATH).wstring() + L"\" \"" + (dir / "Setup.exe").wstring() +
                             L"\" --message \"Broken file, please download again.\"";
  EXPECT_EQ(run_process(probe, 120000), 0) << "no message 3001 in place of the dialog";
  const fs::path folder = read_registry(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                        L"ProgramFilesDir") + L"\\" kSampleGroup;
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, L"Software\\Vantorix", kSampleId), L"<missing>");
}

}  // namespace
