// The installation pass. Seam for the installation work: main_dialog_proc calls
// run_installation on OK; 0 closes the dialog, any other result keeps it open.
#pragma once

#include <windows.h>

// Installs the package into the folder of the destination field. Returns 0 on
// success, -1 when the destination field is empty.
int run_installation(HWND dialog);
