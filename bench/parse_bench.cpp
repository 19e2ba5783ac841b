// Throughput of the upload object's page start (read the body, cut it, build the collections)
// against references measured in the same run: memcpy of the same bytes and a plain memmem
// cutter that finds every delimiter and copies every part once.
//
// Bodies: one random binary file of 64 MiB, and 10,000 fields of 100 bytes. With --write DIR
// the bodies are also written there for the JavaScript reference (bench/parse.sh).
#include <benchmark/benchmark.h>
#include <string.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "VtrlSrv.h"
#include "fake_page.h"
#include "windows.h"

namespace {

const char kBoundary[] = "----WebKitFormBoundaryBenchmark0123";

std::string big_file_body() {
  std::mt19937_64 random(42);
  std::string content(64u << 20, '\0');
  for (size_t i = 0; i + 8 <= content.size(); i += 8) {
    const uint64_t v = random();
    memcpy(&content[i], &v, 8);
  }
  return std::string("--") + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"upfile\"; filename=\"big.bin\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\n" +
         content + "\r\n--" + kBoundary + "--\r\n";
}

std::string many_fields_body() {
  std::string body;
  const std::string value(100, 'v');
  for (int i = 0; i < 10000; ++i)
    body += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"f" +
            std::to_string(i) + "\"\r\n\r\n" + value + "\r\n";
  return body + "--" + kBoundary + "--\r\n";
}

const std::string& body_of(int which) {
  static const std::string big = big_file_body();
  static const std::string fields = many_fields_body();
  return which == 0 ? big : fields;
}

// The upload object's class, loaded straight from the module (no registry needed).
IClassFactory* upload_factory() {
  static IClassFactory* factory = [] {
    HMODULE module = LoadLibraryA(VTRLSRV_PATH);
    auto get = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* f = nullptr;
    if (get)
      get(CLSID_KaFileUpload, IID_IClassFactory, reinterpret_cast<void**>(&f));
    return f;
  }();
  return factory;
}

void BM_Memcpy(benchmark::State& state) {
  const std::string& body = body_of(static_cast<int>(state.range(0)));
  std::vector<char> target(body.size());
  for (auto _ : state) {
    memcpy(target.data(), body.data(), body.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_MemmemCutter(benchmark::State& state) {
  const std::string& body = body_of(static_cast<int>(state.range(0)));
  const std::string delimiter = std::string("\r\n--") + kBoundary;
  for (auto _ : state) {
    std::vector<std::vector<char>> parts;
    const char* at = body.data();
    const char* end = body.data() + body.size();
    while (true) {
      const char* next = static_cast<const char*>(
          memmem(at, static_cast<size_t>(end - at), delimiter.data(), delimiter.size()));
      if (!next)
        break;
      parts.emplace_back(at, next);
      at = next + delimiter.size();
    }
    benchmark::DoNotOptimize(parts.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

// The page start of one upload object per iteration. With filled set, the request hands out
// an array filled before the timed part, as vhost hands out the array it received the body
// into; otherwise the request copies the body into a new array on each read.
void run_page_starts(benchmark::State& state, bool filled) {
  const std::string& body = body_of(static_cast<int>(state.range(0)));
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IClassFactory* factory = upload_factory();
  if (!factory) {
    state.SkipWithError("the upload class cannot be loaded");
    return;
  }
  std::u16string content_type = u"multipart/form-data; boundary=";
  for (const char* c = kBoundary; *c; ++c)
    content_type += static_cast<char16_t>(*c);
  fake_page::Context* context = fake_page::MakeContext(content_type, body);
  for (auto _ : state) {
    if (filled) {
      state.PauseTiming();
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(body.size()));
      memcpy(array->pvData, body.data(), body.size());
      context->request->filled_array = array;
      state.ResumeTiming();
    }
    IKaFileUpload* upload = nullptr;
    factory->CreateInstance(nullptr, IID_IKaFileUpload, reinterpret_cast<void**>(&upload));
    if (upload->OnStartPage(context) != S_OK)
      state.SkipWithError("the page start failed");
    upload->Release();
  }
  context->Release();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_OnStartPage(benchmark::State& state) {
  run_page_starts(state, true);
}

void BM_OnStartPageCopyingRequest(benchmark::State& state) {
  run_page_starts(state, false);
}

BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemmemCutter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnStartPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnStartPageCopyingRequest)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], "--write") == 0) {
      std::ofstream(std::string(argv[i + 1]) + "/big.body", std::ios::binary) << body_of(0);
      std::ofstream(std::string(argv[i + 1]) + "/fields.body", std::ios::binary) << body_of(1);
      std::ofstream(std::string(argv[i + 1]) + "/boundary") << kBoundary;
      return 0;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
