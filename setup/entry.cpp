// The process entry of vxstub.exe. The stub links no C runtime start-up code:
// the system calls setup_entry directly, and the runtime library it uses is
// the system's own msvcrt.dll, which initialises itself when it is loaded.
#include "setup/main.h"

extern "C" void setup_entry() { ExitProcess(static_cast<UINT>(setup_main(GetModuleHandleW(nullptr)))); }
