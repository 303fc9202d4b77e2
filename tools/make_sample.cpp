// Writes a small sample setup executable for the README's first command: a
// stand-in program image with a stored package appended, in the marked form.
#include <cstdio>
#include <string>
#include <vector>

#include "archive/writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT\n");
    return 1;
  }
  ArchiveWriter w;
  w.bytes.assign(4096, 0);  // the image a real stub would occupy
  w.bytes[0] = 'M';
  w.bytes[1] = 'Z';
  begin_archive(&w, ArchiveForm::kMarked);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"FILE_ID.DIZ", "Foo Tool Version 1.2 (beta)\r\nA sample package.\r\n"},
      {"Foo.inf", "ID=FOO\r\nGroup=Foo Tool\r\nClass=FooToolMain\r\nExe=FooTool.exe\r\n"},
      {"Lang\\Foo_FR.LNG", "[Strings]\r\nLanguage=Fran\xE7" "ais\r\n"},
      {"Foo_FR.txt", "Lisez-moi\r\n"},
      {"ReadMe.txt", "Read me\r\n"},
  };
  for (const auto& [name, text] : files) {
    EntrySpec e;
    e.name = name;
    e.file_time = dos_time_from_parts(2024, 1, 1, 12, 0, 0);
    add_stored_entry(&w, e, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  }
  end_archive(&w);
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(w.bytes.data(), 1, w.bytes.size(), f) != w.bytes.size()) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  std::fclose(f);
  return 0;
}
