// The registry API (RegCreateKeyEx, RegOpenKeyEx, RegSetValueEx, RegQueryValueEx, RegEnumKeyEx,
// RegEnumValue, RegDeleteKey, RegDeleteValue, RegDeleteTree, RegCloseKey) over one .reg file.
//
// The process keeps the file's tree in memory and remembers which file it came from (device,
// inode, size, modification time): a read reloads only when another writer replaced the file,
// and looks at the file at most every recheck interval (PLATFORM_REGISTRY_RECHECK_MS, 250 ms by
// default), so another process's change is seen within that time and this process's own
// changes at once.
// Every change is a read-modify-write under an exclusive lock on "<file>.lock", and the new file
// is written beside the old one, flushed and renamed over it, so readers never see half a file
// and two processes changing different keys lose nothing. A handle remembers its key's path,
// not a node, because a reload replaces every node.
#include "winreg.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform_config.h"
#include "registry_private.h"
#include "winnls.h"

namespace {

// A larger file is refused as damaged rather than read into memory.
constexpr size_t kMaxFileSize = 64u << 20;

// How long reads trust the tree without looking at the file, unless PLATFORM_REGISTRY_RECHECK_MS
// says otherwise.
constexpr DWORD kDefaultRecheckMs = 250;

std::chrono::milliseconds recheck_from_environment() {
  const char* text = std::getenv("PLATFORM_REGISTRY_RECHECK_MS");
  if (!text || !*text)
    return std::chrono::milliseconds(kDefaultRecheckMs);
  char* end = nullptr;
  const unsigned long ms = std::strtoul(text, &end, 10);
  if (*end || ms > 60000)
    return std::chrono::milliseconds(kDefaultRecheckMs);
  return std::chrono::milliseconds(ms);
}

struct FileIdentity {
  bool exists = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtime_sec = 0;
  int64_t mtime_nsec = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Implemented by the operating-system unit at the end of this file.
// The path from PLATFORM_REGISTRY or the default location; false when no home folder is known.
bool os_default_registry_path(std::string& path);
// The identity of the file; exists is false when there is none. ERROR_CANTREAD otherwise.
LONG os_stat_registry(const std::string& path, FileIdentity& id);
// Reads the whole file and its identity (an empty result when missing). ERROR_BADDB when it is
// larger than max_size, ERROR_CANTREAD when it cannot be read.
LONG os_read_registry(const std::string& path, size_t max_size, RegBytes& bytes, FileIdentity& id);
// Takes the cross-process lock of the file (creating its folder when needed). Returns the lock's
// descriptor, or -1 with *status set.
int os_lock_registry(const std::string& path, LONG* status);
void os_unlock_registry(int lock);
// Replaces the file atomically with bytes and gives the new file's identity. ERROR_CANTWRITE.
LONG os_replace_registry(const std::string& path, const RegBytes& bytes, FileIdentity& id);
// Writes a line on the platform's diagnostic channel (standard error).
void os_report(const std::string& line);

struct OpenKey {
  int root = 0;
  std::vector<RegString, SimAllocator<RegString>> path;  // key names below the root
  REGSAM access = 0;
};

// The key an operation works on: resolved from a handle under the registry lock.
struct Target {
  RegKey* key = nullptr;
  int root = 0;
  size_t depth = 0;
  REGSAM access = 0;
  const OpenKey* open = nullptr;  // null for a predefined root
};

class Registry {
 public:
  std::mutex mutex;

  // Brings the tree up to date with the file; unless now is set, a tree checked against the file
  // less than the recheck interval ago counts as up to date. ERROR_BADDB when the file is
  // damaged.
  LONG refresh(bool now = false) {
    LONG status = resolve_path();
    if (status != ERROR_SUCCESS)
      return status;
    const auto when = std::chrono::steady_clock::now();
    if (loaded_ && !now && when - checked_ < recheck_)
      return ERROR_SUCCESS;
    // The tree may be reloaded or dropped from here on: what current_generation reads waits
    // for the next publish_generation.
    fresh_until_.store(0, std::memory_order_release);
    FileIdentity id;
    status = os_stat_registry(path_, id);
    if (status != ERROR_SUCCESS)
      return cant(status, "cannot read");
    if (loaded_ && id == identity_) {
      checked_ = when;
      return ERROR_SUCCESS;
    }
    RegBytes bytes;
    status = os_read_registry(path_, kMaxFileSize, bytes, id);
    if (status == ERROR_BADDB)
      return damaged(id, RegFileError{1, "the file is larger than 64 MiB"});
    if (status != ERROR_SUCCESS)
      return cant(status, "cannot read");
    loaded_ = false;
    RegTree fresh;
    RegFileError error;
    if (!reg_file_parse(bytes, fresh, error))
      return damaged(id, error);
    for (int i = 0; i < kRegRootCount; ++i)
      std::swap(tree_.roots[i], fresh.roots[i]);
    identity_ = id;
    loaded_ = true;
    checked_ = when;
    ++generation_;
    return ERROR_SUCCESS;
  }

  // Changes whenever the tree does (a reload or a write); read it after refresh().
  uint64_t generation() const { return generation_; }

  // The generation as the last refresh left it, without the lock, while that refresh still
  // counts as up to date: every page request asks for it twice, from every thread. False when
  // the lock must be taken (the recheck is due, or the tree changed or was dropped since).
  bool current_generation(uint64_t* generation) const {
    const int64_t until = fresh_until_.load(std::memory_order_acquire);
    if (until == 0 || std::chrono::steady_clock::now().time_since_epoch().count() >= until)
      return false;
    *generation = fresh_generation_.load(std::memory_order_relaxed);
    return fresh_until_.load(std::memory_order_acquire) == until;
  }
  // Publishes what refresh() just found for current_generation (called with the lock held).
  void publish_generation() {
    fresh_until_.store(0, std::memory_order_release);
    fresh_generation_.store(generation_, std::memory_order_relaxed);
    fresh_until_.store((checked_ + recheck_).time_since_epoch().count(), std::memory_order_release);
  }

  // Runs change(changed) on an up-to-date tree under the file lock, then writes the file when
  // the change says it changed something. A failure after the tree changed drops the tree, so
  // the next call reloads the file as it is.
  template <typename Change>
  LONG write(Change&& change) {
    LONG status = resolve_path();
    if (status != ERROR_SUCCESS)
      return status;
    int lock = os_lock_registry(path_, &status);
    if (lock < 0)
      return cant(status, "cannot lock");
    struct Unlock {
      int fd;
      ~Unlock() { os_unlock_registry(fd); }
    } unlock{lock};
    status = refresh(true);
    if (status != ERROR_SUCCESS)
      return status;
    bool changed = false;
    try {
      status = change(changed);
      if (!changed)
        return status;
      RegBytes bytes;
      reg_file_format(tree_, bytes);
      FileIdentity id;
      ++generation_;
      LONG written = os_replace_registry(path_, bytes, id);
      if (written != ERROR_SUCCESS) {
        loaded_ = false;
        return cant(written, "cannot write");
      }
      identity_ = id;
    } catch (...) {
      loaded_ = false;
      throw;
    }
    return status;
  }

  // Runs read(t) with the lock held on an up-to-date tree, once hkey names a key open for
  // access (0: any access): the status of the first step that fails, else read's.
  template <typename Read>
  LONG read_key(HKEY hkey, REGSAM access, Read&& read) {
    std::lock_guard<std::mutex> hold(mutex);
    LONG status = refresh();
    if (status != ERROR_SUCCESS)
      return status;
    Target t;
    if ((status = target(hkey, t)) != ERROR_SUCCESS)
      return status;
    if (access && !(t.access & access))
      return ERROR_ACCESS_DENIED;
    return read(t);
  }

  // The same for a change: change(t, changed) runs inside write().
  template <typename Change>
  LONG change_key(HKEY hkey, REGSAM access, Change&& change) {
    std::lock_guard<std::mutex> hold(mutex);
    return write([&](bool& changed) {
      Target t;
      LONG status = target(hkey, t);
      if (status != ERROR_SUCCESS)
        return status;
      if (access && !(t.access & access))
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
      return change(t, changed);
    });
  }

  void set_recheck(std::chrono::milliseconds interval) {
    recheck_ = interval;
    fresh_until_.store(0, std::memory_order_release);
  }

  void set_path(const char* path) {
    path_ = path ? path : "";  // empty: the environment or the default, at the next call
    loaded_ = false;
    fresh_until_.store(0, std::memory_order_release);
  }

  // The key of a handle. ERROR_INVALID_HANDLE, ERROR_KEY_DELETED.
  LONG target(HKEY hkey, Target& t) {
    ULONG_PTR value = reinterpret_cast<ULONG_PTR>(hkey);
    static const HKEY roots[kRegRootCount] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
                                              HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG};
    for (int i = 0; i < kRegRootCount; ++i) {
      if (hkey == roots[i]) {
        t = Target{&tree_.roots[i], i, 0, KEY_ALL_ACCESS, nullptr};
        return ERROR_SUCCESS;
      }
    }
    auto it = handles_.find(value);
    if (it == handles_.end())
      return ERROR_INVALID_HANDLE;
    const OpenKey& open = it->second;
    RegKey* key = &tree_.roots[open.root];
    for (const RegString& name : open.path) {
      key = reg_find_subkey(*key, name);
      if (!key)
        return ERROR_KEY_DELETED;
    }
    t = Target{key, open.root, open.path.size(), open.access, &open};
    return ERROR_SUCCESS;
  }

  HKEY add_handle(OpenKey open) {
    ULONG_PTR value = next_handle_;
    handles_.emplace(value, std::move(open));
    next_handle_ += 4;
    return reinterpret_cast<HKEY>(value);
  }

  RegKey* root_key(int root) { return &tree_.roots[root]; }

  bool close_handle(HKEY hkey) { return handles_.erase(reinterpret_cast<ULONG_PTR>(hkey)) != 0; }

 private:
  LONG resolve_path() {
    if (!path_.empty())
      return ERROR_SUCCESS;
    if (!os_default_registry_path(path_)) {
      path_.clear();
      os_report("registry: no registry file: set PLATFORM_REGISTRY or HOME");
      return ERROR_CANTOPEN;
    }
    return ERROR_SUCCESS;
  }

  LONG cant(LONG status, const char* what) {
    os_report("registry: " + std::string(what) + " " + path_);
    return status;
  }

  // Reports a damaged file once per version of it.
  LONG damaged(const FileIdentity& id, const RegFileError& error) {
    loaded_ = false;
    if (!(reported_ && id == reported_identity_)) {
      os_report("registry: " + path_ + ": line " + std::to_string(error.line) + ": " +
                error.message);
      reported_ = true;
      reported_identity_ = id;
    }
    return ERROR_BADDB;
  }

  std::string path_;
  RegTree tree_;
  bool loaded_ = false;
  std::chrono::steady_clock::time_point checked_;
  std::chrono::milliseconds recheck_ = recheck_from_environment();
  uint64_t generation_ = 0;
  // What current_generation reads: 0, or the steady clock's count until which the generation
  // below stands.
  std::atomic<int64_t> fresh_until_{0};
  std::atomic<uint64_t> fresh_generation_{0};
  FileIdentity identity_;
  bool reported_ = false;
  FileIdentity reported_identity_;
  std::map<ULONG_PTR, OpenKey> handles_;
  ULONG_PTR next_handle_ = 0x1000;
};

Registry& registry() {
  // Never destroyed: worker threads may still use the registry while the process exits.
  static Registry* instance = new Registry;
  return *instance;
}

// Runs an API body, turning an allocation failure into its status: no exception leaves the
// library.
template <typename Body>
LONG guarded(Body&& body) {
  try {
    return body();
  } catch (const std::exception&) {
    return ERROR_OUTOFMEMORY;
  }
}

REGSAM effective_access(REGSAM sam) {
  if (sam & (GENERIC_ALL | MAXIMUM_ALLOWED))
    return KEY_ALL_ACCESS;
  if (sam & GENERIC_READ)
    sam |= KEY_READ;
  if (sam & GENERIC_WRITE)
    sam |= KEY_WRITE;
  return sam;
}

// Splits "a\b\c" into names. Null or "" gives none; one trailing '\' is allowed.
LONG split_path(const char16_t* sub, std::vector<RegString, SimAllocator<RegString>>& names) {
  names.clear();
  if (!sub || !*sub)
    return ERROR_SUCCESS;
  if (*sub == '\\')
    return ERROR_BAD_PATHNAME;
  std::u16string_view rest(sub);
  while (!rest.empty()) {
    size_t end = rest.find(u'\\');
    std::u16string_view name = rest.substr(0, end);
    if (name.empty())
      return ERROR_BAD_PATHNAME;
    if (name.size() > kRegMaxKeyName || name.find_first_of(u"\r\n") != name.npos)
      return ERROR_INVALID_PARAMETER;
    names.emplace_back(name);
    if (end == rest.npos)
      break;
    rest.remove_prefix(end + 1);
  }
  return ERROR_SUCCESS;
}

std::u16string_view value_name(const char16_t* name) {
  return name ? std::u16string_view(name) : std::u16string_view();
}

RegValue* find_value(RegKey& key, std::u16string_view name) {
  for (RegValue& v : key.values)
    if (reg_names_equal(v.name, name))
      return &v;
  return nullptr;
}

OpenKey handle_path(const Target& t, const std::vector<RegString, SimAllocator<RegString>>& names,
                    REGSAM access) {
  OpenKey open;
  open.root = t.root;
  if (t.open)
    open.path = t.open->path;
  open.path.insert(open.path.end(), names.begin(), names.end());
  open.access = access;
  return open;
}

// Finds the key at names below t.key, and its parent. Null when missing.
RegKey* walk(RegKey* key, const std::vector<RegString, SimAllocator<RegString>>& names,
             RegKey** parent = nullptr) {
  for (const RegString& name : names) {
    if (parent)
      *parent = key;
    key = reg_find_subkey(*key, name);
    if (!key)
      return nullptr;
  }
  return key;
}

LONG create_key(HKEY hkey, const char16_t* sub, REGSAM sam, HKEY* out, DWORD* disposition) {
  std::vector<RegString, SimAllocator<RegString>> names;
  LONG status = split_path(sub, names);
  if (status != ERROR_SUCCESS)
    return status;
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.mutex);
  OpenKey open;
  bool created = false;
  // The handle is added under the same lock as the write, once the file holds the key.
  status = r.write([&](bool& changed) {
    Target t;
    LONG st = r.target(hkey, t);
    if (st != ERROR_SUCCESS)
      return st;
    if (t.depth + names.size() > kRegMaxDepth)
      return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    RegKey* key = t.key;
    size_t i = 0;
    for (; i < names.size(); ++i) {
      RegKey* child = reg_find_subkey(*key, names[i]);
      if (!child)
        break;
      names[i] = child->name;  // the handle keeps the stored spelling
      key = child;
    }
    if (i < names.size()) {
      if (!(t.access & KEY_CREATE_SUB_KEY))
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
      changed = true;
      created = true;
      for (; i < names.size(); ++i) {
        RegKeyPtr child = reg_new_key();
        child->name = names[i];
        RegKey* raw = child.get();
        key->subkeys.emplace(reg_fold(names[i]), std::move(child));
        key = raw;
      }
    }
    open = handle_path(t, names, effective_access(sam));
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (status != ERROR_SUCCESS)
    return status;
  *out = r.add_handle(std::move(open));
  if (disposition)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG open_key(HKEY hkey, const char16_t* sub, REGSAM sam, HKEY* out) {
  std::vector<RegString, SimAllocator<RegString>> names;
  LONG status = split_path(sub, names);
  if (status != ERROR_SUCCESS)
    return status;
  Registry& r = registry();
  return r.read_key(hkey, 0, [&](Target& t) {
    RegKey* key = t.key;
    for (RegString& name : names) {
      key = reg_find_subkey(*key, name);
      if (!key)
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
      name = key->name;
    }
    *out = r.add_handle(handle_path(t, names, effective_access(sam)));
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

LONG set_value(HKEY hkey, const char16_t* name, DWORD type, const BYTE* data, DWORD size) {
  std::u16string_view vname = value_name(name);
  if (vname.size() > kRegMaxValueName)
    return ERROR_INVALID_PARAMETER;
  RegValue v;
  v.name.assign(vname);
  v.type = type;
  if (size)
    v.data.assign(data, data + size);
  return registry().change_key(hkey, KEY_SET_VALUE, [&](Target& t, bool& changed) {
    RegValue* old = find_value(*t.key, vname);
    if (old && old->type == v.type && old->data == v.data)
      return static_cast<LONG>(ERROR_SUCCESS);  // unchanged: the file is not rewritten
    changed = true;
    if (old) {
      old->type = v.type;
      old->data.swap(v.data);
    } else {
      t.key->values.push_back(std::move(v));
    }
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

// Copies a value's type and data for the caller's buffer protocol.
LONG query_value(HKEY hkey, const char16_t* name, DWORD& type, RegBytes& data) {
  return registry().read_key(hkey, KEY_QUERY_VALUE, [&](Target& t) {
    const RegValue* v = find_value(*t.key, value_name(name));
    if (!v)
      return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    type = v->type;
    data = v->data;
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

LONG enum_key(HKEY hkey, DWORD index, RegString& name) {
  return registry().read_key(hkey, KEY_ENUMERATE_SUB_KEYS, [&](Target& t) {
    if (index >= t.key->subkeys.size())
      return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
    auto it = t.key->subkeys.begin();
    std::advance(it, index);
    name = it->second->name;
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

LONG enum_value(HKEY hkey, DWORD index, RegValue& out) {
  return registry().read_key(hkey, KEY_QUERY_VALUE, [&](Target& t) {
    if (index >= t.key->values.size())
      return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
    out = t.key->values[index];
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

LONG delete_key(HKEY hkey, const char16_t* sub, bool tree) {
  std::vector<RegString, SimAllocator<RegString>> names;
  LONG status = split_path(sub, names);
  if (status != ERROR_SUCCESS)
    return status;
  Registry& r = registry();
  return r.change_key(hkey, 0, [&](Target& t, bool& changed) {
    if (tree && names.empty()) {
      changed = !t.key->subkeys.empty() || !t.key->values.empty();
      t.key->subkeys.clear();
      t.key->values.clear();
      return static_cast<LONG>(ERROR_SUCCESS);
    }
    if (names.empty()) {
      // RegDeleteKey(h, "") deletes the key of h itself: walk from its root.
      if (!t.open)
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
      names = t.open->path;
      t.key = r.root_key(t.open->root);
      if (names.empty())
        return static_cast<LONG>(ERROR_ACCESS_DENIED);  // a handle on a root
    }
    RegKey* parent = nullptr;
    RegKey* key = walk(t.key, names, &parent);
    if (!key)
      return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (!tree && !key->subkeys.empty())
      return static_cast<LONG>(ERROR_ACCESS_DENIED);
    parent->subkeys.erase(reg_fold(names.back()));
    changed = true;
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

LONG delete_value(HKEY hkey, const char16_t* name) {
  return registry().change_key(hkey, KEY_SET_VALUE, [&](Target& t, bool& changed) {
    std::u16string_view vname = value_name(name);
    auto& values = t.key->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (reg_names_equal(it->name, vname)) {
        values.erase(it);
        changed = true;
        return static_cast<LONG>(ERROR_SUCCESS);
      }
    }
    return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
  });
}

// size bytes of ANSI text to UTF-16 through the ANSI code page.
bool ansi_to_wide(LPCSTR text, size_t size, RegString& out) {
  out.clear();
  if (size == 0)
    return true;
  int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
  if (n <= 0)
    return false;
  out.resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), out.data(), n) == n;
}

bool wide_to_ansi(const char16_t* text, size_t count,
                  std::basic_string<char, std::char_traits<char>, SimAllocator<char>>& out) {
  out.clear();
  if (count == 0)
    return true;
  int n =
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  if (n <= 0)
    return false;
  out.resize(static_cast<size_t>(n));
  return WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(count), out.data(), n, nullptr,
                             nullptr) == n;
}

using AnsiString = std::basic_string<char, std::char_traits<char>, SimAllocator<char>>;

// A narrow name argument in UTF-16; null stays null.
class WideName {
 public:
  LONG convert(LPCSTR name) {
    if (!name)
      return ERROR_SUCCESS;
    if (!ansi_to_wide(name, std::strlen(name), text_))
      return ERROR_NO_UNICODE_TRANSLATION;
    given_ = true;
    return ERROR_SUCCESS;
  }
  const char16_t* get() const { return given_ ? text_.c_str() : nullptr; }

 private:
  RegString text_;
  bool given_ = false;
};

bool is_string_type(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// String data as the A functions give it: the UTF-16 units converted to the ANSI code page.
LONG data_to_ansi(DWORD type, RegBytes& data) {
  if (!is_string_type(type))
    return ERROR_SUCCESS;
  RegString units(data.size() / 2, u'\0');
  std::memcpy(units.data(), data.data(), units.size() * 2);
  AnsiString ansi;
  if (!wide_to_ansi(units.data(), units.size(), ansi))
    return ERROR_NO_UNICODE_TRANSLATION;
  data.assign(ansi.begin(), ansi.end());
  return ERROR_SUCCESS;
}

// The buffer protocol of RegQueryValueEx and RegEnumValue for the data part.
LONG give_data(DWORD type, const RegBytes& data, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpType)
    *lpType = type;
  DWORD size = static_cast<DWORD>(data.size());
  if (lpData) {
    if (*lpcbData < size) {
      *lpcbData = size;
      return ERROR_MORE_DATA;
    }
    if (size)
      std::memcpy(lpData, data.data(), size);
  }
  if (lpcbData)
    *lpcbData = size;
  return ERROR_SUCCESS;
}

// The buffer protocol of the enumeration names: the count is left alone when the name does not
// fit, as on the platform.
template <typename Char>
LONG give_name(const Char* name, size_t length, Char* out, LPDWORD count) {
  if (length >= *count)
    return ERROR_MORE_DATA;
  if (length)
    std::memcpy(out, name, length * sizeof(Char));
  out[length] = 0;
  *count = static_cast<DWORD>(length);
  return ERROR_SUCCESS;
}

template <typename Char>
void give_class(Char* lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpcchClass) {
    if (lpClass && *lpcchClass)
      lpClass[0] = 0;
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime)
    std::memset(static_cast<void*>(lpftLastWriteTime), 0, 2 * sizeof(DWORD));  // a FILETIME
}

}  // namespace

RegKeyPtr reg_new_key() {
  if (FaultSimStep())
    throw std::bad_alloc();
  return RegKeyPtr(new RegKey);
}

RegString reg_fold(std::u16string_view name) {
  RegString folded(name);
  for (char16_t& c : folded)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char16_t>(c - 'a' + 'A');
  return folded;
}

bool reg_names_equal(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char16_t>(a[i] - 32) : a[i];
    char16_t y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char16_t>(b[i] - 32) : b[i];
    if (x != y)
      return false;
  }
  return true;
}

const char16_t* reg_root_name(int root) {
  static const char16_t* const names[kRegRootCount] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                                       u"HKEY_LOCAL_MACHINE", u"HKEY_USERS",
                                                       u"HKEY_CURRENT_CONFIG"};
  return names[root];
}

int reg_root_from_name(std::u16string_view name) {
  for (int i = 0; i < kRegRootCount; ++i)
    if (reg_names_equal(name, reg_root_name(i)))
      return i;
  return -1;
}

RegKey* reg_find_subkey(const RegKey& key, std::u16string_view name) {
  auto it = key.subkeys.find(reg_fold(name));
  return it == key.subkeys.end() ? nullptr : it->second.get();
}

uint64_t reg_generation() {
  try {
    Registry& r = registry();
    uint64_t generation = 0;
    if (r.current_generation(&generation))
      return generation;
    std::lock_guard<std::mutex> hold(r.mutex);
    if (r.refresh() != ERROR_SUCCESS)
      return 0;
    r.publish_generation();
    return r.generation();
  } catch (const std::exception&) {
    return 0;
  }
}

void PlatformSetRegistryRecheck(DWORD milliseconds) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.mutex);
  r.set_recheck(std::chrono::milliseconds(milliseconds));
}

BOOL PlatformSetRegistryPath(const char* path) {
  try {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    r.set_path(path);
    return TRUE;
  } catch (const std::exception&) {
    return FALSE;
  }
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return guarded(
      [&] { return create_key(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition); });
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                        LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return guarded([&] {
    WideName sub;
    LONG status = sub.convert(lpSubKey);
    if (status != ERROR_SUCCESS)
      return status;
    return create_key(hKey, sub.get(), samDesired, phkResult, lpdwDisposition);
  });
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return guarded([&] { return open_key(hKey, lpSubKey, samDesired, phkResult); });
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return guarded([&] {
    WideName sub;
    LONG status = sub.convert(lpSubKey);
    if (status != ERROR_SUCCESS)
      return status;
    return open_key(hKey, sub.get(), samDesired, phkResult);
  });
}

LSTATUS RegCloseKey(HKEY hKey) {
  return guarded([&]() -> LONG {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    Target t;
    if (r.target(hKey, t) == ERROR_SUCCESS && !t.open)
      return ERROR_SUCCESS;  // a predefined root
    return r.close_handle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  if (!lpData && cbData)
    return ERROR_NOACCESS;
  return guarded([&] { return set_value(hKey, lpValueName, dwType, lpData, cbData); });
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  if (!lpData && cbData)
    return ERROR_NOACCESS;
  return guarded([&] {
    WideName name;
    LONG status = name.convert(lpValueName);
    if (status != ERROR_SUCCESS)
      return status;
    if (!is_string_type(dwType))
      return set_value(hKey, name.get(), dwType, lpData, cbData);
    RegString units;
    if (!ansi_to_wide(reinterpret_cast<LPCSTR>(lpData), cbData, units))
      return static_cast<LONG>(ERROR_NO_UNICODE_TRANSLATION);
    return set_value(hKey, name.get(), dwType, reinterpret_cast<const BYTE*>(units.data()),
                     static_cast<DWORD>(units.size() * sizeof(char16_t)));
  });
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  return guarded([&] {
    DWORD type = 0;
    RegBytes data;
    LONG status = query_value(hKey, lpValueName, type, data);
    if (status != ERROR_SUCCESS)
      return status;
    return give_data(type, data, lpType, lpData, lpcbData);
  });
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  return guarded([&] {
    WideName name;
    LONG status = name.convert(lpValueName);
    if (status != ERROR_SUCCESS)
      return status;
    DWORD type = 0;
    RegBytes data;
    status = query_value(hKey, name.get(), type, data);
    if (status == ERROR_SUCCESS)
      status = data_to_ansi(type, data);
    if (status != ERROR_SUCCESS)
      return status;
    return give_data(type, data, lpType, lpData, lpcbData);
  });
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved)
    return ERROR_INVALID_PARAMETER;
  return guarded([&] {
    RegString name;
    LONG status = enum_key(hKey, dwIndex, name);
    if (status != ERROR_SUCCESS)
      return status;
    give_class(lpClass, lpcchClass, lpftLastWriteTime);
    return give_name(name.data(), name.size(), lpName, lpcchName);
  });
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved)
    return ERROR_INVALID_PARAMETER;
  return guarded([&] {
    RegString name;
    LONG status = enum_key(hKey, dwIndex, name);
    if (status != ERROR_SUCCESS)
      return status;
    AnsiString ansi;
    if (!wide_to_ansi(name.data(), name.size(), ansi))
      return static_cast<LONG>(ERROR_NO_UNICODE_TRANSLATION);
    give_class(lpClass, lpcchClass, lpftLastWriteTime);
    return give_name(ansi.data(), ansi.size(), lpName, lpcchName);
  });
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  return guarded([&] {
    RegValue v;
    LONG status = enum_value(hKey, dwIndex, v);
    if (status != ERROR_SUCCESS)
      return status;
    LONG data_status = give_data(v.type, v.data, lpType, lpData, lpcbData);
    status = give_name(v.name.data(), v.name.size(), lpValueName, lpcchValueName);
    return status != ERROR_SUCCESS ? status : data_status;
  });
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                      LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  return guarded([&] {
    RegValue v;
    LONG status = enum_value(hKey, dwIndex, v);
    if (status == ERROR_SUCCESS)
      status = data_to_ansi(v.type, v.data);
    if (status != ERROR_SUCCESS)
      return status;
    AnsiString name;
    if (!wide_to_ansi(v.name.data(), v.name.size(), name))
      return static_cast<LONG>(ERROR_NO_UNICODE_TRANSLATION);
    LONG data_status = give_data(v.type, v.data, lpType, lpData, lpcbData);
    status = give_name(name.data(), name.size(), lpValueName, lpcchValueName);
    return status != ERROR_SUCCESS ? status : data_status;
  });
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (!lpSubKey)
    return ERROR_INVALID_PARAMETER;
  return guarded([&] { return delete_key(hKey, lpSubKey, /*tree=*/false); });
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey)
    return ERROR_INVALID_PARAMETER;
  return guarded([&] {
    WideName sub;
    LONG status = sub.convert(lpSubKey);
    if (status != ERROR_SUCCESS)
      return status;
    return delete_key(hKey, sub.get(), /*tree=*/false);
  });
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return guarded([&] { return delete_value(hKey, lpValueName); });
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return guarded([&] {
    WideName name;
    LONG status = name.convert(lpValueName);
    if (status != ERROR_SUCCESS)
      return status;
    return delete_value(hKey, name.get());
  });
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  return guarded([&] { return delete_key(hKey, lpSubKey, /*tree=*/true); });
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return guarded([&] {
    WideName sub;
    LONG status = sub.convert(lpSubKey);
    if (status != ERROR_SUCCESS)
      return status;
    return delete_key(hKey, sub.get(), /*tree=*/true);
  });
}

#include "posix/registry.inc"
