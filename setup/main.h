// The program's start: setup_main runs the whole program and returns its exit
// code (always 0); init_setup_state fills the fresh state record.
#pragma once

#include <windows.h>

int setup_main(HINSTANCE instance);
void init_setup_state(HINSTANCE instance);
