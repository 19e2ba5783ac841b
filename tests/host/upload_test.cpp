// Uploads through the script host into the upload component: vhost runs on a free loopback
// port with a registry holding VtrlSrv, and a test page saves every attachment it receives.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "host_process.h"
#include "http_client.h"

namespace {

namespace fs = std::filesystem;
using host_test::Host;
using host_test::read_bytes;
using host_test::request;
using host_test::Response;
using host_test::run;
using host_test::write_file;

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (char& c : data)
    c = static_cast<char>(random());
  // Line breaks and zero bytes where a careless parser would cut or stop.
  for (size_t i = 0; i + 4 <= size; i += 997) {
    data[i] = '\r';
    data[i + 1] = '\n';
    data[i + 2] = '-';
    data[i + 3] = '\0';
  }
  return data;
}

const std::string kBoundary = "----vhostUploadTest7MA4YWxkTrZu0gW";

struct Part {
  std::string name, file_name, data;
};

std::string multipart(const std::vector<Part>& parts) {
  std::string body;
  for (const Part& p : parts) {
    body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
    if (!p.file_name.empty())
      body += "; filename=\"" + p.file_name + "\"\r\nContent-Type: application/octet-stream";
    body += "\r\n\r\n" + p.data + "\r\n";
  }
  return body + "--" + kBoundary + "--\r\n";
}

const std::string kMultipartType = "Content-Type: multipart/form-data; boundary=" + kBoundary;

class HostUploadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/vhostuploadXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    site_ = dir_ + "/site";
    tmp_ = dir_ + "/tmp";
    const std::string registry = dir_ + "/registry.reg";
    ASSERT_EQ(0, run("mkdir -p '" + site_ + "' '" + tmp_ + "'"));
    ASSERT_EQ(0, run("PLATFORM_REGISTRY='" + registry +
                     "' '" REGSVR_PATH "' -s '" VTRLSRV_PATH "' > /dev/null"));
    // Saves every attachment into the folder named by ?d= (default up), numbering taken
    // names, and lists the counts and what was saved.
    write_file(
        site_ + "/upload.asp",
        "<% var up = Server.CreateObject(\"Vantrel.FileUpload\");\n"
        "var d = \"\" + Request.QueryString(\"d\"); if (!/^[a-z0-9]+$/.test(d)) d = \"up\";\n"
        "up.MakeDir(d); var out = [];\n"
        "for (var e = new Enumerator(up.Attachments); !e.atEnd(); e.moveNext()) {\n"
        "  var a = e.item(); if (a.FileName == \"\") continue;\n"
        "  a.SaveFile(d + \"/\" + a.FileName, 1); out.push(a.FileName + \":\" + a.Size);\n"
        "}\n"
        "Response.Write(up.Items.Count + \"|\" + up.Attachments.Count + \"|\" + "
        "out.join(\"/\")); %>");
    // Saves every attachment under saves/ by the name the client gave, as a careless page
    // would, and reports each name with what became of it.
    write_file(site_ + "/saves.asp",
               "<% var up = Server.CreateObject(\"Vantrel.FileUpload\"); up.MakeDir(\"saves\");\n"
               "var out = [];\n"
               "for (var e = new Enumerator(up.Attachments); !e.atEnd(); e.moveNext()) {\n"
               "  var a = e.item(), name = a.FileName;\n"
               "  if (name == \"\") { out.push(\"(no name)\"); continue; }\n"
               "  try { a.SaveFile(\"saves/\" + name); out.push(name + \" > \" + a.FileName); }\n"
               "  catch (x) { out.push(name + \" ! \" + x.number); }\n"
               "}\n"
               "Response.Write(out.join(\"\\n\")); %>");
    write_file(site_ + "/hello.txt", "hello\n");
    const std::string env = "PLATFORM_REGISTRY='" + registry + "' TMPDIR='" + tmp_ + "'";
    const std::string args = "--root '" + site_ + "' --workers 4 --data-dir up";
    ASSERT_TRUE(host_.start(dir_, "main", env, args)) << read_bytes(host_.err_file);
    ASSERT_TRUE(small_.start(dir_, "small", env, args + " --max-body 1M"))
        << read_bytes(small_.err_file);
    // A fixed mmap threshold makes the allocator give every freed body back at once, so
    // the resident size of this host shows what it holds, not what the allocator keeps. Under
    // AddressSanitizer the same holds only without its quarantine of freed blocks.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string impatient_env = env + " MALLOC_MMAP_THRESHOLD_=131072 ASAN_OPTIONS='" +
                                      (asan ? std::string(asan) + ":" : "") +
                                      "quarantine_size_mb=0'";
    ASSERT_TRUE(impatient_.start(dir_, "impatient", impatient_env, args + " --client-timeout 2"))
        << read_bytes(impatient_.err_file);
  }

  static void TearDownTestSuite() {
    host_.stop();
    small_.stop();
    impatient_.stop();
    run("rm -rf '" + dir_ + "'");
  }

  // The saved name the page reported, without any folder.
  static std::string base_name(const std::string& saved) {
    const size_t slash = saved.find_last_of("/\\");
    return slash == std::string::npos ? saved : saved.substr(slash + 1);
  }

  static std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(site_ + "/" + folder, ec))
      names.push_back(entry.path().filename().string());
    return names;
  }

  // Every path under the test's folder, the hosts' own output files left out.
  static std::set<std::string> tree() {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      const std::string path = entry.path().string();
      if (!path.ends_with(".out") && !path.ends_with(".err"))
        paths.insert(path.substr(dir_.size()));
    }
    return paths;
  }

  // Posts one file of each name to saves.asp; returns what the page reported and sets *added to
  // the paths the post added under the test's folder.
  static std::string post_names(const std::vector<std::string>& names,
                                std::set<std::string>* added) {
    const std::set<std::string> before = tree();
    std::vector<Part> parts;
    for (const std::string& name : names)
      parts.push_back({"f", name, "saved as " + name});
    const Response r =
        request(host_.port, "POST", "/saves.asp", multipart(parts), {kMultipartType});
    EXPECT_EQ(200, r.status) << r.body;
    added->clear();
    // The save folder itself is made by whichever test posts first.
    for (const std::string& path : tree())
      if (!before.count(path) && path != "/site/saves")
        added->insert(path);
    return r.body;
  }

  static inline std::string dir_, site_, tmp_;
  static inline Host host_, small_, impatient_;
};

TEST_F(HostUploadTest, FilesOfEverySizeAreSavedByteExact) {
  const std::vector<size_t> sizes = {0, 1, 1000, size_t{1} << 20, size_t{20} * 1000 * 1000};
  std::vector<Part> parts = {{"title", "", "sizes"}};
  for (size_t i = 0; i < sizes.size(); ++i)
    parts.push_back({"f" + std::to_string(i), "file" + std::to_string(i) + ".bin",
                     random_bytes(sizes[i], static_cast<unsigned>(i + 1))});
  Response r =
      request(host_.port, "POST", "/upload.asp?d=sizes", multipart(parts), {kMultipartType});
  ASSERT_EQ(200, r.status) << r.body.substr(0, 500);
  std::vector<std::string> saved;
  std::stringstream list(r.body.substr(r.body.find('|', r.body.find('|') + 1) + 1));
  for (std::string entry; std::getline(list, entry, '/');)
    saved.push_back(entry);
  EXPECT_EQ("1|5|", r.body.substr(0, 4)) << r.body;
  ASSERT_EQ(sizes.size(), saved.size()) << r.body;
  for (size_t i = 0; i < sizes.size(); ++i) {
    const size_t colon = saved[i].rfind(':');
    EXPECT_EQ(std::to_string(sizes[i]), saved[i].substr(colon + 1));
    const std::string on_disk =
        read_bytes(site_ + "/sizes/" + base_name(saved[i].substr(0, colon)));
    EXPECT_EQ(sizes[i], on_disk.size()) << saved[i];
    EXPECT_TRUE(on_disk == parts[i + 1].data) << "saved file " << saved[i] << " differs";
  }
}

TEST_F(HostUploadTest, BodyOverTheLimitGets413AndNothingIsSaved) {
  const std::string body = multipart({{"f", "big.bin", random_bytes(3 << 19, 9)}});
  // Announced length: refused before the body is read.
  const int fd = host_test::connect_loopback(small_.port);
  ASSERT_GE(fd, 0);
  const std::string head = "POST /upload.asp?d=big HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                           kMultipartType + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n";
  ASSERT_TRUE(host_test::send_all(fd, head.data(), head.size()));
  Response announced = host_test::read_response(fd);
  close(fd);
  EXPECT_EQ(413, announced.status);

  // Chunked: no length to refuse up front, so the limit is found while reading.
  const int chunked_fd = host_test::connect_loopback(small_.port);
  ASSERT_GE(chunked_fd, 0);
  std::string chunked = "POST /upload.asp?d=big HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kMultipartType +
                        "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  chunked += host_test::chunked(body);
  // The host answers while the body is still coming: read that answer while sending.
  std::thread sender([&] { host_test::send_all(chunked_fd, chunked.data(), chunked.size()); });
  Response streamed = host_test::read_response(chunked_fd);
  sender.join();
  close(chunked_fd);
  EXPECT_EQ(413, streamed.status);

  EXPECT_FALSE(fs::exists(site_ + "/big")) << "the page ran for a refused body";
  EXPECT_EQ(200, request(small_.port, "GET", "/hello.txt").status);
  // A body under the limit still goes through the same host.
  Response fits = request(small_.port, "POST", "/upload.asp?d=fits",
                          multipart({{"f", "fits.bin", random_bytes(1000, 3)}}), {kMultipartType});
  EXPECT_EQ(200, fits.status) << fits.body;
  EXPECT_EQ(1u, files_in("fits").size());
}

TEST_F(HostUploadTest, GetAndUrlEncodedPostGiveEmptyCollections) {
  Response get = request(host_.port, "GET", "/upload.asp?d=empty");
  EXPECT_EQ(200, get.status);
  EXPECT_EQ("0|0|", get.body);
  Response form = request(host_.port, "POST", "/upload.asp?d=empty", "a=1&b=two",
                          {"Content-Type: application/x-www-form-urlencoded"});
  EXPECT_EQ(200, form.status);
  EXPECT_EQ("0|0|", form.body);
  EXPECT_TRUE(files_in("empty").empty());
}

TEST_F(HostUploadTest, ConcurrentUploadsOfOneNameKeepEveryFile) {
  constexpr int kThreads = 20, kEach = 10;
  std::vector<std::string> sent(kThreads * kEach);
  for (size_t i = 0; i < sent.size(); ++i)
    sent[i] = "upload " + std::to_string(i) + "\n" + random_bytes(3000, static_cast<unsigned>(i));
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < kEach; ++k) {
        const std::string& data = sent[static_cast<size_t>(t * kEach + k)];
        Response r = request(host_.port, "POST", "/upload.asp?d=same",
                             multipart({{"f", "same.bin", data}}), {kMultipartType});
        if (r.status == 200)
          ++ok;
      }
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(kThreads * kEach, ok.load());
  const std::vector<std::string> names = files_in("same");
  EXPECT_EQ(sent.size(), names.size());
  std::multiset<std::string> on_disk;
  for (const std::string& name : names)
    on_disk.insert(read_bytes(site_ + "/same/" + name));
  EXPECT_TRUE(on_disk == std::multiset<std::string>(sent.begin(), sent.end()))
      << "the saved files do not hold exactly what was sent";
}

size_t open_descriptors(pid_t pid) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec))
    ++n;
  return n;
}

size_t resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0)
      return std::strtoull(line.c_str() + 6, nullptr, 10);
  return 0;
}

// Whether the host closed the connection within `seconds`, while the client sent nothing.
bool closed_within(int fd, int seconds) {
  timeval tv{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char c;
  for (int i = 0; i < seconds; ++i) {
    const ssize_t k = recv(fd, &c, 1, 0);
    if (k == 0 || (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
      return true;
  }
  return false;
}

TEST_F(HostUploadTest, ClientsTooSlowOrSilentAreCutOff) {
  const std::string body = multipart({{"f", "slow.bin", "abcdefghijklmnopqrstuvwxyz"}});
  const std::string head = "POST /upload.asp?d=slow HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                           kMultipartType + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n";
  // A byte a second is never silent for long, so only a bound on the whole body stops it;
  // the host allows two seconds, the client would need over a minute.
  const int fd = host_test::connect_loopback(impatient_.port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(host_test::send_all(fd, head.data(), head.size()));
  bool cut = false;
  for (size_t i = 0; i < 30 && !cut; ++i) {
    const ssize_t sent = send(fd, body.data() + i, 1, MSG_NOSIGNAL);
    cut = sent <= 0 || closed_within(fd, 1);
  }
  close(fd);
  EXPECT_TRUE(cut) << "a body sent a byte a second was still accepted after 30 seconds";
  EXPECT_FALSE(fs::exists(site_ + "/slow")) << "the page ran on a cut-off body";

  const int silent = host_test::connect_loopback(impatient_.port);
  ASSERT_GE(silent, 0);
  ASSERT_TRUE(host_test::send_all(silent, head.data(), head.size()));
  EXPECT_TRUE(closed_within(silent, 30)) << "a silent client kept its connection";
  close(silent);
  EXPECT_EQ(200, request(impatient_.port, "GET", "/hello.txt").status);
}

TEST_F(HostUploadTest, AbortedUploadsLeaveNoFileDescriptorOrMemoryBehind) {
  ASSERT_EQ(200, request(impatient_.port, "GET", "/upload.asp?d=warm").status);
  const std::string body = multipart({{"f", "abort.bin", random_bytes(4 << 20, 11)}});
  const std::string head = "POST /upload.asp?d=abort HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                           kMultipartType + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n";
  std::mt19937 random(5);
  size_t sent_in_round = 0;
  // Each client sends part of its body and goes away, half of them with a reset.
  auto abort_round = [&](int clients) {
    sent_in_round = 0;
    for (int i = 0; i < clients; ++i) {
      const int fd = host_test::connect_loopback(impatient_.port);
      ASSERT_GE(fd, 0);
      const size_t part = random() % (256 * 1024);
      const std::string partial = head + body.substr(0, part);
      host_test::send_all(fd, partial.data(), partial.size());
      sent_in_round += part;
      if (i % 2) {
        linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      }
      close(fd);
    }
  };
  // A client that closes its sending side mid-body may still be waiting for an answer, so the
  // host keeps such a connection until the client time-out (two seconds here) ends it.
  auto settled_descriptors = [&](size_t want) {
    size_t n = open_descriptors(impatient_.pid);
    for (int i = 0; i < 150 && n > want; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      n = open_descriptors(impatient_.pid);
    }
    return n;
  };
  const size_t fds_before = open_descriptors(impatient_.pid);
  ASSERT_GT(fds_before, 0u);
  abort_round(100);
  EXPECT_LE(settled_descriptors(fds_before), fds_before);
  // After a first round has set up the host's working memory, kept partial bodies would add
  // to every further round what it sent.
  abort_round(100);
  EXPECT_LE(settled_descriptors(fds_before), fds_before);
  const size_t rss_before = resident_kib(impatient_.pid);
  size_t sent = 0;
  for (int round = 0; round < 3; ++round) {
    abort_round(100);
    sent += sent_in_round;
    EXPECT_LE(settled_descriptors(fds_before), fds_before);
  }
  const size_t rss_after = resident_kib(impatient_.pid);
  EXPECT_LT(rss_after, rss_before + sent / 1024 / 2)
      << "resident memory grew from " << rss_before << " KiB to " << rss_after
      << " KiB over aborted uploads of " << sent / 1024 << " KiB";

  EXPECT_FALSE(fs::exists(site_ + "/abort"));
  EXPECT_TRUE(fs::is_empty(tmp_)) << "temporary files were left";
  EXPECT_EQ(200, request(impatient_.port, "GET", "/hello.txt").status);
}

// Client file names that are not plain names land in the folder of the save or nowhere: a
// name that is only dots is no name at all; a drive prefix is cut off; a percent-escaped line
// feed is part of the name; a NUL ends it; a backslash path keeps its last part.
TEST_F(HostUploadTest, ClientFileNamesLandInTheFolderOfTheSaveOrNowhere) {
  std::set<std::string> added;
  const std::string report = post_names(
      {"..", ".", "C:x4.txt", "lf%0Ax6.txt", std::string("nul\0x5.txt", 11), "dir\\..\\x7.txt"},
      &added);
  EXPECT_EQ(std::set<std::string>({"/site/saves/x4.txt", "/site/saves/lf%0Ax6.txt",
                                   "/site/saves/nul", "/site/saves/x7.txt"}),
            added)
      << report;
  EXPECT_EQ("saved as C:x4.txt", read_bytes(site_ + "/saves/x4.txt"));
  EXPECT_EQ("saved as dir\\..\\x7.txt", read_bytes(site_ + "/saves/x7.txt"));
}

// Names that hold a forward slash keep only what follows the last one, as they keep what
// follows the last backslash: a browser sends the base name only, and a file name is never a
// path (RFC 7578 4.2).
TEST_F(HostUploadTest, ClientFileNamesWithSlashesKeepTheirLastPart) {
  std::set<std::string> added;
  const std::string report =
      post_names({"a/../x1.txt", "../x2.txt", "/etc/x3.txt", "up/../../x8.txt", "..", "."}, &added);
  EXPECT_EQ(std::set<std::string>({"/site/saves/x1.txt", "/site/saves/x2.txt", "/site/saves/x3.txt",
                                   "/site/saves/x8.txt"}),
            added)
      << report;
  EXPECT_EQ("saved as a/../x1.txt", read_bytes(site_ + "/saves/x1.txt"));
  // ".." and "." name no file: those parts are fields, and nothing is saved for them.
  size_t saves = 0;
  for (size_t at = report.find(" > "); at != std::string::npos; at = report.find(" > ", at + 1))
    ++saves;
  EXPECT_EQ(4u, saves) << report;
}

// Uploads saved into a folder marked as data neither run as pages nor show as HTML or SVG in the
// site's origin; saved into a folder that is not marked, an uploaded page runs.
TEST_F(HostUploadTest, UploadedPagesInADataFolderNeitherRunNorShow) {
  const std::string page = "<%= \"ran\" + (6 * 7) %>";
  const std::string body = multipart(
      {{"f", "evil.asp", page},
       {"f", "evil.html", "<script>document.cookie</script>"},
       {"f", "evil.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" onload=\"alert(1)\"/>"}});
  for (const char* folder : {"up", "open"}) {
    const Response r =
        request(host_.port, "POST", std::string("/upload.asp?d=") + folder, body, {kMultipartType});
    ASSERT_EQ(200, r.status) << r.body;
    ASSERT_EQ(page, read_bytes(site_ + "/" + folder + "/evil.asp"));
  }
  const Response asp = request(host_.port, "GET", "/up/evil.asp");
  EXPECT_EQ(403, asp.status);
  EXPECT_EQ(std::string::npos, asp.body.find("ran42"));
  EXPECT_EQ(std::string::npos, asp.body.find("<%")) << "the page's source went out";
  for (const char* file : {"/up/evil.html", "/up/evil.svg"}) {
    const Response r = request(host_.port, "GET", file);
    EXPECT_EQ(200, r.status);
    EXPECT_EQ("attachment", r.header("Content-Disposition")) << file;
    EXPECT_EQ("application/octet-stream", r.header("Content-Type")) << file;
    EXPECT_EQ("nosniff", r.header("X-Content-Type-Options")) << file;
    EXPECT_EQ("default-src 'none'; sandbox", r.header("Content-Security-Policy")) << file;
  }
  EXPECT_EQ("ran42", request(host_.port, "GET", "/open/evil.asp").body)
      << "a folder that is not marked runs what is saved in it";
}

TEST_F(HostUploadTest, OversizedRequestLineOrHeadersAreRefused) {
  // The answer may be lost to a reset while the client is still sending; then only the closed
  // connection shows the refusal.
  auto refused = [](const Response& r, int status) { return r.status == 0 || r.status == status; };
  Response line = request(host_.port, "GET", "/hello.txt?" + std::string(128 * 1024, 'a'));
  EXPECT_TRUE(refused(line, 414)) << line.status;
  std::vector<std::string> headers;
  for (int i = 0; i < 128; ++i)
    headers.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(1024, 'b'));
  Response block = request(host_.port, "GET", "/hello.txt", "", headers);
  EXPECT_TRUE(refused(block, 431)) << block.status;
  Response one =
      request(host_.port, "GET", "/hello.txt", "", {"X-Long: " + std::string(128 * 1024, 'c')});
  EXPECT_TRUE(refused(one, 431)) << one.status;
  EXPECT_EQ(200, request(host_.port, "GET", "/hello.txt").status);
}

TEST_F(HostUploadTest, IdleKeepAliveClientsDoNotKeepANewOneOut) {
  // Each connection is a descriptor of this process too.
  rlimit limit{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < 2200)
    GTEST_SKIP() << "this process may hold only " << limit.rlim_cur << " descriptors";
  // Half of them had a request answered and stay open; half never said anything.
  const std::string get = "GET /hello.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<int> idle;
  for (int i = 0; i < 2000; ++i) {
    const int fd = host_test::connect_loopback(host_.port);
    ASSERT_GE(fd, 0) << "connection " << i;
    if (i % 2 == 0) {
      ASSERT_TRUE(host_test::send_all(fd, get.data(), get.size()));
    }
    idle.push_back(fd);
  }
  const Response fresh = request(host_.port, "GET", "/hello.txt");
  const Response upload = request(host_.port, "POST", "/upload.asp?d=idle",
                                  multipart({{"f", "idle.txt", "kept"}}), {kMultipartType});
  for (int fd : idle)
    close(fd);
  EXPECT_EQ(200, fresh.status);
  EXPECT_EQ(200, upload.status);
  EXPECT_EQ("kept", read_bytes(site_ + "/idle/idle.txt"));
}

TEST_F(HostUploadTest, ARefusedBodyTellsWhy) {
  std::string body;
  for (int i = 0; i <= 100000; ++i)
    body += "--" + kBoundary + "\r\n\r\n\r\n";
  body += "--" + kBoundary + "--\r\n";
  const Response r = request(host_.port, "POST", "/upload.asp?d=many", body, {kMultipartType});
  EXPECT_EQ(500, r.status);
  EXPECT_NE(std::string::npos, r.body.find("OnStartPage of 'Vantrel.FileUpload' failed: "
                                           "\xED\x8F\xBC \xEB\x8D\xB0\xEC\x9D\xB4\xED\x84\xB0"))
      << "the component's own description reaches the page: " << r.body.substr(0, 400);
}

}  // namespace
