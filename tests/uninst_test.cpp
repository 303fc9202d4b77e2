// The standard uninstaller on installations laid out by hand, with lists
// attached as vxpack attaches them: a hostile list touches nothing outside
// the installation folder, and a file held open is named while the others go.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/test_support.h"
#include "tools/vxpack/uninstaller.h"

namespace fs = std::filesystem;

namespace {

// Lays out folder with the files and an uninstaller carrying list; returns
// the uninstaller's path.
fs::path install_by_hand(const fs::path& folder, std::initializer_list<const char*> files, const std::string& list) {
  fs::create_directories(folder);
  for (const char* name : files) vxtest::write_file(folder / name, vxtest::bytes_of("package"));
  std::ifstream in(VX_UNINSTALLER_PATH, std::ios::binary);
  const std::string program{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::string uninstaller = vxpack::attach_uninstall_list(program, list);
  vxtest::write_file(folder / "UnInst.exe", std::vector<uint8_t>(uninstaller.begin(), uninstaller.end()));
  return folder / "UnInst.exe";
}

HANDLE start(const fs::path& uninstaller, const wchar_t* arguments) {
  std::wstring command = L"\"" + uninstaller.wstring() + L"\"" + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

struct BoxSearch {
  const wchar_t* caption;
  HWND box;
};

BOOL CALLBACK find_box(HWND window, LPARAM value) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(value);
  wchar_t name[16] = {}, caption[64] = {};
  GetClassNameW(window, name, 16);
  GetWindowTextW(window, caption, 64);
  if (IsWindowVisible(window) && lstrcmpW(name, L"#32770") == 0 && lstrcmpW(caption, search->caption) == 0) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

// Waits for a message box with this caption (of any process: the copy in
// the temporary folder shows the last one), presses button and returns the
// box's text; empty when none appeared within 20 s.
std::wstring answer_box(const wchar_t* caption, int button) {
  BoxSearch search = {caption, nullptr};
  for (int i = 0; i < 400 && search.box == nullptr; ++i) {
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr) Sleep(50);
  }
  if (search.box == nullptr) return L"";
  wchar_t text[1024] = {};
  GetDlgItemTextW(search.box, 0xFFFF, text, 1024);
  SendMessageW(GetDlgItem(search.box, button), BM_CLICK, 0, 0);
  return text;
}

void wait_until_gone(const fs::path& path) {
  for (int i = 0; i < 400 && fs::exists(path); ++i) Sleep(50);
}

TEST(Uninstaller, RemovesOnlyPlainListedNamesInItsOwnFolder) {
  vxtest::TempDir dir;
  const fs::path folder = dir.path() / "Product";
  vxtest::write_file(dir.path() / "outside.txt", vxtest::bytes_of("keep"));
  const fs::path elsewhere = dir.path() / "elsewhere.txt";
  vxtest::write_file(elsewhere, vxtest::bytes_of("keep"));
  const std::string list = "ID=VXU\r\nGroup=VxUninst Test\r\nExe=\r\nFile=a.txt\r\nFile=..\\outside.txt\r\nFile=" +
                           elsewhere.string() + "\r\nFile=..\r\nFile=" + dir.path().string() + "\r\nFile=UnInst.exe\r\n";
  const fs::path uninstaller = install_by_hand(folder, {"a.txt"}, list);
  HANDLE process = start(uninstaller, L" /S");
  ASSERT_NE(process, nullptr);
  WaitForSingleObject(process, 20000);
  CloseHandle(process);
  wait_until_gone(folder);
  EXPECT_FALSE(fs::exists(folder)) << "the listed files and then the empty folder go";
  EXPECT_TRUE(fs::exists(dir.path() / "outside.txt"));
  EXPECT_TRUE(fs::exists(elsewhere));
}

TEST(Uninstaller, AsksThenNamesAFileInUseAndRemovesTheRest) {
  vxtest::TempDir dir;
  const fs::path folder = dir.path() / "Product";
  const fs::path uninstaller = install_by_hand(
      folder, {"a.txt", "busy.dat", "z.txt"},
      "ID=VXU\r\nGroup=VxUninst Test\r\nFile=a.txt\r\nFile=busy.dat\r\nFile=z.txt\r\nFile=UnInst.exe\r\n");
  HANDLE busy = CreateFileW((folder / "busy.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  HANDLE process = start(uninstaller, L"");
  ASSERT_NE(process, nullptr);
  EXPECT_NE(answer_box(L"VxUninst Test", IDYES), L"") << "the question";
  WaitForSingleObject(process, 20000);
  CloseHandle(process);
  const std::wstring report = answer_box(L"VxUninst Test", IDOK);
  EXPECT_NE(report.find(L"\nbusy.dat"), std::wstring::npos) << fs::path(report).string();
  EXPECT_EQ(report.find(L"a.txt"), std::wstring::npos);
  CloseHandle(busy);
  wait_until_gone(folder / "UnInst.exe");
  EXPECT_FALSE(fs::exists(folder / "a.txt"));
  EXPECT_FALSE(fs::exists(folder / "z.txt"));
  EXPECT_FALSE(fs::exists(folder / "UnInst.exe"));
  EXPECT_TRUE(fs::exists(folder / "busy.dat"));
}

}  // namespace
