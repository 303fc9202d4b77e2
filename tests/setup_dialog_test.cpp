// The dialog before OK: texts and the language list, its menu, the ways to
// end it, the folder browser, the message boxes, the discovery pass's verdict
// (also on the sample Setup.exe cut short) and the closing thread, on the
// harness of setup_harness.h.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "setup/language_list.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "tests/setup_harness.h"

namespace {

using namespace setup_test;

using SetupDialog = SetupFixture;

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
  vxtest::write_file(dir_ / "Bare.exe", stub_bytes());
  vxtest::Bytes sample = vxtest::read_file(VX_SAMPLE_SETUP);
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

}  // namespace
