// The trace log: the debugger channel, and the shared trace file switched through the shared
// settings block.
#include "KaTrace.h"

#include <stdarg.h>

#include <cstring>

#include "debugapi.h"
#include "fileapi.h"
#include "handleapi.h"
#include "ka_alloc.h"
#include "ka_format.h"
#include "ka_settings.h"

namespace {

constexpr size_t kDebugMessageSize = 4096;

// Owns a library block.
class Block {
 public:
  explicit Block(size_t size) : p_(static_cast<char*>(ka_alloc(size))) {}
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { ka_free(p_); }
  char* get() const { return p_; }

 private:
  char* p_;
};

// Closes a file on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

void kaInitFileTrace(const char* path, int enabled) {
  const char* file = path ? path : "";
  if (std::strlen(file) > kKaTextFieldSize - 1)
    return;
  if (*file)
    DeleteFileA(file);
  KaSharedSettings* settings = ka_settings();
  ka_set_shared_text(settings->traceFile, file);
  settings->traceEnabled = enabled;
}

void kaFileTrace(const char* fmt, ...) {
  KaSharedSettings* settings = ka_settings();
  if (!settings->traceEnabled || !fmt)
    return;
  // Another process may change the path at any moment: work on a copy.
  char path[kKaTextFieldSize];
  ka_set_shared_text(path, settings->traceFile);

  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  size_t estimate = ka_format_estimate(fmt, args);
  va_end(args);
  Block message(estimate + 1);
  if (message.get())
    ka_format_print(message.get(), estimate, fmt, again);
  va_end(again);
  if (!message.get())
    return;

  // Text mode: every line feed goes out as carriage return and line feed.
  size_t len = std::strlen(message.get());
  size_t line_feeds = 0;
  for (size_t i = 0; i < len; ++i)
    line_feeds += message.get()[i] == '\n';
  Block text(len + line_feeds + 1);
  if (!text.get())
    return;
  char* w = text.get();
  for (size_t i = 0; i < len; ++i) {
    if (message.get()[i] == '\n')
      *w++ = '\r';
    *w++ = message.get()[i];
  }

  WIN32_FILE_ATTRIBUTE_DATA status;
  bool full = GetFileAttributesExA(path, GetFileExInfoStandard, &status) &&
              (status.nFileSizeHigh != 0 || status.nFileSizeLow >= kaTraceFileLimit);
  FileHandle file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              full ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(file.get(), text.get(), static_cast<DWORD>(w - text.get()), &written, nullptr);
}

void kaTrace(const char* fmt, ...) {
  if (!fmt)
    return;
  char message[kDebugMessageSize];
  va_list args;
  va_start(args, fmt);
  ka_format_print(message, kDebugMessageSize - 1, fmt, args);
  va_end(args);
  OutputDebugStringA(message);
}
