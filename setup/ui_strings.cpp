// The three built-in UI string tables and their lookup. Every text is Windows
// code page 1252: non-ASCII letters are written as byte escapes (split from
// the following letters, which would otherwise extend a hexadecimal escape) so
// that the source file's encoding can never change them.
#include "setup/ui_strings.h"

#include "support/charset.h"

namespace {

constexpr UiString kEnglish[] = {
    {1000, "Setup"},
    {99, "&OK"},
    {2, "Cancel"},
    {1010, "Language"},
    {1031, "Destination folder"},
    {1041, "Put entry to Start Menu"},
    {1042, "Create a Desktop icon"},
    {1043, "Create a Quick Launch icon"},
    {2001, "English"},
    {2002, "German"},
    {3001, "Broken file, please download again."},
    {3000, " has been successfully installed."},
    {136, "Select &all"},
    {137, "&Deselect all"},
    {138, "&Invert selection"},
    {3100, "Remove this program and its shortcuts from the computer? Files you added to its folder are kept."},
    {3101, " has been removed."},
    {3102, "These files are in use and could not be removed. Close the program and run the uninstaller again:"},
    {3103, "The uninstaller is damaged: it cannot tell which files belong to the program. Nothing was removed."},
    {0, nullptr},
};

constexpr UiString kGerman[] = {
    {1000, "Installation"},
    {99, "&OK"},
    {2, "Abbruch"},
    {1010, "Sprache"},
    {1031, "Zielpfad:"},
    {1041, "Programmgruppe erstellen"},
    {1042, "Desktop-Symbol anlegen"},
    {1043, "Symbol in der Schnellstartleiste anlegen"},
    {2001, "Englisch"},
    {2002, "Deutsch"},
    {3001, "Die Datei ist besch\xE4" "digt, bitte nochmal herunterladen!"},
    {3000, " wurde erfolgreich installiert."},
    {136, "Alles &markieren"},
    {137, "Markierung &aufheben"},
    {138, "Markierung &umkehren"},
    {3100, "Dieses Programm und seine Verkn\xFC" "pfungen vom Computer entfernen? Dateien, die Sie selbst in seinen "
           "Ordner gelegt haben, bleiben erhalten."},
    {3101, " wurde entfernt."},
    {3102, "Diese Dateien werden verwendet und konnten nicht entfernt werden. Schlie\xDF" "en Sie das Programm und "
           "starten Sie die Deinstallation erneut:"},
    {3103, "Das Deinstallationsprogramm ist besch\xE4" "digt: Es kann nicht feststellen, welche Dateien zum Programm "
           "geh\xF6" "ren. Es wurde nichts entfernt."},
    {0, nullptr},
};

constexpr UiString kItalian[] = {
    {1000, "Installazione"},
    {99, "&OK"},
    {2, "Annulla"},
    {1010, "Lingua"},
    {1031, "Destinazione"},
    {1041, "Aggiungi collegamento nel menu Programmi"},
    {1042, "Aggiungi collegamento sul desktop"},
    {1043, "Aggiungi collegamento sulla barra di Avvio veloce"},
    {2001, "English"},
    {2002, "German"},
    {3001, "File danneggiato, esegui di nuovo il download."},
    {3000, " \xE8 stato installato correttamente."},
    {136, "Seleziona tutto"},
    {137, "Deseleziona tutto"},
    {138, "Inverti selezione"},
    {3100, "Rimuovere questo programma e i suoi collegamenti dal computer? I file aggiunti alla sua cartella "
           "vengono conservati."},
    {3101, " \xE8 stato rimosso."},
    {3102, "Questi file sono in uso e non \xE8 stato possibile rimuoverli. Chiudi il programma ed esegui di nuovo "
           "la disinstallazione:"},
    {3103, "Il programma di disinstallazione \xE8 danneggiato: non sa quali file appartengono al programma. Non "
           "\xE8 stato rimosso nulla."},
    {0, nullptr},
};

}  // namespace

const UiStringTable ui_string_tables[kUiTableCount] = {
    {0, "US", kEnglish},
    {0, "DE", kGerman},
    {0, "IT", kItalian},
};

const uint16_t dialog_text_ids[] = {1000, 99, 2, 1031, 1041, 1042, 1043, 0};

void ui_text(const UiStringTable* table, uint16_t id, WideChar* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return;
  buffer[0] = 0;
  if (table == nullptr) return;
  const UiString* entry = table->entries;
  while (entry->id != 0 && entry->id != id) ++entry;
  if (entry->text == nullptr) return;
  // At most room - 1 characters, whatever the encoding, then a terminator.
  const int room = capacity - 1;
  if (table->encoding == -1) {
    const WideChar* text = static_cast<const WideChar*>(entry->text);
    int n = 0;
    for (; n < room - 1 && text[n] != 0; ++n) buffer[n] = text[n];
    buffer[n] = 0;
  } else {
    ansi_to_wide(static_cast<const char*>(entry->text), buffer, room);
  }
  buffer[room] = 0;
  expand_tab_escapes(buffer);
}

void expand_tab_escapes(WideChar* text) {
  if (text == nullptr) return;
  for (int i = 0; text[i] != 0; ++i) {
    if (text[i] != '\\' || text[i + 1] != 't') continue;
    text[i] = '\t';
    int k = i + 1;
    do {
      text[k] = text[k + 1];
    } while (text[k++] != 0);
  }
}

const char* ui_language_for(uint16_t language_id) {
  switch (language_id) {
    case 0x0407: case 0x0807: case 0x0C07: case 0x1007: case 0x1407:
      return "DE";
    case 0x0410: case 0x0810:
      return "IT";
    default:
      return "US";
  }
}

const UiStringTable* find_ui_strings(const char* code) {
  if (code != nullptr) {
    for (const UiStringTable& table : ui_string_tables) {
      if (ascii_upper(static_cast<uint8_t>(code[0])) == static_cast<uint8_t>(table.code[0]) &&
          ascii_upper(static_cast<uint8_t>(code[1])) == static_cast<uint8_t>(table.code[1]) && code[2] == 0) {
        return &table;
      }
    }
  }
  return &ui_string_tables[0];
}

int caption_offset(const WideChar* path) {
  const int at = name_offset(path);
  return path[at] == 0 ? 0 : at;
}
