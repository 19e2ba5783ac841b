// ReportError and the server's fixed messages. The messages are kept here only, as UTF-8
// source text, and handed out in the ANSI code page of the process.
#include "report_error.h"

#include <string.h>

namespace {

const char* utf8_text(VtrlMessage message) {
  switch (message) {
    case VtrlMessage::kNotMultipart:
      return "폼태그의 enctype이 multipart/form-data로 지정되어 있지 않습니다.";
    case VtrlMessage::kOutOfMemory:
      return "사용 가능한 메모리가 부족합니다.";
    case VtrlMessage::kFileInUse:
      return "다른 프로세스가 파일을 사용하고 있으므로 파일에 접근 할 수 없습니다.";
    case VtrlMessage::kPathNotFound:
      return "파일 또는 디렉토리 경로를 찾을 수 없습니다.";
    case VtrlMessage::kCannotOpenFile:
      return "파일이 없거나 경로가 틀립니다. %s 파일을 오픈할 수 없습니다.";
    case VtrlMessage::kTargetIsFolder:
      return "%s 경로는 폴더이므로 파일로 저장할 수 없습니다.";
    case VtrlMessage::kControlInFileName:
      return "파일 이름이나 경로에 제어 문자가 들어 있어 응답 헤더에 쓸 수 없습니다.";
    case VtrlMessage::kZipFileFailed:
      return "파일의 경로가 틀리거나 데이터를 압축하는 도중 오류가 발생했습니다.";
    case VtrlMessage::kCompressFailed:
      return "데이터를 압축하는 도중 오류가 발생했습니다.";
    case VtrlMessage::kUnzipFileFailed:
      return "파일의 경로가 틀리거나 데이터를 압축 해제하는 도중 오류가 발생했습니다.";
    case VtrlMessage::kUncompressFailed:
      return "데이터를 압축 해제하는 도중 오류가 발생했습니다.";
    case VtrlMessage::kTooManyParts:
      return "폼 데이터의 항목이 너무 많습니다.";
  }
  return "";
}

}  // namespace

CKaText VtrlMessageText(VtrlMessage message) {
  const char* utf8 = utf8_text(message);
  const int bytes = static_cast<int>(strlen(utf8));
  OLECHAR wide[256];
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, bytes, wide, 256);
  const int narrow = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
  CKaText text;
  char* buffer = text.GetBuffer(static_cast<unsigned>(narrow > 0 ? narrow : 0));
  if (buffer && narrow > 0)
    WideCharToMultiByte(CP_ACP, 0, wide, units, buffer, narrow, nullptr, nullptr);
  return text;
}

HRESULT ReportError(const CLSID& clsid, const char* description, const IID& iid, HRESULT hr) {
  if (!description)
    return AtlSetErrorInfo(clsid, nullptr, 0, nullptr, iid, hr, nullptr);
  // The wide buffer holds as many units as the narrow text has bytes, terminator included.
  const int size = static_cast<int>(strlen(description)) + 1;
  auto* wide = static_cast<OLECHAR*>(CoTaskMemAlloc(static_cast<size_t>(size) * sizeof(OLECHAR)));
  if (!wide)
    return E_OUTOFMEMORY;
  MultiByteToWideChar(CP_ACP, 0, description, size, wide, size);
  const HRESULT result = AtlSetErrorInfo(clsid, wide, 0, nullptr, iid, hr, nullptr);
  CoTaskMemFree(wide);
  return result;
}
