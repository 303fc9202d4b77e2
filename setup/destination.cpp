// Placeholder of the destination preset: the field and the check boxes keep
// the state the template gives them.
#include "setup/destination.h"

void preset_destination(HWND) {}
