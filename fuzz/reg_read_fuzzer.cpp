// The registry's .reg file reader on arbitrary files. A file the registry takes is read whole
// through the registry API; then the registry writes the same tree out (a key made and
// removed again), and that file, read afresh, must give the same tree: what the library
// writes it reads back.
//
// Input: a first byte whose low bit chooses the form of the rest: 1, the file's bytes as they
// are; 0, 8-bit text that becomes the UTF-16LE file with its byte order mark (so that the
// mutations and the dictionary work on text).
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform_config.h"
#include "scratch_dir.h"
#include "windows.h"

namespace {

const char16_t kProbe[] = u"VantrelFuzzProbe.2f8c";

const std::string& registry_file() {
  static const std::string path = fuzz::ScratchDir() + "/registry.reg";
  return path;
}

std::vector<uint8_t> file_of(const uint8_t* data, size_t size) {
  if (data[0] & 1)
    return std::vector<uint8_t>(data + 1, data + size);
  std::vector<uint8_t> file = {0xFF, 0xFE};
  for (size_t i = 1; i < size; ++i) {
    file.push_back(data[i]);
    file.push_back(0);
  }
  return file;
}

void append_hex(std::u16string& out, const BYTE* bytes, DWORD size) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  for (DWORD i = 0; i < size; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 15]);
  }
}

// Appends every value and subkey below key (named path) to out. Returns the status of the first
// read that failed; ERROR_SUCCESS when all went through.
LONG dump(HKEY key, const std::u16string& path, std::u16string& out) {
  std::vector<char16_t> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD cch = static_cast<DWORD>(name.size());
    DWORD type = 0;
    DWORD cb = 0;
    LONG status = RegEnumValueW(key, i, name.data(), &cch, nullptr, &type, nullptr, &cb);
    if (status == ERROR_NO_MORE_ITEMS)
      break;
    if (status != ERROR_SUCCESS)
      return status;
    std::vector<BYTE> bytes(cb + 1);
    DWORD got = cb;
    cch = static_cast<DWORD>(name.size());
    status = RegEnumValueW(key, i, name.data(), &cch, nullptr, &type, bytes.data(), &got);
    if (status != ERROR_SUCCESS)
      return status;
    FUZZ_CHECK(got == cb, "a value reads back at the size its enumeration gave");
    out += path + u"|" + std::u16string(name.data(), cch) + u"|";
    for (char digit : std::to_string(type))
      out.push_back(static_cast<char16_t>(digit));
    out += u"|";
    append_hex(out, bytes.data(), got);
    out += u"\n";
  }
  for (DWORD i = 0;; ++i) {
    DWORD cch = 256;
    LONG status = RegEnumKeyExW(key, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS)
      break;
    if (status != ERROR_SUCCESS)
      return status;
    const std::u16string sub_path = path + u"\\" + std::u16string(name.data(), cch);
    out += sub_path + u"\n";
    HKEY sub = nullptr;
    status = RegOpenKeyExW(key, name.data(), 0, KEY_READ, &sub);
    if (status != ERROR_SUCCESS)
      return status;
    status = dump(sub, sub_path, out);
    RegCloseKey(sub);
    if (status != ERROR_SUCCESS)
      return status;
  }
  return ERROR_SUCCESS;
}

// The whole tree as text; the first failing read's status when there is one.
LONG dump_all(std::u16string& out) {
  const struct {
    HKEY key;
    const char16_t* name;
  } roots[] = {{HKEY_CLASSES_ROOT, u"HKCR"},
               {HKEY_CURRENT_USER, u"HKCU"},
               {HKEY_LOCAL_MACHINE, u"HKLM"},
               {HKEY_USERS, u"HKU"},
               {HKEY_CURRENT_CONFIG, u"HKCC"}};
  out.clear();
  for (const auto& root : roots) {
    const LONG status = dump(root.key, root.name, out);
    if (status != ERROR_SUCCESS)
      return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return -1;
  const std::vector<uint8_t> file = file_of(data, size);
  fuzz::WriteFile(registry_file(), file.data(), file.size());
  PlatformSetRegistryPath(registry_file().c_str());  // forgets the tree read before

  std::u16string first;
  const LONG read = dump_all(first);
  if (read == ERROR_BADDB)
    return 0;  // a file the reader refuses; each read refuses it
  FUZZ_CHECK(read == ERROR_SUCCESS, "a file the reader takes answers every read of its tree");

  // A key that the file already has would be changed by the probe.
  HKEY probe = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProbe, 0, KEY_READ, &probe) == ERROR_SUCCESS) {
    RegCloseKey(probe);
    return 0;
  }
  FUZZ_CHECK(RegCreateKeyExW(HKEY_CURRENT_USER, kProbe, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &probe, nullptr) == ERROR_SUCCESS,
             "the probe key is made");
  RegCloseKey(probe);
  FUZZ_CHECK(RegDeleteKeyW(HKEY_CURRENT_USER, kProbe) == ERROR_SUCCESS, "the probe key goes");

  PlatformSetRegistryPath(registry_file().c_str());
  std::u16string second;
  FUZZ_CHECK(dump_all(second) == ERROR_SUCCESS, "the file the registry wrote is read back");
  FUZZ_CHECK(first == second, "the file the registry wrote holds the tree it read");
  return 0;
}
