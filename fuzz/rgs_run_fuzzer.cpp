// The registry-script interpreter on arbitrary scripts, each against a registry file of its
// own that starts empty. A script it refuses as malformed leaves the registry untouched (no
// file is written) and says which line; one it runs reports no message.
//
// Input: a first byte of choices, then the script. Bit 0: the A form with the script as ANSI
// code page bytes, or the W form with each byte widened. Bit 1: register, then unregister; or
// unregister alone. Bits 2 to 4: the size of the message buffer (none, or 16 to 112
// characters, so that the message is cut).
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform_config.h"
#include "regscript.h"
#include "scratch_dir.h"
#include "windows.h"

namespace {

const REGSCRIPT_REPLACEMENTW kWide[] = {
    {u"MODULE", u"C:\\Program Files\\Vantrel\\VtrlSrv.dll"},
    {u"BREAK", u"two\r\nlines"},
    {u"EMPTY", u""},
};
const REGSCRIPT_REPLACEMENTA kNarrow[] = {
    {"MODULE", "C:\\Program Files\\Vantrel\\VtrlSrv.dll"},
    {"BREAK", "two\r\nlines"},
    {"EMPTY", ""},
};
constexpr DWORD kReplacements = 3;

const std::string& registry_file() {
  static const std::string path = fuzz::ScratchDir() + "/registry.reg";
  return path;
}

bool registry_written() {
  struct stat st;
  return stat(registry_file().c_str(), &st) == 0;
}

HRESULT run(bool narrow, const std::string& script, BOOL do_register, DWORD message_size,
            std::string& message) {
  if (narrow) {
    std::vector<char> out(message_size + 1, 'x');
    const HRESULT hr = PlatformRunRegScriptA(script.c_str(), kNarrow, kReplacements, do_register,
                                             message_size ? out.data() : nullptr, message_size);
    if (message_size) {
      FUZZ_CHECK(out[message_size] == 'x', "the message stays within its buffer");
      message = out.data();
    }
    return hr;
  }
  const std::u16string wide(script.begin(), script.end());
  std::vector<char16_t> out(message_size + 1, u'x');
  const HRESULT hr = PlatformRunRegScriptW(wide.c_str(), kWide, kReplacements, do_register,
                                           message_size ? out.data() : nullptr, message_size);
  if (message_size) {
    FUZZ_CHECK(out[message_size] == u'x', "the message stays within its buffer");
    message.clear();
    for (const char16_t* p = out.data(); *p; ++p)
      message.push_back(static_cast<char>(*p));
  }
  return hr;
}

void check(HRESULT hr, DWORD message_size, const std::string& message) {
  // E_INVALIDARG: ANSI text that is not text of the code page.
  const bool script_or_registry = hr == DISP_E_EXCEPTION || HRESULT_FACILITY(hr) == FACILITY_WIN32;
  FUZZ_CHECK(hr == S_OK || hr == E_OUTOFMEMORY || hr == E_INVALIDARG || script_or_registry,
             "a run succeeds, or fails with a script, memory, text or registry status");
  if (message_size == 0)
    return;
  FUZZ_CHECK(message.size() < message_size, "the message fits its buffer");
  if (hr == S_OK)
    FUZZ_CHECK(message.empty(), "a run that succeeds leaves no message");
  else if (script_or_registry)
    FUZZ_CHECK(message.rfind("line ", 0) == 0, "a failure says its line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return -1;
  const bool narrow = data[0] & 1;
  const bool do_register = data[0] & 2;
  const DWORD message_size = ((data[0] >> 2) & 7) * 16;
  // The functions take zero-terminated text.
  std::string script(reinterpret_cast<const char*>(data) + 1, size - 1);
  script.resize(script.find('\0') == std::string::npos ? script.size() : script.find('\0'));

  unlink(registry_file().c_str());
  PlatformSetRegistryPath(registry_file().c_str());
  std::string message;
  if (do_register) {
    const HRESULT hr = run(narrow, script, TRUE, message_size, message);
    check(hr, message_size, message);
    if (hr == DISP_E_EXCEPTION)
      FUZZ_CHECK(!registry_written(), "a script refused as malformed changes nothing");
  }
  const HRESULT hr = run(narrow, script, FALSE, message_size, message);
  check(hr, message_size, message);
  return 0;
}
