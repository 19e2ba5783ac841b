// KaoAttachment::SaveFile and SaveFileByZip, and AutoTagName, the free numbered name of a save
// that must not overwrite.
#include <limits.h>

#include <algorithm>

#include "KaFile.h"
#include "KaString.h"
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

HRESULT report_with_target(VtrlMessage text, const char* target) {
  CKaText message;
  message.Format(VtrlMessageText(text), target);
  ReportError(CLSID_KaFileUpload, message, GUID_NULL, 0);
  return E_FAIL;
}

HRESULT report_cannot_open(const char* target) {
  return report_with_target(VtrlMessage::kCannotOpenFile, target);
}

// A target that names an existing folder is refused as a whole: nothing can be written there,
// and a number added to the folder's name would put the file beside the folder, outside it
// ("files\.." names the site's own folder, and numbered it becomes a sibling of the site).
bool is_folder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HRESULT report_folder(const char* target) {
  return report_with_target(VtrlMessage::kTargetIsFolder, target);
}

// Closes and removes a claimed file (none is a no-op), so that a failed save leaves nothing.
void give_back(HANDLE* claimed, const char* name) {
  if (*claimed == INVALID_HANDLE_VALUE)
    return;
  CloseHandle(*claimed);
  DeleteFileA(name);
  *claimed = INVALID_HANDLE_VALUE;
}

// What an exclusive create of a candidate name found.
enum class Claim { kFree, kTaken, kFolder };

// Creates name exclusively into *claimed. The create is the test of the name too: only a name
// that is taken (by a file, a folder, or another saver a moment ago) is kTaken; any other
// failure is the open's to report (kFree with INVALID_HANDLE_VALUE). With first set, a folder
// at name is kFolder: a folder may fail the create for another reason than its name.
Claim claim(const char* name, bool first, HANDLE* claimed) {
  *claimed = create_file(name, CREATE_NEW);
  if (*claimed != INVALID_HANDLE_VALUE)
    return Claim::kFree;
  if (first && is_folder(name))
    return Claim::kFolder;
  return GetLastError() == ERROR_FILE_EXISTS || kaIsFileExist(name) == 0 ? Claim::kTaken
                                                                         : Claim::kFree;
}

}  // namespace

// AutoTagName
// Claims the first free name among path, then stem1ext, stem2ext, ... (the number goes before
// the last '.' of the file name, or at the end without one) by creating it exclusively, so
// two saves of one name at the same moment never share a file.
// Returns: S_OK with *path the claimed name and *claimed its handle; S_OK with
//          INVALID_HANDLE_VALUE when the free name cannot be created (*path is that name: the
//          open fails there); HRESULT_FROM_WIN32(ERROR_DIRECTORY) when path itself names a
//          folder (no number is tried); E_FAIL when every number is taken; E_OUTOFMEMORY when a
//          name cannot be made (nothing is left claimed).
// Notes:   a folder at a numbered name counts as taken, as a file does.
static HRESULT AutoTagName(CKaText* path, HANDLE* claimed) {
  // Most names are free: the halves a number goes between are made only for a taken one.
  const Claim first = claim(*path, /*first=*/true, claimed);
  if (first == Claim::kFolder)
    return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  if (first == Claim::kFree)
    return S_OK;
  const int length = path->GetLength();
  const int separator = std::max(path->ReverseFind('\\'), path->ReverseFind('/'));
  const int dot = path->ReverseFind('.');
  const int split = dot > separator ? dot : length;
  const CKaText stem = path->Left(split);
  const CKaText extension = path->Mid(split);
  // A copy that could not be made comes back short.
  if (stem.GetLength() != split || extension.GetLength() != length - split)
    return E_OUTOFMEMORY;
  for (int n = 1;; ++n) {
    CKaText candidate;
    candidate.Format("%s%d%s", static_cast<const char*>(stem), n,
                     static_cast<const char*>(extension));
    if (candidate.IsEmpty())
      return E_OUTOFMEMORY;
    if (claim(candidate, /*first=*/false, claimed) == Claim::kFree) {
      *path = candidate;
      if (path->Compare(candidate) == 0)
        return S_OK;
      give_back(claimed, candidate);
      return E_OUTOFMEMORY;
    }
    if (n == INT_MAX)
      return E_FAIL;
  }
}

HRESULT KaoAttachment::ResolveTarget(BSTR bstrPath, LONG bAutoTag, CKaText* target,
                                     HANDLE* claimed) {
  *claimed = INVALID_HANDLE_VALUE;
  HRESULT hr = MapPathIfRelative(parts_->Server, bstrPath, target);
  if (FAILED(hr) || !bAutoTag)
    return hr;
  hr = AutoTagName(target, claimed);
  if (hr == E_FAIL)
    return report_cannot_open(*target);
  if (hr == HRESULT_FROM_WIN32(ERROR_DIRECTORY))
    return report_folder(*target);
  if (FAILED(hr))
    return hr;
  const int separator = target->ReverseFind('\\');
  if (separator < 0)
    return S_OK;
  // The name saved under is copied straight into FileName. A save whose name cannot be kept
  // fails and gives its claim back, rather than succeed under a name the script cannot see.
  const char* name = static_cast<const char*>(*target) + separator + 1;
  char* block = kaDataDup(name, static_cast<unsigned>(target->GetLength() - separator - 1));
  if (!block) {
    give_back(claimed, *target);
    return E_OUTOFMEMORY;
  }
  ResetText(&record_->FileName, block);
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
    return is_folder(target) ? report_folder(target) : report_cannot_open(target);
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
  else if (is_folder(target))
    return report_folder(target);
  hr = ZipToFile(CLSID_KaFileUpload, record_->Data, record_->Size, target, &record_->ZipSize);
  // The compressed file replaces the claimed empty one; a failure must not leave it behind.
  if (FAILED(hr) && claimed != INVALID_HANDLE_VALUE)
    DeleteFileA(target);
  return hr;
}
