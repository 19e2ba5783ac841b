// The multipart/form-data parser of the upload object: one forward pass over the request body
// with one read position, cutting it at the delimiters into FormPart records.
#include <string.h>

#include <algorithm>
#include <memory>

#include "KaString.h"
#include "header_params.h"
#include "report_error.h"
#include "scoped_safearray.h"
#include "scoped_variant.h"
#include "upload.h"

namespace {

// Longest header line, line feed included.
constexpr int kLineWindow = 4095;

// Reads the name, file name and content type that a header line gives.
HRESULT read_header_line(const char* line, CKaText* name, CKaText* file_name, CKaText* mime_type) {
  ParameterWanted wanted[] = {{"name", ValueWindow::kFromKeyword, name},
                              {"filename", ValueWindow::kFromKeyword, file_name}};
  HRESULT hr = ReadParameters(line, wanted, 2);
  if (SUCCEEDED(hr) && wanted[1].found)
    hr = CutClientPath(file_name);
  if (FAILED(hr))
    return hr;
  // The raw rest of the line after the header name, its leading blank and line end included.
  if (IsHeaderLine(line, "Content-Type:")) {
    const char* type = line + 13;
    *mime_type = type;
    if (strcmp(*mime_type, type) != 0)
      return E_OUTOFMEMORY;
  }
  return S_OK;
}

// Offset of the first line feed among the n bytes at p, or -1 (also when n < 1).
int find_line_feed(const char* p, int n) {
  const void* hit = n > 0 ? memchr(p, '\n', static_cast<size_t>(n)) : nullptr;
  return hit ? static_cast<int>(static_cast<const char*>(hit) - p) : -1;
}

}  // namespace

KaFileUpload::PartDelimiters::PartDelimiters(const CKaText& boundary) {
  // ReadParameters never stores a longer boundary; the bound only keeps the copies in place.
  const size_t length =
      std::min(static_cast<size_t>(boundary.GetLength()), static_cast<size_t>(kParameterWindow));
  memcpy(delimiter, "\r\n--", 4);
  memcpy(delimiter + 4, boundary.GetData(), length);
  delimiter[4 + length] = '\0';
  memcpy(closing, "--", 2);
  memcpy(closing + 2, boundary.GetData(), length);
  memcpy(closing + 2 + length, "--", 3);
  delimiter_length = static_cast<int>(4 + length);
  closing_length = static_cast<int>(4 + length);
}

HRESULT KaFileUpload::ParseBody(const char* contentType) {
  // The body is cut where it stands, in the array the request handed out: the parts copy
  // their contents, and the body itself is never copied.
  ScopedVariant data;
  SAFEARRAY* array = nullptr;
  int length = 0;
  HRESULT hr = ReadBody(data.Receive(), &array, &length);
  if (FAILED(hr))
    return hr;
  const SafeArrayDataScope bytes(array);
  if (FAILED(bytes.status()))
    return bytes.status();
  // The delimiter is a line that starts with "--" and the boundary: CR LF "--" boundary, with
  // the line end of the line before it; the closing one ends in "--" as well.
  CKaText boundary;
  ParameterWanted wanted{"boundary", ValueWindow::kFromValue, &boundary};
  if (FAILED(ReadParameters(contentType, &wanted, 1)))
    return E_OUTOFMEMORY;
  const PartDelimiters marks(boundary);
  Body = bytes.data<const char>();
  BodyLength = length;
  ParsePos = 0;
  hr = CutParts(marks);
  Body = nullptr;
  BodyLength = 0;
  return hr;
}

HRESULT KaFileUpload::CutParts(const PartDelimiters& marks) {
  int last_part = 0;
  HRESULT hr = ReadFirstDelimiter(marks, &last_part);
  if (FAILED(hr))
    return hr;
  char line[kLineWindow + 1];
  while (!last_part) {
    // Every part costs a record, its texts and an element object (about 300 bytes) whatever
    // its size: a body of tiny parts would cost many times its own size.
    if (Parts->Items.size() + Parts->Attachments.size() >= kMaxUploadParts) {
      ReportError(CLSID_KaFileUpload, VtrlMessageText(VtrlMessage::kTooManyParts), GUID_NULL, 0);
      return E_FAIL;
    }
    // The headers are read into the part's own texts; the record is dropped unless it is
    // appended.
    std::unique_ptr<FormPart> part(FormPart::Create());
    if (!part)
      return E_OUTOFMEMORY;
    while (ReadHeaderLine(line) > 0) {
      if (strcmp(line, "\r\n") == 0)
        break;
      hr = read_header_line(line, &part->Name, &part->FileName, &part->MimeType);
      if (FAILED(hr))
        return hr;
    }
    int size = 0;
    part->Data = ReadPartData(marks, &size, &last_part);
    if (!part->Data)
      return E_FAIL;
    part->Size = size;
    if (!Parts->Append(part.get()))
      return E_OUTOFMEMORY;
    part.release();
  }
  return S_OK;
}

HRESULT KaFileUpload::ReadFirstDelimiter(const PartDelimiters& marks, int* lastPart) {
  // The first delimiter may also stand at the very start of the body; whatever comes before it
  // (a preamble) is no part.
  const char* dashes = marks.delimiter + 2;
  const int dashes_length = marks.delimiter_length - 2;
  int at = 0;
  if (BodyLength < dashes_length || memcmp(Body, dashes, static_cast<size_t>(dashes_length)) != 0) {
    at = FindInBody(marks.delimiter, marks.delimiter_length);
    if (at < 0)
      return E_FAIL;
    at += 2;
  }
  ParsePos = at;
  // A body that is only the closing delimiter is a form without parts; another first delimiter
  // needs its line end.
  const bool closing = StartsWithClosing(marks);
  return PassDelimiterLine(marks, lastPart) || closing ? S_OK : E_FAIL;
}

bool KaFileUpload::PassDelimiterLine(const PartDelimiters& marks, int* lastPart) {
  const int b = find_line_feed(Body + ParsePos, BodyLength - ParsePos);
  if (b < 0) {
    *lastPart = 1;
    return false;
  }
  if (StartsWithClosing(marks))
    *lastPart = 1;
  ParsePos += b + 1;
  return true;
}

bool KaFileUpload::StartsWithClosing(const PartDelimiters& marks) const {
  const int length = marks.closing_length;
  return length <= BodyLength - ParsePos &&
         memcmp(Body + ParsePos, marks.closing, static_cast<size_t>(length)) == 0;
}

HRESULT KaFileUpload::ReadBody(VARIANT* data, SAFEARRAY** array, int* length) {
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
  // The count is [in, out]: the request says in it how many bytes it read.
  hr = Request->BinaryRead(count.AsInOut(), data);
  if (FAILED(hr))
    return hr;
  // Anything but a one-dimensional byte array is no body.
  const VARIANT& v = *data;
  SAFEARRAY* bytes = v.vt == (VT_ARRAY | VT_UI1)                           ? v.parray
                     : v.vt == (VT_BYREF | VT_ARRAY | VT_UI1) && v.pparray ? *v.pparray
                                                                           : nullptr;
  if (!bytes || SafeArrayGetDim(bytes) != 1)
    return E_FAIL;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(bytes, 1, &lower);
  SafeArrayGetUBound(bytes, 1, &upper);
  const long long n = static_cast<long long>(upper) - lower + 1;
  if (n < 0 || n > 0x7FFFFFFE)
    return E_FAIL;
  *array = bytes;
  *length = static_cast<int>(n);
  return S_OK;
}

// kaFindData compares the candidates in the last bytes of what it searches past the length it
// is given, and the body has no zero byte after it to stop that comparison. It is given the
// body less the pattern's length but one: every occurrence that lies wholly in the body still
// starts within that, and no comparison runs past the body.
int KaFileUpload::FindInBody(const char* pattern, int length) const {
  const int span = BodyLength - ParsePos - (length - 1);
  return span > 0 ? kaFindData(Body + ParsePos, span, pattern) : -1;
}

int KaFileUpload::ReadHeaderLine(char* line) {
  int window = BodyLength - ParsePos;
  if (window > kLineWindow)
    window = kLineWindow;
  const int n = find_line_feed(Body + ParsePos, window);
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
  // The content ends where the delimiter's CR LF starts.
  const int a = FindInBody(marks.delimiter, marks.delimiter_length);
  if (a < 0)
    return nullptr;
  char* copy = kaDataDup(Body + ParsePos, static_cast<unsigned>(a));
  if (!copy) {
    ReportError(CLSID_KaFileUpload, VtrlMessageText(VtrlMessage::kOutOfMemory), GUID_NULL, 0);
    return nullptr;
  }
  *size = a;
  ParsePos += a + 2;
  PassDelimiterLine(marks, lastPart);
  return copy;
}
