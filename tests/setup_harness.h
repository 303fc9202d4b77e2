// The setup tests' harness: the real dialog procedure on the real template
// (the test programs carry the stub's resources), run modally against setup
// executables that each test builds from the stub and a crafted package. A
// CBT hook finds the dialog, runs the test's script from a timer once it is
// up, and records and dismisses every message box; a watchdog ends a dialog
// that hangs.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
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

struct Box {
  std::wstring text, caption;
  bool error_icon = false;
  bool information_icon = false;
};

struct MenuSeen {
  std::vector<UINT> ids;
  std::vector<std::wstring> texts;
};

// What the hooks and timers of one dialog run share with the test.
struct Harness {
  std::function<void(HWND)> script;            // runs once the dialog is shown
  std::function<void(HWND)> other_dialog;      // a dialog of neither kind (folder browser)
  std::function<void(HWND)> on_box;            // called as a message box appears, before it is dismissed
  std::vector<Box> boxes;                      // message boxes, in order
  std::vector<MenuSeen> menus;                 // popup menus, in order
  HWND dialog = nullptr;
  UINT_PTR script_timer = 0;
  bool watchdog_fired = false;
};

// The harness of the dialog that runs now; nullptr between runs.
extern Harness* harness;

std::wstring window_text(HWND window);
// The CBT hook that finds the dialog and records message boxes; tests that
// show boxes outside a dialog install it themselves.
LRESULT CALLBACK cbt_hook(int code, WPARAM first, LPARAM second);
// Runs dialog 1000 modally under h; returns the dialog's result.
INT_PTR run_dialog(Harness& h);
void click(HWND dialog, int id);
// The text as UTF-16 LE with a byte order mark.
Bytes utf16_bytes(const std::wstring& text);
// The stub's bytes (VX_STUB_PATH).
const Bytes& stub_bytes();
// Writes the stub with the files appended as a stored archive; damaged: the
// last data byte of the entry of that index is changed after its checksum.
fs::path build_setup(const vxtest::TempDir& dir, const std::string& exe, const std::vector<PackageFile>& files,
                     int damaged = -1);

// Windows lookups that the installation and uninstallation tests read their
// results with; a registry value that cannot be read is "<missing>".
std::wstring read_registry(HKEY root, const wchar_t* key, const wchar_t* value);
DWORD read_registry_number(HKEY root, const wchar_t* key, const wchar_t* value);
void write_registry(HKEY root, const wchar_t* key, const wchar_t* value, const std::wstring& text);
fs::path special(int csidl);
struct Link {
  std::wstring target, working;
};
// The shortcut's target and working folder; nothing when it cannot be read.
std::optional<Link> read_link(const fs::path& path);
bool same_path(const std::wstring& a, const fs::path& b);
// Runs the command line and returns its exit code, -1 when it did not start
// or end within ms.
int run_process(std::wstring command, DWORD ms);

struct Item {
  std::wstring text;
  LanguageCode code;
  UINT state;  // state image: 1 unchecked, 2 checked
};
std::vector<Item> list_items(HWND dialog);
std::vector<UINT> checks(HWND dialog);
// Sets the check box of the item with code.
void check_language(HWND dialog, LanguageCode code, bool checked);

inline constexpr LanguageCode kFR = make_language_code('F', 'R');
inline constexpr LanguageCode kIT = make_language_code('I', 'T');

// A fresh state record per test, in the UI language chosen.
class SetupFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;
  // A new state record for one more dialog run within a test.
  void reset_state();
  void use_language(const char* code);
  void use_package(const fs::path& path);

  SetupState state_{};
  vxtest::TempDir dir_;
};

}  // namespace setup_test
