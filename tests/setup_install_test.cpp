// The installation on OK, with the real dialog on the real template, against
// packages built by each test: files, times and attributes, the language
// filter, the registry records, the shortcuts (read back through the shell
// link object), the default destination, updates, the temporary-folder
// fallback, the undo of a failed run and the messages. Everything a test
// writes into the Wine prefix is removed again.
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

fs::path quick_launch() {
  wchar_t path[MAX_PATH] = {};
  quick_launch_folder(path, MAX_PATH);
  return path;
}

fs::path link_in(const fs::path& folder, const std::wstring& name) { return folder / (name + L".lnk"); }

// Removes what an installation of the test package leaves outside its folder.
void remove_traces() {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kVendorKey, L"VXT");
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

  fs::path made_quick_launch_;
};

TEST_F(SetupInstall, FreshInstallationIntoARelativeFolder) {
  // Unchecked French and German: every file named Vxt_FR.* stays out, however
  // deep its folder, and so does a file of a base-length prefix and _DE even
  // though that prefix is not the base name.
  std::vector<PackageFile> files = package();
  files.push_back({"Abc_DE.pdf", bytes_of("other prefix")});
  files.push_back({"Vxt_ABCDE.txt", bytes_of("no code")});
  files.push_back({"Vxt_XY.txt", bytes_of("unknown code")});
  const fs::path setup = build_setup(dir_, "Setup.exe", files);
  const fs::path target = dir_ / "Programs" / "VxTest Tool";
  SetCurrentDirectoryW(dir_.path().wstring().c_str());
  std::vector<UINT> boxes_before;
  Outcome out = install(setup, L"Programs\\VxTest Tool", [&](HWND dialog) {
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) boxes_before.push_back(IsDlgButtonChecked(dialog, id));
    check_language(dialog, kFR, false);
    check_language(dialog, kLanguageGerman, false);
  });
  SetCurrentDirectoryW(fs::temp_directory_path().wstring().c_str());
  EXPECT_FALSE(out.dialog_open);
  EXPECT_EQ(boxes_before, (std::vector<UINT>{1, 1, 1})) << "a fresh installation checks all three";
  ASSERT_EQ(out.h.boxes.size(), 1u);
  EXPECT_EQ(out.h.boxes[0].text, L"VxTest Tool has been successfully installed.");
  EXPECT_EQ(out.h.boxes[0].caption, L"Setup VxTest Tool 1.2");
  EXPECT_TRUE(out.h.boxes[0].information_icon);

  // Flat, without the script and the unchecked language's files.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(target)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FILE_ID.DIZ", "Hidden.dat", "ReadMe.txt", "UnInst.exe", "VxMain.exe",
                                              "Vxt_ABCDE.txt", "Vxt_IT.LNG", "Vxt_IT.txt", "Vxt_US.LNG",
                                              "Vxt_XY.txt"}));
  EXPECT_EQ(vxtest::read_file(target / "VxMain.exe"), vxtest::random_bytes(50000, 7));
  EXPECT_EQ(dos_time_of(target / "VxMain.exe"), dos_time_from_parts(2021, 3, 4, 5, 6, 8));
  EXPECT_EQ(dos_time_of(target / "Vxt_IT.txt"), dos_time_from_parts(2024, 6, 1, 12, 0, 0));
  EXPECT_EQ(attributes_of(target / "ReadMe.txt") & 0x3F, 0x21u);
  EXPECT_EQ(attributes_of(target / "Hidden.dat") & 0x3F, 0x22u);

  // The relative folder is recorded in its full form.
  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), target));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), kGroup);
  EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
                        L"\"" + (target / "UnInst.exe").wstring() + L"\""));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Vantorix");

  // The desktop and quick-launch shortcuts work in the program's folder; the
  // program group's in the destination itself.
  fs::path programs = special(CSIDL_COMMON_PROGRAMS);
  const std::pair<fs::path, fs::path> links[] = {
      {link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup), target / "VxMain.exe"},
      {link_in(quick_launch(), kGroup), target / "VxMain.exe"},
      {link_in(programs / kGroup, kGroup), target / "VxMain.exe"},
      {link_in(programs / kGroup, L"Uninstall"), target / "UnInst.exe"}};
  for (const auto& [link, to] : links) {
    const std::optional<Link> l = read_link(link);
    ASSERT_TRUE(l.has_value()) << link.string();
    EXPECT_TRUE(same_path(l->target, to)) << link.string();
    EXPECT_TRUE(same_path(l->working, target)) << link.string();
  }
}

TEST_F(SetupInstall, UpdateReplacesFilesAndKeepsItsLanguages) {
  // An update that also brings a PSAPI.DLL (the one there is renamed aside)
  // and finds the program group already there (left as it is).
  const fs::path target = dir_ / "Installed";
  fs::create_directories(target);
  const fs::path programs = special(CSIDL_COMMON_PROGRAMS);
  fs::create_directories(programs / kGroup);
  vxtest::write_file(target / "PSAPI.DLL", bytes_of("system copy"));
  vxtest::write_file(target / "Vxt_FR.LNG", bytes_of("old"));
  vxtest::write_file(target / "VxMain.exe", bytes_of("old program"));
  vxtest::write_file(target / "Mine.txt", bytes_of("the user's"));
  write_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT", target.wstring());
  std::wstring proposed;
  std::vector<UINT> boxes, languages;
  std::vector<PackageFile> files = package();
  files.push_back({"PSAPI.DLL", bytes_of("package copy")});
  install(build_setup(dir_, "Setup.exe", files), L"", [&](HWND dialog) {
    proposed = window_text(GetDlgItem(dialog, IDC_DESTINATION));
    for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) boxes.push_back(IsDlgButtonChecked(dialog, id));
    languages = checks(dialog);  // English, Français, German, Italiano
    CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED);
  });
  EXPECT_EQ(proposed, target.wstring()) << "the stored folder, used as stored";
  EXPECT_EQ(boxes, (std::vector<UINT>{0, 0, 0}));
  EXPECT_EQ(languages, (std::vector<UINT>{2, 2, 2, 1})) << "Italian has no pack there";
  EXPECT_EQ(vxtest::read_file(target / "VxMain.exe"), vxtest::random_bytes(50000, 7));
  EXPECT_FALSE(fs::exists(target / "Vxt_IT.txt"));
  EXPECT_TRUE(fs::exists(target / "Mine.txt"));
  EXPECT_EQ(vxtest::read_file(target / "VXPSAPI.DLL"), bytes_of("system copy"));
  EXPECT_EQ(vxtest::read_file(target / "PSAPI.DLL"), bytes_of("package copy"));
  EXPECT_TRUE(fs::is_empty(programs / kGroup)) << "an existing group is not refreshed";
  EXPECT_FALSE(fs::exists(special(CSIDL_PROGRAMS) / kGroup)) << "nor made again in the user's folder";
}

TEST_F(SetupInstall, NoShortcutsWhenUncheckedOrWithoutAMainProgram) {
  std::vector<PackageFile> without_main = package("ID=VXT\r\nGroup=VxTest Tool\r\n");
  for (PackageFile& file : without_main) {
    if (file.name == "VxMain.exe") file.name = "Main.exe";  // no V*.EXE either
  }
  const std::pair<std::vector<PackageFile>, UINT> runs[] = {{package(), BST_UNCHECKED}, {without_main, BST_CHECKED}};
  for (const auto& [files, box] : runs) {
    Outcome out = install(build_setup(dir_, "Setup.exe", files), (dir_ / "Out").wstring(), [&](HWND dialog) {
      for (int id : {IDC_PROGRAM_GROUP, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH}) CheckDlgButton(dialog, id, box);
    });
    ASSERT_EQ(out.h.boxes.size(), 1u);
    EXPECT_FALSE(fs::exists(link_in(special(CSIDL_DESKTOPDIRECTORY), kGroup)));
    EXPECT_FALSE(fs::exists(link_in(quick_launch(), kGroup)));
    EXPECT_FALSE(fs::exists(special(CSIDL_COMMON_PROGRAMS) / kGroup));
    EXPECT_FALSE(fs::exists(special(CSIDL_PROGRAMS) / kGroup));
    EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), kGroup) << "the uninstaller is listed";
    reset_state();
    use_language("US");
  }
}

TEST_F(SetupInstall, ProgramGroupFallsBackToTheUsersFolder) {
  // An all-users programs folder on a drive that does not exist: the group
  // cannot be made there and goes to the user's own programs folder.
  const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const std::wstring saved = read_registry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs");
  write_registry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", L"Q:\\NoSuchDrive\\Programs");
  const fs::path target = dir_ / "Out";
  install(build_setup(dir_, "Setup.exe", package()), target.wstring(),
          [](HWND dialog) { CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED); });
  const fs::path users = special(CSIDL_PROGRAMS);
  if (saved == L"<missing>") RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs");
  else write_registry(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", saved);
  const std::optional<Link> main = read_link(link_in(users / kGroup, kGroup));
  ASSERT_TRUE(main.has_value());
  EXPECT_TRUE(same_path(main->target, target / "VxMain.exe"));
}

TEST_F(SetupInstall, ReadOnlyFilesGoThroughTheTemporaryFolder) {
  // A read-only file in the destination, and an earlier entry of the same
  // name that is read-only: the staging folder takes the later one.
  const fs::path target = dir_ / "Installed";
  fs::create_directories(target);
  vxtest::write_file(target / "ReadMe.txt", bytes_of("old"));
  SetFileAttributesW((target / "ReadMe.txt").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
  std::vector<PackageFile> files = package();
  files.push_back({"A\\Same.txt", bytes_of("earlier"), 0x21});
  files.push_back({"B\\Same.txt", bytes_of("later")});
  wchar_t temp_folder[MAX_PATH];
  new_temp_folder_name(temp_folder, MAX_PATH);
  Outcome out = install(build_setup(dir_, "Setup.exe", files), target.wstring(),
                        [](HWND dialog) { CheckDlgButton(dialog, IDC_PROGRAM_GROUP, BST_CHECKED); });
  EXPECT_FALSE(out.dialog_open);
  ASSERT_EQ(out.h.boxes.size(), 1u);
  EXPECT_EQ(out.h.boxes[0].text, L"VxTest Tool has been successfully installed.");
  EXPECT_EQ(vxtest::read_file(target / "ReadMe.txt"), bytes_of("Read me."));
  EXPECT_EQ(vxtest::read_file(target / "Same.txt"), bytes_of("later"));
  EXPECT_FALSE(fs::exists(target / "Installed")) << "moved flat, not as a folder inside";
  EXPECT_FALSE(fs::exists(temp_folder)) << "the temporary folder is removed";
  EXPECT_TRUE(same_path(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), target));
  EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
                        L"\"" + (target / "UnInst.exe").wstring() + L"\""));
  // The program group was built in the temporary folder and moved.
  const std::optional<Link> main = read_link(link_in(special(CSIDL_COMMON_PROGRAMS) / kGroup, kGroup));
  ASSERT_TRUE(main.has_value());
  EXPECT_TRUE(same_path(main->target, target / "VxMain.exe"));
}

TEST_F(SetupInstall, FailedRunTakesBackWhatItAdded) {
  const std::vector<PackageFile> files = package();
  const fs::path setup = build_setup(dir_, "Setup.exe", files);
  use_package(setup);
  // A fresh folder two levels deep, and an update of a folder that holds
  // the user's file, a file the package replaces, and a PSAPI.DLL.
  const fs::path fresh = dir_ / "New" / "VxTest Tool";
  const fs::path update = dir_ / "Old";
  fs::create_directories(update);
  vxtest::write_file(update / "Mine.txt", bytes_of("the user's"));
  vxtest::write_file(update / "FILE_ID.DIZ", bytes_of("replaced"));
  vxtest::write_file(update / "PSAPI.DLL", bytes_of("system copy"));
  for (const fs::path& target : {fresh, update}) {
    reset_state();
    use_language("US");
    use_package(setup);
    Harness h;
    int result = 0;
    h.script = [&](HWND dialog) {
      build_setup(dir_, "Setup.exe", files, 10);  // VxMain.exe
      SetDlgItemTextW(dialog, IDC_DESTINATION, target.wstring().c_str());
      result = run_installation(dialog);
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    };
    run_dialog(h);
    build_setup(dir_, "Setup.exe", files);
    EXPECT_EQ(result, kExtractBadChecksum);
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].text, L"Broken file, please download again.");
    EXPECT_EQ(h.boxes[0].caption, L"Setup.exe");
    EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT"), L"<missing>");
  }
  EXPECT_FALSE(fs::exists(dir_ / "New")) << "the folders the run made are gone";
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(update)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FILE_ID.DIZ", "Mine.txt", "PSAPI.DLL"}));
  EXPECT_EQ(vxtest::read_file(update / "PSAPI.DLL"), bytes_of("system copy"));
}

TEST_F(SetupInstall, NothingCanBeCreatedShowsError82) {
  // No drive Q:, and a temporary folder that cannot be made.
  wchar_t old_tmp[MAX_PATH] = {}, old_temp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", old_temp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", L"Q:\\NoTemp");
  SetEnvironmentVariableW(L"TEMP", L"Q:\\NoTemp");
  use_package(build_setup(dir_, "Setup.exe", package()));
  Harness h;
  int result = 0;
  h.script = [&](HWND dialog) {
    SetDlgItemTextW(dialog, IDC_DESTINATION, L"Q:\\Nowhere\\VxTest Tool");
    result = run_installation(dialog);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  };
  run_dialog(h);
  SetEnvironmentVariableW(L"TMP", old_tmp[0] ? old_tmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", old_temp[0] ? old_temp : nullptr);
  EXPECT_EQ(result, kExtractCannotCreate);
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_NE(h.boxes[0].text.find(L"annot"), std::wstring::npos) << "the system's text for 82";
  EXPECT_EQ(h.boxes[0].caption, L"");
  EXPECT_TRUE(h.boxes[0].error_icon);
}

TEST_F(SetupInstall, HostileNamesAreNeverWritten) {
  // A package with one refuses to start; the name rule itself is a logic test.
  const char* hostile[] = {"Docs\\CON.txt", "x\\..", "Data\\file.txt:stream", "Sub\\.", "nul", "LPT1.dat"};
  std::vector<PackageFile> files = package();
  files.insert(files.begin() + 3, {hostile[2], bytes_of("hostile")});
  use_package(build_setup(dir_, "Setup.exe", files));
  Harness h;
  EXPECT_EQ(run_dialog(h), 0);
  ASSERT_EQ(h.boxes.size(), 1u) << "the dialog closes at once";
  EXPECT_EQ(h.boxes[0].text, L"Broken file, please download again.");
  // install_entry refuses them as well, before anything is created.
  InstallJob job = {};
  copy_text((dir_ / "Out").wstring().c_str(), job.destination, kPathCapacity);
  for (const char* name : hostile) {
    wchar_t buffer[260];
    copy_text(vxtest::wide(std::string(name)).c_str(), buffer, 260);
    EXPECT_NE(install_entry(buffer, nullptr, 0, &job), 0) << name;
    EXPECT_EQ(job.refused, kExtractBadChecksum) << name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "Out"));
}

TEST_F(SetupInstall, InstallEntryRewritesNamesFlatAndFindsTheMainProgram) {
  copy_text(L"Vxt", state_.base_name, kFieldCapacity);
  const fs::path out = dir_ / "Out";
  fs::create_directories(out);
  auto entry = [&](InstallJob& job, const wchar_t* name) {
    wchar_t buffer[260];
    copy_text(name, buffer, 260);
    EXPECT_EQ(install_entry(buffer, nullptr, 0, &job), 0) << std::wstring(name).size();
    return std::wstring(buffer);
  };
  InstallJob job = {};
  copy_text(out.wstring().c_str(), job.destination, kPathCapacity);
  EXPECT_EQ(entry(job, L"..\\..\\Up\\File.txt"), (out / "File.txt").wstring());
  EXPECT_EQ(entry(job, L"C:/Abs/Other.txt"), (out / "Other.txt").wstring());
  EXPECT_EQ(entry(job, L"Setup\\X.inf"), L"");
  EXPECT_EQ(entry(job, L".INF"), (out / ".INF").wstring());
  EXPECT_EQ(entry(job, L"Sub\\uninst.EXE"), (out / "uninst.EXE").wstring());
  EXPECT_STREQ(job.uninstaller, L"uninst.EXE");
  // An existing file of the same name is deleted before it is written.
  vxtest::write_file(out / "Old.txt", bytes_of("old"));
  EXPECT_EQ(entry(job, L"Old.txt"), (out / "Old.txt").wstring());
  EXPECT_FALSE(fs::exists(out / "Old.txt"));
  // A path that does not fit is not cut to another name.
  const std::wstring long_name(250, L'x');
  wchar_t buffer[260];
  copy_text(long_name.c_str(), buffer, 260);
  EXPECT_NE(install_entry(buffer, nullptr, 0, &job), 0);
  EXPECT_EQ(job.refused, kExtractCannotCreate);
  byte_buffer_reset(&job.added);

  // The main program: the file Exe names, wherever it comes; else the first
  // V*.EXE, also for an Exe that is no plain file name of the package.
  const struct {
    const wchar_t* exe;
    const wchar_t* main;
  } cases[] = {{L"tool.EXE", L"Tool.exe"}, {L"", L"Vone.exe"}, {L"Bin\\Tool.exe", L"Vone.exe"},
               {L"Missing.exe", L"Vone.exe"}};
  for (const auto& c : cases) {
    InstallJob run = {};
    copy_text(out.wstring().c_str(), run.destination, kPathCapacity);
    copy_text(c.exe, run.exe, kFieldCapacity);
    for (const wchar_t* name : {L"Vone.exe", L"Bin\\Tool.exe", L"Vtwo.exe"}) entry(run, name);
    EXPECT_STREQ(run.main_program, c.main) << std::wstring(c.exe).size();
    byte_buffer_reset(&run.added);
  }
}

std::wstring default_of() {
  wchar_t buffer[260];
  default_destination(buffer, 260);
  return buffer;
}

TEST_F(SetupInstall, DefaultDestinationFromEachSource) {
  lstrcpyA(state_.ID, "VXT");
  lstrcpyA(state_.Group, "VxTest Tool");
  const std::wstring saved = read_registry(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  // 1: the stored folder, used as stored, even when it no longer exists;
  // not for an empty ID.
  write_registry(HKEY_CURRENT_USER, kVendorKey, L"VXT", L"X:\\Stored\\Place");
  EXPECT_EQ(default_of(), L"X:\\Stored\\Place");
  state_.ID[0] = 0;
  EXPECT_NE(default_of(), L"X:\\Stored\\Place");
  lstrcpyA(state_.ID, "VXT");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kVendorKey, L"VXT");
  // 2: "ProgramFilesDir", 3: the environment.
  write_registry(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", L"D:\\Registry Programs");
  EXPECT_EQ(default_of(), L"D:\\Registry Programs\\VxTest Tool");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir");
  wchar_t environment[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramFiles", environment, MAX_PATH);
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

TEST_F(SetupInstall, FreshPresetWithoutQuickLaunchHidesItsBox) {
  if (!made_quick_launch_.empty()) fs::remove(made_quick_launch_);
  if (fs::exists(quick_launch())) GTEST_SKIP() << "the prefix has a quick-launch folder of its own";
  use_package(build_setup(dir_, "Setup.exe", package()));
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
}

TEST_F(SetupInstall, TemporaryFolderNamesCountInHexadecimal) {
  wchar_t old_tmp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", dir_.path().wstring().c_str());
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
  wchar_t small[8];
  new_temp_folder_name(small, 8);
  EXPECT_STREQ(small, L"") << "no name fits";
  SetEnvironmentVariableW(L"TMP", old_tmp[0] ? old_tmp : nullptr);
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
