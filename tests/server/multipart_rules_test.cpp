// Valid multipart bodies that are not shaped like a browser's: delimiters only at line starts,
// header parameters read as parameters, case-insensitive names, forms without parts, and file
// names cut to a bare name.
#include <gtest/gtest.h>

#include <string>

#include "upload_fixture.h"

namespace {

using late_bound::Get;
using late_bound::I4;
using late_bound::Str;

std::string part(const std::string& boundary, const std::string& headers,
                 const std::string& content) {
  return "--" + boundary + "\r\n" + headers + "\r\n\r\n" + content + "\r\n";
}

std::string closing(const std::string& boundary) {
  return "--" + boundary + "--\r\n";
}

std::u16string type_for(const std::string& boundary) {
  return u"multipart/form-data; boundary=" + std::u16string(boundary.begin(), boundary.end());
}

class MultipartRules : public UploadFixture {
 protected:
  // OnStartPage of a new upload object (one object serves one page).
  HRESULT parse(const std::u16string& content_type, const std::string& body) {
    upload_.Reset();
    CLSID clsid{};
    CLSIDFromProgID(u"Vantrel.FileUpload", &clsid);
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                        reinterpret_cast<void**>(upload_.Receive()));
    return FAILED(hr) ? hr : start(content_type, body);
  }
  // The bytes of the element at position index of the collection.
  std::string data_of(const char16_t* collection_name, LONG index) {
    ScopedVariant element;
    if (FAILED(Get(collection(collection_name).Get(), u"Item", {I4(index)}, element.Receive())))
      return "<none>";
    ScopedVariant data;
    if (FAILED(Get(element.Get().pdispVal, u"Data", {}, data.Receive())) ||
        data.Type() != (VT_ARRAY | VT_UI1))
      return "<no data>";
    LONG upper = -1;
    SafeArrayGetUBound(data.Get().parray, 1, &upper);
    void* bytes = nullptr;
    SafeArrayAccessData(data.Get().parray, &bytes);
    std::string out(static_cast<char*>(bytes), static_cast<size_t>(upper + 1));
    SafeArrayUnaccessData(data.Get().parray);
    return out;
  }
  std::u16string file_name(LONG index) {
    return element_text(collection(u"Attachments").Get(), I4(index), u"FileName");
  }
  // The file name a one-part body with this filename parameter gives, or "<item>" when the part
  // is filed as a field.
  std::u16string saved_name(const std::string& sent) {
    const std::string body =
        part("BB", "Content-Disposition: form-data; name=\"f\"; filename=\"" + sent + "\"", "x") +
        closing("BB");
    if (parse(type_for("BB"), body) != S_OK)
      return u"<failed>";
    if (count(collection(u"Attachments").Get()) == 0)
      return count(collection(u"Items").Get()) == 1 ? u"<item>" : u"<lost>";
    return file_name(1);
  }
};

TEST_F(MultipartRules, ADelimiterCountsOnlyAtTheStartOfALine) {
  const std::string content = "line one --AaB03x\r\nline three";
  const std::string body =
      part("AaB03x",
           "Content-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\n"
           "Content-Type: text/plain",
           content) +
      part("AaB03x", "Content-Disposition: form-data; name=\"after\"", "2") + closing("AaB03x");
  ASSERT_EQ(S_OK, parse(type_for("AaB03x"), body));
  EXPECT_EQ(content, data_of(u"Attachments", 1)) << "nothing cut inside a line";
  EXPECT_EQ(u"2", element_text(collection(u"Items").Get(), Str(u"after"), u"Value"));

  // Content holding "--" and the boundary behind other bytes, a zero byte among them.
  const std::string tricky = std::string("A--BB and \0--BB\r\n-- BB", 22);
  ASSERT_EQ(
      S_OK,
      parse(type_for("BB"),
            part("BB", "Content-Disposition: form-data; name=\"t\"; filename=\"t\"", tricky) +
                part("BB", "Content-Disposition: form-data; name=\"u\"", "ok") + closing("BB")));
  EXPECT_EQ(tricky, data_of(u"Attachments", 1));
  EXPECT_EQ(u"ok", element_text(collection(u"Items").Get(), Str(u"u"), u"Value"));
}

TEST_F(MultipartRules, APreambleIsNoPart) {
  const std::string body = "This is a preamble.\r\n\r\nname=\"ghost\"\r\n" +
                           part("BB", "Content-Disposition: form-data; name=\"real\"", "1") +
                           closing("BB") + "an epilogue --BB\r\n";
  ASSERT_EQ(S_OK, parse(type_for("BB"), body));
  ComPtr<IDispatch> items = collection(u"Items");
  EXPECT_EQ(1, count(items.Get()));
  EXPECT_EQ(u"real", element_text(items.Get(), I4(1), u"Name"));
  EXPECT_EQ(u"1", element_text(items.Get(), I4(1), u"Value"));
}

TEST_F(MultipartRules, HeaderParametersAreReadAsParameters) {
  const std::string body =
      part("BB", "Content-Disposition: form-data; filename=\"secret.txt\"; name=\"files\"", "s") +
      part("BB",
           "Content-Disposition: form-data; name=\"f\"; note=\"x; filename=evil.exe\"; "
           "filename=\"safe.txt\"",
           "t") +
      part("BB", "Content-Disposition: form-data; NAME=\"upper\"", "u") +
      part("BB", "Content-Disposition: form-data; name=field1", "v") +
      part("BB", "Content-Disposition: form-data;name=tight;filename=plain.bin", "w") +
      part("BB", "Content-Disposition: form-data; names=\"no\"; name = \"spaced\"", "z") +
      closing("BB");
  ASSERT_EQ(S_OK, parse(type_for("BB"), body));
  ComPtr<IDispatch> attachments = collection(u"Attachments");
  ASSERT_EQ(3, count(attachments.Get()));
  EXPECT_EQ(u"files", element_text(attachments.Get(), I4(1), u"Name"));
  EXPECT_EQ(u"secret.txt", file_name(1));
  EXPECT_EQ(u"f", element_text(attachments.Get(), I4(2), u"Name"));
  EXPECT_EQ(u"safe.txt", file_name(2));
  EXPECT_EQ(u"tight", element_text(attachments.Get(), I4(3), u"Name"));
  EXPECT_EQ(u"plain.bin", file_name(3));
  ComPtr<IDispatch> items = collection(u"Items");
  EXPECT_EQ(u"u", element_text(items.Get(), Str(u"upper"), u"Value"));
  EXPECT_EQ(u"v", element_text(items.Get(), Str(u"field1"), u"Value"))
      << "an unquoted value ends at the line end";
  EXPECT_EQ(u"z", element_text(items.Get(), Str(u"spaced"), u"Value"));
}

TEST_F(MultipartRules, HeaderAndParameterNamesIgnoreCase) {
  const std::string body = part("xyz",
                                "content-disposition: form-data; name=\"doc\"; filename=\"d.txt\""
                                "\r\ncontent-type: text/plain",
                                "text") +
                           closing("xyz");
  ASSERT_EQ(S_OK, parse(u"Multipart/Form-Data; BOUNDARY=xyz", body));
  ASSERT_EQ(1, count(collection(u"Attachments").Get()));
  EXPECT_EQ(u" text/plain\r\n", element_text(collection(u"Attachments").Get(), I4(1), u"MimeType"))
      << "the raw rest of the line, as for the usual spelling";
  // A boundary inside another parameter's quoted value is not the boundary.
  ASSERT_EQ(S_OK, parse(u"multipart/form-data; note=\"boundary=zz\"; boundary=xyz", body));
  EXPECT_EQ(1, count(collection(u"Attachments").Get()));
}

TEST_F(MultipartRules, AFormWithoutPartsIsAnEmptyRequest) {
  ASSERT_EQ(S_OK, parse(type_for("BB"), closing("BB")));
  EXPECT_EQ(0, count(collection(u"Items").Get()));
  EXPECT_EQ(0, count(collection(u"Attachments").Get()));
  EXPECT_EQ(S_OK, parse(type_for("BB"), "--BB--")) << "without the final line end";
  EXPECT_EQ(S_OK, parse(type_for("BB"), "preamble\r\n--BB--\r\n"));
  // Still malformed: no delimiter at all, or a first delimiter and nothing after it.
  EXPECT_EQ(E_FAIL, parse(type_for("BB"), "no delimiter here\r\n"));
  EXPECT_EQ(E_FAIL, parse(type_for("BB"), "--BB"));
  EXPECT_EQ(E_FAIL, parse(type_for("BB"), "--BB\r\n"));
}

// The boundary is read from at most 255 bytes: a boundary of that length still cuts the body
// (its delimiters are the longest the parser holds); a longer one is cut short, so the body's
// closing delimiter is no longer one and the body has a part without an end.
TEST_F(MultipartRules, BoundariesUpToTheLongestTheContentTypeGives) {
  for (const size_t length : {size_t{1}, size_t{70}, size_t{255}}) {
    SCOPED_TRACE(length);
    std::string boundary;
    for (size_t i = 0; i < length; ++i)
      boundary += static_cast<char>('a' + i % 26);
    const std::string body =
        part(boundary, "Content-Disposition: form-data; name=\"f\"; filename=\"f.bin\"", "one") +
        part(boundary, "Content-Disposition: form-data; name=\"g\"", "two") + closing(boundary);
    ASSERT_EQ(S_OK, parse(type_for(boundary), body));
    EXPECT_EQ("one", data_of(u"Attachments", 1));
    EXPECT_EQ(u"two", element_text(collection(u"Items").Get(), I4(1), u"Value"));
  }
  const std::string too_long(256, 'q');
  EXPECT_EQ(E_FAIL, parse(type_for(too_long),
                          part(too_long, "Content-Disposition: form-data; name=\"g\"", "two") +
                              closing(too_long)));
}

TEST_F(MultipartRules, FileNamesAreBareNames) {
  EXPECT_EQ(u"x.txt", saved_name("a/../../../x.txt"));
  EXPECT_EQ(u"x", saved_name("../x"));
  EXPECT_EQ(u"x", saved_name("/etc/x"));
  EXPECT_EQ(u"a.txt", saved_name("C:\\Docs\\a.txt"));
  EXPECT_EQ(u"a.txt", saved_name("docs/a.txt"));
  EXPECT_EQ(u"x", saved_name("C:x")) << "a drive is no part of a name";
  EXPECT_EQ(u"<item>", saved_name(".."));
  EXPECT_EQ(u"<item>", saved_name("."));
  EXPECT_EQ(u"<item>", saved_name("a/.."));
  EXPECT_EQ(u"<item>", saved_name("C:\\Docs\\"));
  EXPECT_EQ(u"<item>", saved_name("C:"));
  EXPECT_EQ(u"..a", saved_name("..a")) << "dots inside a name stay";
  // A zero byte ends the header line's text; a line feed ends the line and the value with it.
  EXPECT_EQ(u"a", saved_name(std::string("a\0/../x", 7)));
  EXPECT_EQ(u"a", saved_name("a\n/../x"));
}

TEST_F(MultipartRules, WhatStaysAsItWas) {
  // filename* names no file; an empty file input is a field; an unquoted boundary ends at ';'.
  const std::string body =
      part("BB", "Content-Disposition: form-data; filename*=utf-8''a%20b.txt; name=\"star\"", "s") +
      part("BB",
           "Content-Disposition: form-data; name=\"empty\"; filename=\"\"\r\n"
           "Content-Type: application/octet-stream",
           "") +
      closing("BB");
  ASSERT_EQ(S_OK, parse(u"multipart/form-data; boundary=BB; charset=UTF-8", body));
  EXPECT_EQ(0, count(collection(u"Attachments").Get()));
  ComPtr<IDispatch> items = collection(u"Items");
  EXPECT_EQ(u"s", element_text(items.Get(), Str(u"star"), u"Value"));
  EXPECT_EQ(u"", element_text(items.Get(), Str(u"empty"), u"Value"));

  // A header line of 4095 bytes or more ends the header block: it and what follows is content.
  const std::string long_line = "X-Long: " + std::string(4100, 'a');
  const std::string long_body =
      part("BB", "Content-Disposition: form-data; name=\"n\"; filename=\"n\"\r\n" + long_line,
           "c") +
      closing("BB");
  ASSERT_EQ(S_OK, parse(type_for("BB"), long_body));
  EXPECT_EQ(long_line + "\r\n\r\nc", data_of(u"Attachments", 1));
}

TEST_F(MultipartRules, ABodyOfTooManyPartsFailsCleanly) {
  constexpr LONG kMaxUploadParts = 100000;  // the documented limit
  std::string many;
  for (LONG i = 0; i < kMaxUploadParts; ++i)
    many += "--BB\r\n\r\n\r\n";
  late_bound::TakeErrorDescription();
  ASSERT_EQ(S_OK, parse(type_for("BB"), many + closing("BB")));
  EXPECT_EQ(kMaxUploadParts, count(collection(u"Items").Get()));
  EXPECT_EQ(E_FAIL, parse(type_for("BB"), many + "--BB\r\n\r\n\r\n" + closing("BB")));
  EXPECT_EQ(u"폼 데이터의 항목이 너무 많습니다.", late_bound::TakeErrorDescription());
  EXPECT_EQ(0, count(collection(u"Items").Get()));
}

}  // namespace
