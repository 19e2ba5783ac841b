// Tests of the download object as a script drives it: the seven calls of the attachment
// response, the paths, the failures that leave the response untouched, and files saved
// compressed by the attachment coming back as they were uploaded.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include <string>
#include <vector>

#include "faultsim.h"
#include "file_fixture.h"
#include "platform_config.h"
#include "platform_memstat.h"

namespace {

using late_bound::Call;
using late_bound::I4;
using late_bound::Str;
using late_bound::TakeErrorDescription;

const char16_t kUnzipFailed[] =
    u"파일의 경로가 틀리거나 데이터를 압축 해제하는 도중 오류가 발생했습니다.";

std::u16string wide(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

constexpr size_t kPiece = 0x100000;

// The calls of a download whose body is read or decompressed in pieces of 1 MiB.
std::vector<std::u16string> attachment_calls(const std::u16string& name, size_t length) {
  return fake_page::AttachmentCalls(name, length, kPiece);
}

class Download : public FileFixture {
 protected:
  void SetUp() override {
    FileFixture::SetUp();
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"Vantrel.FileDownload", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(download_.Receive())));
    down_page_ = fake_page::MakeContext(u"", "");
  }
  void TearDown() override {
    download_.Reset();
    down_page_->Release();
    FileFixture::TearDown();
  }
  HRESULT bind() {
    return Call(download_.Get(), u"OnStartPage", DISPATCH_METHOD, {late_bound::Unknown(down_page_)},
                nullptr);
  }
  HRESULT down(const char16_t* method, const char16_t* path) {
    return Call(download_.Get(), method, DISPATCH_METHOD, {Str(path)}, nullptr);
  }
  std::vector<std::u16string>& calls() { return down_page_->response->calls; }
  std::vector<std::string>& sent() { return down_page_->response->binary; }
  // Every piece written, in order.
  std::string sent_bytes() {
    std::string out;
    size_t size = 0;
    for (const std::string& piece : sent())
      size += piece.size();
    out.reserve(size);
    for (const std::string& piece : sent())
      out += piece;
    return out;
  }
  // The first call that starts with start, or nothing.
  std::u16string call(const std::u16string& start) {
    for (const std::u16string& c : calls())
      if (c.starts_with(start))
        return c;
    return u"";
  }

  ComPtr<IDispatch> download_;
  fake_page::Context* down_page_ = nullptr;
};

TEST_F(Download, FromFileWritesTheSevenCallsWithTheBytesRead) {
  std::string content(5000, '\0');
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 7);
  mkdir("files");
  write("files/a b;c.txt", content);
  ASSERT_EQ(S_OK, bind());
  EXPECT_EQ(S_OK, down(u"DownFromFile", u"C:\\files\\a b;c.txt"));
  EXPECT_EQ(attachment_calls(u"\"a b;c.txt\"", content.size()), calls());
  ASSERT_EQ(1u, sent().size());
  EXPECT_EQ(content, sent()[0]);
  EXPECT_TRUE(down_page_->server->mapped.empty());
}

TEST_F(Download, EmptyFileSendsLengthZeroAndAnEmptyArray) {
  write("empty.bin", "");
  ASSERT_EQ(S_OK, bind());
  EXPECT_EQ(S_OK, down(u"DownFromFile", u"C:\\empty.bin"));
  EXPECT_EQ(attachment_calls(u"empty.bin", 0), calls());
}

// A file that holds fewer bytes than its size says (as one that shrank after the size was read)
// is sent as read: no zero-filled tail, and the length says so. Kernel attribute files report
// a page-sized size and hold a few bytes.
TEST_F(Download, FileShorterThanItsSizeIsSentAsRead) {
  const std::string linux_path = "/sys/devices/system/cpu/online";
  std::ifstream in(linux_path, std::ios::binary);
  std::stringstream held;
  held << in.rdbuf();
  struct stat status {};
  if (!in || stat(linux_path.c_str(), &status) != 0 ||
      static_cast<size_t>(status.st_size) <= held.str().size())
    GTEST_SKIP() << "no file on this system holds less than its size";
  ASSERT_EQ(S_OK, bind());
  ASSERT_EQ(S_OK, down(u"DownFromFile", u"\\sys\\devices\\system\\cpu\\online"));
  EXPECT_EQ(attachment_calls(u"online", held.str().size()), calls());
  ASSERT_EQ(1u, sent().size());
  EXPECT_EQ(held.str(), sent()[0]);
}

TEST_F(Download, PathsThatAreNotPhysicalGoThroughTheServer) {
  mkdir("site/files");
  mkdir("site/page/files");
  write("site/files/v.txt", "virtual");
  write("site/page/files/r.txt", "relative");
  write("site/page/p.txt", "page");
  ASSERT_EQ(S_OK, bind());
  EXPECT_EQ(S_OK, down(u"DownFromFile", u"/files/v.txt"));
  EXPECT_EQ(S_OK, down(u"DownFromFile", u"files/r.txt"));
  EXPECT_EQ(S_OK, down(u"DownFromFile", u"p.txt"));
  EXPECT_EQ((std::vector<std::u16string>{u"/files/v.txt", u"files/r.txt", u"p.txt"}),
            down_page_->server->mapped);
  ASSERT_EQ(3u, sent().size());
  EXPECT_EQ("virtual", sent()[0]);
  EXPECT_EQ("relative", sent()[1]);
  EXPECT_EQ("page", sent()[2]);
  EXPECT_EQ(u"ContentType=application/octet-stream; name=v.txt", call(u"ContentType="));
}

TEST_F(Download, PhysicalPathWithoutBackslashIsItsOwnFileName) {
  write("c.txt", "drive relative");
  ASSERT_EQ(S_OK, bind());
  ASSERT_EQ(S_OK, down(u"DownFromFile", u"C:c.txt"));
  EXPECT_EQ(attachment_calls(u"\"C:c.txt\"", 14), calls());
  EXPECT_TRUE(down_page_->server->mapped.empty());
}

// The name is what follows the last backslash or '/' of the path, bare when it is a token,
// quoted with '"' and backslash escaped otherwise; a name beyond ASCII, or with a '%' that a
// browser would decode, also goes percent-encoded as UTF-8 whatever the process's code page.
TEST_F(Download, FileNameGoesIntoBothHeadersSafely) {
  struct Case {
    const char* on_disk;  // under drive C:, UTF-8
    const char16_t* path;
    const char16_t* parameter;  // what follows "name" and "filename"
  };
  const Case cases[] = {
      {"dl/plain-1.0_final.txt", u"C:\\dl\\plain-1.0_final.txt", u"=plain-1.0_final.txt"},
      {"srv/dl/a\"b;c.txt", u"C:/srv/dl/a\"b;c.txt", u"=\"a\\\"b;c.txt\""},
      {"dl/a=b, c.txt", u"C:\\dl/a=b, c.txt", u"=\"a=b, c.txt\""},
      {"dl/100%.txt", u"C:\\dl\\100%.txt", u"=100%.txt; NAME*=UTF-8''100%25.txt"},
      {"dl/보고서.pdf", u"C:\\dl\\보고서.pdf",
       u"=\"보고서.pdf\"; NAME*=UTF-8''%EB%B3%B4%EA%B3%A0%EC%84%9C.pdf"},
      {"dl/한글 파일 (1).txt", u"C:/dl/한글 파일 (1).txt",
       u"=\"한글 파일 (1).txt\"; "
       u"NAME*=UTF-8''%ED%95%9C%EA%B8%80%20%ED%8C%8C%EC%9D%BC%20%281%29.txt"},
  };
  mkdir("dl");
  mkdir("srv/dl");
  for (UINT code_page : {949u, static_cast<UINT>(CP_UTF8)}) {
    ASSERT_TRUE(PlatformSetACP(code_page));
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.on_disk) + " in code page " + std::to_string(code_page));
      write(c.on_disk, "x");
      calls().clear();
      ASSERT_EQ(S_OK, bind());
      ASSERT_EQ(S_OK, down(u"DownFromFile", c.path));
      std::u16string parameter = c.parameter;
      const size_t star = parameter.find(u"NAME*");
      std::u16string type = parameter, disposition = parameter;
      if (star != std::u16string::npos) {
        type.replace(star, 4, u"name");
        disposition.replace(star, 4, u"filename");
      }
      ASSERT_EQ(7u, calls().size());
      EXPECT_EQ(u"ContentType=application/octet-stream; name" + type, calls()[4]);
      EXPECT_EQ(u"AddHeader(Content-Disposition)=attachment; filename" + disposition, calls()[5]);
    }
  }
  PlatformSetACP(949);
}

// A name with a control character could end a header and start another, or split it: it is
// refused before the first response call. So is a path with a NUL, whose narrow form would
// name another file.
TEST_F(Download, FileNameWithAControlCharacterIsRefusedBeforeAnyResponseCall) {
  const char16_t kMessage[] =
      u"파일 이름이나 경로에 제어 문자가 들어 있어 응답 헤더에 쓸 수 없습니다.";
  mkdir("dl");
  for (const char* name : {"a\r\nSet-Cookie: x=1", "a\nb.txt", "tab\there.txt", "bell\a", "del\x7f",
                           "nel\xc2\x85.txt"}) {
    write(std::string("dl/") + name, "x");
  }
  write("dl/a.txt", "x");
  ASSERT_EQ(S_OK, bind());
  const char16_t* paths[] = {u"C:\\dl\\a\r\nSet-Cookie: x=1", u"C:\\dl\\a\nb.txt",
                             u"C:\\dl\\tab\there.txt", u"C:\\dl\\bell\a", u"C:\\dl\\del\x7f"};
  for (const char16_t* path : paths) {
    for (const char16_t* method : {u"DownFromFile", u"DownFromUnzipFile"}) {
      EXPECT_EQ(E_INVALIDARG, down(method, path));
      EXPECT_EQ(kMessage, TakeErrorDescription());
    }
  }
  // U+0085 is a control character only where the code page can write it.
  ASSERT_TRUE(PlatformSetACP(CP_UTF8));
  EXPECT_EQ(E_INVALIDARG, down(u"DownFromFile", u"C:\\dl\\nel\u0085.txt"));
  EXPECT_EQ(kMessage, TakeErrorDescription());
  PlatformSetACP(949);
  const std::u16string with_nul(u"C:\\dl\\a.txt\0.exe", 16);
  VARIANT arg;
  arg.vt = VT_BSTR;
  arg.bstrVal = SysAllocStringLen(with_nul.data(), static_cast<UINT>(with_nul.size()));
  DISPPARAMS params{&arg, nullptr, 1, 0};
  EXPECT_EQ(E_INVALIDARG,
            late_bound::InvokeId(download_.Get(), late_bound::Id(download_.Get(), u"DownFromFile"),
                                 DISPATCH_METHOD, &params, nullptr));
  EXPECT_EQ(kMessage, TakeErrorDescription());
  VariantClear(&arg);
  EXPECT_TRUE(calls().empty());
  EXPECT_EQ(S_OK, down(u"DownFromFile", u"C:\\dl\\a.txt"));
}

TEST_F(Download, FailuresLeaveTheResponseUntouched) {
  mkdir("dir");
  write("plain.txt", "not compressed");
  ASSERT_EQ(S_OK, bind());
  EXPECT_EQ(E_INVALIDARG, down(u"DownFromFile", u"C:\\missing.txt"));
  EXPECT_EQ(E_INVALIDARG, down(u"DownFromFile", u"C:\\dir"));
  EXPECT_EQ(E_INVALIDARG, down(u"DownFromFile", u"C:\\nodir\\a.txt"));
  EXPECT_EQ(u"", TakeErrorDescription());
  EXPECT_EQ(E_FAIL, down(u"DownFromUnzipFile", u"C:\\missing.gz"));
  EXPECT_EQ(kUnzipFailed, TakeErrorDescription());
  EXPECT_EQ(E_FAIL, down(u"DownFromUnzipFile", u"C:\\plain.txt"));
  EXPECT_EQ(kUnzipFailed, TakeErrorDescription());
  down_page_->server->map_failure = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, down(u"DownFromFile", u"plain.txt"));
  EXPECT_EQ(E_ACCESSDENIED, down(u"DownFromUnzipFile", u"/plain.gz"));
  EXPECT_EQ(u"", TakeErrorDescription());
  EXPECT_TRUE(calls().empty());
}

TEST_F(Download, WithoutABoundPageNothingIsCalled) {
  write("a.txt", "a");
  EXPECT_EQ(E_UNEXPECTED, down(u"DownFromFile", u"C:\\a.txt"));
  EXPECT_EQ(E_UNEXPECTED, down(u"DownFromUnzipFile", u"a.gz"));
  ASSERT_EQ(S_OK, bind());
  ASSERT_EQ(S_OK, Call(download_.Get(), u"OnEndPage", DISPATCH_METHOD, {}, nullptr));
  EXPECT_EQ(E_UNEXPECTED, down(u"DownFromFile", u"C:\\a.txt"));
  EXPECT_EQ(E_UNEXPECTED, down(u"DownFromFile", u"a.txt"));
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(down_page_->server->mapped.empty());
  // Every reference taken at the start was given back at the end.
  EXPECT_EQ(1u, down_page_->response->refs);
  EXPECT_EQ(1u, down_page_->server->refs);
  EXPECT_EQ(1u, down_page_->request->refs);
}

TEST_F(Download, PageBindingFailures) {
  EXPECT_EQ(E_POINTER, Call(download_.Get(), u"OnStartPage", DISPATCH_METHOD,
                            {late_bound::Unknown(nullptr)}, nullptr));
  for (int read = 0; read < 5; ++read) {
    down_page_->fail_read = read;
    EXPECT_EQ(E_FAIL, bind()) << read;
    EXPECT_EQ(1u, down_page_->response->refs) << read;
    EXPECT_EQ(1u, down_page_->server->refs) << read;
    EXPECT_EQ(1u, down_page_->request->refs) << read;
  }
  write("a.txt", "a");
  EXPECT_EQ(E_UNEXPECTED, down(u"DownFromFile", u"C:\\a.txt"));
  down_page_->fail_read = -1;
  // A second start without an end keeps one reference of each object.
  ASSERT_EQ(S_OK, bind());
  ASSERT_EQ(S_OK, bind());
  EXPECT_EQ(2u, down_page_->response->refs);
  EXPECT_EQ(S_OK, down(u"DownFromFile", u"C:\\a.txt"));
}

TEST_F(Download, GzipFileMadeByGzipComesBackDecompressed) {
  const std::string content = "line of text\n" + std::string(3000, 'q');
  write("g.txt", content);
  ASSERT_EQ(0, std::system(("gzip -k '" + host("g.txt") + "'").c_str()));
  ASSERT_EQ(S_OK, bind());
  ASSERT_EQ(S_OK, down(u"DownFromUnzipFile", u"C:\\g.txt.gz"));
  EXPECT_EQ(attachment_calls(u"g.txt.gz", content.size()), calls());
  EXPECT_EQ(content, sent()[0]);
}

std::string incompressible(size_t n) {
  std::string out(n, '\0');
  unsigned long long x = 0x9E3779B97F4A7C15ull;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x >> 56);
  }
  return out;
}

std::string compressible(size_t n) {
  const std::string line = "2026-12-08 22:41:01 GET /files/report.pdf 200 ok\n";
  std::string out;
  out.reserve(n);
  while (out.size() < n)
    out += line;
  out.resize(n);
  return out;
}

// Whether calls are those of a download that failed after its body began: the pieces written
// were taken back by a last Clear, and no attachment header was set.
bool taken_back(const std::vector<std::u16string>& calls) {
  if (calls.size() < 4 || calls[0] != u"Expires=0" || calls[1] != u"Buffer=1" ||
      calls[2] != u"Clear" || calls.back() != u"Clear")
    return false;
  for (size_t i = 3; i + 1 < calls.size(); ++i)
    if (!calls[i].starts_with(u"BinaryWrite"))
      return false;
  return true;
}

// Every allocation a download makes may fail: the method then fails before the first response
// call, or (for a body of several pieces, or at the length at the end) takes back what it
// wrote; or it sends the whole response. Nothing leaks either way.
TEST_F(Download, EveryAllocationOfADownloadMayFail) {
  for (size_t size : {size_t{3000}, kPiece * 2 + 500}) {
    SCOPED_TRACE(size);
    const std::string content = compressible(size);
    write("a.bin", content);
    ASSERT_EQ(0, std::system(("gzip -kf '" + host("a.bin") + "'").c_str()));
    ASSERT_EQ(S_OK, bind());
    for (const char16_t* method : {u"DownFromFile", u"DownFromUnzipFile"}) {
      const char16_t* path = method[8] == u'F' ? u"C:\\a.bin" : u"C:\\a.bin.gz";
      for (BOOL persistent : {FALSE, TRUE}) {
        for (int n = 1;; ++n) {
          VARIANT arg = Str(path);
          DISPPARAMS params{&arg, nullptr, 1, 0};
          const DISPID id = late_bound::Id(download_.Get(), method);
          calls().clear();
          sent().clear();
          const LONG blocks = PlatformTaskMemBlocks();
          FaultSimConfig(n, persistent);
          const HRESULT hr =
              late_bound::InvokeId(download_.Get(), id, DISPATCH_METHOD, &params, nullptr);
          const int faults = FaultSimFaults();
          FaultSimConfig(0, FALSE);
          TakeErrorDescription();
          EXPECT_EQ(blocks, PlatformTaskMemBlocks()) << n;
          VariantClear(&arg);
          if (hr == S_OK) {
            EXPECT_EQ(attachment_calls(method[8] == u'F' ? u"a.bin" : u"a.bin.gz", size), calls())
                << n;
          } else {
            // The dispatch layer's own copies fail with a type mismatch; the platform's open
            // with an invalid argument.
            EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == E_FAIL || hr == DISP_E_TYPEMISMATCH ||
                        hr == E_INVALIDARG)
                << n << ": " << std::hex << hr;
            EXPECT_TRUE(calls().empty() || taken_back(calls())) << n;
          }
          if (faults == 0) {
            EXPECT_EQ(S_OK, hr);
            EXPECT_TRUE(sent_bytes() == content);
            break;
          }
          ASSERT_LT(n, 200);
        }
      }
    }
  }
}

// Compressed input damaged past the first piece of its output is found while the body goes
// out: what was written is taken back, no attachment header is set, and the method fails with
// its message.
TEST_F(Download, DamageFoundOnTheWayTakesTheBodyBack) {
  const std::string content = compressible(3 * kPiece + 10);
  write("a.bin", content);
  ASSERT_EQ(0, std::system(("gzip -k '" + host("a.bin") + "'").c_str()));
  std::string bad_crc = read("a.bin.gz");
  bad_crc[bad_crc.size() - 8] ^= 0x01;
  write("bad_crc.gz", bad_crc);
  write("cut.gz", read("a.bin.gz").substr(0, read("a.bin.gz").size() - 3));
  ASSERT_EQ(S_OK, bind());
  for (const char16_t* path : {u"C:\\bad_crc.gz", u"C:\\cut.gz"}) {
    calls().clear();
    EXPECT_EQ(E_FAIL, down(u"DownFromUnzipFile", path));
    EXPECT_EQ(kUnzipFailed, TakeErrorDescription());
    EXPECT_TRUE(taken_back(calls()));
    EXPECT_EQ(7u, calls().size()) << "three full pieces went out before the end was checked";
  }
}

// A response that refuses a write (a host's size limit) fails the download with the
// response's status and description, after taking back what was written.
TEST_F(Download, AWriteTheResponseRefusesFailsTheDownloadWithItsDescription) {
  const std::string content = compressible(2 * kPiece + 10);
  write("a.bin", content);
  ASSERT_EQ(0, std::system(("gzip -k '" + host("a.bin") + "'").c_str()));
  ASSERT_EQ(S_OK, bind());
  down_page_->response->binary_limit = static_cast<long>(kPiece + kPiece / 2);
  for (const char16_t* method : {u"DownFromFile", u"DownFromUnzipFile"}) {
    const char16_t* path = method[8] == u'F' ? u"C:\\a.bin" : u"C:\\a.bin.gz";
    calls().clear();
    EXPECT_EQ(E_FAIL, down(method, path));
    EXPECT_EQ(fake_page::Response::kRefusedWrite, TakeErrorDescription());
    EXPECT_TRUE(taken_back(calls()));
    EXPECT_EQ((std::vector<std::u16string>{u"Expires=0", u"Buffer=1", u"Clear",
                                           u"BinaryWrite=8209 0 1048576", u"BinaryWrite refused",
                                           u"Clear"}),
              calls());
  }
  // Within the limit the same response takes the whole file.
  down_page_->response->binary_limit = static_cast<long>(content.size());
  calls().clear();
  sent().clear();
  EXPECT_EQ(S_OK, down(u"DownFromUnzipFile", u"C:\\a.bin.gz"));
  EXPECT_TRUE(sent_bytes() == content);
}

TEST_F(Download, SavedCompressedThenDownloadedGivesTheUploadedBytes) {
  const std::vector<std::string> contents = {"", "x", incompressible(8u << 20),
                                             compressible(64u << 20)};
  mkdir("up");
  for (size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(contents[i].size());
    // A page of its own for each upload.
    if (page_) {
      page_->Release();
      page_ = nullptr;
    }
    upload_.Reset();
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"Vantrel.FileUpload", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(upload_.Receive())));
    start_with_file(contents[i]);
    ComPtr<IDispatch> file = attachment();
    ASSERT_TRUE(file);
    const std::u16string target = u"C:\\up\\round" + wide(std::to_string(i)) + u".gz";
    ASSERT_EQ(S_OK,
              Call(file.Get(), u"SaveFileByZip", DISPATCH_METHOD, {Str(target.c_str())}, nullptr));
    const std::string saved = "up/round" + std::to_string(i) + ".gz";
    EXPECT_EQ(static_cast<size_t>(number(file.Get(), u"ZipSize")), read(saved).size());
    ASSERT_EQ(0,
              std::system(("gunzip -c '" + host(saved) + "' > '" + host("g.out") + "'").c_str()));
    EXPECT_TRUE(read("g.out") == contents[i]);
    calls().clear();
    sent().clear();
    ASSERT_EQ(S_OK, bind());
    ASSERT_EQ(S_OK, down(u"DownFromUnzipFile", target.c_str()));
    EXPECT_EQ(attachment_calls(u"round" + wide(std::to_string(i)) + u".gz", contents[i].size()),
              calls());
    EXPECT_TRUE(sent_bytes() == contents[i]);
  }
}

}  // namespace
