// The server's use of the compression library.
#include "compression.h"

#include "report_error.h"

HRESULT ZipToFile(const CLSID& source, char* data, int size, const char* path, int* zipSize) {
  CKaZlib zlib;
  if (size < 0 || !zlib.Zip2File(data, static_cast<unsigned long>(size), path)) {
    ReportError(source, VtrlMessageText(VtrlMessage::kZipFileFailed), GUID_NULL, 0);
    return E_FAIL;
  }
  *zipSize = static_cast<int>(zlib.m_dwResultSize);
  return S_OK;
}
