// The sample package's UnInst.exe, run for real on a faked installation: it
// must remove the package's files, shortcuts, program group and registry
// records, and leave everything else alone.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sample_package.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" kSampleGroup;

fs::path special_folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path);
  return path;
}

void touch(const fs::path& path) { vxtest::write_file(path, vxtest::bytes_of("x")); }

bool stored_destination_exists() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vantorix", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  const bool found = RegQueryValueExW(key, kSampleId, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return found;
}

bool uninstall_entry_exists(HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key;
  if (RegOpenKeyExW(root, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Lays out what the setup program leaves behind for the sample package.
void fake_installation(const fs::path& folder) {
  fs::create_directories(folder);
  for (const wchar_t* const* name = kSampleFiles; *name != nullptr; ++name) touch(folder / *name);
  fs::copy_file(VX_UNINST_PATH, folder / "UnInst.exe", fs::copy_options::overwrite_existing);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Vantorix", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
  const std::wstring value = folder.wstring();
  RegSetValueExW(key, kSampleId, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(2 * (value.size() + 1)));
  RegCloseKey(key);
  // The machine's entry, and the user's that a standard user gets.
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    ASSERT_EQ(RegCreateKeyExW(root, kUninstallKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    RegCloseKey(key);
  }
  touch(special_folder(CSIDL_DESKTOPDIRECTORY) / (std::wstring(kSampleGroup) + L".lnk"));
  const fs::path group = special_folder(CSIDL_PROGRAMS) / kSampleGroup;
  fs::create_directories(group);
  touch(group / (std::wstring(kSampleGroup) + L".lnk"));
  touch(group / L"Uninstall.lnk");
}

// Runs UnInst.exe quietly and waits until its copy has removed the package.
void run_uninstaller(const fs::path& folder) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + (folder / "UnInst.exe").wstring() + L"\" /S";
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 400 && (fs::exists(folder / "UnInst.exe") || uninstall_entry_exists()); ++i) Sleep(50);
  Sleep(200);
}

TEST(Uninstaller, RemovesThePackageAndKeepsOtherFiles) {
  vxtest::TempDir dir;
  const fs::path folder = dir.path() / kSampleGroup;
  fake_installation(folder);
  touch(folder / "notes.txt");  // the user's own file
  run_uninstaller(folder);

  for (const wchar_t* const* name = kSampleFiles; *name != nullptr; ++name) {
    EXPECT_FALSE(fs::exists(folder / *name)) << fs::path(*name).string();
  }
  EXPECT_TRUE(fs::exists(folder / "notes.txt"));
  EXPECT_FALSE(stored_destination_exists());
  EXPECT_FALSE(uninstall_entry_exists());
  EXPECT_FALSE(uninstall_entry_exists(HKEY_CURRENT_USER));
  EXPECT_FALSE(fs::exists(special_folder(CSIDL_DESKTOPDIRECTORY) / (std::wstring(kSampleGroup) + L".lnk")));
  EXPECT_FALSE(fs::exists(special_folder(CSIDL_PROGRAMS) / kSampleGroup));
}

TEST(Uninstaller, RemovesAFolderThatOnlyHeldThePackage) {
  vxtest::TempDir dir;
  const fs::path folder = dir.path() / kSampleGroup;
  fake_installation(folder);
  run_uninstaller(folder);
  for (int i = 0; i < 100 && fs::exists(folder); ++i) Sleep(50);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(fs::exists(dir.path()));
}

}  // namespace
