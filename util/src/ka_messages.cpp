// The fixed Korean messages of KaMsUtil in code page 949, and their conversion into the
// process's ANSI code page when that is another one.
#include "ka_messages.h"

#include <cstring>

#include "ka_settings.h"
#include "winnls.h"

namespace {

constexpr UINT kMessageCodePage = 949;

}  // namespace

const char* ka_message_949(KaMessage message) {
  switch (message) {
    case KaMessage::kOutOfMemory:
      // "사용 가능한 메모리가 부족합니다."
      return "\xBB\xE7\xBF\xEB \xB0\xA1\xB4\xC9\xC7\xD1 \xB8\xDE\xB8\xF0\xB8\xAE\xB0\xA1 "
             "\xBA\xCE\xC1\xB7\xC7\xD5\xB4\xCF\xB4\xD9.";
    case KaMessage::kFileInUse:
      // "다른 프로세스가 파일을 사용하고 있으므로 파일에 접근 할 수 없습니다."
      return "\xB4\xD9\xB8\xA5 \xC7\xC1\xB7\xCE\xBC\xBC\xBD\xBA\xB0\xA1 \xC6\xC4\xC0\xCF\xC0\xBB "
             "\xBB\xE7\xBF\xEB\xC7\xCF\xB0\xED \xC0\xD6\xC0\xB8\xB9\xC7\xB7\xCE "
             "\xC6\xC4\xC0\xCF\xBF\xA1 \xC1\xA2\xB1\xD9 \xC7\xD2 \xBC\xF6 "
             "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.";
    case KaMessage::kDirectoryNotEmpty:
      // "디렉토리를 삭제할 수 없습니다. 디렉토리가 비워져 있지 않습니다."
      return "\xB5\xF0\xB7\xBA\xC5\xE4\xB8\xAE\xB8\xA6 \xBB\xE8\xC1\xA6\xC7\xD2 \xBC\xF6 "
             "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9. \xB5\xF0\xB7\xBA\xC5\xE4\xB8\xAE\xB0\xA1 "
             "\xBA\xF1\xBF\xF6\xC1\xAE \xC0\xD6\xC1\xF6 \xBE\xCA\xBD\xC0\xB4\xCF\xB4\xD9.";
    case KaMessage::kPathNotFound:
      // "파일 또는 디렉토리 경로를 찾을 수 없습니다."
      return "\xC6\xC4\xC0\xCF \xB6\xC7\xB4\xC2 \xB5\xF0\xB7\xBA\xC5\xE4\xB8\xAE "
             "\xB0\xE6\xB7\xCE\xB8\xA6 \xC3\xA3\xC0\xBB \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.";
  }
  return "";
}

void ka_set_error(KaMessage message) {
  const char* text = ka_message_949(message);
  char converted[kKaTextFieldSize];
  if (GetACP() != kMessageCodePage) {
    WCHAR wide[kKaTextFieldSize];
    int units = MultiByteToWideChar(kMessageCodePage, 0, text, -1, wide, kKaTextFieldSize);
    int bytes = units > 0 ? WideCharToMultiByte(CP_ACP, 0, wide, units, converted, kKaTextFieldSize,
                                                nullptr, nullptr)
                          : 0;
    if (bytes > 0)
      text = converted;
  }
  ka_set_shared_text(ka_settings()->lastError, text);
}
