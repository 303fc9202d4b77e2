// The program's entry: the state record, OLE and the common controls, the UI
// language, and the one modal dialog. The process ends with exit code 0
// whatever happened.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "archive/memory.h"
#include "setup/main.h"
#include "setup/dialog.h"
#include "setup/messages.h"
#include "setup/resource.h"
#include "setup/state.h"

SetupState* setup_state = nullptr;

void init_setup_state(HINSTANCE instance) {
  InitCommonControls();
  *setup_state = SetupState{};
  default_caption_path = L"";
  setup_state->icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SETUP));
  select_ui_strings();
  GetModuleFileNameW(nullptr, setup_state->setup_path, kPathCapacity);
  setup_state->setup_path[kPathCapacity - 1] = 0;
}

int setup_main(HINSTANCE instance) {
  OwnedBlock record = alloc_zeroed(sizeof(SetupState));
  if (record.data == nullptr) return 0;
  setup_state = reinterpret_cast<SetupState*>(record.data);
  OleInitialize(nullptr);
  init_setup_state(instance);
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETUP), nullptr, main_dialog_proc, 0);
  OleUninitialize();
  if (setup_state->title_font != nullptr) DeleteObject(setup_state->title_font);
  setup_state = nullptr;
  release(&record);
  return 0;
}
