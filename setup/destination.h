// The destination folder and the registry records. Seam for the destination
// work: preset_destination is called once by on_init_dialog after a discovery
// pass that succeeded, with the package fields of setup_state final.
#pragma once

#include <windows.h>

// Fills the destination field (control 1032) and presets check boxes 1041 to
// 1043. Until the default destination is built, the field stays empty.
void preset_destination(HWND dialog);
