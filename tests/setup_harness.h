// The setup tests' harness: the real dialog procedure on the real template
// (the test programs carry the stub's resources), run modally against setup
// executables that each test builds from the stub and a crafted package. A
// CBT hook finds the dialog, runs the test's script from a timer once it is
// up, and records and dismisses every message box; a watchdog ends a dialog
// that hangs; other dialogs (the folder browser) are confirmed. Also the
// Windows lookups both test programs read their results with.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "setup/state.h"
#include "tests/test_support.h"

namespace setup_test {

namespace fs = std::filesystem;
using vxtest::Bytes;

struct PackageFile {
  std::string name;            // archive name, ANSI
  Bytes data;
  uint32_t attributes = 0x20;  // MS-DOS attributes of the entry
  uint32_t time = 0;           // MS-DOS local time; 0: 2024-06-01 12:00:00
};

// What the hooks and timers of one dialog run share with the test.
struct Harness {
  std::function<void(HWND)> script;            // runs once the dialog is shown
  std::vector<std::wstring> boxes;             // message boxes: "caption: text", then " (error)" or " (information)"
  std::vector<std::wstring> menus;             // popup menus, "ID text;" per item
  HWND dialog = nullptr;
  UINT_PTR script_timer = 0;
};

std::wstring window_text(HWND window);
// Runs dialog 1000 modally, script once it is shown, and expects it to end
// by itself (result 0; 99 when the watchdog ended it).
Harness run_dialog(const std::function<void(HWND)>& script);
void click(HWND dialog, int id);
// The stub's bytes (VX_STUB_PATH).
const Bytes& stub_bytes();
// Writes the stub with the files appended as a stored archive; damaged: the
// last data byte of the entry of that index is changed after its checksum.
fs::path build_setup(const vxtest::TempDir& dir, const std::string& exe, const std::vector<PackageFile>& files,
                     int damaged = -1);

fs::path special(int csidl);
fs::path quick_launch();
bool same_path(const std::wstring& a, const fs::path& b);
std::wstring quoted(const fs::path& path);
// Starts the command line; the process's handle, nullptr when it did not start.
HANDLE start_process(std::wstring command);

// The language list in its order, each item's text followed by '+' when it
// is checked and '-' when not: "Dansk+ English- ".
std::wstring languages(HWND dialog);
// Sets the check box of the item with code.
void check_language(HWND dialog, LanguageCode code, bool checked);

inline constexpr LanguageCode kFR = make_language_code('F', 'R');

// The test package: ID VXT, Group "VxTest Tool", main program VxMain.exe
// (entry 10), language packs US, DE, FR (in a folder, then a second one), IT,
// DA and one without a name, texts in folders, an uninstaller, a read-only
// and a hidden file. inf replaces the script's text.
inline constexpr char kInf[] = "ID=VXT\r\nGroup=VxTest Tool\r\nClass=VxTestNoSuchWindow\r\nExe=VxMain.exe\r\n";
inline constexpr wchar_t kGroup[] = L"VxTest Tool";
inline constexpr wchar_t kVendorKey[] = L"Software\\Vantorix";
inline constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VxTest Tool";
std::vector<PackageFile> package(const char* inf = kInf);

// A fresh state record per test, in the UI language chosen (US unless the
// test picks another). What an installation of the test package leaves
// outside its folder is removed before and after each test.
class SetupFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;
  // A new state record for one more dialog run, on that setup executable.
  void reset_state(const fs::path& setup = {}, const char* language = "US");

  SetupState state_{};
  vxtest::TempDir dir_;
};

}  // namespace setup_test
