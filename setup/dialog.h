// The main dialog (resource 1000): its procedure and initialisation, the
// language list's columns and context menu, and the folder browser of the
// destination field.
#pragma once

#include <windows.h>

#include "setup/columns.h"

// The dialog procedure; returns 0 for every message.
INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM first, LPARAM second);
// Centre, icon, texts, list, discovery pass, closing thread, preset; on a
// failed pass the error box with UI text 3001 and the end of the dialog.
void on_init_dialog(HWND dialog);
// Moves window to the centre of the desktop window.
void center_on_desktop(HWND window);
// Inserts the columns of table with empty headings, sized by column_width.
void insert_columns(HWND list, const ColumnSpec* table);
// Sets the headings from the active UI string table.
void set_column_texts(HWND list, const ColumnSpec* table);
// The check-all, uncheck-all and invert menu at the mouse position.
void show_language_menu(HWND dialog);
// Lets the user pick a folder, preselecting the edit control's path (or its
// parent when the path does not exist yet), and writes it into the control.
void browse_for_destination(HWND dialog, int edit_id);
// The browser's callback: selects the item list given as value on start.
int CALLBACK browse_callback(HWND browser, UINT event, LPARAM parameter, LPARAM value);
