// Byte ranges through a vhost process: static files and page responses (attachments from files
// and database fields among them) answered whole, in part, in several parts or refused, and a
// broken download of 20 MB resumed by curl.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_process.h"
#include "http_client.h"

namespace {

using host_test::read_bytes;
using host_test::request;
using host_test::Response;
using host_test::run;
using host_test::write_file;

const std::string kSmall = "0123456789abcdefghij";

// A HEAD request: the status, the headers and whatever came after them until the host closed.
Response head(unsigned port, const std::string& target, const std::vector<std::string>& extra) {
  const int fd = host_test::connect_loopback(port);
  Response r;
  if (fd < 0)
    return r;
  std::string text = "HEAD " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  for (const std::string& h : extra)
    text += h + "\r\n";
  text += "\r\n";
  std::string data;
  if (host_test::send_all(fd, text.data(), text.size())) {
    char buf[4096];
    for (ssize_t k; (k = recv(fd, buf, sizeof buf, 0)) > 0;)
      data.append(buf, static_cast<size_t>(k));
  }
  close(fd);
  const size_t end = data.find("\r\n\r\n");
  if (end == std::string::npos)
    return r;
  r.status = std::atoi(data.c_str() + data.find(' ') + 1);
  for (size_t at = data.find("\r\n") + 2; at < end;) {
    const size_t next = data.find("\r\n", at);
    const std::string line = data.substr(at, next - at);
    const size_t colon = line.find(':');
    r.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    at = next + 2;
  }
  r.body = data.substr(end + 4);
  return r;
}

struct Part {
  std::string content_type, content_range, data;
};

// The parts of a multipart/byteranges body; empty when the body is not one.
std::vector<Part> byteranges(const Response& r) {
  const std::string type = r.header("Content-Type");
  const std::string prefix = "multipart/byteranges; boundary=";
  if (type.rfind(prefix, 0) != 0)
    return {};
  const std::string delimiter = "--" + type.substr(prefix.size());
  std::vector<Part> parts;
  size_t at = 0;
  if (r.body.compare(0, delimiter.size(), delimiter) != 0)
    return {};
  at = delimiter.size();
  while (r.body.compare(at, 2, "--") != 0) {
    if (r.body.compare(at, 2, "\r\n") != 0)
      return {};
    const size_t head_end = r.body.find("\r\n\r\n", at);
    const size_t next = r.body.find("\r\n" + delimiter, head_end);
    if (head_end == std::string::npos || next == std::string::npos)
      return {};
    Part part;
    const std::string head = r.body.substr(at + 2, head_end - at - 2);
    for (size_t line = 0; line < head.size();) {
      size_t end = head.find("\r\n", line);
      if (end == std::string::npos)
        end = head.size();
      const std::string text = head.substr(line, end - line);
      if (text.rfind("Content-Type: ", 0) == 0)
        part.content_type = text.substr(14);
      else if (text.rfind("Content-Range: ", 0) == 0)
        part.content_range = text.substr(15);
      line = end + 2;
    }
    part.data = r.body.substr(head_end + 4, next - head_end - 4);
    parts.push_back(part);
    at = next + 2 + delimiter.size();
  }
  return r.body.substr(at) == "--\r\n" ? parts : std::vector<Part>{};
}

class RangeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/vhostrangeXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    site_ = dir_ + "/site";
    registry_ = dir_ + "/registry.reg";
    ASSERT_EQ(0, run("mkdir -p '" + site_ + "'"));
    ASSERT_TRUE(register_module(VTRLSRV_PATH));
    // From the kernel: a generator here would take seconds in the sanitizer build.
    ASSERT_EQ(0, run("head -c 20971520 /dev/urandom > '" + site_ + "/big.bin'"));
    big_ = read_bytes(site_ + "/big.bin");
    ASSERT_EQ(size_t{20} << 20, big_.size());
    write_file(site_ + "/small.txt", kSmall);
    write_file(site_ + "/empty.txt", "");
    write_file(site_ + "/page.asp", "<% Response.Write(\"" + kSmall + "\"); %>");
    write_file(site_ + "/file.asp",
               "<% Server.CreateObject(\"Vantrel.FileDownload\").DownFromFile("
               "\"\" + Request.QueryString(\"f\")); %>");
    // A field of 300,000 random bytes, stored on the first request.
    write_file(site_ + "/field.asp",
               "<% var conn = Server.CreateObject(\"ADODB.Connection\");\n"
               "conn.Open(\"Provider=SQLite;Data Source=\" + Server.MapPath(\"blob.db\"));\n"
               "conn.Execute(\"CREATE TABLE IF NOT EXISTS f (id INTEGER PRIMARY KEY, c BLOB)\");\n"
               "conn.Execute(\"INSERT OR IGNORE INTO f (id, c) VALUES (1, randomblob(300000))\");\n"
               "var rs = conn.Execute(\"SELECT c FROM f WHERE id = 1\");\n"
               "Server.CreateObject(\"Vantrel.FileDownload\").DownFromDb(rs(\"c\"), \"f.bin\");\n"
               "rs.Close(); conn.Close(); %>");
    write_file(site_ + "/status.asp",
               "<% Response.Status = \"404 Not Here\"; Response.Write(\"" + kSmall + "\"); %>");
    write_file(site_ + "/broken.asp", "<% null.boom(); %>");
    write_file(site_ + "/own_range.asp",
               "<% Response.AddHeader(\"Content-Range\", \"bytes 0-3/20\");"
               " Response.Write(\"0123\"); %>");
    write_file(site_ + "/no_ranges.asp",
               "<% Response.AddHeader(\"Accept-Ranges\", \"none\");"
               " Response.Write(\"" +
                   kSmall + "\"); %>");
    write_file(site_ + "/tagged.asp",
               "<% Response.AddHeader(\"ETag\", \"\\\"v1\\\"\");"
               " Response.AddHeader(\"Last-Modified\", \"Sun, 06 Nov 1994 08:49:37 GMT\");"
               " Response.Write(\"" +
                   kSmall + "\"); %>");
    write_file(site_ + "/ended.asp", "<% Response.Buffer = true; Response.Write(\"" + kSmall +
                                         "\"); Response.End(); %>not sent");
    // Old enough for Last-Modified to be a strong validator, and for pages to be kept.
    ASSERT_EQ(0, run("find '" + site_ + "' -type f -exec touch -d '-1 hour' {} +"));
    ASSERT_TRUE(host_.start(dir_, "main", "PLATFORM_REGISTRY='" + registry_ + "'",
                            "--root '" + site_ + "' --workers 4"))
        << read_bytes(host_.err_file);
  }

  static void TearDownTestSuite() {
    host_.stop();
    run("rm -rf '" + dir_ + "'");
  }

  // Registering writes the registry file once per value, which takes seconds for the database
  // module: only the test that needs it does. The host sees the file change.
  static bool register_module(const std::string& module) {
    return run("PLATFORM_REGISTRY='" + registry_ + "' '" REGSVR_PATH "' -s '" + module +
               "' > /dev/null") == 0;
  }

  static Response get(const std::string& target, const std::vector<std::string>& headers) {
    return request(host_.port, "GET", target, "", headers);
  }

  static inline std::string dir_, site_, registry_, big_;
  static inline host_test::Host host_;
};

// Static files and pages answer one range alike.
TEST_F(RangeTest, OneSatisfiableRangeGives206WithContentRange) {
  for (const char* target : {"/small.txt", "/page.asp", "/ended.asp"}) {
    const struct {
      const char* range;
      const char* content_range;
      std::string body;
    } cases[] = {
        {"bytes=0-4", "bytes 0-4/20", "01234"},   {"bytes=5-", "bytes 5-19/20", kSmall.substr(5)},
        {"bytes=-3", "bytes 17-19/20", "hij"},    {"bytes=15-99", "bytes 15-19/20", "fghij"},
        {"bytes=0-", "bytes 0-19/20", kSmall},    {"bytes=19-19", "bytes 19-19/20", "j"},
        {"bytes=2-3,50-60", "bytes 2-3/20", "23"}};
    for (const auto& c : cases) {
      const Response r = get(target, {std::string("Range: ") + c.range});
      EXPECT_EQ(206, r.status) << target << " " << c.range;
      EXPECT_EQ(c.content_range, r.header("Content-Range")) << target << " " << c.range;
      EXPECT_EQ(c.body, r.body) << target << " " << c.range;
      EXPECT_EQ(std::to_string(c.body.size()), r.header("Content-Length"));
      EXPECT_EQ("bytes", r.header("Accept-Ranges"));
    }
    const Response whole = get(target, {});
    EXPECT_EQ(200, whole.status) << target;
    EXPECT_EQ(kSmall, whole.body);
    EXPECT_EQ("bytes", whole.header("Accept-Ranges")) << target;
    EXPECT_FALSE(whole.has_header("Content-Range"));
  }
  EXPECT_EQ("text/plain; charset=utf-8",
            get("/small.txt", {"Range: bytes=0-1"}).header("Content-Type"));
}

TEST_F(RangeTest, UnsatisfiableRangesGive416WithTheSize) {
  for (const char* target : {"/small.txt", "/page.asp"}) {
    for (const char* range : {"bytes=20-", "bytes=20-30", "bytes=-0", "bytes=100-,-0"}) {
      const Response r = get(target, {std::string("Range: ") + range});
      EXPECT_EQ(416, r.status) << target << " " << range;
      EXPECT_EQ("bytes */20", r.header("Content-Range")) << target << " " << range;
      EXPECT_EQ(std::string::npos, r.body.find(kSmall));
    }
  }
  const Response empty = get("/empty.txt", {"Range: bytes=0-"});
  EXPECT_EQ(416, empty.status);
  EXPECT_EQ("bytes */0", empty.header("Content-Range"));
  const Response suffix = get("/empty.txt", {"Range: bytes=-5"});
  EXPECT_EQ(200, suffix.status) << "a suffix of nothing is the whole empty body";
  EXPECT_EQ("", suffix.body);
}

TEST_F(RangeTest, MalformedOrRefusedRangeSetsGetTheWholeBody) {
  std::string many = "Range: bytes=0-0";
  for (int i = 1; i <= 32; ++i)
    many += "," + std::to_string(i % 20) + "-" + std::to_string(i % 20);
  for (const char* target : {"/small.txt", "/page.asp"}) {
    for (const std::string& range : std::vector<std::string>{
             "Range: bytes=abc", "Range: bytes=5-2", "Range: bytes 0-4", "Range: items=0-4",
             "Range: bytes=", "Range: bytes=1-2-3", "Range: bytes=0-,0-", many}) {
      const Response r = get(target, {range});
      EXPECT_EQ(200, r.status) << target << " " << range;
      EXPECT_EQ(kSmall, r.body) << target << " " << range;
      EXPECT_FALSE(r.has_header("Content-Range"));
    }
    const Response twice = get(target, {"Range: bytes=0-1", "Range: bytes=4-5"});
    EXPECT_EQ(200, twice.status) << "two Range fields";
    EXPECT_EQ(kSmall, twice.body);
  }
}

TEST_F(RangeTest, SeveralRangesGiveMultipartByteranges) {
  for (const char* target : {"/small.txt", "/page.asp", "/file.asp?f=small.txt"}) {
    const Response r = get(target, {"Range: bytes=0-1, 4-5,-2"});
    ASSERT_EQ(206, r.status) << target;
    EXPECT_FALSE(r.has_header("Content-Range"));
    const std::vector<Part> parts = byteranges(r);
    ASSERT_EQ(3u, parts.size()) << target << "\n" << r.body;
    const std::string type = std::string(target) == "/small.txt" ? "text/plain; charset=utf-8"
                             : std::string(target) == "/page.asp"
                                 ? "text/html"
                                 : "application/octet-stream; name=small.txt";
    const char* ranges[] = {"bytes 0-1/20", "bytes 4-5/20", "bytes 18-19/20"};
    const char* data[] = {"01", "45", "ij"};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(type, parts[i].content_type) << target;
      EXPECT_EQ(ranges[i], parts[i].content_range) << target;
      EXPECT_EQ(data[i], parts[i].data) << target;
    }
    EXPECT_EQ(std::to_string(r.body.size()), r.header("Content-Length"));
  }
  // Parts larger than what the host reads at a time, from a file and from a page's body.
  for (const char* target : {"/big.bin", "/file.asp?f=big.bin"}) {
    const Response r = get(target, {"Range: bytes=1000-300999,10485760-10585759,-70000"});
    ASSERT_EQ(206, r.status) << target;
    const std::vector<Part> parts = byteranges(r);
    ASSERT_EQ(3u, parts.size()) << target;
    EXPECT_EQ("bytes 1000-300999/20971520", parts[0].content_range);
    EXPECT_TRUE(parts[0].data == big_.substr(1000, 300000)) << target;
    EXPECT_EQ("bytes 10485760-10585759/20971520", parts[1].content_range);
    EXPECT_TRUE(parts[1].data == big_.substr(10485760, 100000)) << target;
    EXPECT_EQ("bytes 20901520-20971519/20971520", parts[2].content_range);
    EXPECT_TRUE(parts[2].data == big_.substr(20901520)) << target;
  }
  // Each answer has a boundary of its own.
  EXPECT_NE(get("/small.txt", {"Range: bytes=0-1,4-5"}).header("Content-Type"),
            get("/small.txt", {"Range: bytes=0-1,4-5"}).header("Content-Type"));
}

TEST_F(RangeTest, IfRangeChecksTheValidatorsSent) {
  const Response plain = get("/small.txt", {});
  const std::string etag = plain.header("ETag"), modified = plain.header("Last-Modified");
  ASSERT_EQ('"', etag.front()) << etag;
  ASSERT_FALSE(modified.empty());
  auto ask = [](const std::string& target, const std::string& validator) {
    return get(target, {"Range: bytes=0-1", "If-Range: " + validator});
  };
  EXPECT_EQ(206, ask("/small.txt", etag).status);
  EXPECT_EQ(206, ask("/small.txt", modified).status);
  EXPECT_EQ(200, ask("/small.txt", "\"other\"").status);
  EXPECT_EQ(200, ask("/small.txt", "W/" + etag).status);
  EXPECT_EQ(200, ask("/small.txt", "Sun, 06 Nov 1994 08:49:37 GMT").status);
  EXPECT_EQ(kSmall, ask("/small.txt", "\"other\"").body);
  EXPECT_EQ(
      200,
      get("/small.txt", {"Range: bytes=0-1", "If-Range: " + etag, "If-Range: " + etag}).status);
  // An unsatisfiable range behind a failed If-Range is not looked at.
  EXPECT_EQ(200, get("/small.txt", {"Range: bytes=50-", "If-Range: \"other\""}).status);

  // A changed file has another entity tag, and a file whose modification time has not passed
  // yet no strong date.
  write_file(site_ + "/changing.txt", kSmall);
  ASSERT_EQ(0, run("touch -d '-1 hour' '" + site_ + "/changing.txt'"));
  const Response before = get("/changing.txt", {});
  write_file(site_ + "/changing.txt", "ABCDEFGHIJklmnopqrst");
  ASSERT_EQ(0, run("touch -d '+1 hour' '" + site_ + "/changing.txt'"));
  const Response after = get("/changing.txt", {});
  EXPECT_NE(before.header("ETag"), after.header("ETag"));
  EXPECT_EQ(200, ask("/changing.txt", before.header("ETag")).status);
  EXPECT_EQ(206, ask("/changing.txt", after.header("ETag")).status);
  EXPECT_EQ(200, ask("/changing.txt", after.header("Last-Modified")).status);

  // Pages: against what they set themselves, and without validators no If-Range holds.
  EXPECT_EQ(206, ask("/tagged.asp", "\"v1\"").status);
  EXPECT_EQ(206, ask("/tagged.asp", "Sun, 06 Nov 1994 08:49:37 GMT").status);
  EXPECT_EQ(200, ask("/tagged.asp", "\"v2\"").status);
  EXPECT_EQ(200, ask("/page.asp", "\"v1\"").status);
  EXPECT_EQ(206, get("/page.asp", {"Range: bytes=0-1"}).status);
}

TEST_F(RangeTest, RangesApplyToCompleteSuccessfulGetAndHeadAnswersOnly) {
  const Response status = get("/status.asp", {"Range: bytes=0-1"});
  EXPECT_EQ(404, status.status);
  EXPECT_EQ(kSmall, status.body);
  EXPECT_FALSE(status.has_header("Accept-Ranges"));
  EXPECT_EQ(500, get("/broken.asp", {"Range: bytes=0-1"}).status);
  EXPECT_EQ(404, get("/missing.txt", {"Range: bytes=0-1"}).status);
  EXPECT_EQ(404, get("/missing.txt", {"Range: bytes=50-"}).status);
  const Response own = get("/own_range.asp", {"Range: bytes=1-2"});
  EXPECT_EQ(200, own.status);
  EXPECT_EQ("0123", own.body);
  EXPECT_EQ("bytes 0-3/20", own.header("Content-Range"));
  const Response none = get("/no_ranges.asp", {"Range: bytes=1-2"});
  EXPECT_EQ(200, none.status);
  EXPECT_EQ(kSmall, none.body);
  EXPECT_EQ("none", none.header("Accept-Ranges"));
  const Response post = request(host_.port, "POST", "/page.asp", "a=1",
                                {"Range: bytes=1-2", "Content-Type: text/plain"});
  EXPECT_EQ(200, post.status);
  EXPECT_EQ(kSmall, post.body);

  for (const char* target : {"/small.txt", "/page.asp"}) {
    const Response partial = head(host_.port, target, {"Range: bytes=2-5"});
    EXPECT_EQ(206, partial.status) << target;
    EXPECT_EQ("bytes 2-5/20", partial.header("Content-Range")) << target;
    EXPECT_EQ("4", partial.header("Content-Length")) << target;
    EXPECT_EQ("", partial.body) << target;
    const Response refused = head(host_.port, target, {"Range: bytes=20-"});
    EXPECT_EQ(416, refused.status) << target;
    EXPECT_EQ("", refused.body);
  }
}

// Attachments sent by pages, from a file and from a database field, come back in pieces that
// make up the whole.
TEST_F(RangeTest, AttachmentsFromFilesAndFieldsAreSentInPieces) {
  ASSERT_TRUE(register_module(ADO_MODULE));
  for (const std::string target : {"/file.asp?f=big.bin", "/field.asp"}) {
    const Response whole = get(target, {});
    ASSERT_EQ(200, whole.status) << target << whole.body.substr(0, 300);
    ASSERT_GT(whole.body.size(), 100000u);
    EXPECT_EQ("bytes", whole.header("Accept-Ranges"));
    EXPECT_NE(std::string::npos, whole.header("Content-Disposition").find("attachment"));
    const size_t size = whole.body.size();
    std::string joined;
    for (size_t at = 0; at < size;) {
      const size_t last = std::min(size - 1, at + size / 3);
      const Response piece =
          get(target, {"Range: bytes=" + std::to_string(at) + "-" + std::to_string(last)});
      ASSERT_EQ(206, piece.status) << target;
      EXPECT_EQ(
          "bytes " + std::to_string(at) + "-" + std::to_string(last) + "/" + std::to_string(size),
          piece.header("Content-Range"));
      EXPECT_NE(std::string::npos, piece.header("Content-Disposition").find("attachment"));
      joined += piece.body;
      at = last + 1;
    }
    EXPECT_TRUE(joined == whole.body) << target << ": the pieces differ from the whole";
  }
  EXPECT_TRUE(get("/file.asp?f=big.bin", {}).body == big_);
}

// curl is stopped part way (a time limit on a slowed transfer), then resumes from what it has.
TEST_F(RangeTest, CurlResumesABrokenDownloadOf20MB) {
  for (const std::string target : {"/big.bin", "/file.asp?f=big.bin"}) {
    const std::string saved = dir_ + "/resumed.bin";
    const std::string url = "'http://127.0.0.1:" + std::to_string(host_.port) + target + "'";
    run("rm -f '" + saved + "'");
    EXPECT_EQ(28, run("curl -s --limit-rate 2M --max-time 2 -o '" + saved + "' " + url))
        << "the first transfer was not cut off by its time limit";
    const size_t partial = read_bytes(saved).size();
    ASSERT_GT(partial, 0u) << target;
    ASSERT_LT(partial, big_.size()) << target;
    const std::string code_file = dir_ + "/code.txt";
    EXPECT_EQ(0, run("curl -s -C - -w '%{http_code}' -o '" + saved + "' " + url + " > '" +
                     code_file + "'"));
    EXPECT_EQ("206", read_bytes(code_file)) << target;
    const std::string resumed = read_bytes(saved);
    EXPECT_EQ(big_.size(), resumed.size()) << target;
    EXPECT_TRUE(resumed == big_) << target << ": the resumed file differs";
  }
}

}  // namespace
