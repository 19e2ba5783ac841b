// Bodies as real clients write them (boundaries, header order, Content-Type lines, file names
// in UTF-8 and in code page 949, client paths), kept as data files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "upload_fixture.h"

namespace {

using late_bound::Get;
using late_bound::I4;
using late_bound::Str;

std::string read_body(const char* name) {
  std::ifstream in(std::string(BODIES_DIR) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class BrowserBodies : public UploadFixture {
 protected:
  void TearDown() override {
    PlatformSetACP(949);
    UploadFixture::TearDown();
  }

  // The attachment at position 1 and its text property.
  std::u16string attachment_text(const char16_t* property) {
    return element_text(collection(u"Attachments").Get(), I4(1), property);
  }
};

TEST_F(BrowserBodies, ChromiumOnAUtf8Page) {
  PlatformSetACP(CP_UTF8);
  const std::string body = read_body("chromium_utf8.body");
  ASSERT_EQ(S_OK,
            start(u"multipart/form-data; boundary=----WebKitFormBoundaryq0Ld0Tb5p6XqN2Ug", body));
  ComPtr<IDispatch> items = collection(u"Items");
  EXPECT_EQ(3, count(items.Get()));
  EXPECT_EQ(u"보고서 제목", element_text(items.Get(), Str(u"title"), u"Value"));
  EXPECT_EQ(u"line one\r\nline two", element_text(items.Get(), Str(u"comment"), u"Value"));
  EXPECT_EQ(u"", element_text(items.Get(), Str(u"extra"), u"Value"))
      << "an empty file input is a field";
  EXPECT_EQ(1, count(collection(u"Attachments").Get()));
  EXPECT_EQ(u"보고서.pdf", attachment_text(u"FileName"));
  EXPECT_EQ(u" application/pdf\r\n", attachment_text(u"MimeType"));

  ScopedVariant file;
  ASSERT_EQ(S_OK, Get(collection(u"Attachments").Get(), u"Item", {I4(1)}, file.Receive()));
  ScopedVariant data;
  ASSERT_EQ(S_OK, Get(file.Get().pdispVal, u"Data", {}, data.Receive()));
  void* bytes = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(data.Get().parray, &bytes));
  const size_t start_at = body.find("%PDF-1.4");
  const size_t end_at = body.find("%%EOF\n") + 6;
  EXPECT_EQ(body.substr(start_at, end_at - start_at),
            std::string(static_cast<char*>(bytes), end_at - start_at));
  SafeArrayUnaccessData(data.Get().parray);
}

TEST_F(BrowserBodies, FirefoxOnAnEucKrPage) {
  ASSERT_EQ(S_OK, start(u"multipart/form-data; boundary=----geckoformboundary9d1e6a2c4b7f03e58aa1",
                        read_body("firefox_949.body")));
  ComPtr<IDispatch> items = collection(u"Items");
  EXPECT_EQ(u"한글 제목", element_text(items.Get(), Str(u"title"), u"Value"));
  EXPECT_EQ(u"사진;%22큰%22.jpg", attachment_text(u"FileName")) << "sent escapes stay as sent";
  EXPECT_EQ(u" image/jpeg\r\n", attachment_text(u"MimeType"));
  ScopedVariant values;
  ASSERT_EQ(S_OK, Get(upload_.Get(), u"MultiVal", {Str(u"tag")}, values.Receive()));
  LONG upper = 0;
  SafeArrayGetUBound(values.Get().parray, 1, &upper);
  EXPECT_EQ(2, upper);
}

TEST_F(BrowserBodies, ClientPathsAreCutAtTheLastBackslash) {
  ASSERT_EQ(S_OK, start(u"multipart/form-data; boundary=------------------------d74496d66958873e",
                        read_body("curl_path.body")));
  EXPECT_EQ(u"notes.txt", attachment_text(u"FileName"));
  EXPECT_EQ(u"upfile", attachment_text(u"Name"));
  EXPECT_EQ(u"42", element_text(collection(u"Items").Get(), Str(u"n"), u"Value"));
}

}  // namespace
