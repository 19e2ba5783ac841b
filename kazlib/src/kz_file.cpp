// Whole-file reads and writes through CreateFileA, ReadFile and WriteFile.
#include "kz_file.h"

#include <algorithm>
#include <utility>

#include "windows.h"

namespace {

// Single reads and writes stay well inside a DWORD count.
constexpr size_t kMaxTransfer = size_t{1} << 30;

// Owns a file handle of CreateFileA. Move-only.
class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE Get() const { return h_; }
  bool IsValid() const { return h_ != INVALID_HANDLE_VALUE; }
  // Closes the handle now; false when the close itself failed.
  bool Close() {
    if (!IsValid())
      return true;
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != FALSE;
  }

 private:
  HANDLE h_;
};

bool write_all(HANDLE h, const char* data, size_t size) {
  while (size) {
    const DWORD chunk = static_cast<DWORD>(std::min(size, kMaxTransfer));
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, /*lpOverlapped=*/nullptr) || written != chunk)
      return false;
    data += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace

bool kz_read_file(const char* path, size_t max_size, KzBlock* out, size_t* out_size) {
  if (!path)
    return false;
  FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, /*lpSecurityAttributes=*/nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  if (!file.IsValid())
    return false;
  DWORD high = 0;
  const DWORD low = GetFileSize(file.Get(), &high);
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low > max_size)
    return false;
  const size_t size = low;
  KzBlock buf(kz_alloc(size));
  if (!buf.Get())
    return false;
  // A file that shrinks while it is read gives what it still holds; one that grows is read to
  // the size seen at the start.
  size_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
    DWORD got = 0;
    if (!ReadFile(file.Get(), buf.Get() + done, chunk, &got, /*lpOverlapped=*/nullptr))
      return false;
    if (got == 0)
      break;
    done += got;
  }
  *out = std::move(buf);
  *out_size = done;
  return true;
}

bool kz_write_file(const char* path, const char* data, size_t size) {
  if (!path)
    return false;
  FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ,
                              /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
  if (!file.IsValid())
    return false;
  const bool written = write_all(file.Get(), data, size);
  if (file.Close() && written)
    return true;
  DeleteFileA(path);
  return false;
}
