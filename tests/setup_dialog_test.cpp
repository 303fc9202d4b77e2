// The dialog before OK: texts and the language list, its menu, the ways to
// end it, the folder browser, the message boxes, the discovery pass's verdict
// and the closing thread, on the harness of setup_harness.h.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "setup/language_list.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "tests/setup_harness.h"

namespace {

using namespace setup_test;

using SetupDialog = SetupFixture;

TEST_F(SetupDialog, ShowsThePackage) {
  use_package(build_setup(dir_, "Setup.exe", package()));
  Harness h;
  h.script = [&](HWND dialog) {
    EXPECT_EQ(window_text(dialog), L"Setup VxTest Tool 1.2");
    const std::pair<int, const wchar_t*> texts[] = {
        {IDC_TITLE, L"VxTest Tool 1.2"}, {IDC_INSTALL, L"&OK"}, {IDC_CANCEL, L"Cancel"},
        {IDC_DESTINATION_LABEL, L"Destination folder"}, {IDC_PROGRAM_GROUP, L"Put entry to Start Menu"},
        {IDC_DESKTOP_ICON, L"Create a Desktop icon"}, {IDC_QUICK_LAUNCH, L"Create a Quick Launch icon"},
        {IDC_STATUS, L""}};
    for (auto [id, text] : texts) EXPECT_EQ(window_text(GetDlgItem(dialog, id)), text) << id;
    // A fresh destination checks the boxes; the quick-launch box only shows
    // when that folder exists.
    const bool quick_launch_exists = fs::exists(quick_launch());
    EXPECT_EQ(IsWindowVisible(GetDlgItem(dialog, IDC_QUICK_LAUNCH)) != FALSE, quick_launch_exists);
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON}) EXPECT_EQ(IsDlgButtonChecked(dialog, id), 1u) << id;
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_QUICK_LAUNCH), quick_launch_exists ? 1u : 0u);

    // Sorted by text; the first pack of a code wins; US and DE keep the UI
    // texts; a pack without a name is left out.
    const std::vector<Item> items = list_items(dialog);
    const std::vector<std::wstring> names = {L"Dansk", L"English", L"Fran\u00E7ais", L"German", L"Italiano"};
    const std::vector<LanguageCode> codes = {make_language_code('D', 'A'), kLanguageEnglish, kFR, kLanguageGerman, kIT};
    ASSERT_EQ(items.size(), names.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].text, names[i]);
      EXPECT_EQ(items[i].code, codes[i]);
      EXPECT_EQ(items[i].state, 2u) << "checked";
    }
    HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x424);
    wchar_t heading[64] = {};
    LVCOLUMNW column = {LVCF_TEXT};
    column.pszText = heading;
    column.cchTextMax = 64;
    SendMessageW(list, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
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
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_STREQ(state_.ID, "VXT");
  EXPECT_STREQ(state_.Group, "VxTest Tool");
  EXPECT_STREQ(state_.Class, "VxTestNoSuchWindow");
  EXPECT_STREQ(state_.Exe, "VxMain.exe");
  EXPECT_STREQ(state_.base_name, L"Vxt");
}

TEST_F(SetupDialog, LanguageMenuItsCommandsAndAnEmptyDestination) {
  use_language("DE");
  use_package(build_setup(dir_, "Setup.exe", package()));
  Harness h;
  h.script = [&](HWND dialog) {
    SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(dialog), 0);
    EXPECT_TRUE(h.menus.empty()) << "no menu outside the list";
    SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_LANGUAGES)), 0);
    SendMessageW(dialog, WM_COMMAND, IDM_UNCHECK_ALL, 0);
    EXPECT_EQ(checks(dialog), (std::vector<UINT>{1, 1, 1, 1, 1}));
    SendMessageW(dialog, WM_COMMAND, IDM_CHECK_ALL, 0);
    EXPECT_EQ(checks(dialog), (std::vector<UINT>{2, 2, 2, 2, 2}));
    for (LanguageCode code : {kFR, kIT}) check_language(dialog, code, false);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDM_INVERT, 1), 0);  // any notification code
    // Dansk, Deutsch, Englisch, Français, Italiano.
    EXPECT_EQ(checks(dialog), (std::vector<UINT>{1, 1, 1, 2, 2}));
    // OK with an empty destination leaves the dialog open, without a word.
    SetDlgItemTextW(dialog, IDC_DESTINATION, L"");
    click(dialog, IDC_INSTALL);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, dialog, WM_CLOSE, WM_CLOSE, PM_NOREMOVE));
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_EQ(h.menus, (std::vector<std::wstring>{
                         L"136 Alles &markieren;137 Markierung &aufheben;138 Markierung &umkehren;"}));
}

TEST_F(SetupDialog, BrowserPreselectsTheParentOfANewFolder) {
  use_package(build_setup(dir_, "Setup.exe", package()));
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  Harness h;
  h.other_dialog = [](HWND browser) { PostMessageW(browser, WM_COMMAND, IDOK, 0); };
  std::wstring after;
  h.script = [&](HWND dialog) {
    SetDlgItemTextW(dialog, IDC_DESTINATION, (std::wstring(windows) + L"\\vx-not-created-yet").c_str());
    click(dialog, IDC_BROWSE);
    after = window_text(GetDlgItem(dialog, IDC_DESTINATION));
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_EQ(lstrcmpiW(after.c_str(), windows), 0) << std::string(after.begin(), after.end());
}

// The boxes with text are seen in the other tests; these show none.
TEST_F(SetupDialog, MessagesWithoutTextShowNoBox) {
  Harness h;
  harness = &h;
  HHOOK cbt = SetWindowsHookExW(WH_CBT, cbt_hook, nullptr, GetCurrentThreadId());
  EXPECT_EQ(show_message(nullptr, L"", L"C:\\Temp\\setup.exe", MB_OK), 2);
  EXPECT_EQ(show_message(nullptr, nullptr, L"C:\\Temp\\setup.exe", MB_OK), 2);
  EXPECT_EQ(show_ui_message(nullptr, 1047, L"D:/x/Setup.exe", MB_ICONERROR), 2);
  SetLastError(0);
  EXPECT_EQ(show_system_error(nullptr, 0, L"a\\b.exe"), 0);
  UnhookWindowsHookEx(cbt);
  harness = nullptr;
  EXPECT_TRUE(h.boxes.empty());
  wchar_t short_text[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  system_error_text(82, short_text, 6);
  EXPECT_EQ(lstrlenW(short_text), 4) << "cut to capacity - 2 characters";
}

// Starts FooTool.exe (its window class FooToolMain) and waits until its
// main window exists.
PROCESS_INFORMATION start_foo_tool() {
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + fs::path(VX_FOOTOOL_PATH).wstring() + L"\"";
  EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  WaitForInputIdle(process.hProcess, 10000);
  for (int i = 0; i < 1000 && FindWindowW(L"FooToolMain", nullptr) == nullptr; ++i) Sleep(10);
  return process;
}

void end_process(PROCESS_INFORMATION& process) {
  if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

TEST_F(SetupDialog, ClosesOtherProcessesCopiesOfTheGroupsClass) {
  // No Class key: the class is the Group, here the sample program's class. A
  // window of that class in the installer's own process stays.
  use_package(build_setup(dir_, "Setup.exe", package("ID=VXT\r\nGroup=FooToolMain\r\nExe=VxMain.exe\r\n")));
  WNDCLASSW own_class = {};
  own_class.lpfnWndProc = DefWindowProcW;
  own_class.hInstance = GetModuleHandleW(nullptr);
  own_class.lpszClassName = L"FooToolMain";
  RegisterClassW(&own_class);
  HWND own = CreateWindowW(L"FooToolMain", L"own", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, own_class.hInstance,
                           nullptr);
  PROCESS_INFORMATION foo = start_foo_tool();
  Harness h;
  DWORD wait = WAIT_FAILED;
  h.script = [&](HWND dialog) {
    wait = WaitForSingleObject(foo.hProcess, 15000);
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  // A close request the thread may have posted to the own window after the
  // dialog's loop ended is dispatched now.
  Sleep(300);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_EQ(wait, WAIT_OBJECT_0) << "FooTool.exe was not closed";
  DWORD exit_code = 1;
  GetExitCodeProcess(foo.hProcess, &exit_code);
  EXPECT_EQ(exit_code, 0u) << "it ended as its close button ends it";
  EXPECT_TRUE(IsWindow(own));
  DestroyWindow(own);
  UnregisterClassW(L"FooToolMain", own_class.hInstance);
  end_process(foo);
}

TEST_F(SetupDialog, RefusedPackageReportsBrokenFileAndClosesNothing) {
  // A damaged entry after the keys, the stub without any package, and an
  // entry name the installer would never write: nothing is installed, so
  // the program the user is running stays open.
  std::vector<PackageFile> hostile = package("ID=VXT\r\nGroup=Foo\r\nClass=FooToolMain\r\n");
  hostile.insert(hostile.begin() + 3, {"Data\\file.txt:stream", vxtest::bytes_of("hostile")});
  const fs::path bare = dir_ / "Bare.exe";
  vxtest::write_file(bare, stub_bytes());
  PROCESS_INFORMATION foo = start_foo_tool();
  const std::pair<fs::path, const char*> cases[] = {
      {build_setup(dir_, "Damaged Setup.exe", package("ID=VXT\r\nGroup=Foo\r\nClass=FooToolMain\r\n"), 9), "US"},
      {bare, "DE"},
      {build_setup(dir_, "Hostile.exe", hostile), "US"}};
  for (const auto& [setup, language] : cases) {
    reset_state(language);
    use_package(setup);
    Harness h;
    bool shown = false;
    h.script = [&](HWND) { shown = true; };
    EXPECT_EQ(run_dialog(h), 0);
    EXPECT_FALSE(shown);
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].text, language[0] == 'U' ? L"Broken file, please download again."
                                                   : L"Die Datei ist besch\u00E4digt, bitte nochmal herunterladen!");
    EXPECT_EQ(h.boxes[0].caption, setup.filename().wstring());
    EXPECT_EQ(h.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
  }
  EXPECT_EQ(WaitForSingleObject(foo.hProcess, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
  end_process(foo);
}

}  // namespace
