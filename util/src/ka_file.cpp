// File and directory operations of KaMsUtil over the platform's file services, and the shared
// last-error text.
#include "KaFile.h"

#include <stdarg.h>

#include <cstring>

#include "KaString.h"

// The system's headers below need windows.h first.
#include "windows.h"

#include "errhandlingapi.h"
#include "fileapi.h"
#include "ka_format.h"
#include "ka_messages.h"
#include "ka_settings.h"
#include "synchapi.h"
#include "winbase.h"

namespace {

// The longest path the operations take or build, terminator excluded.
constexpr size_t kMaxPathLength = MAX_PATH - 1;
constexpr DWORD kMoveRetryDelayMs = 500;

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

bool is_drive_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The run-time library's status query: its quirks decide what exists.
bool query_status(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  if (!path || !*path)
    return false;
  size_t len = std::strlen(path);
  if (len > kMaxPathLength || std::strpbrk(path, "*?"))
    return false;
  bool drive = len >= 2 && path[1] == ':' && is_drive_letter(path[0]);
  if (drive && len == 2)
    return false;
  bool root = len == 1 || (drive && len == 3);
  if (is_separator(path[len - 1]) && !root)
    return false;
  return GetFileAttributesExA(path, GetFileExInfoStandard, data) != FALSE;
}

// "dir\name" into out (MAX_PATH bytes); false when it would exceed the path limit.
bool join(char* out, const char* dir, const char* name) {
  size_t dir_len = std::strlen(dir);
  size_t name_len = std::strlen(name);
  if (dir_len + 1 + name_len > kMaxPathLength)
    return false;
  std::memcpy(out, dir, dir_len);
  out[dir_len] = '\\';
  std::memcpy(out + dir_len + 1, name, name_len + 1);
  return true;
}

bool is_access_denied_class(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

enum class Removal { kRemoved, kStillFull, kOtherFailure };

// Removes a directory, trying once more when it is reported not empty.
Removal remove_directory(const char* path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (RemoveDirectoryA(path))
      return Removal::kRemoved;
    if (GetLastError() != ERROR_DIR_NOT_EMPTY)
      return Removal::kOtherFailure;
  }
  return Removal::kStillFull;
}

// Closes an enumeration on every way out.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE)
      FindClose(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

int fail_with(KaMessage message) {
  ka_set_error(message);
  return -1;
}

}  // namespace

int kaIsFileExist(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return query_status(path, &data) ? 0 : -1;
}

int kaGetFileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!query_status(path, &data))
    return -1;
  // As the run-time library's 32-bit status query, a size beyond its range is a failure.
  if (data.nFileSizeHigh != 0 || data.nFileSizeLow > 0x7FFFFFFFu)
    return -1;
  return static_cast<int>(data.nFileSizeLow);
}

int kaRemoveFiles(const char* dir, const char* pattern) {
  if (!dir || !pattern)
    return -1;
  char search[MAX_PATH];
  if (!join(search, dir, pattern))
    return fail_with(KaMessage::kPathNotFound);
  WIN32_FIND_DATAA data;
  FindHandle find(FindFirstFileA(search, &data));
  if (find.get() == INVALID_HANDLE_VALUE)
    return -1;
  const bool whole_tree = std::strcmp(pattern, "*.*") == 0;
  do {
    if (!std::strcmp(data.cFileName, ".") || !std::strcmp(data.cFileName, ".."))
      continue;
    char entry[MAX_PATH];
    if (!join(entry, dir, data.cFileName))
      return fail_with(KaMessage::kPathNotFound);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (kaRemoveFiles(entry, pattern) != 0)
        return -1;
      // Other failures are passed over here: the parent's own removal reports what stays.
      if (whole_tree && remove_directory(entry) == Removal::kStillFull)
        return fail_with(KaMessage::kDirectoryNotEmpty);
    } else if (!DeleteFileA(entry)) {
      return fail_with(KaMessage::kFileInUse);
    }
  } while (FindNextFileA(find.get(), &data));
  return 0;
}

int kaCreateDirectory(const char* path) {
  char field[MAX_PATH];
  if (!path || kaSubString(path, field, sizeof field, 0, "\\") != 0)
    return fail_with(KaMessage::kPathNotFound);
  if (std::strlen(path) > kMaxPathLength)
    return fail_with(KaMessage::kPathNotFound);
  // The path never outgrows its source, which is within the limit.
  char built[MAX_PATH];
  size_t len = std::strlen(field);
  std::memcpy(built, field, len);
  built[len++] = '\\';
  built[len] = '\0';
  for (int index = 1; kaSubString(path, field, sizeof field, index, "\\") == 0; ++index) {
    size_t field_len = std::strlen(field);
    if (field_len == 0)
      continue;
    if (len + field_len + 1 > kMaxPathLength + 1)
      return fail_with(KaMessage::kPathNotFound);
    std::memcpy(built + len, field, field_len + 1);
    len += field_len;
    if (kaIsFileExist(built) != 0 && !CreateDirectoryA(built, nullptr)) {
      // Another process may have made it in the meantime; that is no failure.
      DWORD attributes = GetFileAttributesA(built);
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    }
    built[len++] = '\\';
    built[len] = '\0';
  }
  return 0;
}

int kaRemoveDirectory(char* path) {
  if (!path || !*path)
    return fail_with(KaMessage::kPathNotFound);
  size_t len = std::strlen(path);
  if (path[len - 1] == '\\')
    path[--len] = '\0';
  if (len > kMaxPathLength || kaIsFileExist(path) != 0)
    return fail_with(KaMessage::kPathNotFound);
  if (kaRemoveFiles(path, "*.*") != 0)
    return -1;
  switch (remove_directory(path)) {
    case Removal::kRemoved:
      return 0;
    case Removal::kStillFull:
      return fail_with(KaMessage::kDirectoryNotEmpty);
    case Removal::kOtherFailure:
      break;
  }
  // The directory is still there: reported as a failure rather than passed over.
  return fail_with(KaMessage::kFileInUse);
}

int kaCopyFile(const char* src, const char* dst, int failIfExists) {
  if (kaIsFileExist(src) != 0 || !dst)
    return 0;
  return CopyFileA(src, dst, failIfExists ? TRUE : FALSE) ? 1 : 0;
}

int kaMoveFile(const char* src, const char* dst) {
  if (kaIsFileExist(src) != 0 || !dst)
    return 0;
  if (MoveFileA(src, dst))
    return 1;
  for (int retry = 0; retry < kaMoveFileRetries && is_access_denied_class(GetLastError());
       ++retry) {
    Sleep(kMoveRetryDelayMs);
    if (MoveFileA(src, dst))
      return 1;
  }
  return 0;
}

char* kaGetErrString(void) {
  return ka_settings()->lastError;
}

void kaSetErrString(const char* fmt, ...) {
  char text[kKaTextFieldSize] = {};
  if (fmt) {
    va_list args;
    va_start(args, fmt);
    ka_format_print(text, kKaTextFieldSize - 1, fmt, args);
    va_end(args);
  }
  ka_set_shared_text(ka_settings()->lastError, text);
}
