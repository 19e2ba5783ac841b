// A fixture for tests that touch files: the upload fixture with drive C: standing for a fresh
// temporary directory, a page whose body carries form fields and files, and helpers for the
// files on both sides of that drive.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "upload_fixture.h"

class FileFixture : public UploadFixture {
 public:
  static constexpr char kBoundary[] = "----FileFixtureBoundary9f2";
  static constexpr char16_t kContentType[] =
      u"multipart/form-data; boundary=----FileFixtureBoundary9f2";

  void SetUp() override {
    UploadFixture::SetUp();
    char dir[] = "/tmp/vtrlfilesXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    root_ = dir;
    ASSERT_TRUE(PlatformSetDriveRoot('C', dir));
  }
  void TearDown() override {
    if (page_)
      page_->Release();
    page_ = nullptr;
    UploadFixture::TearDown();
    PlatformSetDriveRoot('C', nullptr);
    std::system(("rm -rf '" + root_ + "'").c_str());
  }

  // A body of fields (name, value) and files (field name, client file name, content).
  static std::string body(const std::vector<std::pair<std::string, std::string>>& fields,
                          const std::vector<std::vector<std::string>>& files) {
    std::string out;
    for (const auto& [name, value] : fields)
      out += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
             "\"\r\n\r\n" + value + "\r\n";
    for (const auto& file : files)
      out += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" +
             file[0] + "\"; filename=\"" + file[1] +
             "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + file[2] + "\r\n";
    return out + "--" + kBoundary + "--\r\n";
  }

 protected:
  // Starts the upload object on a page with one file of content, posted as name.
  void start_with_file(const std::string& content, const std::string& name = "C:\\x\\a.txt") {
    ASSERT_EQ(S_OK, start(kContentType, body({}, {{"upfile", name, content}}), &page_));
  }

  // The first attachment of the upload.
  ComPtr<IDispatch> attachment() {
    ComPtr<IDispatch> list = collection(u"Attachments");
    ComPtr<IDispatch> out;
    if (!list)
      return out;
    ScopedVariant element;
    EXPECT_EQ(S_OK, late_bound::Get(list.Get(), u"Item", {late_bound::I4(1)}, element.Receive()));
    if (element.Type() == VT_DISPATCH)
      out.Set(element.Get().pdispVal);
    return out;
  }

  std::u16string text(IDispatch* object, const char16_t* property) {
    ScopedVariant v;
    if (FAILED(late_bound::Get(object, property, {}, v.Receive())) || v.Type() != VT_BSTR)
      return u"<failed>";
    return std::u16string(v.Get().bstrVal, SysStringLen(v.Get().bstrVal));
  }

  LONG number(IDispatch* object, const char16_t* property) {
    ScopedVariant v;
    EXPECT_EQ(S_OK, late_bound::Get(object, property, {}, v.Receive()));
    return v.Get().lVal;
  }

  // The Linux path of a file under drive C: given with '/' separators ("up/a.txt").
  std::string host(const std::string& relative) const { return root_ + "/" + relative; }

  bool exists(const std::string& relative) const { return std::ifstream(host(relative)).good(); }
  std::string read(const std::string& relative) const {
    std::ifstream in(host(relative), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void write(const std::string& relative, const std::string& content) const {
    std::ofstream(host(relative), std::ios::binary) << content;
  }
  // The names in a folder under drive C: ("" for the drive's root), sorted.
  std::vector<std::string> entries(const std::string& relative) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(host(relative), ec))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void mkdir(const std::string& relative) const {
    std::system(("mkdir -p '" + host(relative) + "'").c_str());
  }

  std::string root_;
  fake_page::Context* page_ = nullptr;
};
