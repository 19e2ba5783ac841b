// vhost: the script host program. Serves a site folder on a loopback (or given) address until
// SIGINT or SIGTERM.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "access_log.h"
#include "dispatch_object.h"
#include "http_server.h"
#include "intrinsics.h"
#include "objbase.h"
#include "options.h"
#include "scoped_variant.h"
#include "text.h"

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int) {
  g_stop = true;
}

}  // namespace

int main(int argc, char** argv) {
  vhost::Options options;
  std::string error;
  if (!vhost::parse_options(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::fprintf(stderr, "vhost: %s\n\n%s", error.c_str(), vhost::usage().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(vhost::usage().c_str(), stdout);
    return 0;
  }
  std::string typelib = options.typelib;
  if (typelib.empty()) {
    std::error_code ec;
    typelib =
        (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "asptlb.idl").string();
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HRESULT hr = vhost::load_host_type_library(typelib);
  if (FAILED(hr)) {
    std::fprintf(stderr, "vhost: cannot load the interface description %s (0x%08X)\n",
                 typelib.c_str(), static_cast<unsigned>(hr));
    return 1;
  }
  vhost::AccessLog log;
  if (!log.open(options.access_log)) {
    std::fprintf(stderr, "vhost: cannot open the access log %s\n", options.access_log.c_str());
    return 1;
  }
  vhost::HostConfig config;
  config.site_root = options.root;
  config.max_body = options.max_body;
  config.max_response = options.max_response;
  for (const std::string& dir : options.data_dirs)
    config.data_dirs.push_back(options.root + "/" + dir);
  config.script_timeout_seconds = options.script_timeout;
  config.client_timeout_seconds = options.client_timeout;
  config.progress_path = options.progress_path;
  config.progress_keep_seconds = options.progress_keep;
  for (const auto& [name, value] : options.app_values) {
    const std::u16string text = vhost::to_u16(value);
    VARIANT raw;
    VariantInit(&raw);
    raw.vt = VT_BSTR;
    raw.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    ScopedVariant held;
    held.Reset(raw);
    if (!raw.bstrVal ||
        FAILED(vhost::ApplicationState::instance().values->put(vhost::to_u16(name), held.Get()))) {
      std::fprintf(stderr, "vhost: out of memory\n");
      return 1;
    }
  }
  vhost::HttpServer server(config, &log);
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  if (!server.start(options.address, options.port, options.connection_threads, options.workers,
                    &error)) {
    std::fprintf(stderr, "vhost: %s\n", error.c_str());
    return 1;
  }
  std::printf("vhost: serving %s at http://%s:%u/\n", server.config().site_root.c_str(),
              options.address.c_str(), server.port());
  std::fflush(stdout);
  while (!g_stop)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::printf("vhost: stopping\n");
  std::fflush(stdout);
  server.stop();
  vhost::release_host_type_library();
  CoFreeUnusedLibraries();
  CoUninitialize();
  return 0;
}
