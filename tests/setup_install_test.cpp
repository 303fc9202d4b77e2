// The installation on OK, with the real dialog on the real template, against
// packages built by each test: files, times and attributes, the language
// filter, the registry records (read back with the registry API), the
// shortcuts (read back through the shell link object), the default
// destination's sources, updates, the temporary-folder fallback and the
// messages. Everything a test writes into the Wine prefix is removed again.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "packer/writer.h"
#include "setup/destination.h"
#include "setup/install.h"
#include "setup/main.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "setup/shortcuts.h"
#include "tests/setup_harness.h"

namespace {

using namespace setup_test;
using vxtest::bytes_of;

const wchar_t kGroup[] = L"VxTest Tool";
const wchar_t kVendorKey[] = L"Software\\Vantorix";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VxTest Tool";
const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const char kInf[] = "ID=VXT\r\nGroup=VxTest Tool\r\nClass=VxTestNoSuchWindow\r\nExe=VxMain.exe\r\n";

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
  };
}

std::wstring read_registry(HKEY root, const wchar_t* key, const wchar_t* value) {
  wchar_t text[600] = {};
  DWORD bytes = sizeof text - 2;
  DWORD type = 0;
  if (RegGetValueW(root, key, value, RRF_RT_ANY, &type, text, &bytes) != ERROR_SUCCESS) return L"<missing>";
  return text;
}

void write_registry(HKEY root, const wchar_t* key, const wchar_t* value, const std::wstring& text) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), 0);
  RegSetValueExW(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 2 * (text.size() + 1));
  RegCloseKey(k);
}

void delete_registry_value(HKEY root, const wchar_t* key, const wchar_t* value) {
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
  RegDeleteValueW(k, value);
  RegCloseKey(k);
}

fs::path special(int csidl) {
  wchar_t path[MAX_PATH] = {};
  special_folder_path(csidl, path);
  return path;
}

fs::path quick_launch() {
  wchar_t path[MAX_PATH] = {};
  quick_launch_folder(path, MAX_PATH);
  return path;
}

struct Link {
  std::wstring target, working;
  int show = -1;
};

std::optional<Link> read_link(const fs::path& path) {
  if (!fs::exists(path)) return std::nullopt;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return std::nullopt;
  }
  IPersistFile* file = nullptr;
  Link out;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    if (SUCCEEDED(file->Load(path.wstring().c_str(), STGM_READ))) {
      wchar_t text[MAX_PATH] = {};
      link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
      out.target = text;
      text[0] = 0;
      link->GetWorkingDirectory(text, MAX_PATH);
      out.working = text;
      link->GetShowCmd(&out.show);
    }
    file->Release();
  }
  link->Release();
  return out;
}

// The show command as the link file stores it (ShellLinkHeader offset 0x3C).
uint32_t stored_show_command(const fs::path& link) {
  const Bytes bytes = vxtest::read_file(link);
  if (bytes.size() < 0x40) return 0;
  return bytes[0x3C] | bytes[0x3D] << 8 | bytes[0x3E] << 16 | static_cast<uint32_t>(bytes[0x3F]) << 24;
}

bool same_path(const std::wstring& a, const fs::path& b) { return lstrcmpiW(a.c_str(), b.wstring().c_str()) == 0; }

fs::path link_in(const fs::path& folder, const std::wstring& name) { return folder / (name + L".lnk"); }

// Removes what an installation of the test package leaves outside its folder.
void remove_traces() {
  delete_registry_value(HKEY_CURRENT_USER, kVendorKey, L"VXT");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
  RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
  std::error_code ec;
  fs::remove(link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup), ec);
  if (!quick_launch().empty()) fs::remove(link_in(quick_launch(), kGroup), ec);
  for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    if (!special(csidl).empty()) fs::remove_all(special(csidl) / kGroup, ec);
  }
}

// The file's last-write time as the MS-DOS local time the archive stores.
uint32_t dos_time_of(const fs::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &data)) return 0;
  FILETIME local;
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  WORD date = 0, time = 0;
  FileTimeToDosDateTime(&local, &date, &time);
  return static_cast<uint32_t>(date) << 16 | time;
}

DWORD attributes_of(const fs::path& path) { return GetFileAttributesW(path.wstring().c_str()); }

class SetupInstall : public SetupFixture {
 protected:
  void SetUp() override {
    SetupFixture::SetUp();
    remove_traces();
    use_language("US");
    // A quick-launch folder, so that its box is shown and preset.
    const fs::path folder = quick_launch();
    if (!folder.empty() && !fs::exists(folder)) {
      fs::create_directories(folder);
      made_quick_launch_ = folder;
    }
  }

  void TearDown() override {
    remove_traces();
    std::error_code ec;
    if (!made_quick_launch_.empty()) fs::remove(made_quick_launch_, ec);
    SetupFixture::TearDown();
  }

  // Runs the dialog, sets the destination, lets adjust change the dialog, and
  // presses OK. Returns the dialog's state right after OK was handled.
  struct Outcome {
    bool dialog_open = false;  // still open once OK was handled
    Harness h;
  };
  Outcome install(const fs::path& setup, const std::wstring& destination,
                  const std::function<void(HWND)>& adjust = nullptr) {
    use_package(setup);
    Outcome out;
    out.h.script = [&](HWND dialog) {
      if (!destination.empty()) SetDlgItemTextW(dialog, IDC_DESTINATION, destination.c_str());
      if (adjust) adjust(dialog);
      click(dialog, IDC_INSTALL);
      // A dialog that OK ends has WM_CLOSE waiting; it is left to the
      // dialog's own loop.
      MSG message;
      out.dialog_open = IsWindowVisible(dialog) && !PeekMessageW(&message, dialog, WM_CLOSE, WM_CLOSE, PM_NOREMOVE);
      if (out.dialog_open) PostMessageW(dialog, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(run_dialog(out.h), 0);
    EXPECT_FALSE(out.h.watchdog_fired);
    return out;
  }

  // A new state record for one more dialog run within a test.
  void fresh_state() {
    if (state_.title_font != nullptr) DeleteObject(state_.title_font);
    setup_state = &state_;
    init_setup_state(GetModuleHandleW(nullptr));
    use_language("US");
  }

  fs::path made_quick_launch_;
};

TEST_F(SetupInstall, FreshInstallation) {
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  const fs::path target = dir_ / "Programs" / "VxTest Tool";
  std::vector<UINT> boxes_before;
  bool quick_launch_visible = false;
  Outcome out = install(setup, target.wstring(), [&](HWND dialog) {
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) boxes_before.push_back(IsDlgButtonChecked(dialog, id));
    quick_launch_visible = IsWindowVisible(GetDlgItem(dialog, IDC_QUICK_LAUNCH));
    set_language_check(dialog, kFR, false);
  });
  EXPECT_FALSE(out.dialog_open);
  EXPECT_EQ(boxes_before, (std::vector<UINT>{1, 1, 1})) << "a fresh installation checks all three";
  EXPECT_TRUE(quick_launch_visible);

  ASSERT_EQ(out.h.boxes.size(), 1u);
  EXPECT_EQ(out.h.boxes[0].text, L"VxTest Tool has been successfully installed.");
  EXPECT_EQ(out.h.boxes[0].caption, L"Setup VxTest Tool 1.2");
  EXPECT_TRUE(out.h.boxes[0].information_icon);

  // Flat, without the script and the unchecked language's files.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(target)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FILE_ID.DIZ", "Hidden.dat", "ReadMe.txt", "UnInst.exe", "VxMain.exe",
                                              "Vxt_DE.LNG", "Vxt_DE.txt", "Vxt_IT.LNG", "Vxt_IT.txt", "Vxt_US.LNG"}));
  EXPECT_EQ(vxtest::read_file(target / "VxMain.exe"), vxtest::random_bytes(50000, 7));
  EXPECT_EQ(vxtest::read_file(target / "ReadMe.txt"), bytes_of("Read me."));
  EXPECT_EQ(dos_time_of(target / "VxMain.exe"), dos_time_from_parts(2021, 3, 4, 5, 6, 8));
  EXPECT_EQ(dos_time_of(target / "Vxt_DE.txt"), dos_time_from_parts(2024, 6, 1, 12, 0, 0));
  EXPECT_EQ(attributes_of(target / "ReadMe.txt") & 0x3F, 0x21u);
  EXPECT_EQ(attributes_of(target / "Hidden.dat") & 0x3F, 0x22u);

  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), target));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), kGroup);
  EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
                        L"\"" + (target / "UnInst.exe").wstring() + L"\""));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Vantorix");

  // The desktop and quick-launch shortcuts work in the program's folder; the
  // program group's in the destination itself.
  for (const fs::path& link : {link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup), link_in(quick_launch(), kGroup)}) {
    const std::optional<Link> l = read_link(link);
    ASSERT_TRUE(l.has_value()) << link.string();
    EXPECT_TRUE(same_path(l->target, target / "VxMain.exe")) << link.string();
    EXPECT_TRUE(same_path(l->working, target)) << link.string();
    EXPECT_EQ(stored_show_command(link), static_cast<uint32_t>(SW_SHOW));
  }
  fs::path programs = special(CSIDL_COMMON_PROGRAMS);
  if (programs.empty()) programs = special(CSIDL_PROGRAMS);
  const std::optional<Link> main = read_link(link_in(programs / kGroup, kGroup));
  const std::optional<Link> uninstall = read_link(link_in(programs / kGroup, L"Uninstall"));
  ASSERT_TRUE(main.has_value() && uninstall.has_value());
  EXPECT_TRUE(same_path(main->target, target / "VxMain.exe"));
  EXPECT_TRUE(same_path(main->working, target));
  EXPECT_TRUE(same_path(uninstall->target, target / "UnInst.exe"));
  EXPECT_EQ(stored_show_command(link_in(programs / kGroup, L"Uninstall")), static_cast<uint32_t>(SW_SHOW));
}

TEST_F(SetupInstall, UncheckedBoxesMakeNoShortcutsAndGermanTexts) {
  use_language("DE");
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  const fs::path target = dir_ / "Ziel";
  Outcome out = install(setup, target.wstring(), [](HWND dialog) {
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) CheckDlgButton(dialog, id, BST_UNCHECKED);
  });
  ASSERT_EQ(out.h.boxes.size(), 1u);
  EXPECT_EQ(out.h.boxes[0].text, L"VxTest Tool wurde erfolgreich installiert.");
  EXPECT_TRUE(fs::exists(target / "Vxt_FR.txt"));
  EXPECT_FALSE(fs::exists(link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup)));
  EXPECT_FALSE(fs::exists(link_in(quick_launch(), kGroup)));
  EXPECT_FALSE(fs::exists(special(CSIDL_COMMON_PROGRAMS) / kGroup));
  EXPECT_FALSE(fs::exists(special(CSIDL_PROGRAMS) / kGroup));
}

TEST_F(SetupInstall, LanguageFilterLooksAtTheFileName) {
  // Unchecked French: every file named Vxt_FR.* stays out, however deep its
  // folder; with German unchecked, a file of a base-length prefix and _DE
  // stays out even though that prefix is not the base name.
  std::vector<PackageFile> files = package();
  files.push_back({"Abc_DE.pdf", bytes_of("other prefix")});
  files.push_back({"Vxt_ABCDE.txt", bytes_of("no code")});
  files.push_back({"Vxt_XY.txt", bytes_of("unknown code")});
  const fs::path setup = build_setup(dir_, "Setup.exe", files);
  const fs::path target = dir_ / "Out";
  install(setup, target.wstring(), [](HWND dialog) {
    set_language_check(dialog, kFR, false);
    set_language_check(dialog, kLanguageGerman, false);
  });
  EXPECT_FALSE(fs::exists(target / "Vxt_FR.txt"));
  EXPECT_FALSE(fs::exists(target / "Vxt_FR.CHM"));
  EXPECT_FALSE(fs::exists(target / "Vxt_FR.LNG"));
  EXPECT_FALSE(fs::exists(target / "Vxt_DE.txt"));
  EXPECT_FALSE(fs::exists(target / "Abc_DE.pdf"));
  EXPECT_TRUE(fs::exists(target / "Vxt_IT.txt"));
  EXPECT_TRUE(fs::exists(target / "Vxt_ABCDE.txt"));
  EXPECT_TRUE(fs::exists(target / "Vxt_XY.txt"));
  EXPECT_TRUE(fs::exists(target / "Vxt_US.LNG"));
}

TEST_F(SetupInstall, UpdateReplacesFilesAndKeepsItsLanguages) {
  const fs::path target = dir_ / "Installed";
  fs::create_directories(target);
  vxtest::write_file(target / "Vxt_FR.LNG", bytes_of("old"));
  vxtest::write_file(target / "VxMain.exe", bytes_of("old program"));
  vxtest::write_file(target / "Mine.txt", bytes_of("the user's"));
  write_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT", target.wstring());
  const fs::path setup = build_setup(dir_, "Setup.exe", package());

  std::wstring proposed;
  std::vector<UINT> boxes, languages;
  bool quick_launch_visible = false;
  install(setup, L"", [&](HWND dialog) {
    proposed = window_text(GetDlgItem(dialog, IDC_DESTINATION));
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) boxes.push_back(IsDlgButtonChecked(dialog, id));
    quick_launch_visible = IsWindowVisible(GetDlgItem(dialog, IDC_QUICK_LAUNCH));
    languages = checks(dialog);  // English, Deutsch... sorted: English, Français, German, Italiano
  });
  EXPECT_EQ(proposed, target.wstring()) << "the stored folder, used as stored";
  EXPECT_EQ(boxes, (std::vector<UINT>{0, 0, 0}));
  EXPECT_TRUE(quick_launch_visible);
  EXPECT_EQ(languages, (std::vector<UINT>{2, 2, 2, 1})) << "Italian has no pack there";
  EXPECT_EQ(vxtest::read_file(target / "VxMain.exe"), vxtest::random_bytes(50000, 7));
  EXPECT_EQ(vxtest::read_file(target / "Vxt_FR.LNG"), bytes_of("[S]\r\nLanguage=Fran\xE7" "ais\r\n"));
  EXPECT_FALSE(fs::exists(target / "Vxt_IT.txt"));
  EXPECT_TRUE(fs::exists(target / "Mine.txt"));
  EXPECT_FALSE(fs::exists(link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup)));
}

TEST_F(SetupInstall, EmptyDestinationDoesNothing) {
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  use_package(setup);
  Harness h;
  int result = 0;
  h.script = [&](HWND dialog) {
    SetDlgItemTextW(dialog, IDC_DESTINATION, L"");
    result = run_installation(dialog);
    pump(50);
    EXPECT_TRUE(IsWindow(dialog));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  };
  run_dialog(h);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(h.boxes.empty());
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), L"<missing>");
}

TEST_F(SetupInstall, ReadOnlyFileGoesThroughTheTemporaryFolder) {
  const fs::path target = dir_ / "Installed";
  fs::create_directories(target);
  vxtest::write_file(target / "ReadMe.txt", bytes_of("old"));
  SetFileAttributesW((target / "ReadMe.txt").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
  wchar_t temp_folder[MAX_PATH];
  new_temp_folder_name(temp_folder, MAX_PATH);
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  Outcome out = install(setup, target.wstring(), [](HWND dialog) { CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED); });
  EXPECT_FALSE(out.dialog_open);
  ASSERT_EQ(out.h.boxes.size(), 1u);
  EXPECT_EQ(out.h.boxes[0].text, L"VxTest Tool has been successfully installed.");
  EXPECT_EQ(vxtest::read_file(target / "ReadMe.txt"), bytes_of("Read me."));
  EXPECT_EQ(vxtest::read_file(target / "VxMain.exe"), vxtest::random_bytes(50000, 7));
  EXPECT_FALSE(fs::exists(target / "Installed")) << "moved flat, not as a folder inside";
  EXPECT_FALSE(fs::exists(temp_folder)) << "the temporary folder is removed";
  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), target));
  EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
                        L"\"" + (target / "UnInst.exe").wstring() + L"\""));
  // The program group was built in the temporary folder and moved.
  fs::path programs = special(CSIDL_COMMON_PROGRAMS);
  const std::optional<Link> main = read_link(link_in(programs / kGroup, kGroup));
  ASSERT_TRUE(main.has_value());
  EXPECT_TRUE(same_path(main->target, target / "VxMain.exe"));
  const std::optional<Link> desktop = read_link(link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup));
  ASSERT_TRUE(desktop.has_value());
  EXPECT_TRUE(same_path(desktop->target, target / "VxMain.exe"));
}

TEST_F(SetupInstall, FolderInPlaceOfAFileUsesTheTemporaryFolder) {
  const fs::path target = dir_ / "Installed";
  fs::create_directories(target / "ReadMe.txt");
  wchar_t temp_folder[MAX_PATH];
  new_temp_folder_name(temp_folder, MAX_PATH);
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  Outcome out = install(setup, target.wstring());
  // Either the shell moved the file over the folder, or the move failed and
  // the run reported error 82; never a success with the file missing.
  ASSERT_EQ(out.h.boxes.size(), 1u);
  if (out.h.boxes[0].text == L"VxTest Tool has been successfully installed.") {
    std::printf("the shell moved the file over the folder\n");
    EXPECT_EQ(vxtest::read_file(target / "ReadMe.txt"), bytes_of("Read me."));
  } else {
    std::printf("the shell could not move the file over the folder: error 82\n");
    EXPECT_TRUE(out.h.boxes[0].error_icon);
    EXPECT_TRUE(out.dialog_open);
  }
  EXPECT_FALSE(fs::exists(temp_folder));
  EXPECT_TRUE(fs::exists(target / "VxMain.exe"));
}

TEST_F(SetupInstall, NothingCanBeCreatedShowsError82) {
  // No drive Q:, and a temporary folder that cannot be made.
  wchar_t old_tmp[MAX_PATH] = {}, old_temp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", old_temp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", L"Q:\\NoTemp");
  SetEnvironmentVariableW(L"TEMP", L"Q:\\NoTemp");
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  use_package(setup);
  Harness h;
  int result = 0;
  bool open = false;
  h.script = [&](HWND dialog) {
    SetDlgItemTextW(dialog, IDC_DESTINATION, L"Q:\\Nowhere\\VxTest Tool");
    result = run_installation(dialog);
    open = IsWindow(dialog) != FALSE;
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  };
  run_dialog(h);
  SetEnvironmentVariableW(L"TMP", old_tmp[0] ? old_tmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", old_temp[0] ? old_temp : nullptr);
  EXPECT_EQ(result, kExtractCannotCreate);
  EXPECT_TRUE(open);
  ASSERT_EQ(h.boxes.size(), 1u);
  wchar_t text[512];
  system_error_text(82, text, 512);
  EXPECT_EQ(h.boxes[0].text, text);
  EXPECT_EQ(h.boxes[0].caption, L"");
  EXPECT_TRUE(h.boxes[0].error_icon);
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), L"<missing>");
}

TEST_F(SetupInstall, DamagedPackageStopsWithBrokenFile) {
  // The package turns damaged between the dialog's pass and OK.
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  const std::vector<PackageFile> files = package();
  const fs::path target = dir_ / "Out";
  use_package(setup);
  Harness h;
  int result = 0;
  bool open = false;
  h.script = [&](HWND dialog) {
    build_setup(dir_, "Setup.exe", files, 10);  // VxMain.exe
    SetDlgItemTextW(dialog, IDC_DESTINATION, target.wstring().c_str());
    result = run_installation(dialog);
    open = IsWindow(dialog) != FALSE;
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  };
  run_dialog(h);
  EXPECT_EQ(result, kExtractBadChecksum);
  EXPECT_TRUE(open);
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(h.boxes[0].text, L"Broken file, please download again.");
  EXPECT_EQ(h.boxes[0].caption, L"Setup.exe");
  EXPECT_FALSE(fs::exists(target / "VxMain.exe")) << "the damaged file is deleted";
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), L"<missing>");
}

TEST_F(SetupInstall, PsapiRenamedAsideAndProgramGroupLeftAsItIs) {
  const fs::path target = dir_ / "Out";
  fs::create_directories(target);
  vxtest::write_file(target / "PSAPI.DLL", bytes_of("system copy"));
  fs::path programs = special(CSIDL_COMMON_PROGRAMS);
  fs::create_directories(programs / kGroup);
  std::vector<PackageFile> files = package();
  files.push_back({"PSAPI.DLL", bytes_of("package copy")});
  const fs::path setup = build_setup(dir_, "Setup.exe", files);
  install(setup, target.wstring(), [](HWND dialog) { CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED); });
  EXPECT_EQ(vxtest::read_file(target / "VXPSAPI.DLL"), bytes_of("system copy"));
  EXPECT_EQ(vxtest::read_file(target / "PSAPI.DLL"), bytes_of("package copy"));
  EXPECT_TRUE(fs::is_empty(programs / kGroup)) << "an existing group is not refreshed";
  EXPECT_FALSE(fs::exists(special(CSIDL_PROGRAMS) / kGroup / (std::wstring(kGroup) + L".lnk")));
}

TEST_F(SetupInstall, NoShortcutsWithoutAMainProgram) {
  std::vector<PackageFile> files = package("ID=VXT\r\nGroup=VxTest Tool\r\nClass=VxTestNoSuchWindow\r\n");
  for (PackageFile& file : files) {
    if (file.name == "VxMain.exe") file.name = "Main.exe";  // no V*.EXE either
  }
  const fs::path setup = build_setup(dir_, "Setup.exe", files);
  const fs::path target = dir_ / "Out";
  Outcome out = install(setup, target.wstring(), [](HWND dialog) {
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) CheckDlgButton(dialog, id, BST_CHECKED);
  });
  ASSERT_EQ(out.h.boxes.size(), 1u);
  EXPECT_TRUE(fs::exists(target / "Main.exe"));
  EXPECT_FALSE(fs::exists(link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup)));
  EXPECT_FALSE(fs::exists(link_in(quick_launch(), kGroup)));
  EXPECT_FALSE(fs::exists(special(CSIDL_COMMON_PROGRAMS) / kGroup));
  EXPECT_FALSE(fs::exists(special(CSIDL_PROGRAMS) / kGroup));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), kGroup) << "the uninstaller is listed";
}

TEST_F(SetupInstall, FirstVExeIsTheMainProgramWithoutExe) {
  std::vector<PackageFile> files = {
      {"Vxt.inf", bytes_of("ID=VXT\r\nGroup=VxTest Tool\r\n")},
      {"Bin\\Vtool.exe", bytes_of("first")},
      {"Vlater.exe", bytes_of("second")},
  };
  const fs::path target = dir_ / "Out";
  install(build_setup(dir_, "Setup.exe", files), target.wstring(),
          [](HWND dialog) { CheckDlgButton(dialog, IDC_DESKTOP_ICON, BST_CHECKED); });
  const std::optional<Link> desktop = read_link(link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup));
  ASSERT_TRUE(desktop.has_value());
  EXPECT_TRUE(same_path(desktop->target, target / "Vtool.exe"));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"<missing>") << "no uninstaller";
}

TEST_F(SetupInstall, SameFileNameFromTwoFoldersTakesTheLaterEntry) {
  // The earlier one is read-only, so the destination cannot take the later
  // one directly; the staging folder replaces it and the move brings it.
  std::vector<PackageFile> files = package();
  files.push_back({"A\\Same.txt", bytes_of("earlier"), 0x21});
  files.push_back({"B\\Same.txt", bytes_of("later")});
  const fs::path target = dir_ / "Out";
  Outcome out = install(build_setup(dir_, "Setup.exe", files), target.wstring());
  ASSERT_EQ(out.h.boxes.size(), 1u);
  EXPECT_EQ(out.h.boxes[0].text, L"VxTest Tool has been successfully installed.");
  EXPECT_EQ(vxtest::read_file(target / "Same.txt"), bytes_of("later"));
}

TEST_F(SetupInstall, HostileNamesAreNeverWritten) {
  const char* hostile[] = {"Docs\\CON.txt", "x\\..", "Data\\file.txt:stream", "Sub\\.", "nul", "LPT1.dat"};
  for (const char* name : hostile) {
    fresh_state();
    std::vector<PackageFile> files = package();
    files.insert(files.begin() + 3, {name, bytes_of("hostile")});
    const fs::path setup = build_setup(dir_, "Setup.exe", files);
    use_package(setup);
    Harness h;
    bool shown = false;
    h.script = [&](HWND) { shown = true; };
    EXPECT_EQ(run_dialog(h), 0);
    EXPECT_FALSE(shown) << name << ": the dialog closes at once";
    ASSERT_EQ(h.boxes.size(), 1u) << name;
    EXPECT_EQ(h.boxes[0].text, L"Broken file, please download again.");
    EXPECT_EQ(h.boxes[0].caption, L"Setup.exe");
  }
  // install_entry refuses them as well, before anything is created.
  InstallJob job = {};
  copy_text((dir_ / "Out").wstring().c_str(), job.destination, kPathCapacity);
  for (const char* name : hostile) {
    wchar_t buffer[260];
    copy_text(vxtest::wide(std::string(name)).c_str(), buffer, 260);
    const std::wstring before = buffer;
    EXPECT_NE(install_entry(buffer, nullptr, 0, &job), 0) << name;
    EXPECT_EQ(job.refused, kExtractBadChecksum) << name;
    EXPECT_EQ(std::wstring(buffer), before);
  }
  EXPECT_FALSE(fs::exists(dir_ / "Out"));
}

TEST_F(SetupInstall, InstallEntryRewritesNamesFlat) {
  setup_state = &state_;
  copy_text(L"Vxt", state_.base_name, kFieldCapacity);
  InstallJob job = {};
  const fs::path out = dir_ / "Out";
  fs::create_directories(out);
  copy_text(out.wstring().c_str(), job.destination, kPathCapacity);
  auto entry = [&](const wchar_t* name) {
    wchar_t buffer[260];
    copy_text(name, buffer, 260);
    EXPECT_EQ(install_entry(buffer, nullptr, 0, &job), 0) << std::wstring(name).size();
    return std::wstring(buffer);
  };
  EXPECT_EQ(entry(L"..\\..\\Up\\File.txt"), (out / "File.txt").wstring());
  EXPECT_EQ(entry(L"C:/Abs/Other.txt"), (out / "Other.txt").wstring());
  EXPECT_EQ(entry(L"Setup\\X.inf"), L"");
  EXPECT_EQ(entry(L".INF"), (out / ".INF").wstring());
  EXPECT_EQ(entry(L"Sub\\uninst.EXE"), (out / "uninst.EXE").wstring());
  EXPECT_STREQ(job.uninstaller, L"uninst.EXE");
  EXPECT_EQ(entry(L"Vone.exe"), (out / "Vone.exe").wstring());
  EXPECT_EQ(entry(L"Vtwo.exe"), (out / "Vtwo.exe").wstring());
  EXPECT_STREQ(job.main_program, L"Vone.exe");
  // An existing file of the same name is deleted before it is written.
  vxtest::write_file(out / "Old.txt", bytes_of("old"));
  EXPECT_EQ(entry(L"Old.txt"), (out / "Old.txt").wstring());
  EXPECT_FALSE(fs::exists(out / "Old.txt"));
  // A path that does not fit is not cut to another name.
  const std::wstring long_name(250, L'x');
  wchar_t buffer[260];
  copy_text(long_name.c_str(), buffer, 260);
  EXPECT_NE(install_entry(buffer, nullptr, 0, &job), 0);
  EXPECT_EQ(job.refused, kExtractCannotCreate);
}

// Saves a registry value and restores it (or its absence) at the end.
class SavedValue {
 public:
  SavedValue(HKEY root, const wchar_t* key, const wchar_t* value) : root_(root), key_(key), value_(value) {
    text_ = read_registry(root, key, value);
  }
  ~SavedValue() {
    if (text_ == L"<missing>") delete_registry_value(root_, key_, value_);
    else write_registry(root_, key_, value_, text_);
  }
  const std::wstring& text() const { return text_; }

 private:
  HKEY root_;
  const wchar_t* key_;
  const wchar_t* value_;
  std::wstring text_;
};

class SavedEnvironment {
 public:
  explicit SavedEnvironment(const wchar_t* name) : name_(name) {
    wchar_t text[MAX_PATH] = {};
    had_ = GetEnvironmentVariableW(name, text, MAX_PATH) > 0;
    text_ = text;
  }
  ~SavedEnvironment() { SetEnvironmentVariableW(name_, had_ ? text_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  bool had_;
  std::wstring text_;
};

std::wstring default_of() {
  wchar_t buffer[260];
  default_destination(buffer, 260);
  return buffer;
}

TEST_F(SetupInstall, DefaultDestinationFromEachSource) {
  lstrcpyA(state_.ID, "VXT");
  lstrcpyA(state_.Group, "VxTest Tool");
  SavedValue program_files(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  SavedEnvironment environment(L"ProgramFiles");

  // 1: the stored folder, used as stored, even when it no longer exists.
  write_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT", L"X:\\Stored\\Place");
  EXPECT_EQ(default_of(), L"X:\\Stored\\Place");
  // Not for an empty ID.
  state_.ID[0] = 0;
  EXPECT_NE(default_of(), L"X:\\Stored\\Place");
  lstrcpyA(state_.ID, "VXT");
  delete_registry_value(HKEY_CURRENT_USER, kVendorKey, L"VXT");

  // 2: "ProgramFilesDir".
  write_registry(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", L"D:\\Registry Programs");
  EXPECT_EQ(default_of(), L"D:\\Registry Programs\\VxTest Tool");
  // 3: the environment.
  delete_registry_value(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  SetEnvironmentVariableW(L"ProgramFiles", L"E:\\Env Programs\\");
  EXPECT_EQ(default_of(), L"E:\\Env Programs\\VxTest Tool");
  // 4: the Windows folder's drive, "Programme" when it exists.
  SetEnvironmentVariableW(L"ProgramFiles", nullptr);
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring drive = std::wstring(windows).substr(0, 3);
  const fs::path programme = drive + L"Programme";
  if (!fs::exists(programme)) {
    EXPECT_EQ(default_of(), drive + L"Program Files\\VxTest Tool");
    fs::create_directory(programme);
    EXPECT_EQ(default_of(), drive + L"Programme\\VxTest Tool");
    fs::remove(programme);
  }
  // Without a Group nothing but a stored folder is proposed.
  state_.Group[0] = 0;
  EXPECT_EQ(default_of(), L"");
}

TEST_F(SetupInstall, PresetOfAFreshInstallationWithoutQuickLaunchHidesItsBox) {
  if (!made_quick_launch_.empty()) fs::remove(made_quick_launch_);
  if (fs::exists(quick_launch())) GTEST_SKIP() << "the prefix has a quick-launch folder of its own";
  const fs::path setup = build_setup(dir_, "Setup.exe", package());
  use_package(setup);
  Harness h;
  bool visible = true;
  std::vector<UINT> boxes;
  h.script = [&](HWND dialog) {
    visible = IsWindowVisible(GetDlgItem(dialog, IDC_QUICK_LAUNCH));
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) boxes.push_back(IsDlgButtonChecked(dialog, id));
    click(dialog, IDC_CANCEL);
  };
  run_dialog(h);
  EXPECT_FALSE(visible);
  EXPECT_EQ(boxes, (std::vector<UINT>{1, 1, 0}));
  EXPECT_EQ(quick_launch_exists(), 0);
}

TEST_F(SetupInstall, UninstallEntryFallsBackToTheUser) {
  lstrcpyA(state_.Group, "VxTest Tool");
  // A root below which no key can be created stands for a standard user's
  // view of HKEY_LOCAL_MACHINE.
  HKEY no_rights = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7FFF1234));
  const UninstallEntry entry = {L"C:\\P\\UnInst.exe", L"C:\\P\\UnInst.exe", L"C:\\P", 0};
  HKEY written = write_uninstall_entry_under(no_rights, HKEY_CURRENT_USER, &entry);
  EXPECT_EQ(written, HKEY_CURRENT_USER);
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kUninstallKey, L"DisplayName"), kGroup);
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kUninstallKey, L"UninstallString"), L"\"C:\\P\\UnInst.exe\"");
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kUninstallKey, L"Publisher"), L"Vantorix");
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"<missing>");
  // Where the machine's key can be written, the user's stays untouched.
  RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
  EXPECT_EQ(write_uninstall_entry_under(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, &entry), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kUninstallKey, L"DisplayName"), L"<missing>");
  // Without a Group there is no entry: it would be the Uninstall key itself.
  state_.Group[0] = 0;
  EXPECT_EQ(write_uninstall_entry_under(HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, &entry), nullptr);
}

TEST_F(SetupInstall, TemporaryFolderNamesCountInHexadecimal) {
  SavedEnvironment tmp(L"TMP");
  SavedEnvironment temp(L"TEMP");
  SetEnvironmentVariableW(L"TMP", dir_.path().wstring().c_str());
  SetEnvironmentVariableW(L"TEMP", dir_.path().wstring().c_str());
  auto next = [] {
    wchar_t buffer[260];
    new_temp_folder_name(buffer, 260);
    return fs::path(buffer).filename().wstring();
  };
  EXPECT_EQ(next(), L"1");
  for (int i = 1; i <= 9; ++i) fs::create_directory(dir_ / std::to_string(i));
  EXPECT_EQ(next(), L"a");
  for (const char* n : {"a", "b", "c", "d", "e", "f"}) fs::create_directory(dir_ / n);
  EXPECT_EQ(next(), L"10");
  // No name fits: empty.
  wchar_t small[8];
  new_temp_folder_name(small, 8);
  EXPECT_STREQ(small, L"");
}

DWORD WINAPI faulting_body(void*) {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 7;
}

DWORD WINAPI returning_body(void* argument) { return *static_cast<DWORD*>(argument); }

LONG WINAPI marker_filter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

TEST(ShellLinkContainment, FaultEndsOnlyTheBody) {
  LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(marker_filter);
  DWORD value = 42;
  EXPECT_EQ(run_contained(returning_body, &value), 42u);
  EXPECT_EQ(run_contained(faulting_body, nullptr), 0u);
  EXPECT_EQ(run_contained(returning_body, &value), 42u) << "the process goes on";
  EXPECT_EQ(SetUnhandledExceptionFilter(before), marker_filter) << "the filter in force is restored";
}

}  // namespace
