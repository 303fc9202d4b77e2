// The columns of the language list and the rule that sizes them. Pure logic;
// dialog.cpp inserts the columns.
#pragma once

#include <cstdint>

struct ColumnSpec {
  uint16_t id;     // string id of the heading; 0 ends a table
  int32_t width;   // pixels; negative: the rest of the list's width
  uint32_t format; // low two bits: 0 left, 1 right, 2 centre
};

// One column headed by UI text 1010 that takes the whole width.
inline constexpr ColumnSpec language_columns[] = {{1010, -1, 0}, {0, 0, 0}};

// The width of column table[index] in a list whose client area is client_width
// pixels wide: a negative width becomes the client width less all positive
// widths less the scroll bar width and 4, but at least 100.
inline int column_width(const ColumnSpec* table, int index, int client_width, int scroll_bar_width) {
  if (table[index].width >= 0) return table[index].width;
  int fixed = 0;
  for (const ColumnSpec* entry = table; entry->id != 0; ++entry) {
    if (entry->width > 0) fixed += entry->width;
  }
  const int width = client_width - fixed - (scroll_bar_width + 4);
  return width < 100 ? 100 : width;
}
