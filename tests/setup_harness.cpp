// The setup tests' harness: hooks, timers, the modal run, the setup
// executables built from the stub, and the Windows lookups.
#include "tests/setup_harness.h"

#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include "packer/writer.h"
#include "setup/dialog.h"
#include "setup/language_list.h"
#include "setup/main.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "setup/shortcuts.h"

namespace setup_test {

std::wstring window_text(HWND window) {
  wchar_t text[600] = {};
  GetWindowTextW(window, text, 600);
  return text;
}

namespace {

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

}  // namespace

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

const Bytes& stub_bytes() {
  static const Bytes bytes = vxtest::read_file(VX_STUB_PATH);
  return bytes;
}

fs::path build_setup(const vxtest::TempDir& dir, const std::string& exe, const std::vector<PackageFile>& files,
                     int damaged) {
  ArchiveWriter w;
  w.bytes = stub_bytes();
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

bool same_path(const std::wstring& a, const fs::path& b) { return lstrcmpiW(a.c_str(), b.wstring().c_str()) == 0; }

std::wstring quoted(const fs::path& path) { return L"\"" + path.wstring() + L"\""; }

HANDLE start_process(std::wstring command) {
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

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

void check_language(HWND dialog, LanguageCode code, bool checked) {
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  const int index = find_language_item(list, code);
  ASSERT_GE(index, 0);
  set_language_check(list, index, checked);
}

std::vector<PackageFile> package(const char* inf) {
  using vxtest::bytes_of;
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

void SetupFixture::SetUpTestSuite() { OleInitialize(nullptr); }

void SetupFixture::SetUp() {
  remove_traces();
  setup_state = &state_;
  reset_state();
}

void SetupFixture::TearDown() {
  if (state_.title_font != nullptr) DeleteObject(state_.title_font);
  setup_state = nullptr;
  remove_traces();
}

void SetupFixture::reset_state(const fs::path& setup, const char* language) {
  if (state_.title_font != nullptr) DeleteObject(state_.title_font);
  state_ = SetupState{};
  init_setup_state(GetModuleHandleW(nullptr));
  lstrcpyA(state_.ui_language, language);
  select_ui_strings();
  copy_text(setup.wstring().c_str(), state_.setup_path, kPathCapacity);
}

}  // namespace setup_test
