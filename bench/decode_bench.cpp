// Decode speed on a payload folder: every file, in name order, packed as one
// solid archive by the compressor (level 4 unless given), beside zlib's
// inflate and libdeflate decoding the same bytes compressed as one raw
// deflate stream at level 6. Single-threaded, the median of N runs (thread CPU time),
// output MB/s (10^6 bytes).
// "memory to memory" calls the decompressor the way the driver does, but with
// the packed entries in memory (a memory stream) and the output appended to a
// buffer sized beforehand, as the peers decode; "+ CRC-32" adds the CRC-32 of
// every file, ours through the driver's checksum, libdeflate's through its
// own. The archive passes are extract_archive on the archive file: without a
// sink, and into memory blocks with the checksum, as the discovery pass does.
//   decode_bench [PAYLOAD_FOLDER [RUNS [LEVEL]]]    default /tmp/payload-small-flat, 7, 4
#include <libdeflate.h>
#include <zlib.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/extract.h"
#include "archive/unpack20.h"
#include "packer/pack20.h"
#include "packer/writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The calling thread's CPU time in seconds: every measurement here is
// single-threaded, and CPU time stays meaningful on a machine that other
// work shares, where the wall clock does not.
double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Bytes read_all(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename F>
double median_seconds(int runs, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double t0 = thread_seconds();
    f();
    times.push_back(thread_seconds() - t0);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

struct Tally {
  bool to_memory;
  uint64_t bytes;
};

int32_t count_entry(WideChar* name, const uint8_t* data, uint32_t size, void* user) {
  Tally* t = static_cast<Tally*>(user);
  if (data == nullptr) {
    if (t->to_memory) {
      name[0] = 1;
      name[1] = 0;
    } else {
      name[0] = 0;
      t->bytes += size;
    }
  } else {
    t->bytes += size;
  }
  return 0;
}

void report(const char* what, uint64_t bytes, double seconds, std::size_t packed) {
  std::printf("%-34s %8.1f MB/s   packed %9zu bytes\n", what, bytes / seconds / 1e6, packed);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "/tmp/payload-small-flat";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  const int level = argc > 3 ? std::clamp(std::atoi(argv[3]), kPackFastest, kPackBest) : 4;
  std::vector<std::filesystem::path> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.is_regular_file()) names.push_back(e.path());
  std::sort(names.begin(), names.end());
  if (names.empty()) {
    std::fprintf(stderr, "no files in %s (see make_payload.sh)\n", folder.string().c_str());
    return 2;
  }
  std::vector<Bytes> files;
  Bytes all;
  for (const auto& n : names) {
    files.push_back(read_all(n));
    all.insert(all.end(), files.back().begin(), files.back().end());
  }
  std::vector<uint32_t> crcs;
  for (const Bytes& f : files) crcs.push_back(static_cast<uint32_t>(crc32(0, f.data(), static_cast<uInt>(f.size()))));
  std::printf("payload %s: %zu files, %zu bytes; level %d; median of %d runs\n", folder.string().c_str(),
              files.size(), all.size(), level, runs);

  // Our archive, solid, on disk (read back through the page cache).
  std::vector<Bytes> packed(files.size());
  Packer* packer = create_packer(level);
  for (std::size_t i = 0; i < files.size(); ++i) {
    bool continued = false;
    pack_entry(packer, files[i].data(), static_cast<uint32_t>(files[i].size()), true, &packed[i], &continued);
    if (continued != (i > 0)) std::fprintf(stderr, "entry %zu: unexpected solid state\n", i);
  }
  destroy_packer(packer);
  ArchiveWriter w;
  begin_archive(&w, ArchiveForm::kMarked);
  std::size_t packed_total = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    EntrySpec header;
    header.name = names[i].filename().string();
    header.method = pack_method(level);
    header.unp_ver = 20;
    header.unp_size = static_cast<uint32_t>(files[i].size());
    header.file_crc = entry_checksum(ArchiveForm::kMarked, files[i].data(), files[i].size());
    if (i > 0) header.head_flags |= kFlagSolid;
    add_entry(&w, header, packed[i].data(), static_cast<uint32_t>(packed[i].size()));
    packed_total += packed[i].size();
  }
  end_archive(&w);
  const std::filesystem::path archive = std::filesystem::temp_directory_path() / "vx-decode-bench.rar";
  {
    std::ofstream out(archive, std::ios::binary);
    out.write(reinterpret_cast<const char*>(w.bytes.data()), static_cast<std::streamsize>(w.bytes.size()));
  }
  const std::u16string wide_path = archive.u16string();
  std::vector<WideChar> path(wide_path.begin(), wide_path.end());
  path.push_back(0);

  Tally probe{true, 0};
  if (extract_archive(path.data(), count_entry, &probe) != kExtractOk || probe.bytes != all.size()) {
    std::fprintf(stderr, "the archive does not extract\n");
    return 1;
  }

  // Raw deflate, level 6, one stream over all bytes.
  Bytes deflated(compressBound(static_cast<uLong>(all.size())) + 1024);
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  zs.next_in = all.data();
  zs.avail_in = static_cast<uInt>(all.size());
  zs.next_out = deflated.data();
  zs.avail_out = static_cast<uInt>(deflated.size());
  deflate(&zs, Z_FINISH);
  deflated.resize(zs.total_out);
  deflateEnd(&zs);

  libdeflate_compressor* lc = libdeflate_alloc_compressor(6);
  Bytes ld(libdeflate_deflate_compress_bound(lc, all.size()));
  ld.resize(libdeflate_deflate_compress(lc, all.data(), all.size(), ld.data(), ld.size()));
  libdeflate_free_compressor(lc);

  // All packed entries back to back, for the memory stream.
  Bytes packed_all;
  for (const Bytes& p : packed) packed_all.insert(packed_all.end(), p.begin(), p.end());
  ByteBuffer sink;
  byte_buffer_init(&sink);
  byte_buffer_append(&sink, all.data(), static_cast<uint32_t>(all.size()));
  // The decompressor as the driver calls it, with or without the CRC-32 the
  // driver computes over every entry's output.
  auto decode_direct = [&](bool with_crc) {
    byte_buffer_clear(&sink);
    OwnedBlock record = alloc_zeroed(sizeof(ArchiveReader));
    OwnedBlock window = alloc_zeroed(kWindowSize);
    ArchiveReader* r = reinterpret_cast<ArchiveReader*>(record.data);
    for (int k = 0; k < kMaxChannels; ++k) r->decoder.channel_tables[k] = &r->decoder.channel_slots[k];
    r->archive_format = kFormatMarked;
    init_crc_table(r);
    std::FILE* f = fmemopen(packed_all.data(), packed_all.size(), "rb");
    r->archive_file = f;
    r->packed_source = f;
    r->memory_sink = &sink;
    r->skip_output = !with_crc;
    bool crc_ok = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
      r->packed_left = static_cast<uint32_t>(packed[i].size());
      r->unpacked_left = static_cast<int32_t>(files[i].size());
      r->data_checksum = 0xFFFFFFFFu;
      decompress_entry(r, window.data, i > 0);
      if (with_crc && ~r->data_checksum != crcs[i]) crc_ok = false;
    }
    std::fclose(f);
    release(&window);
    release(&record);
    if (!crc_ok) std::fprintf(stderr, "CRC-32 differs\n");
  };
  const double t_direct = median_seconds(runs, [&] { decode_direct(false); });
  if (sink.size != all.size() || !std::equal(all.begin(), all.end(), sink.data.data))
    std::fprintf(stderr, "memory to memory output differs\n");
  const double t_direct_crc = median_seconds(runs, [&] { decode_direct(true); });
  byte_buffer_reset(&sink);

  Bytes out(all.size());
  const double t_ours = median_seconds(runs, [&] {
    Tally t{false, 0};
    extract_archive(path.data(), count_entry, &t);
  });
  const double t_archive = median_seconds(runs, [&] {
    Tally t{true, 0};
    extract_archive(path.data(), count_entry, &t);
  });
  const double t_zlib = median_seconds(runs, [&] {
    z_stream s{};
    inflateInit2(&s, -15);
    s.next_in = deflated.data();
    s.avail_in = static_cast<uInt>(deflated.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    if (inflate(&s, Z_FINISH) != Z_STREAM_END || s.total_out != all.size()) std::fprintf(stderr, "inflate failed\n");
    inflateEnd(&s);
  });
  if (out != all) std::fprintf(stderr, "inflate output differs\n");
  std::fill(out.begin(), out.end(), 0);
  libdeflate_decompressor* ldd = libdeflate_alloc_decompressor();
  auto inflate_libdeflate = [&] {
    std::size_t n = 0;
    if (libdeflate_deflate_decompress(ldd, ld.data(), ld.size(), out.data(), out.size(), &n) != LIBDEFLATE_SUCCESS ||
        n != all.size())
      std::fprintf(stderr, "libdeflate failed\n");
  };
  const double t_libdeflate = median_seconds(runs, inflate_libdeflate);
  // The same CRC-32 per file over libdeflate's output, with libdeflate's own.
  const double t_libdeflate_crc = median_seconds(runs, [&] {
    inflate_libdeflate();
    std::size_t at = 0;
    bool ok = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
      ok &= libdeflate_crc32(0, out.data() + at, files[i].size()) == crcs[i];
      at += files[i].size();
    }
    if (!ok) std::fprintf(stderr, "libdeflate CRC-32 differs\n");
  });
  libdeflate_free_decompressor(ldd);
  if (out != all) std::fprintf(stderr, "libdeflate output differs\n");

  report("vx decompressor (memory to memory)", all.size(), t_direct, packed_total);
  report("vx decompressor (+ CRC-32)", all.size(), t_direct_crc, packed_total);
  report("vx archive pass (no sink)", all.size(), t_ours, packed_total);
  report("vx archive pass (memory, CRC-32)", all.size(), t_archive, packed_total);
  report("zlib inflate (raw, level 6)", all.size(), t_zlib, deflated.size());
  report("libdeflate (raw, level 6)", all.size(), t_libdeflate, ld.size());
  report("libdeflate (+ CRC-32)", all.size(), t_libdeflate_crc, ld.size());
  std::printf("vx / libdeflate: memory to memory %.2f, with CRC-32 %.2f\n", t_libdeflate / t_direct,
              t_libdeflate_crc / t_direct_crc);
  std::filesystem::remove(archive);
  return 0;
}
