// The host's type library and error information (see dispatch_object.h).
#include "dispatch_object.h"

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "scoped_bstr.h"
#include "text.h"

namespace vhost {

namespace {

// Filled once at start-up before any worker runs; read-only afterwards.
ITypeLib* g_library = nullptr;
std::mutex g_cache_lock;
std::map<std::string, ITypeInfo*> g_cache;  // one reference each
// Changes whenever the library is loaded or released, so that the threads' own lists of what
// they looked up start again.
std::atomic<unsigned> g_generation{0};

// What one thread has looked up: the shared cache's lock is taken once a type for each thread,
// not on every call (a page's automation calls ask for their type several times each).
struct ThreadTypes {
  unsigned generation = 0;
  std::vector<std::pair<GUID, ITypeInfo*>> seen;
};
thread_local ThreadTypes thread_types;

}  // namespace

HRESULT load_host_type_library(const std::string& path) {
  release_host_type_library();
  const std::u16string wide = to_u16(path);
  return LoadTypeLib(wide.c_str(), &g_library);
}

void release_host_type_library() {
  for (auto& entry : g_cache)
    if (entry.second)
      entry.second->Release();
  g_cache.clear();
  if (g_library)
    g_library->Release();
  g_library = nullptr;
  ++g_generation;
}

ITypeInfo* host_type_info(REFIID iid) {
  if (!g_library)
    return nullptr;
  ThreadTypes& mine = thread_types;
  const unsigned generation = g_generation.load(std::memory_order_acquire);
  if (mine.generation != generation) {
    mine.seen.clear();
    mine.generation = generation;
  }
  for (const auto& [guid, known] : mine.seen)
    if (IsEqualGUID(guid, iid))
      return known;
  ITypeInfo* info = nullptr;
  {
    const std::string key(reinterpret_cast<const char*>(&iid), sizeof(GUID));
    std::lock_guard<std::mutex> guard(g_cache_lock);
    auto it = g_cache.find(key);
    if (it != g_cache.end()) {
      info = it->second;
    } else {
      if (FAILED(g_library->GetTypeInfoOfGuid(iid, &info)))
        info = nullptr;
      g_cache[key] = info;
    }
  }
  try {
    mine.seen.emplace_back(iid, info);
  } catch (const std::bad_alloc&) {
    // Not remembered: the next call takes the lock again.
  }
  return info;
}

HRESULT set_error(HRESULT hr, const std::u16string& description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Receive())))
    return hr;
  std::u16string source = u"vhost";
  std::u16string text = description;
  create->SetSource(source.data());
  create->SetDescription(text.data());
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Receive()))))
    SetErrorInfo(0, info.Get());
  return hr;
}

std::u16string take_error_description() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info)
    return {};
  ScopedBstr text;
  info->GetDescription(text.Receive());
  return text.Get() ? std::u16string(text.Get()) : std::u16string();
}

}  // namespace vhost
