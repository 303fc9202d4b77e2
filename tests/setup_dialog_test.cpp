// The dialog before OK: texts, the language list and its menu, the template,
// the folder browser, the message boxes, the discovery pass's verdict and the
// closing thread, on the harness of setup_harness.h.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "packer/writer.h"
#include "setup/dialog.h"
#include "setup/language_list.h"
#include "setup/main.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "setup/shortcuts.h"
#include "setup/state.h"
#include "tests/setup_harness.h"
#include "tests/test_support.h"

using vxtest::bytes_of;

namespace {

using namespace setup_test;

const char kInf[] = "ID=FOO\r\nGroup=Foo Tool\r\nClass=VxTestNoSuchWindow\r\nExe=FooTool.exe\r\n";

std::vector<PackageFile> sample_files(const char* inf = kInf) {
  return {
      {"FILE_ID.DIZ", bytes_of("Foo Tool Version 1.2 (beta)\r\nA sample.\r\n")},
      {"Foo.inf", bytes_of(inf)},
      {"Foo_US.LNG", bytes_of("[Strings]\r\nLanguage=American\r\n")},
      {"Foo_DE.LNG", bytes_of("[Strings]\r\nLanguage=Deutsch (Deutschland)\r\n")},
      {"Foo_FR.LNG", bytes_of("[Strings]\r\nLanguage=Fran\xE7" "ais\r\n")},
      {"Lang\\Foo_IT.LNG", utf16_bytes(L"[Strings]\r\nLanguage=Italiano\r\n")},
      {"Foo_DA.LNG", bytes_of("[Strings]\r\nLanguage=Dansk\r\n")},
      {"Lang\\Foo_FR.LNG", bytes_of("[Strings]\r\nLanguage=Second French\r\n")},
      {"Foo_XX.LNG", bytes_of("[Strings]\r\nNothing here\r\n")},
      {"FooTool.exe", vxtest::random_bytes(70000, 3)},
      {"ReadMe.txt", bytes_of("Read me.\r\n")},
  };
}

// The packages here share the sample's ID (FOO). Its stored destination is
// pointed at a folder that does not exist while a test runs, so that an
// installation of the sample in the prefix does not turn the preset into an
// update; the record is restored afterwards.
class SetupDialog : public SetupFixture {
 protected:
  void SetUp() override {
    SetupFixture::SetUp();
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kVendorKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != 0) return;
    // Tests that run several dialogs call SetUp and TearDown in pairs again.
    if (!saved_now_) {
      DWORD bytes = sizeof saved_ - 2;
      had_record_ = RegQueryValueExW(key, L"FOO", nullptr, nullptr, reinterpret_cast<BYTE*>(saved_), &bytes) == 0;
      saved_now_ = true;
    }
    const std::wstring missing = (dir_ / "not installed").wstring();
    RegSetValueExW(key, L"FOO", 0, REG_SZ, reinterpret_cast<const BYTE*>(missing.c_str()), 2 * (missing.size() + 1));
    RegCloseKey(key);
  }

  void TearDown() override {
    HKEY key;
    if (saved_now_ && RegOpenKeyExW(HKEY_CURRENT_USER, kVendorKey, 0, KEY_SET_VALUE, &key) == 0) {
      if (had_record_) {
        RegSetValueExW(key, L"FOO", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_), 2 * (lstrlenW(saved_) + 1));
      } else {
        RegDeleteValueW(key, L"FOO");
      }
      RegCloseKey(key);
    }
    saved_now_ = false;
    SetupFixture::TearDown();
  }

  static constexpr const wchar_t* kVendorKey = L"Software\\Vantorix";
  wchar_t saved_[300] = {};
  bool had_record_ = false;
  bool saved_now_ = false;
};

TEST_F(SetupDialog, ShowsThePackageInEnglish) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files()));
  Harness h;
  h.script = [&](HWND dialog) {
    EXPECT_EQ(window_text(dialog), L"Setup Foo Tool 1.2");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_TITLE)), L"Foo Tool 1.2");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_INSTALL)), L"&OK");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_CANCEL)), L"Cancel");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_DESTINATION_LABEL)), L"Destination folder");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_PROGRAM_GROUP)), L"Put entry to Start Menu");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_DESKTOP_ICON)), L"Create a Desktop icon");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_QUICK_LAUNCH)), L"Create a Quick Launch icon");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_STATUS)), L"");
    EXPECT_TRUE(IsWindowVisible(dialog));

    // Sorted by text; the first pack of a code wins; US and DE keep the UI texts.
    const std::vector<Item> items = list_items(dialog);
    ASSERT_EQ(items.size(), 5u);
    const std::vector<std::wstring> texts = {L"Dansk", L"English", L"Fran\u00E7ais", L"German", L"Italiano"};
    const std::vector<LanguageCode> codes = {kDA, kLanguageEnglish, kFR, kLanguageGerman, kIT};
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].text, texts[i]);
      EXPECT_EQ(items[i].code, codes[i]);
      EXPECT_EQ(items[i].state, 2u) << "checked";
    }
    HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
    EXPECT_EQ(find_language_item(list, kIT), 4);
    EXPECT_EQ(find_language_item(list, make_language_code('X', 'X')), -1);
    EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x424);

    // One column headed "Language", as wide as the list less scroll bar and 4.
    wchar_t heading[64] = {};
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = heading;
    column.cchTextMax = 64;
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(heading, L"Language");
    EXPECT_EQ(column.fmt & 3, 0);
    EXPECT_FALSE(SendMessageW(list, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&column)));
    RECT client;
    GetClientRect(list, &client);
    const int expected = client.right - client.left - GetSystemMetrics(SM_CXVSCROLL) - 4;
    EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), expected < 100 ? 100 : expected);

    // The title label's font: 18 points of "MS Sans Serif".
    HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageW(dialog, IDC_TITLE, WM_GETFONT, 0, 0));
    EXPECT_EQ(font, state_.title_font);
    LOGFONTW logfont = {};
    ASSERT_TRUE(GetObjectW(font, sizeof logfont, &logfont));
    HDC dc = GetDC(dialog);
    EXPECT_EQ(logfont.lfHeight, MulDiv(-18, GetDeviceCaps(dc, LOGPIXELSY), 72));
    ReleaseDC(dialog, dc);
    EXPECT_STREQ(logfont.lfFaceName, L"MS Sans Serif");
    EXPECT_EQ(logfont.lfPitchAndFamily, VARIABLE_PITCH | FF_SWISS);

    // Centred on the desktop, with the program icon.
    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &own);
    EXPECT_EQ(own.left, (desktop.right - desktop.left - (own.right - own.left)) >> 1);
    EXPECT_EQ(own.top, (desktop.bottom - desktop.top - (own.bottom - own.top)) >> 1);
    EXPECT_NE(state_.icon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrW(dialog, GCLP_HICON)), state_.icon);
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_FALSE(h.watchdog_fired);
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_STREQ(state_.ID, "FOO");
  EXPECT_STREQ(state_.Group, "Foo Tool");
  EXPECT_STREQ(state_.Class, "VxTestNoSuchWindow");
  EXPECT_STREQ(state_.Exe, "FooTool.exe");
  EXPECT_STREQ(state_.base_name, L"Foo");
}

TEST_F(SetupDialog, GermanAndItalianTexts) {
  const fs::path setup = build_setup(dir_, "Setup.exe", sample_files());
  struct Case {
    const char* code;
    std::wstring title, cancel, label, heading;
    std::vector<std::wstring> items;
  };
  const Case cases[] = {
      {"DE", L"Installation Foo Tool 1.2", L"Abbruch", L"Zielpfad:", L"Sprache",
       {L"Dansk", L"Deutsch", L"Englisch", L"Fran\u00E7ais", L"Italiano"}},
      {"IT", L"Installazione Foo Tool 1.2", L"Annulla", L"Destinazione", L"Lingua",
       {L"Dansk", L"English", L"Fran\u00E7ais", L"German", L"Italiano"}},
  };
  for (const Case& c : cases) {
    SetUp();
    use_language(c.code);
    use_package(setup);
    Harness h;
    h.script = [&](HWND dialog) {
      EXPECT_EQ(window_text(dialog), c.title);
      EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_CANCEL)), c.cancel);
      EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_DESTINATION_LABEL)), c.label);
      wchar_t heading[64] = {};
      LVCOLUMNW column = {};
      column.mask = LVCF_TEXT;
      column.pszText = heading;
      column.cchTextMax = 64;
      SendDlgItemMessageW(dialog, IDC_LANGUAGES, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
      EXPECT_EQ(std::wstring(heading), c.heading);
      std::vector<std::wstring> texts;
      for (const Item& item : list_items(dialog)) texts.push_back(item.text);
      EXPECT_EQ(texts, c.items);
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(run_dialog(h), 0) << c.code;
    TearDown();
  }
}

TEST_F(SetupDialog, ContextMenuOfTheListOnly) {
  use_language("DE");
  use_package(build_setup(dir_, "Setup.exe", sample_files()));
  Harness h;
  h.script = [&](HWND dialog) {
    SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(dialog), 0);
    EXPECT_TRUE(h.menus.empty()) << "no menu outside the list";
    SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_LANGUAGES)), 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  };
  EXPECT_EQ(run_dialog(h), 0);
  ASSERT_EQ(h.menus.size(), 1u);
  EXPECT_EQ(h.menus[0].ids, (std::vector<UINT>{136, 137, 138}));
  EXPECT_EQ(h.menus[0].texts,
            (std::vector<std::wstring>{L"Alles &markieren", L"Markierung &aufheben", L"Markierung &umkehren"}));
}

TEST_F(SetupDialog, MenuCommandsChangeTheChecks) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files()));
  Harness h;
  h.script = [&](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
    SendMessageW(dialog, WM_COMMAND, IDM_UNCHECK_ALL, 0);
    EXPECT_EQ(checks(dialog), (std::vector<UINT>{1, 1, 1, 1, 1}));
    SendMessageW(dialog, WM_COMMAND, IDM_CHECK_ALL, 0);
    EXPECT_EQ(checks(dialog), (std::vector<UINT>{2, 2, 2, 2, 2}));
    // English and German checked, the packs' languages not: invert swaps them.
    LVITEMW item = {};
    item.stateMask = kStateMask;
    item.state = kStateUnchecked;
    for (LanguageCode code : {kDA, kFR, kIT}) {
      SendMessageW(list, LVM_SETITEMSTATE, find_language_item(list, code), reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDM_INVERT, 1), 0);  // any notification code
    EXPECT_EQ(checks(dialog), (std::vector<UINT>{2, 1, 2, 1, 2}));
    // An item without a check box image becomes unchecked.
    item.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
    SendMessageW(dialog, WM_COMMAND, IDM_INVERT, 0);
    EXPECT_EQ(checks(dialog), (std::vector<UINT>{1, 2, 1, 2, 1}));
    check_all_languages(nullptr);  // a missing list is ignored
    invert_language_checks(nullptr);
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_FALSE(h.watchdog_fired);
}

TEST_F(SetupDialog, CancelEscapeAndCloseButtonEndIt) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files()));
  const std::function<void(HWND)> enders[] = {
      [](HWND dialog) { click(dialog, IDC_CANCEL); },
      [](HWND dialog) {
        SetFocus(GetDlgItem(dialog, IDC_DESTINATION));
        PostMessageW(GetDlgItem(dialog, IDC_DESTINATION), WM_KEYDOWN, VK_ESCAPE, 0);
      },
      [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); },
  };
  for (const auto& end : enders) {
    Harness h;
    bool ran = false;
    h.script = [&](HWND dialog) {
      ran = true;
      end(dialog);
    };
    EXPECT_EQ(run_dialog(h), 0);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(h.watchdog_fired);
    EXPECT_FALSE(IsWindow(h.dialog));
    EXPECT_TRUE(h.boxes.empty());
  }
}

TEST_F(SetupDialog, OkWithAnEmptyDestinationKeepsItOpen) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files()));
  Harness h;
  h.script = [&](HWND dialog) {
    SetDlgItemTextW(dialog, IDC_DESTINATION, L"");
    click(dialog, IDC_INSTALL);
    pump(200);
    EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_FALSE(h.watchdog_fired);
}

TEST_F(SetupDialog, DamagedPackageReportsBrokenFile) {
  const struct {
    const char* code;
    const wchar_t* text;
  } cases[] = {
      {"US", L"Broken file, please download again."},
      {"DE", L"Die Datei ist besch\u00E4digt, bitte nochmal herunterladen!"},
      {"IT", L"File danneggiato, esegui di nuovo il download."},
  };
  const fs::path damaged = build_setup(dir_, "Damaged Setup.exe", sample_files(), 9);
  const fs::path bare = dir_ / "Bare.exe";
  vxtest::write_file(bare, stub_bytes());  // the stub without any package
  for (const auto& c : cases) {
    for (const fs::path& setup : {damaged, bare}) {
      SetUp();
      use_language(c.code);
      use_package(setup);
      Harness h;
      EXPECT_EQ(run_dialog(h), 0);
      EXPECT_FALSE(h.watchdog_fired);
      ASSERT_EQ(h.boxes.size(), 1u) << c.code;
      EXPECT_EQ(h.boxes[0].text, c.text);
      EXPECT_EQ(h.boxes[0].caption, setup.filename().wstring());
      EXPECT_TRUE(h.boxes[0].error_icon);
      TearDown();
    }
  }
}

// Starts FooTool.exe and waits until its main window exists.
PROCESS_INFORMATION start_foo_tool() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + fs::path(VX_FOOTOOL_PATH).wstring() + L"\"";
  EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  for (int i = 0; i < 1000 && FindWindowW(L"FooToolMain", nullptr) == nullptr; ++i) Sleep(10);
  EXPECT_NE(FindWindowW(L"FooToolMain", nullptr), nullptr);
  return process;
}

void end_process(PROCESS_INFORMATION& process) {
  if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

TEST_F(SetupDialog, ClosesRunningCopiesOfTheGroupsClass) {
  // No Class key: the class is the Group, here the sample program's class.
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files("ID=FOO\r\nGroup=FooToolMain\r\nExe=FooTool.exe\r\n")));
  PROCESS_INFORMATION foo = start_foo_tool();
  Harness h;
  DWORD wait = WAIT_FAILED;
  h.script = [&](HWND dialog) {
    wait = WaitForSingleObject(foo.hProcess, 15000);
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_STREQ(state_.Class, "FooToolMain");
  EXPECT_EQ(wait, WAIT_OBJECT_0) << "FooTool.exe was not closed";
  DWORD exit_code = 1;
  GetExitCodeProcess(foo.hProcess, &exit_code);
  EXPECT_EQ(exit_code, 0u);
  end_process(foo);
}

TEST_F(SetupDialog, DamagedPackageLeavesRunningCopiesAlone) {
  // The keys come before the damage, but nothing is installed, so the
  // program the user is running stays open.
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files("ID=FOO\r\nGroup=Foo Tool\r\nClass=FooToolMain\r\n"), 9));
  PROCESS_INFORMATION foo = start_foo_tool();
  Harness h;
  EXPECT_EQ(run_dialog(h), 0);
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_STREQ(state_.Class, "FooToolMain");
  EXPECT_EQ(WaitForSingleObject(foo.hProcess, 1500), static_cast<DWORD>(WAIT_TIMEOUT));
  end_process(foo);
}

TEST_F(SetupDialog, WithoutDescriptionOrKeys) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", {{"Foo_FR.LNG", bytes_of("[x]\r\nLanguage=Fran\xE7" "ais\r\n")}}));
  Harness h;
  h.script = [&](HWND dialog) {
    EXPECT_EQ(window_text(dialog), L"Setup");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_TITLE)), L"");
    EXPECT_EQ(list_items(dialog).size(), 3u);
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_STREQ(state_.Group, "");
  EXPECT_STREQ(state_.Class, "");
  EXPECT_STREQ(state_.base_name, L"Foo");
}

TEST_F(SetupDialog, DescriptionBeginningWithALineEnd) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", {{"FILE_ID.DIZ", bytes_of("\r\nFoo Tool Version 1.2\r\n")}}));
  Harness h;
  h.script = [&](HWND dialog) {
    EXPECT_EQ(window_text(dialog), L"Setup  ");
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_TITLE)), L" ");
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
  EXPECT_STREQ(state_.Group, "");
}

// The template's controls in tab order: id, class, x, y, width, height, styles.
struct TemplateControl {
  int id;
  const wchar_t* window_class;
  int x, y, cx, cy;
  DWORD style;
};

const TemplateControl kTemplate[] = {
    {99, L"Button", 206, 182, 58, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {2, L"Button", 267, 182, 58, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {-1, L"Static", 3, 177, 324, 1, SS_ETCHEDHORZ | WS_GROUP},
    {-1, L"Static", 298, 8, 20, 20, SS_ICON},
    {1001, L"Static", 12, 15, 280, 20, SS_LEFT | SS_CENTERIMAGE | WS_GROUP},
    {1010, L"SysListView32", 235, 40, 88, 132, LVS_REPORT | LVS_SORTASCENDING | WS_BORDER | WS_TABSTOP},
    {1031, L"Static", 12, 105, 130, 8, SS_LEFT | WS_GROUP},
    {1032, L"Edit", 10, 116, 200, 12, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {1033, L"Button", 213, 116, 14, 12, BS_PUSHBUTTON | WS_TABSTOP},
    {1041, L"Button", 25, 137, 180, 10, BS_AUTOCHECKBOX | WS_TABSTOP},
    {1042, L"Button", 25, 150, 180, 10, BS_AUTOCHECKBOX | WS_TABSTOP},
    {1043, L"Button", 25, 163, 180, 10, BS_AUTOCHECKBOX | WS_TABSTOP},
    {1047, L"Static", 20, 184, 180, 10, SS_LEFT | SS_CENTERIMAGE | WS_GROUP},
};

TEST_F(SetupDialog, MatchesItsTemplate) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files()));
  Harness h;
  h.script = [&](HWND dialog) {
    const DWORD style = GetWindowLongW(dialog, GWL_STYLE);
    for (DWORD bit : {DWORD{WS_POPUP}, DWORD{WS_CAPTION}, DWORD{WS_SYSMENU}, DWORD{DS_MODALFRAME}}) EXPECT_TRUE(style & bit);
    EXPECT_EQ(GetMenu(dialog), nullptr);
    RECT size = {0, 0, 330, 200};
    MapDialogRect(dialog, &size);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    HWND child = GetWindow(dialog, GW_CHILD);
    for (const TemplateControl& c : kTemplate) {
      ASSERT_NE(child, nullptr);
      if (c.id != -1) EXPECT_EQ(GetDlgCtrlID(child), c.id);
      EXPECT_EQ(lstrcmpiW(class_of(child).c_str(), c.window_class), 0) << c.id;
      // The dialog manager maps position and size each on its own.
      RECT expected = {c.x, c.y, c.cx, c.cy};
      MapDialogRect(dialog, &expected);
      RECT actual;
      GetWindowRect(child, &actual);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
      const DWORD child_style = GetWindowLongW(child, GWL_STYLE);
      EXPECT_EQ(actual.left, expected.left) << c.id;
      EXPECT_EQ(actual.top, expected.top) << c.id;
      const bool is_static = lstrcmpiW(c.window_class, L"Static") == 0;
      const DWORD static_type = child_style & SS_TYPEMASK;
      if (!is_static || (static_type != SS_ICON && static_type != SS_ETCHEDHORZ)) {
        // (An icon static takes the size of its icon, an etched line widens
        // by its edge.)
        EXPECT_EQ(actual.right - actual.left, expected.right) << c.id;
        EXPECT_EQ(actual.bottom - actual.top, expected.bottom) << c.id;
      }
      // A bordered edit or list becomes a sunken client edge.
      DWORD wanted = (c.style & ~DWORD{WS_BORDER}) | WS_CHILD | WS_VISIBLE;
      // The preset hides the quick-launch box when there is no such folder.
      if (c.id == IDC_QUICK_LAUNCH && !quick_launch_exists()) wanted &= ~DWORD{WS_VISIBLE};
      EXPECT_EQ(child_style & wanted, wanted) << c.id;
      if (c.style & WS_BORDER) {
        EXPECT_TRUE((child_style & WS_BORDER) || (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) << c.id;
      }
      if (lstrcmpiW(c.window_class, L"Button") == 0) EXPECT_EQ(child_style & BS_TYPEMASK, c.style & BS_TYPEMASK) << c.id;
      if (lstrcmpiW(c.window_class, L"Static") == 0) EXPECT_EQ(child_style & SS_TYPEMASK, c.style & SS_TYPEMASK) << c.id;
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "no other controls";
    EXPECT_EQ(window_text(GetDlgItem(dialog, IDC_BROWSE)), L"...");
    HWND icon = find_child_with_style(dialog, L"Static", SS_ICON);
    ASSERT_NE(icon, nullptr);
    EXPECT_NE(SendMessageW(icon, STM_GETICON, 0, 0), 0);
    click(dialog, IDC_CANCEL);
  };
  EXPECT_EQ(run_dialog(h), 0);
}

TEST_F(SetupDialog, BrowserPreselectsTheParentOfANewFolder) {
  use_language("US");
  use_package(build_setup(dir_, "Setup.exe", sample_files()));
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring missing = std::wstring(windows) + L"\\vx-not-created-yet";
  struct Step {
    std::wstring field;   // text before browsing
    int button;           // how the browser is left
    std::wstring result;  // expected text after it
  };
  const Step steps[] = {
      {missing, IDOK, windows},     // the parent is preselected and picked
      {L"", IDCANCEL, L""},         // no preselection; cancel changes nothing
      {missing, IDCANCEL, missing},
  };
  for (const Step& step : steps) {
    Harness h;
    int browsers = 0;
    h.other_dialog = [&](HWND browser) {
      ++browsers;
      PostMessageW(browser, WM_COMMAND, step.button, 0);
    };
    std::wstring after;
    h.script = [&](HWND dialog) {
      SetDlgItemTextW(dialog, IDC_DESTINATION, step.field.c_str());
      click(dialog, IDC_BROWSE);
      after = window_text(GetDlgItem(dialog, IDC_DESTINATION));
      click(dialog, IDC_CANCEL);
    };
    EXPECT_EQ(run_dialog(h), 0);
    EXPECT_EQ(browsers, 1);
    EXPECT_EQ(lstrcmpiW(after.c_str(), step.result.c_str()), 0) << std::string(after.begin(), after.end());
  }
}

TEST_F(SetupDialog, MessageBoxesAndTheirCaptions) {
  use_language("US");
  Harness h;
  harness = &h;
  HHOOK cbt = SetWindowsHookExW(WH_CBT, cbt_hook, nullptr, GetCurrentThreadId());
  EXPECT_EQ(show_message(nullptr, L"", L"C:\\Temp\\setup.exe", MB_OK), 2);
  EXPECT_EQ(show_message(nullptr, nullptr, L"C:\\Temp\\setup.exe", MB_OK), 2);
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_EQ(show_message(nullptr, L"one", L"C:\\Temp\\setup.exe", MB_OK), IDOK);
  EXPECT_EQ(show_message(nullptr, L"two", L"C:\\Temp\\", MB_OK), IDOK);
  EXPECT_EQ(show_ui_message(nullptr, 3001, L"D:/x/Setup.exe", MB_ICONERROR), IDOK);
  EXPECT_EQ(show_ui_message(nullptr, 1047, L"D:/x/Setup.exe", MB_ICONERROR), 2);  // no text
  SetLastError(0);
  EXPECT_EQ(show_system_error(nullptr, 0, L"a\\b.exe"), 0);
  EXPECT_EQ(show_system_error(nullptr, 82, nullptr), IDOK);
  UnhookWindowsHookEx(cbt);
  harness = nullptr;

  ASSERT_EQ(h.boxes.size(), 4u);
  EXPECT_EQ(h.boxes[0].caption, L"setup.exe");
  EXPECT_EQ(h.boxes[0].text, L"one");
  EXPECT_EQ(h.boxes[1].caption, L"C:\\Temp\\");
  EXPECT_EQ(h.boxes[2].caption, L"Setup.exe");
  EXPECT_EQ(h.boxes[2].text, L"Broken file, please download again.");
  EXPECT_TRUE(h.boxes[2].error_icon);
  wchar_t system_text[512];
  system_error_text(82, system_text, 512);
  EXPECT_NE(system_text[0], 0);
  EXPECT_EQ(h.boxes[3].text.substr(0, 10), std::wstring(system_text).substr(0, 10));
  EXPECT_EQ(h.boxes[3].caption, L"");
  EXPECT_TRUE(h.boxes[3].error_icon);
  // The system text is cut to capacity - 2 characters.
  wchar_t short_text[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  system_error_text(82, short_text, 6);
  EXPECT_EQ(lstrlenW(short_text), 4);
}

}  // namespace
