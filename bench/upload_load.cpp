// Load client of the host benchmark (bench/host.sh): posts real multipart/form-data bodies
// with a Content-Length over keep-alive connections to 127.0.0.1 and checks every answer.
//
//   upload_load --port P --path /save.asp small --connections C --seconds S [--record FILE]
//       Each connection posts two text fields and a 1 KiB file (a new file name every
//       request) as fast as its answers come, for S seconds. Prints requests per second and
//       latency percentiles; --record also appends every latency (ms, one a line) to FILE, so
//       that a script can merge several runs.
//   upload_load --port P --path /save.asp big --bytes N --repeat R
//       One connection posts one file of N bytes, R times in a row. Prints each rate (MB/s of
//       request body, 1 MB = 10^6 bytes, from the first byte sent to the end of the answer).
//
// An answer counts as a success only with status 200, a Content-Length body that starts
// with --expect (default "saved 1") and the connection left open. Everything else, and a
// connection the server closed, is a failure; the output line carries the count, and the
// exit status is 1 when it is not zero.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char kBoundary[] = "----UploadLoadBoundary7MA4YWxkTrZu0gW";

struct Options {
  unsigned port = 0;
  std::string path = "/save.asp";
  std::string expect = "saved 1";
  std::string mode;
  unsigned connections = 1;
  double seconds = 5;
  std::string record;
  unsigned long long bytes = 100000000ull;
  unsigned repeat = 3;
};

// One keep-alive connection with its receive buffer.
class Connection {
 public:
  explicit Connection(unsigned port) : port_(port) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { close_socket(); }

  bool open() {
    close_socket();
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0)
      return false;
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close_socket();
      return false;
    }
    buffer_.clear();
    return true;
  }

  bool is_open() const { return fd_ >= 0; }

  bool send_all(const char* p, size_t n) {
    while (n) {
      const ssize_t k = send(fd_, p, n, MSG_NOSIGNAL);
      if (k <= 0)
        return false;
      p += k;
      n -= static_cast<size_t>(k);
    }
    return true;
  }

  // Reads one answer; true when it is a success as the file comment defines it. The
  // connection is closed when the answer cannot be read or the server ends it.
  bool read_answer(const std::string& expect) {
    size_t head_end = std::string::npos;
    while ((head_end = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!receive())
        return fail();
    const std::string head = buffer_.substr(0, head_end);
    const size_t space = head.find(' ');
    const int status = space == std::string::npos ? 0 : std::atoi(head.c_str() + space + 1);
    const std::string length = header(head, "content-length");
    const bool closing = lower(header(head, "connection")) == "close";
    if (length.empty())
      return fail();
    const size_t body_size = std::strtoull(length.c_str(), nullptr, 10);
    while (buffer_.size() < head_end + 4 + body_size)
      if (!receive())
        return fail();
    const bool ok = status == 200 && buffer_.compare(head_end + 4, expect.size(), expect) == 0;
    if (!ok && std::getenv("UPLOAD_LOAD_VERBOSE"))
      std::fprintf(stderr, "upload_load: answer %d: %.300s\n", status,
                   buffer_.substr(head_end + 4, body_size).c_str());
    buffer_.erase(0, head_end + 4 + body_size);
    if (closing)
      close_socket();
    return ok && !closing;
  }

 private:
  static std::string lower(std::string s) {
    for (char& c : s)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }

  // The value of a header of the block (name in lower case), or "".
  static std::string header(const std::string& head, const std::string& name) {
    const std::string text = lower(head);
    const size_t at = text.find("\r\n" + name + ":");
    if (at != std::string::npos) {
      size_t start = at + name.size() + 3;
      const size_t end = head.find("\r\n", start);
      while (start < head.size() && head[start] == ' ')
        ++start;
      return head.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    return {};
  }

  bool receive() {
    char chunk[16384];
    const ssize_t k = recv(fd_, chunk, sizeof chunk, 0);
    if (k <= 0)
      return false;
    buffer_.append(chunk, static_cast<size_t>(k));
    return true;
  }

  bool fail() {
    close_socket();
    return false;
  }

  void close_socket() {
    if (fd_ >= 0)
      close(fd_);
    fd_ = -1;
  }

  unsigned port_;
  int fd_ = -1;
  std::string buffer_;
};

std::string request_head(const Options& o, unsigned long long body_size) {
  return "POST " + o.path +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: upload_load\r\n"
         "Content-Type: multipart/form-data; boundary=" +
         kBoundary + "\r\nContent-Length: " + std::to_string(body_size) + "\r\n\r\n";
}

std::string file_part_head(const std::string& file_name, const char* type) {
  return std::string("--") + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + file_name +
         "\"\r\nContent-Type: " + type + "\r\n\r\n";
}

std::string closing_delimiter() {
  return std::string("\r\n--") + kBoundary + "--\r\n";
}

// Two text fields and a 1 KiB text file, as a browser form sends them.
std::string small_request(const Options& o, unsigned connection, unsigned long long sequence) {
  static const std::string content = [] {
    std::string text;
    for (int i = 0; text.size() < 1024; ++i)
      text += "line " + std::to_string(i) + " of the small upload\n";
    text.resize(1024);
    return text;
  }();
  std::string body;
  for (const auto& [name, value] : {std::pair<const char*, const char*>{"title", "Small upload"},
                                    {"note", "two fields and one file"}})
    body += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
            "\"\r\n\r\n" + value + "\r\n";
  // Names differ from one run of this client to the next too, so that a server that numbers
  // taken names (as the host's page does) does not pay for the names of earlier runs.
  static const std::string run = std::to_string(getpid());
  body += file_part_head(
      "small-" + run + "-" + std::to_string(connection) + "-" + std::to_string(sequence) + ".txt",
      "text/plain");
  body += content;
  body += closing_delimiter();
  return request_head(o, body.size()) + body;
}

struct SmallResult {
  std::vector<double> latencies_ms;
  unsigned long long failures = 0;
};

void run_connection(const Options& o, unsigned index, Clock::time_point deadline,
                    SmallResult* result) {
  Connection connection(o.port);
  for (unsigned long long sequence = 0; Clock::now() < deadline; ++sequence) {
    const std::string request = small_request(o, index, sequence);
    if (!connection.is_open() && !connection.open()) {
      ++result->failures;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const auto start = Clock::now();
    if (connection.send_all(request.data(), request.size()) && connection.read_answer(o.expect))
      result->latencies_ms.push_back(
          std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    else
      ++result->failures;
  }
}

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty())
    return 0;
  const size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

int run_small(const Options& o) {
  std::vector<SmallResult> results(o.connections);
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  const auto deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  for (unsigned i = 0; i < o.connections; ++i)
    threads.emplace_back(run_connection, std::cref(o), i, deadline, &results[i]);
  for (std::thread& t : threads)
    t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> all;
  unsigned long long failures = 0;
  for (const SmallResult& r : results) {
    all.insert(all.end(), r.latencies_ms.begin(), r.latencies_ms.end());
    failures += r.failures;
  }
  std::sort(all.begin(), all.end());
  std::printf("ok %zu failures %llu seconds %.3f rps %.1f p50_ms %.3f p90_ms %.3f p99_ms %.3f\n",
              all.size(), failures, elapsed, static_cast<double>(all.size()) / elapsed,
              percentile(all, 50), percentile(all, 90), percentile(all, 99));
  if (!o.record.empty()) {
    std::FILE* out = std::fopen(o.record.c_str(), "a");
    if (!out) {
      std::fprintf(stderr, "upload_load: cannot open %s\n", o.record.c_str());
      return 1;
    }
    for (double ms : all)
      std::fprintf(out, "%.4f\n", ms);
    if (std::fclose(out) != 0)
      return 1;
  }
  return failures ? 1 : 0;
}

int run_big(const Options& o) {
  // A byte pattern in which CR is never followed by LF, so no delimiter can appear in it.
  std::vector<char> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>((i * 131) % 251);
  Connection connection(o.port);
  unsigned long long failures = 0;
  unsigned ok = 0;
  unsigned long long body_size = 0;
  std::string rates;
  for (unsigned r = 0; r < o.repeat; ++r) {
    const std::string part_head =
        file_part_head("big-" + std::to_string(r) + ".bin", "application/octet-stream");
    const std::string tail = closing_delimiter();
    const std::string head = request_head(o, part_head.size() + o.bytes + tail.size()) + part_head;
    if (!connection.is_open() && !connection.open()) {
      ++failures;
      continue;
    }
    const auto start = Clock::now();
    bool sent = connection.send_all(head.data(), head.size());
    for (unsigned long long left = o.bytes; sent && left;) {
      const size_t n = static_cast<size_t>(std::min<unsigned long long>(left, block.size()));
      sent = connection.send_all(block.data(), n);
      left -= n;
    }
    sent = sent && connection.send_all(tail.data(), tail.size());
    if (!sent || !connection.read_answer(o.expect)) {
      ++failures;
      continue;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    body_size = part_head.size() + o.bytes + tail.size();
    const double body = static_cast<double>(body_size);
    char text[32];
    std::snprintf(text, sizeof text, " %.1f", body / seconds / 1e6);
    rates += text;
    ++ok;
  }
  std::printf("ok %u failures %llu body %llu mbps%s\n", ok, failures, body_size, rates.c_str());
  return failures ? 1 : 0;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: upload_load --port P [--path /save.asp] [--expect TEXT]\n"
               "         small [--connections C] [--seconds S] [--record FILE]\n"
               "       | big [--bytes N] [--repeat R]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "small" || a == "big") {
      o.mode = a;
      continue;
    }
    if (i + 1 >= argc)
      usage();
    const char* v = argv[++i];
    if (a == "--port")
      o.port = static_cast<unsigned>(std::atoi(v));
    else if (a == "--path")
      o.path = v;
    else if (a == "--expect")
      o.expect = v;
    else if (a == "--record")
      o.record = v;
    else if (a == "--connections")
      o.connections = static_cast<unsigned>(std::max(1, std::atoi(v)));
    else if (a == "--seconds")
      o.seconds = std::atof(v);
    else if (a == "--bytes")
      o.bytes = std::strtoull(v, nullptr, 10);
    else if (a == "--repeat")
      o.repeat = static_cast<unsigned>(std::max(1, std::atoi(v)));
    else
      usage();
  }
  if (o.port == 0 || o.mode.empty())
    usage();
  return o.mode == "small" ? run_small(o) : run_big(o);
}
