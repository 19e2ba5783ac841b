// Upload progress: the table on its own (ids, bounds, expiry, reports), then through a vhost
// process: a throttled upload polled from another connection, refused and broken bodies, and
// the query's own errors.
#include "upload_progress.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host_process.h"
#include "http_client.h"

namespace {

using host_test::request;
using host_test::Response;
using vhost::HttpRequestData;
using vhost::UploadProgress;
using Clock = UploadProgress::Clock;
using std::chrono::seconds;

std::unique_ptr<HttpRequestData> upload_request(const std::string& query,
                                                const std::vector<std::string>& headers = {}) {
  auto r = std::make_unique<HttpRequestData>();
  r->method = "POST";
  r->raw_query = query;
  for (const std::string& h : headers)
    r->headers.emplace_back(h.substr(0, h.find(':')), h.substr(h.find(':') + 2));
  return r;
}

TEST(UploadProgressIds, LettersDigitsDashUnderscoreDotUpTo64) {
  EXPECT_TRUE(UploadProgress::valid_id("a"));
  EXPECT_TRUE(UploadProgress::valid_id("0f3c-9A_b.7"));
  EXPECT_TRUE(UploadProgress::valid_id(std::string(64, 'x')));
  EXPECT_FALSE(UploadProgress::valid_id(std::string(65, 'x')));
  for (const char* bad :
       {"", "a b", "a/b", "a\"b", "a\\b", "<script>", "a%20b", "\xED\x95\x9C", "a\nb"})
    EXPECT_FALSE(UploadProgress::valid_id(bad)) << bad;
  EXPECT_FALSE(UploadProgress::valid_id(std::string("a\0b", 3)));
}

TEST(UploadProgressIds, HeaderFirstThenQueryParameter) {
  EXPECT_EQ("q1", UploadProgress::request_id(*upload_request("a=1&X-Progress-ID=q1&b=2")));
  EXPECT_EQ("q2", UploadProgress::request_id(*upload_request("x-progress-id=q2")));
  EXPECT_EQ("q.3", UploadProgress::request_id(*upload_request("X%2DProgress%2DID=q%2E3")));
  EXPECT_EQ("first", UploadProgress::request_id(
                         *upload_request("X-Progress-ID=first&X-Progress-ID=second")));
  EXPECT_EQ("h1",
            UploadProgress::request_id(*upload_request("X-Progress-ID=q1", {"X-Progress-ID: h1"})));
  // An invalid id counts as none; the query is not consulted after an invalid header.
  EXPECT_EQ("", UploadProgress::request_id(
                    *upload_request("X-Progress-ID=q1", {"X-Progress-ID: bad id"})));
  EXPECT_EQ("", UploadProgress::request_id(*upload_request("X-Progress-ID=a+b")));
  EXPECT_EQ("", UploadProgress::request_id(*upload_request("X-Progress-ID=")));
  EXPECT_EQ("", UploadProgress::request_id(*upload_request("X-Progress-ID")));
  EXPECT_EQ("", UploadProgress::request_id(*upload_request("Progress-ID=x")));
  EXPECT_EQ(
      "", UploadProgress::request_id(*upload_request("X-Progress-ID=" + std::string(100000, 'a'))));
}

TEST(UploadProgressTable, ReportsAnUploadFromStartToEnd) {
  UploadProgress table(seconds(60));
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ("{\"state\":\"starting\"}", table.report("u1", t0));
  auto r = upload_request("X-Progress-ID=u1", {"Content-Length: 1000"});
  auto entry = table.track(*r, t0);
  ASSERT_TRUE(entry);
  EXPECT_EQ("{\"state\":\"uploading\",\"received\":0,\"size\":1000}", table.report("u1", t0));
  entry->received += 400;
  EXPECT_EQ("{\"state\":\"uploading\",\"received\":400,\"size\":1000}", table.report("u1", t0));
  entry->received += 600;
  table.finish(*entry, 200, false, false, t0);
  EXPECT_EQ("{\"state\":\"done\",\"received\":1000,\"size\":1000}", table.report("u1", t0));
  EXPECT_EQ("{\"state\":\"starting\"}", table.report("u2", t0));
}

TEST(UploadProgressTable, OnlyRequestsWithABodyAreTracked) {
  UploadProgress table(seconds(60));
  const Clock::time_point now = Clock::now();
  EXPECT_FALSE(table.track(*upload_request("X-Progress-ID=a"), now)) << "no body";
  EXPECT_FALSE(table.track(*upload_request("X-Progress-ID=a", {"Content-Length: 0"}), now));
  EXPECT_FALSE(table.track(*upload_request("X-Progress-ID=a", {"Content-Length: 1x"}), now));
  EXPECT_FALSE(table.track(*upload_request("", {"Content-Length: 10"}), now)) << "no id";
  auto chunked =
      table.track(*upload_request("X-Progress-ID=c", {"Transfer-Encoding: chunked"}), now);
  ASSERT_TRUE(chunked);
  chunked->received += 77;
  EXPECT_EQ("{\"state\":\"uploading\",\"received\":77,\"size\":null}", table.report("c", now));
  table.finish(*chunked, 200, false, false, now);
  EXPECT_EQ("{\"state\":\"done\",\"received\":77,\"size\":77}", table.report("c", now));
}

TEST(UploadProgressTable, ErrorsCarryTheStatusOrWhatEndedTheBody) {
  UploadProgress table(seconds(60));
  const Clock::time_point now = Clock::now();
  const struct {
    unsigned response;
    bool too_large, timed_out;
    unsigned want;
  } cases[] = {{413, true, false, 413}, {0, true, false, 413},    {0, false, true, 408},
               {0, false, false, 400},  {500, false, false, 500}, {404, false, true, 404}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string id = "e" + std::to_string(i);
    auto entry = table.track(*upload_request("X-Progress-ID=" + id, {"Content-Length: 9"}), now);
    ASSERT_TRUE(entry);
    entry->received += 3;
    table.finish(*entry, cases[i].response, cases[i].too_large, cases[i].timed_out, now);
    EXPECT_EQ("{\"state\":\"error\",\"received\":3,\"size\":9,\"status\":" +
                  std::to_string(cases[i].want) + "}",
              table.report(id, now));
  }
}

TEST(UploadProgressTable, AnIdBelongsToOneBodyAtATime) {
  UploadProgress table(seconds(60));
  const Clock::time_point now = Clock::now();
  auto r = upload_request("X-Progress-ID=same", {"Content-Length: 10"});
  auto first = table.track(*r, now);
  ASSERT_TRUE(first);
  first->received += 5;
  EXPECT_FALSE(table.track(*r, now)) << "a second body under a running id";
  EXPECT_EQ("{\"state\":\"uploading\",\"received\":5,\"size\":10}", table.report("same", now));
  table.finish(*first, 200, false, false, now);
  auto again = table.track(*r, now);
  ASSERT_TRUE(again) << "an ended id is taken by the next body";
  EXPECT_EQ("{\"state\":\"uploading\",\"received\":0,\"size\":10}", table.report("same", now));
}

TEST(UploadProgressTable, EndedEntriesExpire) {
  UploadProgress table(seconds(30));
  const Clock::time_point t0 = Clock::now();
  auto entry = table.track(*upload_request("X-Progress-ID=x", {"Content-Length: 1"}), t0);
  ASSERT_TRUE(entry);
  EXPECT_NE("{\"state\":\"starting\"}", table.report("x", t0 + seconds(3600)))
      << "a body still coming never expires";
  table.finish(*entry, 200, false, false, t0 + seconds(10));
  EXPECT_NE("{\"state\":\"starting\"}", table.report("x", t0 + seconds(39)));
  EXPECT_EQ("{\"state\":\"starting\"}", table.report("x", t0 + seconds(40)));
}

// A client choosing ids at will fills the table only up to its bound: ended entries make room,
// oldest first, and running ones are never pushed out.
TEST(UploadProgressTable, TheTableIsBounded) {
  UploadProgress table(seconds(60), 3);
  const Clock::time_point t0 = Clock::now();
  auto track = [&](const std::string& id, Clock::time_point at) {
    return table.track(*upload_request("X-Progress-ID=" + id, {"Content-Length: 5"}), at);
  };
  auto a = track("a", t0), b = track("b", t0), c = track("c", t0);
  ASSERT_TRUE(a && b && c);
  EXPECT_FALSE(track("d", t0)) << "every entry is running";
  EXPECT_EQ("{\"state\":\"starting\"}", table.report("d", t0));
  table.finish(*b, 200, false, false, t0 + seconds(1));
  table.finish(*a, 200, false, false, t0 + seconds(2));
  ASSERT_TRUE(track("d", t0 + seconds(3)));
  EXPECT_EQ("{\"state\":\"starting\"}", table.report("b", t0 + seconds(3))) << "oldest ended";
  EXPECT_NE("{\"state\":\"starting\"}", table.report("a", t0 + seconds(3)));
  EXPECT_NE("{\"state\":\"starting\"}", table.report("c", t0 + seconds(3)));
  ASSERT_TRUE(track("e", t0 + seconds(3)));
  EXPECT_FALSE(track("f", t0 + seconds(3)));
  EXPECT_NE("{\"state\":\"starting\"}", table.report("c", t0 + seconds(3)));
}

// Bodies counted on several threads while others query and start new ones: every byte is
// counted and reports stay well formed.
TEST(UploadProgressTable, CountsAndQueriesFromManyThreads) {
  UploadProgress table(seconds(60), 64);
  const Clock::time_point now = Clock::now();
  constexpr int kThreads = 8, kChunks = 2000;
  std::vector<std::thread> threads;
  const std::regex shape(
      "\\{\"state\":\"(starting|uploading|done)\"(,\"received\":[0-9]+,\"size\":[0-9]+)?\\}");
  std::atomic<int> bad{0};
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const std::string id = "t" + std::to_string(t);
      auto entry = table.track(*upload_request("X-Progress-ID=" + id,
                                               {"Content-Length: " + std::to_string(kChunks * 10)}),
                               now);
      if (!entry) {
        ++bad;
        return;
      }
      for (int i = 0; i < kChunks; ++i) {
        entry->received.fetch_add(10, std::memory_order_relaxed);
        if (!std::regex_match(table.report("t" + std::to_string((t + i) % kThreads), now), shape))
          ++bad;
      }
      table.finish(*entry, 200, false, false, now);
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(0, bad.load());
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ("{\"state\":\"done\",\"received\":20000,\"size\":20000}",
              table.report("t" + std::to_string(t), now));
}

// Through vhost processes.

const std::string kBoundary = "----progressTestBoundary9xQ";
const std::string kMultipartType = "Content-Type: multipart/form-data; boundary=" + kBoundary;

std::string multipart_file(const std::string& data) {
  return "--" + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"f.bin\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\n" +
         data + "\r\n--" + kBoundary + "--\r\n";
}

struct Report {
  std::string state;
  long long received = -1, size = -1, status = -1;
};

long long json_number(const std::string& json, const std::string& name) {
  const size_t at = json.find("\"" + name + "\":");
  return at == std::string::npos ? -1 : std::atoll(json.c_str() + at + name.size() + 3);
}

class ProgressHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/vhostprogressXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    const std::string site = dir_ + "/site";
    ASSERT_EQ(0, host_test::run("mkdir -p '" + site + "'"));
    // Reads the whole body and says how much came.
    host_test::write_file(site + "/sink.asp",
                          "<% var n = Request.TotalBytes; Request.BinaryRead(n);"
                          " Response.Write(\"got \" + n); %>");
    host_test::write_file(site + "/hello.txt", "hello\n");
    const std::string env = "PLATFORM_REGISTRY='" + dir_ + "/registry.reg'";
    const std::string args = "--root '" + site + "' --workers 4 --max-body 4M";
    ASSERT_TRUE(host_.start(dir_, "main", env, args)) << host_test::read_bytes(host_.err_file);
    ASSERT_TRUE(short_.start(dir_, "short", env,
                             args + " --progress-keep 3 --progress-path /up/status"
                                    " --client-timeout 3"))
        << host_test::read_bytes(short_.err_file);
  }

  static void TearDownTestSuite() {
    host_.stop();
    short_.stop();
    host_test::run("rm -rf '" + dir_ + "'");
  }

  static Report query(unsigned port, const std::string& id,
                      const std::string& path = "/.progress") {
    const Response r = request(port, "GET", path + "?X-Progress-ID=" + id);
    Report out;
    if (r.status != 200 || r.header("Content-Type") != "application/json")
      return out;
    const size_t at = r.body.find("\"state\":\"");
    if (at != std::string::npos)
      out.state = r.body.substr(at + 9, r.body.find('"', at + 9) - at - 9);
    out.received = json_number(r.body, "received");
    out.size = json_number(r.body, "size");
    out.status = json_number(r.body, "status");
    return out;
  }

  // Polls until the id reaches `state`, for at most 30 seconds.
  static Report wait_for(unsigned port, const std::string& id, const std::string& state,
                         const std::string& path = "/.progress") {
    Report r;
    for (int i = 0; i < 300; ++i) {
      r = query(port, id, path);
      if (r.state == state)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return r;
  }

  static inline std::string dir_;
  static inline host_test::Host host_, short_;
};

TEST_F(ProgressHostTest, AThrottledUploadIsSeenGrowingThenDone) {
  const std::string file = dir_ + "/throttled.bin";
  host_test::write_file(file, std::string(600 * 1024, 'u'));
  const std::string out = dir_ + "/throttled.out";
  // About three seconds at 200 KB/s.
  std::thread upload([&] {
    host_test::run("curl -s --limit-rate 200K -o '" + out + "' -F 'f=@" + file +
                   "' 'http://127.0.0.1:" + std::to_string(host_.port) +
                   "/sink.asp?X-Progress-ID=throttled-1'");
  });
  std::vector<long long> seen;
  Report r;
  for (int i = 0; i < 600 && r.state != "done"; ++i) {
    r = query(host_.port, "throttled-1");
    if (r.state == "uploading") {
      EXPECT_GT(r.size, 600 * 1024) << "the size of the whole body";
      EXPECT_LE(r.received, r.size);
      if (seen.empty() || r.received != seen.back())
        seen.push_back(r.received);
    } else if (r.state != "starting") {
      EXPECT_EQ("done", r.state);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  upload.join();
  EXPECT_EQ("done", r.state);
  EXPECT_EQ(r.size, r.received);
  EXPECT_EQ("got " + std::to_string(r.size), host_test::read_bytes(out));
  ASSERT_GE(seen.size(), 2u) << "the upload was not seen growing";
  for (size_t i = 1; i < seen.size(); ++i)
    EXPECT_LT(seen[i - 1], seen[i]);
  EXPECT_LT(seen.front(), r.size);
}

TEST_F(ProgressHostTest, RefusedBodiesAreErrorsWithTheirStatus) {
  // Announced as too large: refused before it is read.
  const int fd = host_test::connect_loopback(host_.port);
  ASSERT_GE(fd, 0);
  const std::string head =
      "POST /sink.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Progress-ID: big-1\r\n" + kMultipartType +
      "\r\nContent-Length: " + std::to_string(5 << 20) + "\r\n\r\n";
  ASSERT_TRUE(host_test::send_all(fd, head.data(), head.size()));
  EXPECT_EQ(413, host_test::read_response(fd).status);
  close(fd);
  Report r = wait_for(host_.port, "big-1", "error");
  EXPECT_EQ("error", r.state);
  EXPECT_EQ(413, r.status);
  EXPECT_EQ(5 << 20, r.size);

  // Chunked: found too large while it is read.
  const std::string body = multipart_file(std::string(5 << 20, 'c'));
  std::string chunked = "POST /sink.asp?X-Progress-ID=big-2 HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                        kMultipartType +
                        "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  chunked += host_test::chunked(body);
  const int chunked_fd = host_test::connect_loopback(host_.port);
  ASSERT_GE(chunked_fd, 0);
  std::thread sender([&] { host_test::send_all(chunked_fd, chunked.data(), chunked.size()); });
  EXPECT_EQ(413, host_test::read_response(chunked_fd).status);
  sender.join();
  close(chunked_fd);
  r = wait_for(host_.port, "big-2", "error");
  EXPECT_EQ("error", r.state);
  EXPECT_EQ(413, r.status);
  EXPECT_GT(r.received, 4 << 20);

  // A page that fails: the upload arrived, its answer is an error.
  const Response missing = request(host_.port, "POST", "/missing.asp?X-Progress-ID=gone-1",
                                   multipart_file("x"), {kMultipartType});
  EXPECT_EQ(404, missing.status);
  r = wait_for(host_.port, "gone-1", "error");
  EXPECT_EQ(404, r.status);
}

TEST_F(ProgressHostTest, ABodyCutShortIsAnError) {
  const int fd = host_test::connect_loopback(host_.port);
  ASSERT_GE(fd, 0);
  const std::string head = "POST /sink.asp?X-Progress-ID=cut-1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                           kMultipartType + "\r\nContent-Length: 100000\r\n\r\n" +
                           std::string(30000, 'x');
  ASSERT_TRUE(host_test::send_all(fd, head.data(), head.size()));
  Report r = wait_for(host_.port, "cut-1", "uploading");
  for (int i = 0; i < 300 && r.received < 30000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    r = query(host_.port, "cut-1");
  }
  EXPECT_EQ(30000, r.received);
  EXPECT_EQ(100000, r.size);
  close(fd);
  r = wait_for(host_.port, "cut-1", "error");
  EXPECT_EQ(400, r.status);
  EXPECT_EQ(30000, r.received);

  // A client that goes silent is timed out (three seconds on this host).
  const int silent = host_test::connect_loopback(short_.port);
  ASSERT_GE(silent, 0);
  const std::string partial =
      "POST /sink.asp?X-Progress-ID=slow-1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kMultipartType +
      "\r\nContent-Length: 1000\r\n\r\nabc";
  ASSERT_TRUE(host_test::send_all(silent, partial.data(), partial.size()));
  r = wait_for(short_.port, "slow-1", "error", "/up/status");
  close(silent);
  EXPECT_EQ(408, r.status);
  EXPECT_EQ(3, r.received);
}

TEST_F(ProgressHostTest, UnknownIdsAreStartingAndBadQueriesAreRefused) {
  EXPECT_EQ("starting", query(host_.port, "never-sent").state);
  const Response unknown = request(host_.port, "GET", "/.progress?X-Progress-ID=never-sent");
  EXPECT_EQ("{\"state\":\"starting\"}", unknown.body);
  EXPECT_EQ("no-store", unknown.header("Cache-Control"));
  const Response by_header =
      request(host_.port, "GET", "/.progress", "", {"X-Progress-ID: never-sent"});
  EXPECT_EQ("{\"state\":\"starting\"}", by_header.body);
  for (const std::string& target : std::vector<std::string>{
           "/.progress", "/.progress?X-Progress-ID=", "/.progress?X-Progress-ID=a%22b",
           "/.progress?X-Progress-ID=%3Cscript%3E",
           "/.progress?X-Progress-ID=" + std::string(65, 'a')})
    EXPECT_EQ(400, request(host_.port, "GET", target).status) << target;
  EXPECT_EQ(405, request(host_.port, "POST", "/.progress?X-Progress-ID=a", "x").status);
  // An upload with an id that cannot be tracked still goes through.
  const Response upload = request(host_.port, "POST", "/sink.asp?X-Progress-ID=a%20b",
                                  multipart_file("data"), {kMultipartType});
  EXPECT_EQ(200, upload.status);
}

TEST_F(ProgressHostTest, ThePathIsChosenAndEndedUploadsExpire) {
  const Response r = request(short_.port, "POST", "/sink.asp", multipart_file("12345"),
                             {kMultipartType, "X-Progress-ID: kept-1"});
  ASSERT_EQ(200, r.status);
  EXPECT_EQ(404, request(short_.port, "GET", "/.progress?X-Progress-ID=kept-1").status);
  // The client may have its answer a moment before the host has ended the request.
  EXPECT_EQ("done", wait_for(short_.port, "kept-1", "done", "/up/status").state);
  // Kept for three seconds after the end on this host.
  EXPECT_EQ("starting", wait_for(short_.port, "kept-1", "starting", "/up/status").state);
}

}  // namespace
