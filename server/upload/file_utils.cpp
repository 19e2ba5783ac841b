// The file utilities of KaFileUpload: IsFileExist, DeleteFile, DeleteFiles, CopyFile, MoveFile,
// MakeDir and RemoveDir. Every path goes through MapPathIfRelative first.
#include "KaFile.h"
#include "map_path.h"
#include "report_error.h"
#include "upload.h"

namespace {

void report(VtrlMessage message) {
  ReportError(CLSID_KaFileUpload, VtrlMessageText(message), GUID_NULL, 0);
}

}  // namespace

HRESULT KaFileUpload::IsFileExist(BSTR bstrFile, LONG* pVal) {
  if (!pVal)
    return E_POINTER;
  *pVal = 0;
  CKaText path;
  if (SUCCEEDED(MapPathIfRelative(Server.Get(), bstrFile, &path)) && kaIsFileExist(path) == 0)
    *pVal = 1;
  return S_OK;
}

HRESULT KaFileUpload::DeleteFile(BSTR bstrPath) {
  CKaText path;
  const HRESULT hr = MapPathIfRelative(Server.Get(), bstrPath, &path);
  if (FAILED(hr))
    return hr;
  // The system function, not this member (which the system header may rename DeleteFileA).
  if (::DeleteFileA(path))
    return S_OK;
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      report(VtrlMessage::kFileInUse);
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      report(VtrlMessage::kPathNotFound);
      break;
    default:
      break;
  }
  return E_INVALIDARG;
}

HRESULT KaFileUpload::DeleteFiles(BSTR bstrPath, BSTR bstrPatern) {
  CKaText pattern;
  HRESULT hr = BstrToAcp(bstrPatern, &pattern);
  if (FAILED(hr))
    return hr;
  CKaText dir;
  hr = MapPathIfRelative(Server.Get(), bstrPath, &dir);
  if (FAILED(hr))
    return hr;
  if (kaRemoveFiles(dir, pattern) != 0)
    ReportError(CLSID_KaFileUpload, kaGetErrString(), GUID_NULL, 0);
  return S_OK;
}

HRESULT KaFileUpload::CopyFile(BSTR bstrPath, BSTR bstrDestPath, LONG bFailIfExists) {
  CKaText source;
  HRESULT hr = MapPathIfRelative(Server.Get(), bstrPath, &source);
  if (FAILED(hr))
    return hr;
  CKaText dest;
  hr = MapPathIfRelative(Server.Get(), bstrDestPath, &dest);
  if (FAILED(hr))
    return hr;
  if (!kaCopyFile(source, dest, bFailIfExists))
    report(VtrlMessage::kPathNotFound);
  return S_OK;
}

HRESULT KaFileUpload::MoveFile(BSTR bstrPath, BSTR bstrDestPath) {
  CKaText source;
  HRESULT hr = MapPathIfRelative(Server.Get(), bstrPath, &source);
  if (FAILED(hr))
    return hr;
  CKaText dest;
  hr = MapPathIfRelative(Server.Get(), bstrDestPath, &dest);
  if (FAILED(hr))
    return hr;
  if (!kaMoveFile(source, dest))
    report(VtrlMessage::kPathNotFound);
  return S_OK;
}

HRESULT KaFileUpload::MakeDir(BSTR bstrDir) {
  CKaText dir;
  const HRESULT hr = MapPathIfRelative(Server.Get(), bstrDir, &dir);
  if (FAILED(hr))
    return hr;
  return kaCreateDirectory(dir) == 0 ? S_OK : E_FAIL;
}

HRESULT KaFileUpload::RemoveDir(BSTR bstrDir) {
  CKaText dir;
  const HRESULT hr = MapPathIfRelative(Server.Get(), bstrDir, &dir);
  if (FAILED(hr))
    return hr;
  return kaRemoveDirectory(dir) == 0 ? S_OK : E_FAIL;
}
