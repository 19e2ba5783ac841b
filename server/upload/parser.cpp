// The multipart/form-data parser of the upload object: one forward pass over the request body
// with one read position, cutting it at the delimiters into FormPart records.
#include <string.h>

#include "KaString.h"
#include "report_error.h"
#include "scoped_variant.h"
#include "upload.h"

namespace {

// Longest header line, line feed included.
constexpr int kLineWindow = 4095;

// The boundary parameter of a content type. A quoted value is the text between its quotes; an
// unquoted one is a token and ends at ';' or white space (a token cannot hold them).
CKaText boundary_of(const char* content_type) {
  CKaText boundary;
  const int at = kaFindString(content_type, "boundary=");
  if (at < 0)
    return boundary;
  const char* value = content_type + at + 9;
  if (*value == '"') {
    boundary = kaExtractStr(value, "\"", "\"");
    return boundary;
  }
  size_t n = strcspn(value, "; \t\r\n");
  if (n > 255)
    n = 255;
  boundary = CKaText(value).Left(static_cast<int>(n));
  return boundary;
}

// Swaps the blocks of two texts.
void exchange_texts(CKaText* a, CKaText* b) {
  char* block = a->GetData();
  a->SetData(b->GetData());
  b->SetData(block);
}

}  // namespace

HRESULT KaFileUpload::ParseBody(const char* contentType) {
  HRESULT hr = ReadBody();
  if (FAILED(hr))
    return hr;
  ParsePos = 0;  // each body is read from its start
  // The delimiter ("--" and the boundary) and the closing one ("--", boundary, "--"), made once.
  const CKaText boundary = boundary_of(contentType);
  PartDelimiters marks;
  marks.delimiter.Format("--%s", static_cast<const char*>(boundary));
  marks.closing.Format("--%s--", static_cast<const char*>(boundary));
  char line[kLineWindow + 1];
  int last_part = 0;
  // The texts of the part being read. They go into its record by exchange with the record's
  // own empty texts, which then start the next part: no text is copied or allocated twice.
  CKaText name;
  CKaText file_name;
  CKaText mime_type;
  while (!last_part) {
    while (ReadHeaderLine(line) > 0) {
      if (strcmp(line, "\r\n") == 0)
        break;
      const int name_at = kaFindString(line, "name=");
      if (name_at >= 0)
        name = kaExtractStr(line + name_at, "\"", "\"");
      const int file_at = kaFindString(line, "filename=");
      if (file_at >= 0) {
        file_name = kaExtractStr(line + file_at, "\"", "\"");
        const int slash = file_name.ReverseFind('\\');
        if (slash >= 0)
          file_name = file_name.Mid(slash + 1);
      }
      const int type_at = kaFindString(line, "Content-Type:");
      if (type_at >= 0)
        mime_type = line + type_at + 13;
    }
    int size = 0;
    char* data = ReadPartData(marks, &size, &last_part);
    if (!data)
      return E_FAIL;
    FormPart* part = FormPart::Create();
    if (!part) {
      kaFreeString(&data);
      return E_OUTOFMEMORY;
    }
    exchange_texts(&part->FileName, &file_name);
    if (!Parts->Append(part)) {
      delete part;
      kaFreeString(&data);
      return E_OUTOFMEMORY;
    }
    exchange_texts(&part->Name, &name);
    exchange_texts(&part->MimeType, &mime_type);
    part->Data = data;
    part->Size = size;
  }
  return S_OK;
}

HRESULT KaFileUpload::ReadBody() {
  LONG total = 0;
  HRESULT hr = Request->get_TotalBytes(&total);
  if (FAILED(hr))
    return hr;
  ScopedVariant count;
  {
    VARIANT c;
    VariantInit(&c);
    c.vt = VT_I4;
    c.lVal = total;
    count.Reset(c);
  }
  ScopedVariant data;
  hr = Request->BinaryRead(count.AsInput(), data.Receive());
  if (FAILED(hr))
    return hr;
  // Anything but a one-dimensional byte array is no body.
  const VARIANT& v = data.Get();
  SAFEARRAY* array = v.vt == (VT_ARRAY | VT_UI1)                           ? v.parray
                     : v.vt == (VT_BYREF | VT_ARRAY | VT_UI1) && v.pparray ? *v.pparray
                                                                           : nullptr;
  if (!array || SafeArrayGetDim(array) != 1)
    return E_FAIL;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  const long long length = static_cast<long long>(upper) - lower + 1;
  if (length < 0 || length > 0x7FFFFFFE)
    return E_FAIL;
  void* bytes = nullptr;
  hr = SafeArrayAccessData(array, &bytes);
  if (FAILED(hr))
    return hr;
  kaFreeString(&Body);
  Body = kaDataDup(bytes, static_cast<unsigned>(length));
  SafeArrayUnaccessData(array);
  if (!Body) {
    BodyLength = 0;
    return E_OUTOFMEMORY;
  }
  BodyLength = static_cast<int>(length);
  return S_OK;
}

int KaFileUpload::ReadHeaderLine(char* line) {
  int window = BodyLength - ParsePos;
  if (window > kLineWindow)
    window = kLineWindow;
  const int n = kaFindData(Body + ParsePos, window, "\n");
  if (n <= 0)
    return n;
  // The copy stops early at a zero byte of the body.
  const char* from = Body + ParsePos;
  const void* zero = memchr(from, '\0', static_cast<size_t>(n) + 1);
  const size_t k = zero ? static_cast<size_t>(static_cast<const char*>(zero) - from)
                        : static_cast<size_t>(n) + 1;
  memcpy(line, from, k);
  line[k] = '\0';
  line[n + 1] = '\0';
  ParsePos += n + 1;
  return n;
}

char* KaFileUpload::ReadPartData(const PartDelimiters& marks, int* size, int* lastPart) {
  const CKaText& delimiter = marks.delimiter;
  const int a = kaFindData(Body + ParsePos, BodyLength - ParsePos, delimiter);
  // A delimiter right at, or one byte after, the read position leaves no room for the CR LF
  // that precedes it: no part content.
  if (a < 2)
    return nullptr;
  char* copy = kaDataDup(Body + ParsePos, static_cast<unsigned>(a));
  if (!copy) {
    ReportError(CLSID_KaFileUpload, VtrlMessageText(VtrlMessage::kOutOfMemory), GUID_NULL, 0);
    return nullptr;
  }
  copy[a - 2] = '\0';
  *size = a - 2;
  ParsePos += a;
  const int rest = BodyLength - ParsePos;
  const int b = kaFindData(Body + ParsePos, rest, "\n");
  if (b < 0) {
    *lastPart = 1;
    return copy;
  }
  const CKaText& closing = marks.closing;
  const int closing_length = closing.GetLength();
  if (closing_length <= rest &&
      memcmp(Body + ParsePos, closing.GetData(), static_cast<size_t>(closing_length)) == 0)
    *lastPart = 1;
  ParsePos += b + 1;
  return copy;
}
