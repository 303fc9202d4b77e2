// The discovery pass's callback and what it does with the package's texts.
#include "setup/discovery.h"

#include "archive/memory.h"
#include "setup/install_names.h"
#include "setup/language_list.h"
#include "setup/package_text.h"
#include "setup/resource.h"
#include "setup/state.h"

namespace {

// Pause before looking again for a window that was asked to close, so that
// waiting for it does not keep a processor busy.
constexpr DWORD kRetryPause = 50;

// The first top-level window of class Class that another process owns.
HWND find_other_instance(const char* window_class) {
  const DWORD own = GetCurrentProcessId();
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, window_class, nullptr)) != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != own) return window;
  }
  return nullptr;
}

}  // namespace

int32_t discovery_callback(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  SetupState* s = setup_state;
  HWND dialog = static_cast<HWND>(user);
  if (data == nullptr) {
    // A name that would not land in the destination as itself (a device, a
    // stream, the folder itself or its parent) marks the package as damaged.
    if (!is_safe_file_name(name + name_offset(name))) {
      s->unsafe_entry_name = true;
      return 1;
    }
    const EntryCode code = entry_code_for(name);
    if (code == kEntryLanguagePack && s->base_name[0] == 0) base_name_from_pack(name, s->base_name, kFieldCapacity);
    name[0] = code;
    return 0;
  }
  switch (name[0]) {
    case kEntryDescription:
      read_description(dialog, reinterpret_cast<const char*>(data));
      break;
    case kEntryInstallKeys:
      read_install_keys(reinterpret_cast<const char*>(data));
      break;
    case kEntryLanguagePack:
      if (size > 7) read_language_pack(dialog, data, size, name);
      break;
    default:
      break;
  }
  return 0;
}

void read_description(HWND dialog, const char* text) {
  SetupState* s = setup_state;
  char name[kProductNameCapacity];
  char version[kVersionCapacity];
  parse_description(text, name, version);

  char line[kDescriptionLineCapacity] = {};
  GetWindowTextA(dialog, line, kDescriptionLineCapacity);
  append_narrow(" ", line, kDescriptionLineCapacity);
  append_narrow(name, line, kDescriptionLineCapacity);
  append_narrow(" ", line, kDescriptionLineCapacity);
  append_narrow(version, line, kDescriptionLineCapacity);
  SetWindowTextA(dialog, line);

  line[0] = 0;
  append_narrow(name, line, kDescriptionLineCapacity);
  append_narrow(" ", line, kDescriptionLineCapacity);
  append_narrow(version, line, kDescriptionLineCapacity);
  set_title_font(dialog);
  SetDlgItemTextA(dialog, IDC_TITLE, line);
  if (s->Group[0] == 0) append_narrow(name, s->Group, kFieldCapacity);
  if (s->version[0] == 0) append_narrow(version, s->version, kFieldCapacity);
}

void set_title_font(HWND dialog) {
  SetupState* s = setup_state;
  if (s->title_font == nullptr) {
    HDC dc = GetDC(dialog);
    LOGFONTW font = {};
    font.lfHeight = MulDiv(-18, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(dialog, dc);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = ANSI_CHARSET;
    font.lfOutPrecision = OUT_STRING_PRECIS;
    font.lfClipPrecision = CLIP_STROKE_PRECIS;
    font.lfQuality = DRAFT_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    copy_text(L"MS Sans Serif", font.lfFaceName, LF_FACESIZE);
    s->title_font = CreateFontIndirectW(&font);
  }
  if (s->title_font != nullptr) SendDlgItemMessageW(dialog, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(s->title_font), FALSE);
}

void read_install_keys(const char* text) {
  SetupState* s = setup_state;
  read_install_key(text, "ID", s->ID, kIdCapacity);
  read_install_key(text, "Group", s->Group, kFieldCapacity);
  read_install_key(text, "Class", s->Class, kFieldCapacity);
  read_install_key(text, "Exe", s->Exe, kFieldCapacity);
  read_install_key(text, "Publisher", s->Publisher, kFieldCapacity);
}

void read_language_pack(HWND dialog, const uint8_t* data, uint32_t size, const WideChar* name) {
  WideChar language[kLanguageNameCapacity];
  if (!language_pack_name(data, size, language, kLanguageNameCapacity)) return;
  const LanguageCode code = language_code_from_pack(name);
  if (code == 0) return;
  HWND list = GetDlgItem(dialog, IDC_LANGUAGES);
  if (find_language_item(list, code) < 0) add_language_item(list, language, code);
}

DWORD WINAPI close_running_instances(void* argument) {
  OwnedBlock window_class{static_cast<uint8_t*>(argument)};
  const char* name = reinterpret_cast<const char*>(window_class.data);
  // Each window is asked once, as its own close button would: the program
  // may save its work or ask its user first. The next one is asked when the
  // window has gone.
  HWND asked = nullptr;
  for (;;) {
    HWND window = find_other_instance(name);
    if (window == nullptr) {
      release(&window_class);
      return 0;
    }
    if (window == asked) {
      Sleep(kRetryPause);
    } else {
      PostMessageW(window, WM_CLOSE, 0, 0);
      asked = window;
    }
  }
}

void start_closing_thread(const char* window_class) {
  // The thread may outlive the state record (it ends with the process), so
  // it works on its own copy of the class name.
  OwnedBlock copy = alloc_zeroed(kFieldCapacity);
  if (copy.data == nullptr) return;
  append_narrow(window_class, reinterpret_cast<char*>(copy.data), kFieldCapacity);
  HANDLE thread = CreateThread(nullptr, 0, close_running_instances, copy.data, 0, nullptr);
  if (thread == nullptr) {
    release(&copy);
    return;
  }
  CloseHandle(thread);
}
