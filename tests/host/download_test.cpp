// Downloads through the script host from the download component: the file name in the
// headers as a browser receives it, from hosts whose code page is 949 and UTF-8; a name that
// could split a header; and decompression bombs, refused past --max-response and within it sent
// in about their own size of memory.
#include <gtest/gtest.h>

#include <string>

#include "host_process.h"
#include "http_client.h"

namespace {

using host_test::Host;
using host_test::peak_resident_kib;
using host_test::read_bytes;
using host_test::request;
using host_test::Response;
using host_test::run;
using host_test::write_file;

constexpr size_t kBomb = size_t{256} << 20;

class HostDownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/vhostdownloadXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    site_ = dir_ + "/site";
    const std::string registry = dir_ + "/registry.reg";
    ASSERT_EQ(0, run("mkdir -p '" + site_ + "/files'"));
    ASSERT_EQ(0, run("PLATFORM_REGISTRY='" + registry +
                     "' '" REGSVR_PATH "' -s '" VTRLSRV_PATH "' > /dev/null"));
    // down.asp?name=N sends files/N, with zip=1 decompressed; try_down.asp reports a failure.
    const std::string send =
        "var d = Server.CreateObject(\"Vantrel.FileDownload\");"
        " var n = \"files/\" + Request.QueryString(\"name\");"
        " if (Request.QueryString(\"zip\") == \"1\") d.DownFromUnzipFile(n);"
        " else d.DownFromFile(n);";
    write_file(site_ + "/down.asp", "<% " + send + " %>");
    write_file(site_ + "/try_down.asp",
               "<% try { " + send +
                   " } catch (e) { Response.Write(e.number + \"|\" + e.description); } %>");
    // Writes 1 MiB at a time, twelve times; with catch=1 it takes a refused write back and
    // says so instead.
    const std::string write =
        "var s = \"x\"; while (s.length < 1048576) s += s;"
        " for (var i = 0; i < 12; i++) Response.Write(s);";
    write_file(site_ + "/big.asp",
               "<% if (Request.QueryString(\"catch\") == \"1\") { try { " + write +
                   " } catch (e) { Response.Clear(); Response.Write(\"refused \" + e.number); }"
                   " } else { " +
                   write + " } %>");
    for (const char* name : {"plain-1.0.txt", "a\"b;c.txt", "한글 파일.txt", "100%.txt"})
      write_file(site_ + "/files/" + name, std::string("content of ") + name);
    write_file(site_ + "/files/a\nb.txt", "line feed");
    write_file(site_ + "/files/large.bin", std::string(size_t{64} << 20, 'L'));
    ASSERT_EQ(0, run("head -c " + std::to_string(kBomb) + " /dev/zero | gzip -9 > '" + site_ +
                     "/files/bomb.gz'"));

    const std::string env = "PLATFORM_REGISTRY='" + registry + "'";
    const std::string args = "--root '" + site_ + "' --workers 2";
    ASSERT_TRUE(cp949_.start(dir_, "cp949", env, args)) << read_bytes(cp949_.err_file);
    ASSERT_TRUE(utf8_.start(dir_, "utf8", env + " PLATFORM_ACP=65001", args))
        << read_bytes(utf8_.err_file);
    // The peak memory of these two shows what a download holds: under AddressSanitizer, freed
    // blocks would otherwise stay in its quarantine.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string measured_env =
        env + " ASAN_OPTIONS='" + (asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=0'";
    ASSERT_TRUE(limited_.start(dir_, "limited", measured_env, args + " --max-response 8M"))
        << read_bytes(limited_.err_file);
    ASSERT_TRUE(roomy_.start(dir_, "roomy", measured_env, args + " --max-response 300M"))
        << read_bytes(roomy_.err_file);
  }

  static void TearDownTestSuite() {
    for (Host* host : {&cp949_, &utf8_, &limited_, &roomy_})
      host->stop();
    run("rm -rf '" + dir_ + "'");
  }

  // The peak memory of host after a small download, which has loaded what every download uses.
  static size_t warm_peak_kib(const Host& host) {
    EXPECT_EQ(200, request(host.port, "GET", "/down.asp?name=plain-1.0.txt").status);
    return peak_resident_kib(host.pid);
  }

  static inline std::string dir_, site_;
  static inline Host cp949_, utf8_, limited_, roomy_;
};

// What a browser receives for each name: a token as it is, anything else quoted with '"' and
// '\' escaped, and a name beyond ASCII, or with a '%', also percent-encoded as UTF-8, from a
// host in code page 949 as from one in UTF-8.
TEST_F(HostDownloadTest, FileNamesReachTheHeadersWhole) {
  const struct {
    const char* query;  // the name, URL-encoded
    const char* parameter;
    const char* content;
  } cases[] = {
      {"plain-1.0.txt", "=plain-1.0.txt", "content of plain-1.0.txt"},
      {"a%22b%3Bc.txt", "=\"a\\\"b;c.txt\"", "content of a\"b;c.txt"},
      {"%ED%95%9C%EA%B8%80%20%ED%8C%8C%EC%9D%BC.txt",
       "=\"한글 파일.txt\"; NAME*=UTF-8''%ED%95%9C%EA%B8%80%20%ED%8C%8C%EC%9D%BC.txt",
       "content of 한글 파일.txt"},
      {"100%25.txt", "=100%.txt; NAME*=UTF-8''100%25.txt", "content of 100%.txt"},
  };
  for (const Host* host : {&cp949_, &utf8_}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.query) + (host == &cp949_ ? " in 949" : " in UTF-8"));
      const Response r = request(host->port, "GET", std::string("/down.asp?name=") + c.query);
      ASSERT_EQ(200, r.status) << r.body;
      EXPECT_EQ(c.content, r.body);
      std::string type = c.parameter, disposition = c.parameter;
      const size_t star = type.find("NAME*");
      if (star != std::string::npos) {
        type.replace(star, 4, "name");
        disposition.replace(star, 4, "filename");
      }
      EXPECT_EQ("attachment; filename" + disposition, r.header("Content-Disposition"));
      EXPECT_EQ("application/octet-stream; name" + type, r.header("Content-Type"));
      EXPECT_EQ(std::to_string(r.body.size()), r.header("Content-Length"));
    }
  }
}

TEST_F(HostDownloadTest, ANameWithALineFeedIsRefusedAndSplitsNoHeader) {
  for (const Host* host : {&cp949_, &utf8_}) {
    const Response r = request(host->port, "GET", "/try_down.asp?name=a%0Ab.txt");
    EXPECT_EQ(200, r.status);
    EXPECT_EQ("-2147024809|파일 이름이나 경로에 제어 문자가 들어 있어 응답 헤더에 쓸 수 없습니다.",
              r.body);
    EXPECT_FALSE(r.has_header("Content-Disposition"));
    EXPECT_EQ("text/html", r.header("Content-Type"));
  }
}

// A bomb past the largest response fails as a script error naming the limit: no attachment
// header and no part of the file goes out, and the host never held much more than the limit.
TEST_F(HostDownloadTest, ABombPastTheLargestResponseFailsCleanly) {
  const size_t before = warm_peak_kib(limited_);
  const Response r = request(limited_.port, "GET", "/down.asp?zip=1&name=bomb.gz");
  EXPECT_EQ(500, r.status);
  EXPECT_NE(std::string::npos, r.body.find("--max-response")) << r.body;
  EXPECT_NE(std::string::npos, r.body.find("DownFromUnzipFile")) << r.body;
  EXPECT_FALSE(r.has_header("Content-Disposition"));
  const size_t after = peak_resident_kib(limited_.pid);
  EXPECT_LT(after, before + 8 * 1024 + 32 * 1024)
      << "peak memory went from " << before << " KiB to " << after << " KiB";
  // A plain file past the limit fails the same way.
  const Response large = request(limited_.port, "GET", "/down.asp?name=large.bin");
  EXPECT_EQ(500, large.status);
  EXPECT_FALSE(large.has_header("Content-Disposition"));
  EXPECT_EQ(200, request(limited_.port, "GET", "/down.asp?name=plain-1.0.txt").status);
}

// Any page's writes past the largest response fail with nothing appended: uncaught, the page
// gets the 500 error page; caught, the page goes on.
TEST_F(HostDownloadTest, WritesPastTheLargestResponseFail) {
  const Response uncaught = request(limited_.port, "GET", "/big.asp");
  EXPECT_EQ(500, uncaught.status);
  EXPECT_NE(std::string::npos, uncaught.body.find("--max-response")) << uncaught.body;
  EXPECT_LT(uncaught.body.size(), 4096u);
  const Response caught = request(limited_.port, "GET", "/big.asp?catch=1");
  EXPECT_EQ(200, caught.status);
  EXPECT_EQ("refused -2147467259", caught.body);
  EXPECT_EQ(size_t{12} << 20, request(roomy_.port, "GET", "/big.asp").body.size());
}

// Within the limit, a bomb of 256 MiB goes out whole, and the host's peak memory grows by about
// the output once: the response holds it, the download a piece of it at a time.
TEST_F(HostDownloadTest, ABombWithinTheLargestResponseTakesItsSizeOfMemoryOnce) {
  const size_t before = warm_peak_kib(roomy_);
  size_t received = 0;
  bool zeros = true;
  const Response r = request(roomy_.port, "GET", "/down.asp?zip=1&name=bomb.gz", "", {},
                             [&](const char* data, size_t n) {
                               for (size_t i = 0; i < n && zeros; ++i)
                                 zeros = data[i] == 0;
                               received += n;
                             });
  ASSERT_EQ(200, r.status);
  EXPECT_EQ(kBomb, received);
  EXPECT_TRUE(zeros);
  EXPECT_EQ(std::to_string(kBomb), r.header("Content-Length"));
  EXPECT_EQ("attachment; filename=bomb.gz", r.header("Content-Disposition"));
  const size_t after = peak_resident_kib(roomy_.pid);
  const size_t output_kib = kBomb / 1024;
  // An eighth for AddressSanitizer's shadow of what the host allocates.
  EXPECT_LT(after, before + output_kib + output_kib / 8 + 16 * 1024)
      << "peak memory went from " << before << " KiB to " << after << " KiB for an output of "
      << output_kib << " KiB";
}

}  // namespace
