// Throughput and compressed size of CKaZlib against zlib's default level (compress2 level 6,
// gzwrite "wb6") on the same bytes in the same run, plus libdeflate levels 4 to 7 for the
// choice of level. bench/kazlib_ratios.py turns the JSON output into ratios.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <stdio.h>
#include <zlib.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "KaZlib.h"
#include "windows.h"

namespace {

constexpr size_t kInputSize = size_t{16} << 20;

// Text as web pages upload it: prose over a skewed vocabulary, HTML table rows and CSV lines
// with numbers, all from a fixed seed.
const std::string& text_input() {
  static const std::string text = [] {
    static const char* const words[] = {
        "the",     "of",       "and",      "to",       "in",      "a",          "is",
        "for",     "on",       "that",     "with",     "file",    "upload",     "server",
        "page",    "form",     "data",     "value",    "record",  "name",       "size",
        "path",    "browser",  "request",  "response", "client",  "attachment", "download",
        "saved",   "database", "customer", "order",    "invoice", "shipping",   "address",
        "product", "quantity", "price",    "total",    "status",  "pending",    "delivered"};
    constexpr unsigned kWords = sizeof(words) / sizeof(words[0]);
    std::mt19937 rng(20240607);
    // Skewed choice: the smaller of two draws favours the first words, as in real text.
    auto num = [&](unsigned below) { return static_cast<unsigned>(rng() % below); };
    auto word = [&] { return words[std::min(num(kWords), num(kWords))]; };
    std::string s;
    s.reserve(kInputSize + 256);
    char line[256];
    while (s.size() < kInputSize) {
      switch (num(4)) {
        case 0:
          snprintf(line, sizeof line,
                   "<tr class=\"row%u\"><td>%u</td><td>%s %s</td><td>%u.%02u</td></tr>\n", num(2),
                   num(100000), word(), word(), num(1000), num(100));
          s += line;
          break;
        case 1:
          snprintf(line, sizeof line, "%u,%s,%s,%u,%u.%02u,2024-%02u-%02u\n", num(1000000), word(),
                   word(), num(50), num(500), num(100), 1 + num(12), 1 + num(28));
          s += line;
          break;
        default:
          for (unsigned i = 0, n = 6 + num(14); i < n; ++i) {
            s += word();
            s += i + 1 < n ? (num(9) ? " " : ", ") : ".\n";
          }
      }
    }
    s.resize(kInputSize);
    return s;
  }();
  return text;
}

const std::string& random_input() {
  static const std::string data = [] {
    std::mt19937_64 rng(7);
    std::string s(kInputSize, '\0');
    for (size_t i = 0; i + 8 <= s.size(); i += 8) {
      const uint64_t v = rng();
      memcpy(&s[i], &v, 8);
    }
    return s;
  }();
  return data;
}

const std::string& input(int64_t kind) {
  return kind == 0 ? text_input() : random_input();
}

// compress2 at level 6 into a fresh, uncleared block, as CKaZlib::Compress gets one.
std::vector<unsigned char> zlib6(const std::string& in) {
  const uLong bound = compressBound(in.size());
  std::unique_ptr<unsigned char[]> out(new unsigned char[bound]);
  uLongf n = bound;
  if (compress2(out.get(), &n, reinterpret_cast<const Bytef*>(in.data()), in.size(), 6) != Z_OK)
    return {};
  return std::vector<unsigned char>(out.get(), out.get() + n);
}

// The gzip file path in the platform's namespace and in the POSIX one zlib's gzopen needs.
std::string temp_gz(bool posix) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  std::string p =
      std::string(dir) + "kazlib_bench_" + std::to_string(GetCurrentProcessId()) + ".gz";
  if (posix)
    for (char& c : p)
      if (c == '\\')
        c = '/';
  return p;
}

void set_labels(benchmark::State& state, const std::string& in, size_t compressed) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["compressed"] = static_cast<double>(compressed);
  state.SetLabel(state.range(0) == 0 ? "text" : "random");
}

void BM_Compress_KaZlib(benchmark::State& state) {
  std::string in = input(state.range(0));
  DWORD size = 0;
  for (auto _ : state) {
    CKaZlib z;
    if (!z.Compress(in.data(), in.size()))
      state.SkipWithError("Compress failed");
    size = z.m_dwResultSize;
  }
  set_labels(state, in, size);
}

void BM_Compress_Zlib6(benchmark::State& state) {
  const std::string& in = input(state.range(0));
  size_t size = 0;
  for (auto _ : state) {
    size = zlib6(in).size();
    if (!size)
      state.SkipWithError("compress2 failed");
  }
  set_labels(state, in, size);
}

void BM_Compress_Libdeflate(benchmark::State& state) {
  const std::string& in = input(state.range(0));
  const int level = static_cast<int>(state.range(1));
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<char> out(libdeflate_zlib_compress_bound(c, in.size()));
  size_t size = 0;
  for (auto _ : state)
    size = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
  libdeflate_free_compressor(c);
  set_labels(state, in, size);
}

void BM_Zip2File_KaZlib(benchmark::State& state) {
  std::string in = input(state.range(0));
  const std::string path = temp_gz(false);
  DWORD size = 0;
  for (auto _ : state) {
    CKaZlib z;
    if (!z.Zip2File(in.data(), in.size(), path.c_str()))
      state.SkipWithError("Zip2File failed");
    size = z.m_dwResultSize;
  }
  DeleteFileA(path.c_str());
  set_labels(state, in, size);
}

void BM_Gzwrite_Zlib6(benchmark::State& state) {
  const std::string& in = input(state.range(0));
  const std::string path = temp_gz(true);
  for (auto _ : state) {
    gzFile f = gzopen(path.c_str(), "wb6");
    if (!f ||
        gzwrite(f, in.data(), static_cast<unsigned>(in.size())) != static_cast<int>(in.size()) ||
        gzclose(f) != Z_OK)
      state.SkipWithError("gzwrite failed");
  }
  FILE* f = fopen(path.c_str(), "rb");
  fseek(f, 0, SEEK_END);
  const long size = ftell(f);
  fclose(f);
  remove(path.c_str());
  set_labels(state, in, static_cast<size_t>(size));
}

void BM_UnCompress_KaZlib(benchmark::State& state) {
  const std::string& in = input(state.range(0));
  std::vector<unsigned char> packed = zlib6(in);
  for (auto _ : state) {
    CKaZlib z;
    if (!z.UnCompress(reinterpret_cast<char*>(packed.data()), packed.size()) ||
        z.m_dwResultSize != in.size())
      state.SkipWithError("UnCompress failed");
  }
  set_labels(state, in, packed.size());
}

// zlib is told the output size, which CKaZlib never is; like CKaZlib it gets a fresh output
// block each time, as a caller would.
void BM_Uncompress_Zlib(benchmark::State& state) {
  const std::string& in = input(state.range(0));
  std::vector<unsigned char> packed = zlib6(in);
  for (auto _ : state) {
    std::unique_ptr<unsigned char[]> out(new unsigned char[in.size()]);
    uLongf n = in.size();
    if (uncompress(out.get(), &n, packed.data(), packed.size()) != Z_OK || n != in.size())
      state.SkipWithError("uncompress failed");
  }
  set_labels(state, in, packed.size());
}

void BM_UnZip2Buffer_KaZlib(benchmark::State& state) {
  std::string in = input(state.range(0));
  const std::string path = temp_gz(false);
  CKaZlib writer;
  writer.Zip2File(in.data(), in.size(), path.c_str());
  for (auto _ : state) {
    CKaZlib z;
    if (!z.UnZip2Buffer(path.c_str()) || z.m_dwResultSize != in.size())
      state.SkipWithError("UnZip2Buffer failed");
  }
  DeleteFileA(path.c_str());
  set_labels(state, in, writer.m_dwResultSize);
}

void BM_Gzread_Zlib(benchmark::State& state) {
  std::string in = input(state.range(0));
  const std::string path = temp_gz(false);
  CKaZlib writer;
  writer.Zip2File(in.data(), in.size(), path.c_str());
  const std::string posix = temp_gz(true);
  for (auto _ : state) {
    std::unique_ptr<char[]> out(new char[in.size()]);
    gzFile f = gzopen(posix.c_str(), "rb");
    if (!f || gzread(f, out.get(), static_cast<unsigned>(in.size())) != static_cast<int>(in.size()))
      state.SkipWithError("gzread failed");
    if (f)
      gzclose(f);
  }
  DeleteFileA(path.c_str());
  set_labels(state, in, writer.m_dwResultSize);
}

void kinds(benchmark::internal::Benchmark* b) {
  b->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Compress_KaZlib)->Apply(kinds);
BENCHMARK(BM_Compress_Zlib6)->Apply(kinds);
BENCHMARK(BM_Compress_Libdeflate)
    ->ArgsProduct({{0}, {4, 5, 6, 7}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Zip2File_KaZlib)->Apply(kinds);
BENCHMARK(BM_Gzwrite_Zlib6)->Apply(kinds);
BENCHMARK(BM_UnCompress_KaZlib)->Apply(kinds);
BENCHMARK(BM_Uncompress_Zlib)->Apply(kinds);
BENCHMARK(BM_UnZip2Buffer_KaZlib)->Apply(kinds);
BENCHMARK(BM_Gzread_Zlib)->Apply(kinds);

}  // namespace

BENCHMARK_MAIN();
