// The language list (control 1010): one item per language with its name, its
// LanguageCode as the item parameter and a check box in the state image
// (1 unchecked, 2 checked). The list sorts by text, so indexes follow the text
// order, never the order of insertion.
#pragma once

#include <windows.h>

#include "setup/state.h"

inline constexpr UINT kStateMask = 0xF000;
inline constexpr UINT kStateUnchecked = 0x1000;
inline constexpr UINT kStateChecked = 0x2000;

// Adds English ("US") and German ("DE"), both checked, named by UI texts 2001, 2002.
void add_builtin_languages(HWND list);
// Adds a checked item.
void add_language_item(HWND list, const WideChar* text, LanguageCode code);
// Index of the item with code, or -1.
int find_language_item(HWND list, LanguageCode code);
// The item's code, or 0 when the item cannot be read.
LanguageCode language_item_code(HWND list, int index);
// The item's check box: 1 unchecked, 2 checked, 0 none.
UINT language_check(HWND list, int index);
// Checks or clears the item's check box; index -1: every item's.
void set_language_check(HWND list, int index, bool checked);
// Check boxes of all items; a missing list is ignored.
void check_all_languages(HWND list);
void uncheck_all_languages(HWND list);
void invert_language_checks(HWND list);
