// File services (fileapi.h, winbase.h): attributes, wildcard enumeration, delete, move, copy,
// create and remove directory, file handles and the temporary directory. Arguments and paths
// are settled here; the kernel calls are in posix/file.inc.
#include "fileapi.h"

#include <cstring>
#include <new>
#include <string>

#include "errhandlingapi.h"
#include "handle.h"
#include "pathmap.h"
#include "platform_file.h"
#include "winbase.h"
#include "winerror.h"

namespace {

// Implemented by the operating-system unit at the end of this file. Each returns 0 or the
// error code of the failure.
DWORD os_attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA* data);
DWORD os_stream_attributes(FILE* stream, WIN32_FILE_ATTRIBUTE_DATA* data);
DWORD os_delete_file(const std::string& path);
DWORD os_create_directory(const std::string& path);
DWORD os_remove_directory(const std::string& path);
DWORD os_move(const std::string& from, const std::string& to, bool replace);
DWORD os_copy(const std::string& from, const std::string& to, bool fail_if_exists);
// Opens a file: *file receives a new kernel object; *existed tells whether the file was there.
DWORD os_open(const std::string& path, DWORD access, DWORD disposition, KernelObject** file,
              bool* existed);
DWORD os_read(KernelObject* file, void* buffer, DWORD size, DWORD* done);
DWORD os_write(KernelObject* file, const void* buffer, DWORD size, DWORD* done);
DWORD os_file_size(KernelObject* file, ULONGLONG* size);
// The temporary directory in the kernel's form.
std::string os_temp_directory();

// An open directory stream of the kernel.
class OsDirectory;
OsDirectory* os_open_directory(const std::string& path, DWORD* error);
// The next entry (UTF-8 name and status); false at the end.
bool os_next_entry(OsDirectory* directory, std::string* name, WIN32_FILE_ATTRIBUTE_DATA* data);
void os_close_directory(OsDirectory* directory);

bool fail(DWORD error) {
  SetLastError(error);
  return false;
}

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr ULONGLONG kUnixEpochInFileTime = 116444736000000000ULL;

FILETIME filetime_from_unix(long long seconds, long nanoseconds) {
  ULONGLONG t = kUnixEpochInFileTime + static_cast<ULONGLONG>(seconds) * 10000000ULL +
                static_cast<ULONGLONG>(nanoseconds) / 100;
  return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

char fold(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The platform's file-name wildcards: `*` any run, `?` one character, a trailing ".*" also
// matches nothing (so "*.*" matches every name); ASCII letters match either case.
bool wildcard_match(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern && (*pattern == '?' || fold(*pattern) == fold(*name))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*')
    ++pattern;
  if (pattern[0] == '.' && pattern[1] == '*')
    pattern += 2;
  while (*pattern == '*')
    ++pattern;
  return *pattern == '\0';
}

// The state of one FindFirstFileA enumeration.
class FindState {
 public:
  FindState(OsDirectory* directory, std::string pattern)
      : directory_(directory), pattern_(std::move(pattern)) {}
  FindState(const FindState&) = delete;
  FindState& operator=(const FindState&) = delete;
  ~FindState() { os_close_directory(directory_); }

  // Fills *data with the next matching entry; false at the end.
  bool Next(WIN32_FIND_DATAA* data) {
    std::string os_name;
    std::string name;
    WIN32_FILE_ATTRIBUTE_DATA status;
    while (os_next_entry(directory_, &os_name, &status)) {
      if (!unmap_path(os_name, &name) || name.size() >= MAX_PATH)
        continue;
      if (!wildcard_match(pattern_.c_str(), name.c_str()))
        continue;
      std::memset(data, 0, sizeof *data);
      data->dwFileAttributes = status.dwFileAttributes;
      data->ftCreationTime = status.ftCreationTime;
      data->ftLastAccessTime = status.ftLastAccessTime;
      data->ftLastWriteTime = status.ftLastWriteTime;
      data->nFileSizeHigh = status.nFileSizeHigh;
      data->nFileSizeLow = status.nFileSizeLow;
      std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
      return true;
    }
    return false;
  }

 private:
  OsDirectory* directory_;
  std::string pattern_;
};

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(lpFileName, GetFileExInfoStandard, &data))
    return INVALID_FILE_ATTRIBUTES;
  return data.dwFileAttributes;
}

BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                          LPVOID lpFileInformation) {
  if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation)
    return fail(ERROR_INVALID_PARAMETER);
  std::string path;
  if (!map_path(lpFileName, Wildcards::kRefused, &path))
    return FALSE;
  DWORD error = os_attributes(path, static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation));
  return error ? fail(error) : TRUE;
}

BOOL PlatformGetStreamAttributes(FILE* stream, WIN32_FILE_ATTRIBUTE_DATA* lpFileInformation) {
  if (!stream || !lpFileInformation)
    return fail(ERROR_INVALID_PARAMETER);
  DWORD error = os_stream_attributes(stream, lpFileInformation);
  return error ? fail(error) : TRUE;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The directory is everything up to the last separator; without one, the current directory
  // (or the root of a drive written as "X:pattern").
  size_t len = std::strlen(lpFileName);
  size_t split = len;
  while (split > 0 && lpFileName[split - 1] != '\\' && lpFileName[split - 1] != '/')
    --split;
  std::string directory(lpFileName, split);
  if (split == 0 && len >= 2 && lpFileName[1] == ':') {
    directory.assign(lpFileName, 2);
    split = 2;
  }
  if (directory.empty())
    directory = ".";
  std::string pattern(lpFileName + split);
  std::string os_directory;
  if (len >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  if (!map_path(directory.c_str(), Wildcards::kRefused, &os_directory))
    return INVALID_HANDLE_VALUE;
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = 0;
  OsDirectory* stream = os_open_directory(os_directory, &error);
  if (!stream) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  FindState* state = new (std::nothrow) FindState(stream, std::move(pattern));
  if (!state) {
    os_close_directory(stream);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  if (!state->Next(lpFindFileData)) {
    delete state;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return state;
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!hFindFile || hFindFile == INVALID_HANDLE_VALUE)
    return fail(ERROR_INVALID_HANDLE);
  if (!lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER);
  if (!static_cast<FindState*>(hFindFile)->Next(lpFindFileData))
    return fail(ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!hFindFile || hFindFile == INVALID_HANDLE_VALUE)
    return fail(ERROR_INVALID_HANDLE);
  delete static_cast<FindState*>(hFindFile);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  std::string path;
  if (!map_path(lpFileName, Wildcards::kRefused, &path))
    return FALSE;
  DWORD error = os_delete_file(path);
  return error ? fail(error) : TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  std::string path;
  if (!map_path(lpPathName, Wildcards::kRefused, &path))
    return FALSE;
  DWORD error = os_create_directory(path);
  return error ? fail(error) : TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  std::string path;
  if (!map_path(lpPathName, Wildcards::kRefused, &path))
    return FALSE;
  DWORD error = os_remove_directory(path);
  return error ? fail(error) : TRUE;
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveFileExA(lpExistingFileName, lpNewFileName, 0);
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (dwFlags & ~static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
    return fail(ERROR_INVALID_PARAMETER);
  std::string from;
  std::string to;
  if (!map_path(lpExistingFileName, Wildcards::kRefused, &from) ||
      !map_path(lpNewFileName, Wildcards::kRefused, &to))
    return FALSE;
  DWORD error = os_move(from, to, (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0);
  return error ? fail(error) : TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  std::string from;
  std::string to;
  if (!map_path(lpExistingFileName, Wildcards::kRefused, &from) ||
      !map_path(lpNewFileName, Wildcards::kRefused, &to))
    return FALSE;
  DWORD error = os_copy(from, to, bFailIfExists != FALSE);
  return error ? fail(error) : TRUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE hTemplateFile) {
  const DWORD known_access = GENERIC_READ | GENERIC_WRITE | FILE_APPEND_DATA;
  if ((dwDesiredAccess & ~known_access) || dwCreationDisposition < CREATE_NEW ||
      dwCreationDisposition > TRUNCATE_EXISTING || hTemplateFile ||
      (dwCreationDisposition == TRUNCATE_EXISTING && !(dwDesiredAccess & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!map_path(lpFileName, Wildcards::kRefused, &path))
    return INVALID_HANDLE_VALUE;
  KernelObject* file = nullptr;
  bool existed = false;
  DWORD error = os_open(path, dwDesiredAccess, dwCreationDisposition, &file, &existed);
  if (error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  bool reports_existing =
      dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
  SetLastError(reports_existing && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return file;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (!hFile || hFile == INVALID_HANDLE_VALUE)
    return fail(ERROR_INVALID_HANDLE);
  if (!lpNumberOfBytesRead || lpOverlapped || (!lpBuffer && nNumberOfBytesToRead))
    return fail(ERROR_INVALID_PARAMETER);
  *lpNumberOfBytesRead = 0;
  DWORD error = os_read(static_cast<KernelObject*>(hFile), lpBuffer, nNumberOfBytesToRead,
                        lpNumberOfBytesRead);
  return error ? fail(error) : TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (!hFile || hFile == INVALID_HANDLE_VALUE)
    return fail(ERROR_INVALID_HANDLE);
  if (!lpNumberOfBytesWritten || lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite))
    return fail(ERROR_INVALID_PARAMETER);
  *lpNumberOfBytesWritten = 0;
  DWORD error = os_write(static_cast<KernelObject*>(hFile), lpBuffer, nNumberOfBytesToWrite,
                         lpNumberOfBytesWritten);
  return error ? fail(error) : TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  ULONGLONG size = 0;
  DWORD error = (!hFile || hFile == INVALID_HANDLE_VALUE)
                    ? ERROR_INVALID_HANDLE
                    : os_file_size(static_cast<KernelObject*>(hFile), &size);
  if (error) {
    SetLastError(error);
    return INVALID_FILE_SIZE;
  }
  if (lpFileSizeHigh)
    *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(size);
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string path;
  if (!unmap_path(os_temp_directory(), &path) || path.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  if (path.back() != '\\')
    path += '\\';
  DWORD needed = static_cast<DWORD>(path.size() + 1);
  if (!lpBuffer || nBufferLength < needed)
    return needed;
  std::memcpy(lpBuffer, path.c_str(), needed);
  return needed - 1;
}

#include "posix/file.inc"
