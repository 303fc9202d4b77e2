// End to end: the sample Setup.exe runs as a process and is driven by
// setup_probe (destination set, French unchecked, OK pressed, the closing
// message read and confirmed); then the installed files, the registry records
// (the Apps-list entry among them) and the shortcuts are checked, and the
// standard UnInst.exe that vxpack added must remove all of it again. Cut
// short, the sample installs nothing. And the standard uninstaller with a
// hostile list and a file held open, laid out by hand.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "sample_package.h"
#include "tests/setup_harness.h"
#include "tools/vxpack/uninstaller.h"

namespace {

using namespace setup_test;

const wchar_t kSampleUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" kSampleGroup;

std::wstring quoted(const fs::path& path) { return L"\"" + path.wstring() + L"\""; }

// Polls until done() holds, for at most 20 s; returns done().
bool wait_until(const std::function<bool()>& done) {
  for (int i = 0; i < 400 && !done(); ++i) Sleep(50);
  return done();
}

// The folder the preset proposes for the sample when nothing is stored.
fs::path default_folder() {
  return read_registry(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir") +
         L"\\" kSampleGroup;
}

// An earlier installation of the sample in the prefix (the main job makes
// one) would turn this one into an update: its own uninstaller removes it.
void remove_earlier_installation() {
  for (const fs::path folder : {fs::path(read_registry(HKEY_CURRENT_USER, kVendorKey, kSampleId)), default_folder()}) {
    if (!fs::exists(folder / "UnInst.exe")) continue;
    run_process(quoted(folder / "UnInst.exe") + L" /S", 20000);
    wait_until([&] { return !fs::exists(folder / "UnInst.exe"); });
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kVendorKey, kSampleId);
}

TEST(SampleSetup, InstallsAndTheUninstallerRemovesIt) {
  CoInitialize(nullptr);
  remove_earlier_installation();
  vxtest::TempDir dir;
  const fs::path target = dir.path() / L"Foo Tool here";
  ASSERT_EQ(run_process(quoted(VX_PROBE_PATH) + L" " + quoted(VX_SAMPLE_SETUP) + L" --install " + quoted(target) +
                            L" --uncheck FR --message \"" kSampleGroup L" has been successfully installed.\"",
                        120000),
            0)
      << "the probe saw the installation fail";

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
      {L"DisplayName", kSampleGroup},
      {L"UninstallString", quoted(uninstaller)},
      {L"QuietUninstallString", quoted(uninstaller) + L" /S"},
      {L"DisplayIcon", quoted(target / "FooTool.exe")},
      {L"InstallLocation", target.wstring()},
      {L"DisplayVersion", L"1.2"},
      {L"Publisher", L"Foo Works"},
      {L"EstimatedSize", std::to_wstring((bytes + 1023) / 1024)},
      {L"NoModify", L"1"},
      {L"NoRepair", L"1"}};
  for (const auto& [name, value] : values) {
    EXPECT_TRUE(same_path(read_registry(HKEY_LOCAL_MACHINE, kSampleUninstallKey, name), value)) << name;
  }
  const fs::path desktop_link = special(CSIDL_DESKTOPDIRECTORY) / (std::wstring(kSampleGroup) + L".lnk");
  fs::path group = special(CSIDL_COMMON_PROGRAMS) / kSampleGroup;
  if (!fs::exists(group)) group = special(CSIDL_PROGRAMS) / kSampleGroup;
  const std::pair<fs::path, fs::path> links[] = {{desktop_link, target / "FooTool.exe"},
                                                 {group / (std::wstring(kSampleGroup) + L".lnk"), target / "FooTool.exe"},
                                                 {group / L"Uninstall.lnk", uninstaller}};
  for (const auto& [link, to] : links) {
    const std::optional<Link> l = read_link(link);
    EXPECT_TRUE(l && same_path(l->target, to)) << link.string();
  }

  // The uninstaller hands over to a copy of itself and ends; the copy then
  // removes the files, the folder that is then empty, the shortcuts and the
  // records.
  EXPECT_EQ(run_process(quoted(uninstaller) + L" /S", 20000), 0);
  wait_until([&] {
    return !fs::exists(target) && read_registry(HKEY_LOCAL_MACHINE, kSampleUninstallKey, L"DisplayName") == L"<missing>";
  });
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(read_registry(HKEY_LOCAL_MACHINE, kSampleUninstallKey, L"DisplayName"), L"<missing>");
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, kSampleId), L"<missing>");
  EXPECT_FALSE(fs::exists(desktop_link));
  EXPECT_FALSE(fs::exists(group));
  CoUninitialize();
}

TEST(SampleSetup, CutAtAnEntryBoundaryIsBrokenAndInstallsNothing) {
  remove_earlier_installation();
  // The sample cut where FooTool.exe's header begins: the name follows the
  // 32 fixed bytes of a file header.
  vxtest::Bytes bytes = vxtest::read_file(VX_SAMPLE_SETUP);
  const std::string name = "FooTool.exe";
  const auto at = std::find_end(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(at, bytes.end());
  bytes.resize(static_cast<std::size_t>(at - bytes.begin()) - 32);
  vxtest::TempDir dir;
  vxtest::write_file(dir / "Setup.exe", bytes);
  EXPECT_EQ(run_process(quoted(VX_PROBE_PATH) + L" " + quoted(dir / "Setup.exe") +
                            L" --message \"Broken file, please download again.\"",
                        120000),
            0)
      << "no message 3001 in place of the dialog";
  EXPECT_FALSE(fs::exists(default_folder()));
  EXPECT_EQ(read_registry(HKEY_CURRENT_USER, kVendorKey, kSampleId), L"<missing>");
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

TEST(Uninstaller, RemovesOnlyListedFilesOfItsFolderAndNamesOneInUse) {
  // The list names files outside the folder in every way a name can; the
  // user added mine.txt; busy.dat is held open.
  vxtest::TempDir dir;
  const fs::path folder = dir.path() / "Product";
  const fs::path elsewhere = dir.path() / "elsewhere.txt";
  fs::create_directories(folder);
  for (const fs::path& file : {folder / "a.txt", folder / "busy.dat", folder / "mine.txt", dir / "outside.txt", elsewhere}) {
    vxtest::write_file(file, vxtest::bytes_of("content"));
  }
  const std::string list = "ID=VXU\r\nGroup=VxUninst Test\r\nExe=\r\nFile=a.txt\r\nFile=busy.dat\r\nFile=..\\outside.txt\r\n"
                           "File=" + elsewhere.string() + "\r\nFile=..\r\nFile=" + dir.path().string() +
                           "\r\nFile=UnInst.exe\r\n";
  const vxtest::Bytes program = vxtest::read_file(VX_UNINSTALLER_PATH);
  const std::string uninstaller = vxpack::attach_uninstall_list(std::string(program.begin(), program.end()), list);
  vxtest::write_file(folder / "UnInst.exe", vxtest::Bytes(uninstaller.begin(), uninstaller.end()));
  HANDLE busy = CreateFileW((folder / "busy.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  std::wstring command = quoted(folder / "UnInst.exe");
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  EXPECT_NE(answer_box(L"VxUninst Test", IDYES), L"") << "the question";
  WaitForSingleObject(process.hProcess, 20000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const std::wstring report = answer_box(L"VxUninst Test", IDOK);
  EXPECT_NE(report.find(L"\nbusy.dat"), std::wstring::npos) << fs::path(report).string();
  EXPECT_EQ(report.find(L"a.txt"), std::wstring::npos);
  CloseHandle(busy);
  wait_until([&] { return !fs::exists(folder / "UnInst.exe"); });
  for (const char* gone : {"a.txt", "UnInst.exe"}) EXPECT_FALSE(fs::exists(folder / gone)) << gone;
  for (const fs::path& kept : {folder / "busy.dat", folder / "mine.txt", dir / "outside.txt", elsewhere}) {
    EXPECT_TRUE(fs::exists(kept)) << kept.string();
  }
}

}  // namespace
