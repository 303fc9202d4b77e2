// The setup dialog on its real template (the test program carries the stub's
// resources), run modally against setup executables built from the stub and
// crafted packages: the dialog before OK, the discovery pass's verdict and the
// closing thread; the installation on OK (files, registry, shortcuts, default
// destination, updates, fallbacks, the undo of a failed run, messages); the
// sample Setup.exe and its standard uninstaller. A CBT hook finds the dialog,
// runs the test's script from a timer once it is up, and records and confirms
// every message box and other dialog; a watchdog ends a dialog that hangs.
// Everything a test writes into the Wine prefix is removed again.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "packer/writer.h"
#include "sample_package.h"
#include "setup/destination.h"
#include "setup/dialog.h"
#include "setup/install.h"
#include "setup/language_list.h"
#include "setup/main.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "setup/shortcuts.h"
#include "setup/state.h"
#include "tests/test_support.h"
#include "tools/vxpack/uninstaller.h"

namespace {

namespace fs = std::filesystem;
using vxtest::Bytes;
using vxtest::bytes_of;

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

fs::path special(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}

fs::path quick_launch() {
  wchar_t path[MAX_PATH] = {};
  quick_launch_folder(path, MAX_PATH);
  return path;
}

constexpr LanguageCode kFR = make_language_code('F', 'R');

constexpr char kInf[] = "ID=VXT\r\nGroup=VxTest Tool\r\nClass=VxTestNoSuchWindow\r\nExe=VxMain.exe\r\n";
constexpr wchar_t kGroup[] = L"VxTest Tool";
constexpr wchar_t kVendorKey[] = L"Software\\Vantorix";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VxTest Tool";

std::wstring window_text(HWND window) {
  wchar_t text[600] = {};
  GetWindowTextW(window, text, 600);
  return text;
}

// The harness of the dialog that runs now; nullptr between runs.
Harness* harness = nullptr;

void CALLBACK script_timer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (harness == nullptr || harness->dialog == nullptr || !IsWindow(harness->dialog)) return;
  harness->script_timer = 0;
  if (harness->script) harness->script(harness->dialog);
}

void CALLBACK watchdog_timer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (harness != nullptr && harness->dialog != nullptr) EndDialog(harness->dialog, 99);
}

// The popup menu arrives at its owner as WM_INITMENUPOPUP, already filled;
// a posted WM_CANCELMODE ends the menu's loop (as EndMenu does).
LRESULT CALLBACK send_hook(int code, WPARAM first, LPARAM second) {
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(second);
  if (code == HC_ACTION && harness != nullptr && call->message == WM_INITMENUPOPUP) {
    HMENU menu = reinterpret_cast<HMENU>(call->wParam);
    std::wstring seen;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      wchar_t text[100] = {};
      GetMenuStringW(menu, i, text, 100, MF_BYPOSITION);
      seen += std::to_wstring(GetMenuItemID(menu, i)) + L" " + text + L";";
    }
    harness->menus.push_back(seen);
    PostMessageW(call->hwnd, WM_CANCELMODE, 0, 0);
  }
  return CallNextHookEx(nullptr, code, first, second);
}

// The icon the message box shows, of those the setup program uses.
const wchar_t* icon_of(HWND box) {
  for (HWND child = nullptr; (child = FindWindowExW(box, child, L"Static", nullptr)) != nullptr;) {
    const HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    if (icon == LoadIconW(nullptr, IDI_HAND)) return L" (error)";
    if (icon == LoadIconW(nullptr, IDI_ASTERISK)) return L" (information)";
  }
  return L"";
}

LRESULT CALLBACK cbt_hook(int code, WPARAM first, LPARAM second) {
  HWND window = reinterpret_cast<HWND>(first);
  wchar_t name[8] = {};
  if (code == HCBT_ACTIVATE && harness != nullptr && GetClassNameW(window, name, 8) && !lstrcmpW(name, L"#32770")) {
    if (GetDlgItem(window, IDC_LANGUAGES) != nullptr) {
      if (harness->dialog == nullptr) {
        harness->dialog = window;
        harness->script_timer = SetTimer(nullptr, 0, 30, script_timer);
      }
    } else {
      // A message box (the one with static text 0xFFFF) is recorded; it and
      // any other dialog (the folder browser) are confirmed.
      HWND text = GetDlgItem(window, 0xFFFF);
      if (text != nullptr) harness->boxes.push_back(window_text(window) + L": " + window_text(text) + icon_of(window));
      PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(nullptr, code, first, second);
}

// Runs dialog 1000 modally, script once it is shown, and expects it to end
// by itself (result 0; 99 when the watchdog ended it).
Harness run_dialog(const std::function<void(HWND)>& script) {
  Harness h;
  h.script = script;
  harness = &h;
  HHOOK cbt = SetWindowsHookExW(WH_CBT, cbt_hook, nullptr, GetCurrentThreadId());
  HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, send_hook, nullptr, GetCurrentThreadId());
  const UINT_PTR watchdog = SetTimer(nullptr, 0, 60000, watchdog_timer);
  const INT_PTR result =
      DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETUP), nullptr, main_dialog_proc, 0);
  KillTimer(nullptr, watchdog);
  if (h.script_timer != 0) KillTimer(nullptr, h.script_timer);
  UnhookWindowsHookEx(sent);
  UnhookWindowsHookEx(cbt);
  harness = nullptr;
  EXPECT_EQ(result, 0);
  return h;
}

void click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// Writes the stub with the files appended as a stored archive; damaged: the
// last data byte of the entry of that index is changed after its checksum.
fs::path build_setup(const vxtest::TempDir& dir, const std::string& exe, const std::vector<PackageFile>& files,
                     int damaged = -1) {
  ArchiveWriter w;
  w.bytes = vxtest::read_file(VX_STUB_PATH);
  begin_archive(&w, ArchiveForm::kMarked);
  for (std::size_t i = 0; i < files.size(); ++i) {
    EntrySpec e;
    e.name = files[i].name;
    e.file_attr = files[i].attributes;
    e.file_time = files[i].time != 0 ? files[i].time : dos_time_from_parts(2024, 6, 1, 12, 0, 0);
    add_stored_entry(&w, e, files[i].data.data(), static_cast<uint32_t>(files[i].data.size()));
    if (static_cast<int>(i) == damaged) w.bytes.back() ^= 0x5A;
  }
  end_archive(&w);
  const fs::path path = dir / exe;
  vxtest::write_file(path, w.bytes);
  return path;
}

bool same_path(const std::wstring& a, const fs::path& b) { return lstrcmpiW(a.c_str(), b.wstring().c_str()) == 0; }

std::wstring quoted(const fs::path& path) { return L"\"" + path.wstring() + L"\""; }

// Starts the command line; the process's handle, nullptr when it did not start.
HANDLE start_process(std::wstring command) {
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// The language list in its order, each item's text followed by '+' when it
// is checked and '-' when not: "Dansk+ English- ".
std::wstring languages(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  std::wstring out;
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[260] = {};
    ListView_GetItemText(list, i, 0, text, 260);
    out += text + std::wstring(language_check(list, i) == 2 ? L"+ " : L"- ");
  }
  return out;
}

// Sets the check box of the item with code.
void check_language(HWND dialog, LanguageCode code, bool checked) {
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  const int index = find_language_item(list, code);
  ASSERT_GE(index, 0);
  set_language_check(list, index, checked);
}

// The test package: ID VXT, Group "VxTest Tool", main program VxMain.exe
// (entry 10), language packs US, DE, FR (in a folder, then a second one), IT,
// DA and one without a name, texts in folders, an uninstaller, a read-only
// and a hidden file. inf replaces the script's text.
std::vector<PackageFile> package(const char* inf = kInf) {
  return {
      {"FILE_ID.DIZ", bytes_of("VxTest Tool Version 1.2\r\n")},
      {"Setup\\Vxt.inf", bytes_of(inf)},
      {"Vxt_US.LNG", bytes_of("[S]\r\nLanguage=American\r\n")},
      {"Vxt_DE.LNG", bytes_of("[S]\r\nLanguage=Deutsch\r\n")},
      {"Lang\\Vxt_FR.LNG", bytes_of("[S]\r\nLanguage=Fran\xE7" "ais\r\n")},
      {"Vxt_IT.LNG", bytes_of("[S]\r\nLanguage=Italiano\r\n")},
      {"Docs\\Vxt_FR.txt", bytes_of("Bonjour")},
      {"Docs\\Deep\\Vxt_FR.CHM", bytes_of("Aide")},
      {"Vxt_DE.txt", bytes_of("Hallo")},
      {"Vxt_IT.txt", bytes_of("Ciao")},
      {"VxMain.exe", vxtest::random_bytes(50000, 7), 0x20, dos_time_from_parts(2021, 3, 4, 5, 6, 8)},
      {"UnInst.exe", bytes_of("uninstaller")},
      {"Docs\\ReadMe.txt", bytes_of("Read me."), 0x21},
      {"Hidden.dat", bytes_of("h"), 0x22},
      {"Vxt_DA.LNG", bytes_of("[S]\r\nLanguage=Dansk\r\n")},
      {"Vxt_FR.LNG", bytes_of("[S]\r\nLanguage=Second French\r\n")},
      {"Vxt_XX.LNG", bytes_of("[S]\r\nNothing here\r\n")},
  };
}

void remove_traces() {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kVendorKey, L"VXT");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
  RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
  std::error_code ec;
  const std::wstring link = std::wstring(kGroup) + L".lnk";
  fs::remove(special(CSIDL_DESKTOPDIRECTORY) / link, ec);
  fs::remove(quick_launch() / link, ec);
  for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) fs::remove_all(special(csidl) / kGroup, ec);
}

// A fresh state record per test, in the UI language chosen (US unless the
// test picks another). What an installation of the test package leaves
// outside its folder is removed before and after each test.
class SetupFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    remove_traces();
    setup_state = &state_;
    reset_state();
  }
  void TearDown() override {
    if (state_.title_font != nullptr) DeleteObject(state_.title_font);
    setup_state = nullptr;
    remove_traces();
  }
  // A new state record for one more dialog run, on that setup executable.
  void reset_state(const fs::path& setup = {}, const char* language = "US") {
    if (state_.title_font != nullptr) DeleteObject(state_.title_font);
    state_ = SetupState{};
    init_setup_state(GetModuleHandleW(nullptr));
    lstrcpyA(state_.ui_language, language);
    select_ui_strings();
    copy_text(setup.wstring().c_str(), state_.setup_path, kPathCapacity);
  }
  // Runs the dialog on setup, sets the destination (unless empty), lets
  // adjust change the dialog, and presses OK. Returns the message boxes, one
  // a line, then "open" when OK did not close the dialog.
  std::wstring install(const fs::path& setup, const std::wstring& destination,
                       const std::function<void(HWND)>& adjust = {}) {
    reset_state(setup);
    bool closed = false;
    const Harness h = run_dialog([&](HWND dialog) {
      if (!destination.empty()) SetDlgItemTextW(dialog, IDC_DESTINATION, destination.c_str());
      if (adjust) adjust(dialog);
      click(dialog, IDC_INSTALL);
      MSG message;
      closed = PeekMessageW(&message, dialog, WM_CLOSE, WM_CLOSE, PM_NOREMOVE);
      if (!closed) PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    std::wstring shown;
    for (const std::wstring& box : h.boxes) shown += box + L"\n";
    return closed ? shown : shown + L"open";
  }

  SetupState state_{};
  vxtest::TempDir dir_;
};

using SetupDialog = SetupFixture;
using SetupInstall = SetupFixture;

TEST_F(SetupDialog, ShowsThePackageAndServesItsControls) {
  reset_state(build_setup(dir_, "Setup.exe", package()));
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring browsed;
  const Harness h = run_dialog([&](HWND dialog) {
    EXPECT_EQ(window_text(dialog), L"Setup VxTest Tool 1.2");
    const std::pair<int, const wchar_t*> texts[] = {
        {IDC_TITLE, L"VxTest Tool 1.2"}, {IDC_INSTALL, L"&OK"}, {IDC_CANCEL, L"Cancel"},
        {IDC_DESTINATION_LABEL, L"Destination folder"}, {IDC_PROGRAM_GROUP, L"Put entry to Start Menu"},
        {IDC_DESKTOP_ICON, L"Create a Desktop icon"}, {IDC_QUICK_LAUNCH, L"Create a Quick Launch icon"},
        {IDC_STATUS, L""}};
    for (auto [id, text] : texts) EXPECT_EQ(window_text(GetDlgItem(dialog, id)), text) << id;
    // The quick-launch box only shows when that folder exists.
    EXPECT_EQ(IsWindowVisible(GetDlgItem(dialog, IDC_QUICK_LAUNCH)) != FALSE, fs::exists(quick_launch()));
    wchar_t heading[64] = {};
    LVCOLUMNW column = {LVCF_TEXT, 0, 0, heading, 64};
    SendDlgItemMessageW(dialog, IDC_LANGUAGES, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    EXPECT_STREQ(heading, L"Language");

    // The title label's font: 18 points of "MS Sans Serif".
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendDlgItemMessageW(dialog, IDC_TITLE, WM_GETFONT, 0, 0)), sizeof font, &font);
    HDC dc = GetDC(dialog);
    EXPECT_EQ(font.lfHeight, MulDiv(-18, GetDeviceCaps(dc, LOGPIXELSY), 72));
    ReleaseDC(dialog, dc);
    EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
    // Centred on the desktop, with the program icon.
    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &own);
    EXPECT_EQ(own.left, (desktop.right - desktop.left - (own.right - own.left)) >> 1);
    EXPECT_EQ(own.top, (desktop.bottom - desktop.top - (own.bottom - own.top)) >> 1);
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrW(dialog, GCLP_HICON)), state_.icon);

    // Sorted by text; the first pack of a code wins; US and DE keep the UI
    // texts; a pack without a name is left out. The menu shows over the
    // list only.
    EXPECT_EQ(languages(dialog), L"Dansk+ English+ Fran\u00E7ais+ German+ Italiano+ ");
    SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(dialog), 0);
    SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_LANGUAGES)), 0);
    SendMessageW(dialog, WM_COMMAND, IDM_UNCHECK_ALL, 0);
    EXPECT_EQ(languages(dialog), L"Dansk- English- Fran\u00E7ais- German- Italiano- ");
    SendMessageW(dialog, WM_COMMAND, IDM_CHECK_ALL, 0);
    EXPECT_EQ(languages(dialog), L"Dansk+ English+ Fran\u00E7ais+ German+ Italiano+ ");
    for (LanguageCode code : {kFR, make_language_code('I', 'T')}) check_language(dialog, code, false);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDM_INVERT, 1), 0);  // any notification code
    EXPECT_EQ(languages(dialog), L"Dansk- English- Fran\u00E7ais+ German- Italiano+ ");

    // OK with an empty destination leaves the dialog open, without a word.
    SetDlgItemTextW(dialog, IDC_DESTINATION, L"");
    click(dialog, IDC_INSTALL);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, dialog, WM_CLOSE, WM_CLOSE, PM_NOREMOVE));
    // The browser preselects the parent of a folder not made yet.
    SetDlgItemTextW(dialog, IDC_DESTINATION, (std::wstring(windows) + L"\\vx-not-created-yet").c_str());
    click(dialog, IDC_BROWSE);
    browsed = window_text(GetDlgItem(dialog, IDC_DESTINATION));
    // Messages without text show no box (the boxes with text are seen in
    // the other tests).
    EXPECT_EQ(show_message(dialog, L"", L"C:\\Temp\\setup.exe", MB_OK), 2);
    EXPECT_EQ(show_message(dialog, nullptr, L"C:\\Temp\\setup.exe", MB_OK), 2);
    EXPECT_EQ(show_ui_message(dialog, 1047, L"D:/x/Setup.exe", MB_ICONERROR), 2);
    SetLastError(0);
    EXPECT_EQ(show_system_error(dialog, 0, L"a\\b.exe"), 0);
    click(dialog, IDC_CANCEL);
  });
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_EQ(h.menus, (std::vector<std::wstring>{L"136 Select &all;137 &Deselect all;138 &Invert selection;"}));
  EXPECT_TRUE(same_path(browsed, windows));
  wchar_t short_text[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  system_error_text(82, short_text, 6);
  EXPECT_EQ(lstrlenW(short_text), 4) << "cut to capacity - 2 characters";
}

TEST_F(SetupDialog, OnlyAnIntactPackageClosesOtherProcessesCopies) {
  // FooTool.exe, up once its main window (of the class FooToolMain) exists.
  HANDLE foo = start_process(quoted(VX_FOOTOOL_PATH));
  ASSERT_NE(foo, nullptr);
  for (int i = 0; i < 1000 && FindWindowW(L"FooToolMain", nullptr) == nullptr; ++i) Sleep(10);
  // A damaged entry after the keys, the stub without any package, an entry
  // name the installer would never write, and the sample cut where
  // FooTool.exe's header begins (the name follows its 32 fixed bytes):
  // nothing is installed, so the program the user is running stays open.
  const char kKeys[] = "ID=VXT\r\nGroup=Foo\r\nClass=FooToolMain\r\n";
  std::vector<PackageFile> hostile = package(kKeys);
  hostile.insert(hostile.begin() + 3, {"Data\\file.txt:stream", vxtest::bytes_of("hostile")});
  vxtest::write_file(dir_ / "Bare.exe", vxtest::read_file(VX_STUB_PATH));
  Bytes sample = vxtest::read_file(VX_SAMPLE_SETUP);
  const std::string name = "FooTool.exe";
  sample.resize(std::find_end(sample.begin(), sample.end(), name.begin(), name.end()) - sample.begin() - 32);
  vxtest::write_file(dir_ / "Cut Setup.exe", sample);
  const std::pair<fs::path, const char*> cases[] = {{build_setup(dir_, "Damaged Setup.exe", package(kKeys), 9), "US"},
                                                    {dir_ / "Bare.exe", "DE"},
                                                    {build_setup(dir_, "Hostile.exe", hostile), "US"},
                                                    {dir_ / "Cut Setup.exe", "US"}};
  for (const auto& [setup, language] : cases) {
    reset_state(setup, language);
    bool shown = false;
    const Harness h = run_dialog([&](HWND) { shown = true; });
    EXPECT_FALSE(shown);
    const std::wstring text = language[0] == 'U' ? L"Broken file, please download again."
                                                 : L"Die Datei ist besch\u00E4digt, bitte nochmal herunterladen!";
    EXPECT_EQ(h.boxes, (std::vector<std::wstring>{setup.filename().wstring() + L": " + text + L" (error)"}));
  }
  EXPECT_EQ(WaitForSingleObject(foo, 1000), static_cast<DWORD>(WAIT_TIMEOUT));

  // No Class key: the class is the Group, here the sample program's class. A
  // window of that class in the installer's own process stays.
  reset_state(build_setup(dir_, "Setup.exe", package("ID=VXT\r\nGroup=FooToolMain\r\nExe=VxMain.exe\r\n")));
  const WNDCLASSW own_class = {0, DefWindowProcW, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, L"FooToolMain"};
  RegisterClassW(&own_class);
  HWND own = CreateWindowW(L"FooToolMain", L"own", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  DWORD wait = WAIT_FAILED;
  run_dialog([&](HWND dialog) {
    wait = WaitForSingleObject(foo, 15000);
    click(dialog, IDC_CANCEL);
  });
  // A close request the thread may have posted to the own window after the
  // dialog's loop ended is dispatched now.
  Sleep(300);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(wait, WAIT_OBJECT_0) << "FooTool.exe was not closed";
  DWORD exit_code = 1;
  GetExitCodeProcess(foo, &exit_code);
  EXPECT_EQ(exit_code, 0u) << "it ended as its close button ends it";
  EXPECT_TRUE(IsWindow(own));
  TerminateProcess(foo, 1);
  CloseHandle(foo);
}

const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kSuccess[] = L"Setup VxTest Tool 1.2: VxTest Tool has been successfully installed. (information)\n";
const int kBoxes[] = {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH};

fs::path link_in(const fs::path& folder, const std::wstring& name = kGroup) { return folder / (name + L".lnk"); }

// A registry value as text (a number in decimal, from the buffer's first two
// UTF-16 units); "<missing>" when it cannot be read.
std::wstring read_registry(HKEY root, const wchar_t* key, const wchar_t* value) {
  wchar_t text[600] = {};
  DWORD type = 0, bytes = sizeof text - 2;
  if (RegGetValueW(root, key, value, RRF_RT_ANY, &type, text, &bytes) != ERROR_SUCCESS) return L"<missing>";
  return type == REG_DWORD ? std::to_wstring(text[0] | static_cast<DWORD>(text[1]) << 16) : text;
}

void write_registry(HKEY root, const wchar_t* key, const wchar_t* value, const std::wstring& text) {
  RegSetKeyValueW(root, key, value, REG_SZ, text.c_str(), 2 * (text.size() + 1));
}

// Whether the shortcut points to target, working in working.
bool links_to(const fs::path& link, const fs::path& target, const fs::path& working) {
  IShellLinkW* shell_link = nullptr;
  IPersistFile* file = nullptr;
  wchar_t read_target[MAX_PATH] = {}, read_working[MAX_PATH] = {};
  CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                   reinterpret_cast<void**>(&shell_link));
  if (shell_link != nullptr && shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) == S_OK) {
    if (SUCCEEDED(file->Load(link.c_str(), STGM_READ))) {
      shell_link->GetPath(read_target, MAX_PATH, nullptr, SLGP_RAWPATH);
      shell_link->GetWorkingDirectory(read_working, MAX_PATH);
    }
    file->Release();
  }
  if (shell_link != nullptr) shell_link->Release();
  return same_path(read_target, target) && same_path(read_working, working);
}

// Runs the command line; its exit code, -1 when it did not start or end
// within 20 s.
int run_process(const std::wstring& command) {
  HANDLE process = start_process(command);
  if (process == nullptr) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
  else TerminateProcess(process, 1);
  CloseHandle(process);
  return static_cast<int>(code);
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The file's last-write time as the MS-DOS local time the archive stores.
uint32_t dos_time_of(const fs::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};  // a missing file reads as no time
  FILETIME local;
  WORD date = 0, time = 0;
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  return static_cast<uint32_t>(date) << 16 | time;
}

TEST_F(SetupInstall, FreshInstallationIntoARelativeFolder) {
  // Unchecked French and German: every file named Vxt_FR.* stays out, however
  // deep its folder, and so does a file of a base-length prefix and _DE even
  // though that prefix is not the base name.
  std::vector<PackageFile> files = package();
  files.insert(files.end(), {{"Abc_DE.pdf", bytes_of("other prefix")}, {"Vxt_ABCDE.txt", bytes_of("no code")},
                             {"Vxt_XY.txt", bytes_of("unknown code")}});
  const fs::path target = dir_ / "Programs" / "VxTest Tool";
  // A quick-launch folder, so that its box is shown and preset.
  const bool made_quick_launch = fs::create_directories(quick_launch());
  SetCurrentDirectoryW(dir_.path().wstring().c_str());
  std::vector<UINT> preset;
  const std::wstring shown = install(build_setup(dir_, "Setup.exe", files), L"Programs\\VxTest Tool", [&](HWND d) {
    for (int id : kBoxes) preset.push_back(IsDlgButtonChecked(d, id));
    check_language(d, kFR, false);
    check_language(d, kLanguageGerman, false);
  });
  SetCurrentDirectoryW(fs::temp_directory_path().wstring().c_str());
  EXPECT_EQ(shown, kSuccess);
  EXPECT_EQ(preset, (std::vector<UINT>{1, 1, 1})) << "a fresh installation checks all three";

  // Flat, without the script and the unchecked languages' files.
  EXPECT_EQ(names_in(target), (std::vector<std::string>{"FILE_ID.DIZ", "Hidden.dat", "ReadMe.txt", "UnInst.exe",
                                                         "VxMain.exe", "Vxt_ABCDE.txt", "Vxt_DA.LNG", "Vxt_IT.LNG",
                                                         "Vxt_IT.txt", "Vxt_US.LNG", "Vxt_XX.LNG", "Vxt_XY.txt"}));
  EXPECT_EQ(vxtest::read_file(target / "VxMain.exe"), vxtest::random_bytes(50000, 7));
  EXPECT_EQ(dos_time_of(target / "VxMain.exe"), dos_time_from_parts(2021, 3, 4, 5, 6, 8));
  EXPECT_EQ(dos_time_of(target / "Vxt_IT.txt"), dos_time_from_parts(2024, 6, 1, 12, 0, 0));
  EXPECT_EQ(GetFileAttributesW((target / "ReadMe.txt").c_str()) & 0x3F, 0x21u);
  EXPECT_EQ(GetFileAttributesW((target / "Hidden.dat").c_str()) & 0x3F, 0x22u);

  // The relative folder is recorded in its full form; without a Publisher
  // key the entry names us.
  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), target));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Vantorix");
  EXPECT_TRUE(links_to(link_in(quick_launch()), target / "VxMain.exe", target));
  if (made_quick_launch) fs::remove_all(quick_launch());
}

TEST_F(SetupInstall, UpdateReplacesFilesAndKeepsItsLanguages) {
  // An update that also brings a PSAPI.DLL (the one there is renamed aside)
  // and finds the program group already there (left as it is).
  const fs::path target = dir_ / "Installed";
  const fs::path group = special(CSIDL_COMMON_PROGRAMS) / kGroup;
  fs::create_directories(target);
  fs::create_directories(group);
  vxtest::write_file(target / "PSAPI.DLL", bytes_of("system copy"));
  vxtest::write_file(target / "Vxt_FR.LNG", bytes_of("old"));
  vxtest::write_file(target / "VxMain.exe", bytes_of("old program"));
  vxtest::write_file(target / "Mine.txt", bytes_of("the user's"));
  write_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT", target.wstring());
  std::vector<PackageFile> files = package();
  files.push_back({"PSAPI.DLL", bytes_of("package copy")});
  std::wstring seen;
  install(build_setup(dir_, "Setup.exe", files), L"", [&](HWND dialog) {
    seen = window_text(GetDlgItem(dialog, IDC_DESTINATION)) + L"|" + languages(dialog);
    for (int id : kBoxes) seen += std::to_wstring(IsDlgButtonChecked(dialog, id));
    CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED);
  });
  // The stored folder, used as stored; no Danish or Italian pack there; no box preset.
  EXPECT_EQ(seen, target.wstring() + L"|Dansk- English+ Fran\u00E7ais+ German+ Italiano- 000");
  EXPECT_EQ(vxtest::read_file(target / "VxMain.exe"), vxtest::random_bytes(50000, 7));
  EXPECT_FALSE(fs::exists(target / "Vxt_IT.txt"));
  EXPECT_TRUE(fs::exists(target / "Mine.txt"));
  EXPECT_EQ(vxtest::read_file(target / "VXPSAPI.DLL"), bytes_of("system copy"));
  EXPECT_EQ(vxtest::read_file(target / "PSAPI.DLL"), bytes_of("package copy"));
  EXPECT_TRUE(fs::is_empty(group)) << "an existing group is not refreshed";
  EXPECT_FALSE(fs::exists(special(CSIDL_PROGRAMS) / kGroup)) << "nor made again in the user's folder";
  EXPECT_FALSE(fs::exists(link_in(special(CSIDL_DESKTOPDIRECTORY)))) << "its box was unchecked";
}

TEST_F(SetupInstall, NoShortcutsWithoutAMainProgram) {
  std::vector<PackageFile> files = package("ID=VXT\r\nGroup=VxTest Tool\r\n");
  files[10].name = "Main.exe";  // no V*.EXE either
  EXPECT_EQ(install(build_setup(dir_, "Setup.exe", files), (dir_ / "Out").wstring()), kSuccess);
  EXPECT_FALSE(fs::exists(link_in(special(CSIDL_DESKTOPDIRECTORY))));
  EXPECT_FALSE(fs::exists(special(CSIDL_COMMON_PROGRAMS) / kGroup));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), kGroup) << "the uninstaller is listed";
}

TEST_F(SetupInstall, ReadOnlyFilesGoThroughTheTemporaryFolder) {
  // A read-only file in the destination, and an earlier entry of the same
  // name that is read-only: the staging folder takes the later one. The
  // all-users programs folder is a file, so no group can be made there and
  // the program group goes to the user's own programs folder.
  const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const std::wstring saved = read_registry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs");
  vxtest::write_file(dir_ / "Programs", bytes_of("not a folder"));
  write_registry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", (dir_ / "Programs").wstring());
  const fs::path target = dir_ / "Installed";
  fs::create_directories(target);
  vxtest::write_file(target / "ReadMe.txt", bytes_of("old"));
  SetFileAttributesW((target / "ReadMe.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  std::vector<PackageFile> files = package();
  files.push_back({"A\\Same.txt", bytes_of("earlier"), 0x21});
  files.push_back({"B\\Same.txt", bytes_of("later")});
  wchar_t temp_folder[MAX_PATH];
  new_temp_folder_name(temp_folder, MAX_PATH);
  const std::wstring shown = install(build_setup(dir_, "Setup.exe", files), target.wstring(),
                                     [](HWND dialog) { CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED); });
  if (saved == L"<missing>") RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs");
  else write_registry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", saved);
  EXPECT_EQ(shown, kSuccess);
  EXPECT_EQ(vxtest::read_file(target / "ReadMe.txt"), bytes_of("Read me."));
  EXPECT_EQ(vxtest::read_file(target / "Same.txt"), bytes_of("later"));
  EXPECT_FALSE(fs::exists(target / "Installed")) << "moved flat, not as a folder inside";
  EXPECT_FALSE(fs::exists(temp_folder)) << "the temporary folder is removed";
  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), target));
  EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
                        L"\"" + (target / "UnInst.exe").wstring() + L"\""));
  EXPECT_TRUE(links_to(link_in(special(CSIDL_PROGRAMS) / kGroup), target / "VxMain.exe", target));
}

TEST_F(SetupInstall, FailedRunTakesBackWhatItAdded) {
  const std::vector<PackageFile> files = package();
  // A fresh folder two levels deep, and an update of a folder that holds
  // the user's file, a file the package replaces, and a PSAPI.DLL.
  const fs::path fresh = dir_ / "New" / "VxTest Tool";
  const fs::path update = dir_ / "Old";
  fs::create_directories(update);
  vxtest::write_file(update / "Mine.txt", bytes_of("the user's"));
  vxtest::write_file(update / "FILE_ID.DIZ", bytes_of("replaced"));
  vxtest::write_file(update / "PSAPI.DLL", bytes_of("system copy"));
  for (const fs::path& target : {fresh, update}) {
    // The package is damaged once the dialog is up: in VxMain.exe, after
    // the files before it were written.
    EXPECT_EQ(install(build_setup(dir_, "Setup.exe", files), target.wstring(),
                      [&](HWND) { build_setup(dir_, "Setup.exe", files, 10); }),
              L"Setup.exe: Broken file, please download again. (error)\nopen");
    EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), L"<missing>");
  }
  EXPECT_FALSE(fs::exists(dir_ / "New")) << "the folders the run made are gone";
  EXPECT_EQ(names_in(update), (std::vector<std::string>{"FILE_ID.DIZ", "Mine.txt", "PSAPI.DLL"}));
  EXPECT_EQ(vxtest::read_file(update / "PSAPI.DLL"), bytes_of("system copy"));
}

TEST_F(SetupInstall, TemporaryFolderNamesAndError82WhenNothingCanBeCreated) {
  wchar_t old_tmp[MAX_PATH] = {}, old_temp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", old_temp, MAX_PATH);
  // The names count in hexadecimal.
  SetEnvironmentVariableW(L"TMP", dir_.path().wstring().c_str());
  auto next = [](int capacity) {
    wchar_t buffer[260];
    new_temp_folder_name(buffer, capacity);
    return fs::path(buffer).filename().wstring();
  };
  EXPECT_EQ(next(260), L"1");
  for (const char* n : {"1", "2", "3", "4", "5", "6", "7", "8", "9"}) fs::create_directory(dir_ / n);
  EXPECT_EQ(next(260), L"a");
  for (const char* n : {"a", "b", "c", "d", "e", "f"}) fs::create_directory(dir_ / n);
  EXPECT_EQ(next(260), L"10");
  EXPECT_EQ(next(8), L"") << "no name fits";

  // No drive Q:, and a temporary folder that cannot be made.
  SetEnvironmentVariableW(L"TMP", L"Q:\\NoTemp");
  SetEnvironmentVariableW(L"TEMP", L"Q:\\NoTemp");
  const std::wstring shown = install(build_setup(dir_, "Setup.exe", package()), L"Q:\\Nowhere\\VxTest Tool");
  SetEnvironmentVariableW(L"TMP", old_tmp[0] ? old_tmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", old_temp[0] ? old_temp : nullptr);
  // One box without a caption: the system's text for 82, maybe with a line break.
  EXPECT_TRUE(std::regex_match(shown, std::wregex(L": [^\n]*annot[^\n]*\\s* \\(error\\)\nopen")))
      << fs::path(shown).string();
}

TEST_F(SetupInstall, InstallEntryRefusesNamesAndFindsTheMainProgram) {
  copy_text(L"Vxt", state_.base_name, kFieldCapacity);
  const fs::path out = dir_ / "Out";
  auto entry = [&](InstallJob& job, const std::wstring& name) {
    wchar_t buffer[260];
    copy_text(name.c_str(), buffer, 260);
    return install_entry(buffer, nullptr, 0, &job);
  };
  // Names the installer never writes, and a path that does not fit, which
  // is not cut to another name; nothing is created for them.
  const std::pair<std::wstring, int> refused[] = {
      {L"Docs\\CON.txt", kExtractBadChecksum}, {L"x\\..", kExtractBadChecksum},
      {L"Data\\file.txt:stream", kExtractBadChecksum}, {L"LPT1.dat", kExtractBadChecksum},
      {std::wstring(250, L'x'), kExtractCannotCreate}};
  for (const auto& [name, code] : refused) {
    InstallJob job = {};
    copy_text(out.wstring().c_str(), job.destination, kPathCapacity);
    EXPECT_NE(entry(job, name), 0) << name.size();
    EXPECT_EQ(job.refused, code) << name.size();
  }
  EXPECT_FALSE(fs::exists(out));

  // The main program: the file Exe names, wherever it comes; else the first
  // V*.EXE, also for an Exe that is no plain file name of the package.
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"tool.EXE", L"Tool.exe"}, {L"", L"Vone.exe"}, {L"Bin\\Tool.exe", L"Vone.exe"}, {L"Missing.exe", L"Vone.exe"}};
  for (const auto& [exe, main] : cases) {
    InstallJob job = {};
    copy_text(out.wstring().c_str(), job.destination, kPathCapacity);
    copy_text(exe, job.exe, kFieldCapacity);
    for (const wchar_t* name : {L"Vone.exe", L"Bin\\Tool.exe", L"Vtwo.exe"}) EXPECT_EQ(entry(job, name), 0);
    EXPECT_STREQ(job.main_program, main) << std::wstring(exe).size();
    byte_buffer_reset(&job.added);
  }
}

TEST_F(SetupInstall, DefaultDestinationFromEachSource) {
  auto default_of = [] {
    wchar_t buffer[260];
    default_destination(buffer, 260);
    return std::wstring(buffer);
  };
  lstrcpyA(state_.ID, "VXT");
  lstrcpyA(state_.Group, "VxTest Tool");
  const std::wstring saved = read_registry(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  wchar_t environment[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramFiles", environment, MAX_PATH);
  // 1: the stored folder, used as stored, even when it no longer exists;
  // not for an empty ID.
  write_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT", L"X:\\Stored\\Place");
  EXPECT_EQ(default_of(), L"X:\\Stored\\Place");
  state_.ID[0] = 0;
  EXPECT_NE(default_of(), L"X:\\Stored\\Place");
  // 2: "ProgramFilesDir", 3: the environment.
  write_registry(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", L"D:\\Registry Programs");
  EXPECT_EQ(default_of(), L"D:\\Registry Programs\\VxTest Tool");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  SetEnvironmentVariableW(L"ProgramFiles", L"E:\\Env Programs\\");
  EXPECT_EQ(default_of(), L"E:\\Env Programs\\VxTest Tool");
  // 4: the Windows folder's drive, "Programme" when it exists.
  SetEnvironmentVariableW(L"ProgramFiles", nullptr);
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring drive = std::wstring(windows).substr(0, 3);
  if (!fs::exists(drive + L"Programme")) {
    EXPECT_EQ(default_of(), drive + L"Program Files\\VxTest Tool");
    fs::create_directory(drive + L"Programme");
    EXPECT_EQ(default_of(), drive + L"Programme\\VxTest Tool");
    fs::remove(drive + L"Programme");
  }
  // Without a Group nothing but a stored folder is proposed.
  state_.Group[0] = 0;
  EXPECT_EQ(default_of(), L"");
  SetEnvironmentVariableW(L"ProgramFiles", environment[0] ? environment : nullptr);
  if (saved != L"<missing>") write_registry(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", saved);
}

TEST(ShellLinkContainment, FaultEndsOnlyTheBody) {
  const LPTOP_LEVEL_EXCEPTION_FILTER marker = [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_CONTINUE_SEARCH; };
  const LPTHREAD_START_ROUTINE returning = [](void* argument) { return *static_cast<DWORD*>(argument); };
  const LPTHREAD_START_ROUTINE faulting = [](void*) -> DWORD { return *static_cast<volatile DWORD*>(nullptr); };
  LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(marker);
  DWORD value = 42;
  EXPECT_EQ(run_contained(returning, &value), 42u);
  EXPECT_EQ(run_contained(faulting, nullptr), 0u);
  EXPECT_EQ(run_contained(returning, &value), 42u) << "the process goes on";
  EXPECT_EQ(SetUnhandledExceptionFilter(before), marker) << "the filter in force is restored";
}

const wchar_t kSampleUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" kSampleGroup;

// Polls until done() holds, for at most 20 s; returns done().
bool wait_until(const std::function<bool()>& done) {
  for (int i = 0; i < 400 && !done(); ++i) Sleep(50);
  return done();
}

// An earlier installation of the sample in the prefix (the main job makes
// one) would turn this one into an update: its own uninstaller removes it.
void remove_earlier_installation() {
  const fs::path folder = read_registry(HKEY_CURRENT_USER, kVendorKey, kSampleId);
  if (fs::exists(folder / "UnInst.exe")) {
    run_process(quoted(folder / "UnInst.exe") + L" /S");
    wait_until([&] { return !fs::exists(folder / "UnInst.exe"); });
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kVendorKey, kSampleId);
}

// Waits for a message box with this caption (of any process: the copy in
// the temporary folder shows the last one), presses button and returns the
// box's text; empty when none appeared.
std::wstring answer_box(const wchar_t* caption, int button) {
  HWND box = nullptr;
  if (!wait_until([&] { return (box = FindWindowW(L"#32770", caption)) != nullptr && IsWindowVisible(box); })) {
    return L"";
  }
  const std::wstring text = window_text(GetDlgItem(box, 0xFFFF));
  SendMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
  return text;
}

TEST_F(SetupInstall, SampleInstallsAndItsUninstallerRemovesIt) {
  remove_earlier_installation();
  const fs::path target = dir_ / "Foo Tool here";
  EXPECT_EQ(install(VX_SAMPLE_SETUP, target.wstring(), [](HWND dialog) { check_language(dialog, kFR, false); }),
            L"Setup Foo Tool 1.2: Foo Tool has been successfully installed. (information)\n");
  for (const wchar_t* const* name = kSampleFiles; *name != nullptr; ++name) {
    const bool french = std::wstring(*name).find(L"_FR.") != std::wstring::npos;
    EXPECT_EQ(fs::exists(target / *name), !french) << fs::path(*name).string();
  }
  EXPECT_FALSE(fs::exists(target / "FooTool.inf"));
  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, kVendorKey, kSampleId), target));
  uintmax_t bytes = 0;
  for (const auto& file : fs::directory_iterator(target)) bytes += file.file_size();
  const fs::path uninstaller = target / "UnInst.exe";
  // The Apps-list entry; paths in any letter case.
  const std::pair<const wchar_t*, std::wstring> values[] = {
      {L"DisplayName", kSampleGroup}, {L"UninstallString", quoted(uninstaller)},
      {L"QuietUninstallString", quoted(uninstaller) + L" /S"}, {L"DisplayIcon", quoted(target / "FooTool.exe")},
      {L"InstallLocation", target.wstring()}, {L"DisplayVersion", L"1.2"}, {L"Publisher", L"Foo Works"},
      {L"EstimatedSize", std::to_wstring((bytes + 1023) / 1024)}, {L"NoModify", L"1"}, {L"NoRepair", L"1"}};
  for (const auto& [name, value] : values) {
    EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kSampleUninstallKey, name), value)) << name;
  }
  // The shortcuts work in the destination.
  const fs::path desktop_link = link_in(special(CSIDL_DESKTOPDIRECTORY), kSampleGroup);
  const fs::path group = special(CSIDL_COMMON_PROGRAMS) / kSampleGroup;
  EXPECT_TRUE(links_to(desktop_link, target / "FooTool.exe", target));
  EXPECT_TRUE(links_to(link_in(group, kSampleGroup), target / "FooTool.exe", target));
  EXPECT_TRUE(links_to(link_in(group, L"Uninstall"), uninstaller, target));

  // The user's own file stays, and so does the folder; ReadMe.txt is held
  // open, so the report names it. The uninstaller hands over to a copy of
  // itself, which asks (in the temporary folder: any process's box counts),
  // then removes the rest, the shortcuts and the records, and the original.
  vxtest::write_file(target / "Mine.txt", bytes_of("the user's"));
  HANDLE busy = CreateFileW((target / "ReadMe.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  CloseHandle(start_process(quoted(uninstaller)));
  EXPECT_NE(answer_box(kSampleGroup, IDYES), L"") << "the question";
  const std::wstring report = answer_box(kSampleGroup, IDOK);
  EXPECT_NE(report.find(L"\nReadMe.txt"), std::wstring::npos) << fs::path(report).string();
  EXPECT_EQ(report.find(L"FooTool.exe"), std::wstring::npos);
  CloseHandle(busy);
  wait_until([&] { return !fs::exists(uninstaller); });
  EXPECT_EQ(names_in(target), (std::vector<std::string>{"Mine.txt", "ReadMe.txt"}));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kSampleUninstallKey, L"DisplayName"), L"<missing>");
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, kSampleId), L"<missing>");
  EXPECT_FALSE(fs::exists(desktop_link));
  EXPECT_FALSE(fs::exists(group));
}

TEST(Uninstaller, RemovesNothingOutsideItsFolder) {
  // The list names files outside the folder in every way a name can.
  vxtest::TempDir dir;
  const fs::path folder = dir.path() / "Product";
  const fs::path elsewhere = dir.path() / "elsewhere.txt";
  fs::create_directories(folder);
  for (const fs::path& file : {folder / "a.txt", dir / "outside.txt", elsewhere}) {
    vxtest::write_file(file, bytes_of("content"));
  }
  const std::string list = "ID=VXU\r\nGroup=VxUninst Test\r\nExe=\r\nFile=a.txt\r\nFile=..\\outside.txt\r\n"
                           "File=" + elsewhere.string() + "\r\nFile=..\r\nFile=" + dir.path().string() +
                           "\r\nFile=UnInst.exe\r\n";
  const Bytes program = vxtest::read_file(VX_UNINSTALLER_PATH);
  const std::string uninstaller = vxpack::attach_uninstall_list(std::string(program.begin(), program.end()), list);
  vxtest::write_file(folder / "UnInst.exe", Bytes(uninstaller.begin(), uninstaller.end()));
  EXPECT_EQ(run_process(quoted(folder / "UnInst.exe") + L" /S"), 0);
  EXPECT_TRUE(wait_until([&] { return !fs::exists(folder); })) << "its listed files gone, then the folder";
  for (const fs::path& kept : {dir / "outside.txt", elsewhere}) EXPECT_TRUE(fs::exists(kept)) << kept.string();
}

}  // namespace
