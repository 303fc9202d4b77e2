// Placeholder of the installation pass: it checks only that a destination was
// given, so that OK with an empty field keeps the dialog open, and installs
// nothing yet.
#include "setup/install.h"

#include "setup/resource.h"

int run_installation(HWND dialog) {
  WCHAR destination[258] = {};
  GetDlgItemTextW(dialog, IDC_DESTINATION, destination, 258);
  return destination[0] == 0 ? -1 : 0;
}
