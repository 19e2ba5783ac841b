// KaoAttachment::SaveFile and SaveFileByZip, and AutoTagName, the free numbered name of a save
// that must not overwrite.
#include <limits.h>

#include <algorithm>

#include "KaFile.h"
#include "attachment.h"
#include "compression.h"
#include "map_path.h"
#include "report_error.h"

namespace {

constexpr DWORD kMaxWrite = DWORD{1} << 30;

HANDLE create_file(const char* path, DWORD disposition) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(HANDLE file, const char* data, int size) {
  while (size > 0) {
    const DWORD chunk = std::min(static_cast<DWORD>(size), kMaxWrite);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written != chunk)
      return false;
    data += chunk;
    size -= static_cast<int>(chunk);
  }
  return true;
}

HRESULT report_cannot_open(const char* target) {
  CKaText message;
  message.Format(VtrlMessageText(VtrlMessage::kCannotOpenFile), target);
  ReportError(CLSID_KaFileUpload, message, GUID_NULL, 0);
  return E_FAIL;
}

}  // namespace

// AutoTagName
// Claims the first free name among path, then stem1ext, stem2ext, ... (the number goes before
// the last '.' of the file name, or at the end without one) by creating it exclusively, so
// two saves of one name at the same moment never share a file.
// Returns: S_OK with *path the claimed name and *claimed its handle; S_OK with
//          INVALID_HANDLE_VALUE when the free name cannot be created (*path is that name: the
//          open fails there); E_FAIL when every number is taken.
static HRESULT AutoTagName(CKaText* path, HANDLE* claimed) {
  const int separator = std::max(path->ReverseFind('\\'), path->ReverseFind('/'));
  int dot = path->ReverseFind('.');
  if (dot < separator)
    dot = -1;
  const CKaText stem = dot < 0 ? *path : path->Left(dot);
  const CKaText extension = dot < 0 ? CKaText() : path->Mid(dot);
  CKaText candidate = *path;
  for (int n = 1;; ++n) {
    if (kaIsFileExist(candidate) != 0) {
      *claimed = create_file(candidate, CREATE_NEW);
      // Another saver won the race only when the name is now taken; any other failure is
      // the open's to report.
      if (*claimed != INVALID_HANDLE_VALUE || kaIsFileExist(candidate) != 0) {
        *path = candidate;
        return S_OK;
      }
    }
    if (n == INT_MAX)
      return E_FAIL;
    candidate.Format("%s%d%s", static_cast<const char*>(stem), n,
                     static_cast<const char*>(extension));
  }
}

HRESULT KaoAttachment::ResolveTarget(BSTR bstrPath, LONG bAutoTag, CKaText* target,
                                     HANDLE* claimed) {
  *claimed = INVALID_HANDLE_VALUE;
  HRESULT hr = MapPathIfRelative(parts_->Server, bstrPath, target);
  if (FAILED(hr) || !bAutoTag)
    return hr;
  if (FAILED(AutoTagName(target, claimed)))
    return report_cannot_open(*target);
  const int separator = target->ReverseFind('\\');
  if (separator >= 0)
    record_->FileName = target->Mid(separator + 1);
  return S_OK;
}

HRESULT KaoAttachment::SaveFile(BSTR bstrPath, LONG bAutoTag) {
  CKaText target;
  HANDLE file = INVALID_HANDLE_VALUE;
  HRESULT hr = ResolveTarget(bstrPath, bAutoTag, &target, &file);
  if (FAILED(hr))
    return hr;
  if (file == INVALID_HANDLE_VALUE && !bAutoTag)
    file = create_file(target, CREATE_ALWAYS);
  if (file == INVALID_HANDLE_VALUE)
    return report_cannot_open(target);
  const bool written = write_all(file, record_->Data, record_->Size);
  if (CloseHandle(file) && written)
    return S_OK;
  // A short file would pass for the upload: none is left.
  DeleteFileA(target);
  return report_cannot_open(target);
}

HRESULT KaoAttachment::SaveFileByZip(BSTR bstrPath, LONG bAutoTag) {
  CKaText target;
  HANDLE claimed = INVALID_HANDLE_VALUE;
  HRESULT hr = ResolveTarget(bstrPath, bAutoTag, &target, &claimed);
  if (FAILED(hr))
    return hr;
  if (claimed != INVALID_HANDLE_VALUE)
    CloseHandle(claimed);
  hr = ZipToFile(CLSID_KaFileUpload, record_->Data, record_->Size, target, &record_->ZipSize);
  // The compressed file replaces the claimed empty one; a failure must not leave it behind.
  if (FAILED(hr) && claimed != INVALID_HANDLE_VALUE)
    DeleteFileA(target);
  return hr;
}
