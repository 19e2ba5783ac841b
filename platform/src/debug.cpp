// The debugger output channel (debugapi.h): OutputDebugStringA. This platform's channel is the
// standard error stream; messages are converted from the ANSI code page to UTF-8 here and
// written by posix/debug.inc.
#include "debugapi.h"

#include <cstring>
#include <string>

#include "winnls.h"

namespace {

// Writes the bytes in one call, so that concurrent messages do not mix.
void os_write_debug_channel(const char* text, size_t size);

// The message in UTF-8; the bytes unchanged when they are no text of the code page.
std::string to_utf8(const char* message, size_t size) {
  int n = static_cast<int>(size);
  int units = MultiByteToWideChar(CP_ACP, 0, message, n, nullptr, 0);
  if (units <= 0)
    return std::string(message, size);
  std::u16string wide(static_cast<size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, message, n, wide.data(), units);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0)
    return std::string(message, size);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

void OutputDebugStringA(LPCSTR lpOutputString) {
  if (!lpOutputString || !*lpOutputString)
    return;
  std::string text = to_utf8(lpOutputString, std::strlen(lpOutputString));
  os_write_debug_channel(text.data(), text.size());
}

#include "posix/debug.inc"
