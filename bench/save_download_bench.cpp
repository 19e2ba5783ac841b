// Throughput of the attachment's saves and the download object's file download for 64 MiB,
// against references measured in the same run: fwrite and fread of the same bytes (fread both
// into a buffer used again and into a new one each time), and zlib's default level writing a
// gzip file of the same text. Before the benchmarks a child
// process downloads a 64 MiB file once and reports how far its peak memory rose, against the
// file size (the "download_peak_ratio" context entry).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "VtrlSrv.h"
#include "bench_content.h"
#include "fake_page.h"
#include "windows.h"

namespace {

constexpr size_t kSize = 64u << 20;
const char kBoundary[] = "----SaveDownloadBenchmark42";

const std::string& content(int which) {
  static const std::string random = bench_content::random_bytes(kSize);
  static const std::string text = bench_content::text_bytes(kSize);
  return which == 0 ? random : text;
}

const char* label(int which) {
  return which == 0 ? "random" : "text";
}

std::string temp_dir() {
  static const std::string dir = [] {
    char path[] = "/tmp/savebenchXXXXXX";
    return std::string(mkdtemp(path) ? path : "/tmp");
  }();
  return dir;
}

// The server's form of a Linux path: '\' separators, rooted.
std::u16string server_path(const std::string& linux_path) {
  std::u16string out;
  for (char c : linux_path)
    out += c == '/' ? u'\\' : static_cast<char16_t>(c);
  return out;
}

IClassFactory* factory(const CLSID& clsid) {
  static HMODULE module = LoadLibraryA(VTRLSRV_PATH);
  auto get = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  IClassFactory* f = nullptr;
  if (get)
    get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&f));
  return f;
}

// An upload whose one attachment holds the content; released at the end of the scope.
class Attachment {
 public:
  explicit Attachment(int which) {
    const std::string body = std::string("--") + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"f\"; "
                             "filename=\"a.bin\"\r\n\r\n" +
                             content(which) + "\r\n--" + kBoundary + "--\r\n";
    std::u16string type = u"multipart/form-data; boundary=";
    for (const char* c = kBoundary; *c; ++c)
      type += static_cast<char16_t>(*c);
    page_ = fake_page::MakeContext(type, body);
    IClassFactory* f = factory(CLSID_KaFileUpload);
    if (!f ||
        FAILED(f->CreateInstance(nullptr, IID_IKaFileUpload, reinterpret_cast<void**>(&upload_))) ||
        upload_->OnStartPage(page_) != S_OK)
      return;
    IKaoAttachments* list = nullptr;
    if (upload_->get_Attachments(&list) != S_OK)
      return;
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = 1;
    list->get_Item(&index, &file_);
    list->Release();
  }
  ~Attachment() {
    if (file_)
      file_->Release();
    if (upload_)
      upload_->Release();
    page_->Release();
  }
  IKaoAttachment* Get() const { return file_; }

 private:
  fake_page::Context* page_ = nullptr;
  IKaFileUpload* upload_ = nullptr;
  IKaoAttachment* file_ = nullptr;
};

void write_file(const std::string& path, const char* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f) {
    fwrite(data, 1, size, f);
    fclose(f);
  }
}

void BM_Fwrite(benchmark::State& state) {
  const std::string& bytes = content(static_cast<int>(state.range(0)));
  const std::string path = temp_dir() + "/fwrite.bin";
  for (auto _ : state)
    write_file(path, bytes.data(), bytes.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.SetLabel(label(static_cast<int>(state.range(0))));
}

void BM_SaveFile(benchmark::State& state) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Attachment file(static_cast<int>(state.range(0)));
  BSTR path = SysAllocString(server_path(temp_dir() + "/save.bin").c_str());
  for (auto _ : state)
    if (!file.Get() || file.Get()->SaveFile(path, 0) != S_OK)
      state.SkipWithError("SaveFile failed");
  SysFreeString(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
  state.SetLabel(label(static_cast<int>(state.range(0))));
}

void BM_SaveFileByZip(benchmark::State& state) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Attachment file(static_cast<int>(state.range(0)));
  BSTR path = SysAllocString(server_path(temp_dir() + "/save.gz").c_str());
  LONG zip_size = 0;
  for (auto _ : state)
    if (!file.Get() || file.Get()->SaveFileByZip(path, 0) != S_OK)
      state.SkipWithError("SaveFileByZip failed");
  if (file.Get())
    file.Get()->get_ZipSize(&zip_size);
  SysFreeString(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
  state.counters["compressed"] = static_cast<double>(zip_size);
  state.SetLabel(label(static_cast<int>(state.range(0))));
}

// zlib's default level writing a gzip file of the bytes, as one whole-buffer deflate.
void BM_GzipFileZlib6(benchmark::State& state) {
  const std::string& bytes = content(static_cast<int>(state.range(0)));
  const std::string path = temp_dir() + "/zlib.gz";
  std::vector<unsigned char> out(deflateBound(nullptr, bytes.size()) + 64);
  size_t compressed = 0;
  for (auto _ : state) {
    z_stream s{};
    deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    s.avail_in = static_cast<uInt>(bytes.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END)
      state.SkipWithError("deflate failed");
    compressed = s.total_out;
    deflateEnd(&s);
    write_file(path, reinterpret_cast<const char*>(out.data()), compressed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["compressed"] = static_cast<double>(compressed);
  state.SetLabel(label(static_cast<int>(state.range(0))));
}

void BM_Fread(benchmark::State& state) {
  const std::string& bytes = content(static_cast<int>(state.range(0)));
  const std::string path = temp_dir() + "/fread.bin";
  write_file(path, bytes.data(), bytes.size());
  std::vector<char> buffer(bytes.size());
  for (auto _ : state) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f || fread(buffer.data(), 1, buffer.size(), f) != buffer.size())
      state.SkipWithError("fread failed");
    if (f)
      fclose(f);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.SetLabel(label(static_cast<int>(state.range(0))));
}

// fread into a new buffer each time, as a download must take one: the cost of the fresh pages.
void BM_FreadNewBuffer(benchmark::State& state) {
  const std::string& bytes = content(static_cast<int>(state.range(0)));
  const std::string path = temp_dir() + "/fread.bin";
  write_file(path, bytes.data(), bytes.size());
  for (auto _ : state) {
    std::vector<char> buffer(bytes.size());
    FILE* f = fopen(path.c_str(), "rb");
    if (!f || fread(buffer.data(), 1, buffer.size(), f) != buffer.size())
      state.SkipWithError("fread failed");
    if (f)
      fclose(f);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.SetLabel(label(static_cast<int>(state.range(0))));
}

// A download object bound to a page whose response keeps only the sizes written.
class Downloader {
 public:
  Downloader() {
    page_ = fake_page::MakeContext(u"", "");
    page_->response->keep_binary = false;
    IClassFactory* f = factory(CLSID_KaFileDownLoad);
    if (!f ||
        FAILED(f->CreateInstance(nullptr, IID_IKaFileDownLoad,
                                 reinterpret_cast<void**>(&download_))) ||
        download_->OnStartPage(page_) != S_OK) {
      if (download_)
        download_->Release();
      download_ = nullptr;
    }
  }
  ~Downloader() {
    if (download_)
      download_->Release();
    page_->Release();
  }
  // Sends the file at path; false on failure.
  bool Send(BSTR path) {
    page_->response->calls.clear();
    return download_ && download_->DownFromFile(path) == S_OK;
  }

 private:
  fake_page::Context* page_ = nullptr;
  IKaFileDownLoad* download_ = nullptr;
};

void BM_DownFromFile(benchmark::State& state) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::string& bytes = content(static_cast<int>(state.range(0)));
  const std::string linux_path = temp_dir() + "/down.bin";
  write_file(linux_path, bytes.data(), bytes.size());
  BSTR path = SysAllocString(server_path(linux_path).c_str());
  Downloader downloader;
  for (auto _ : state)
    if (!downloader.Send(path))
      state.SkipWithError("DownFromFile failed");
  SysFreeString(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.SetLabel(label(static_cast<int>(state.range(0))));
}

// In a fresh child: the rise of the peak resident size over one download of a kSize file,
// divided by kSize; -1 when it could not be measured.
double download_peak_ratio() {
  // The child writes its file into the run's directory, made here first.
  const std::string linux_path = temp_dir() + "/peak.bin";
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0)
    return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      std::vector<char> chunk(1u << 20, 'p');
      FILE* f = fopen(linux_path.c_str(), "wb");
      for (size_t done = 0; f && done < kSize; done += chunk.size())
        fwrite(chunk.data(), 1, chunk.size(), f);
      if (f)
        fclose(f);
    }
    BSTR path = SysAllocString(server_path(linux_path).c_str());
    double ratio = -1;
    {
      Downloader downloader;
      rusage before{};
      getrusage(RUSAGE_SELF, &before);
      if (downloader.Send(path)) {
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        ratio = static_cast<double>(after.ru_maxrss - before.ru_maxrss) * 1024.0 / kSize;
      }
    }
    SysFreeString(path);
    remove(linux_path.c_str());
    if (write(pipe_fds[1], &ratio, sizeof ratio) != sizeof ratio)
      _exit(1);
    _exit(0);
  }
  close(pipe_fds[1]);
  double ratio = -1;
  if (child < 0 || read(pipe_fds[0], &ratio, sizeof ratio) != sizeof ratio)
    ratio = -1;
  close(pipe_fds[0]);
  if (child > 0)
    waitpid(child, nullptr, 0);
  return ratio;
}

BENCHMARK(BM_Fwrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GzipFileZlib6)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveFileByZip)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fread)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FreadNewBuffer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DownFromFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const double peak = download_peak_ratio();
  benchmark::AddCustomContext("download_peak_ratio", std::to_string(peak));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::system(("rm -rf '" + temp_dir() + "'").c_str());
  return 0;
}
