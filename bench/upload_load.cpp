// Load client of the host benchmark (bench/host.sh): posts real multipart/form-data bodies
// with a Content-Length over keep-alive connections to 127.0.0.1 and checks every answer.
//
//   upload_load --port P --path /save.asp small --connections C --seconds S [--record FILE]
//       Each connection posts two text fields and a 1 KiB file (a new file name every
//       request) as fast as its answers come, for S seconds. Prints requests per second and
//       latency percentiles; --record also appends every latency (ms, one a line) to FILE, so
//       that a script can merge several runs. One thread drives every connection through
//       epoll, as event-driven load generators do: a thread per connection would put C
//       runnable threads beside the server on the machine's CPUs, and the switches among them
//       would cost a fast server more than a slow one (more answers a second wake more threads).
//       A latency runs from the request's first send to the kernel's stamp on the answer's
//       last bytes, so that the time this one thread takes to come round to a connection is
//       not counted as the server's.
//   upload_load --port P --path /save.asp big --bytes N --repeat R
//       One connection posts one file of N bytes, R times in a row. Prints each rate (MB/s of
//       request body, 1 MB = 10^6 bytes, from the first byte sent to the end of the answer).
//
// An answer counts as a success only with status 200, a Content-Length body that starts
// with --expect (default "saved 1") and the connection left open. Everything else, and a
// connection the server closed, is a failure; the output line carries the count, and the
// exit status is 1 when it is not zero.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
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

std::string lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The value of a header of the block (name in lower case), or "".
std::string header(const std::string& head, const std::string& name) {
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

enum class Answer { kIncomplete, kSuccess, kFailure, kEnd };

// Takes the first answer out of the bytes received on a connection: kIncomplete while it has not
// all come, kSuccess as the file comment defines it, kFailure for another answer (the
// connection can go on) and kEnd for one after which the connection cannot (no Content-Length,
// or "Connection: close").
Answer take_answer(std::string* received, const std::string& expect) {
  const size_t head_end = received->find("\r\n\r\n");
  if (head_end == std::string::npos)
    return Answer::kIncomplete;
  const std::string head = received->substr(0, head_end);
  const size_t space = head.find(' ');
  const int status = space == std::string::npos ? 0 : std::atoi(head.c_str() + space + 1);
  const std::string length = header(head, "content-length");
  const bool closing = lower(header(head, "connection")) == "close";
  if (length.empty())
    return Answer::kEnd;
  const size_t body_size = std::strtoull(length.c_str(), nullptr, 10);
  if (received->size() < head_end + 4 + body_size)
    return Answer::kIncomplete;
  const bool ok = status == 200 && received->compare(head_end + 4, expect.size(), expect) == 0;
  if (!ok && std::getenv("UPLOAD_LOAD_VERBOSE"))
    std::fprintf(stderr, "upload_load: answer %d: %.300s\n", status,
                 received->substr(head_end + 4, body_size).c_str());
  received->erase(0, head_end + 4 + body_size);
  if (closing)
    return Answer::kEnd;
  return ok ? Answer::kSuccess : Answer::kFailure;
}

// A connected socket to the host's port with Nagle's delay off, or -1.
int connect_to(unsigned port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0)
    return -1;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One keep-alive connection with its receive buffer.
class Connection {
 public:
  explicit Connection(unsigned port) : port_(port) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { close_socket(); }

  bool open() {
    close_socket();
    fd_ = connect_to(port_);
    buffer_.clear();
    return fd_ >= 0;
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
    for (;;) {
      const Answer answer = take_answer(&buffer_, expect);
      if (answer == Answer::kIncomplete) {
        if (!receive())
          return fail();
        continue;
      }
      if (answer == Answer::kEnd)
        close_socket();
      return answer == Answer::kSuccess;
    }
  }

 private:
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

// A connection of the small phase: its socket, the request in flight and what has come back.
struct SmallConnection {
  int fd = -1;
  std::string request;
  size_t sent = 0;
  std::string received;
  unsigned long long sequence = 0;
  timespec start{};    // the request's first send
  timespec arrived{};  // the last bytes received, stamped by the kernel
  bool watching_output = false;
};

timespec wall_now() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return t;
}

double milliseconds_between(const timespec& from, const timespec& to) {
  const double ms = static_cast<double>(to.tv_sec - from.tv_sec) * 1e3 +
                    static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e6;
  return std::max(0.0, ms);
}

// recv that also gives when the bytes reached the socket: the kernel's stamp (SO_TIMESTAMPNS),
// or the time of the call when there is none.
ssize_t receive_stamped(int fd, char* buffer, size_t size, timespec* arrived) {
  iovec io{buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr m{};
  m.msg_iov = &io;
  m.msg_iovlen = 1;
  m.msg_control = control;
  m.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd, &m, 0);
  if (got <= 0)
    return got;
  for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      std::memcpy(arrived, CMSG_DATA(c), sizeof(timespec));
      return got;
    }
  *arrived = wall_now();
  return got;
}

// The small phase: every connection posts as soon as its answer is in, until the deadline.
class SmallLoad {
 public:
  SmallLoad(const Options& o, Clock::time_point deadline)
      : o_(o), deadline_(deadline), connections_(o.connections), poll_(epoll_create1(0)) {}
  SmallLoad(const SmallLoad&) = delete;
  SmallLoad& operator=(const SmallLoad&) = delete;
  ~SmallLoad() {
    for (SmallConnection& c : connections_)
      drop(c);
    if (poll_ >= 0)
      close(poll_);
  }

  // Runs until the deadline and every answer in flight is in; false when epoll cannot be used.
  bool Run() {
    if (poll_ < 0)
      return false;
    for (unsigned i = 0; i < connections_.size(); ++i)
      post(i);
    epoll_event events[64];
    char chunk[16384];
    while (busy_ || (waiting_reconnect_ && Clock::now() < deadline_)) {
      const int n = epoll_wait(poll_, events, 64, waiting_reconnect_ ? 10 : 1000);
      if (waiting_reconnect_ && Clock::now() >= retry_at_)
        retry_reconnects();
      for (int k = 0; k < n; ++k) {
        const unsigned i = events[k].data.u32;
        SmallConnection& c = connections_[i];
        if (c.fd < 0)
          continue;
        if (c.sent < c.request.size() && !send_more(c)) {
          fail(c);
          continue;
        }
        if (!(events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
          continue;
        const ssize_t got = receive_stamped(c.fd, chunk, sizeof chunk, &c.arrived);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
          continue;
        if (got <= 0) {
          fail(c);
          continue;
        }
        c.received.append(chunk, static_cast<size_t>(got));
        const Answer answer = take_answer(&c.received, o_.expect);
        if (answer == Answer::kIncomplete)
          continue;
        --busy_;
        if (answer == Answer::kSuccess)
          latencies_ms.push_back(milliseconds_between(c.start, c.arrived));
        else
          ++failures;
        // An answer before the whole request went out leaves the connection unusable.
        if (answer == Answer::kEnd || c.sent < c.request.size())
          drop(c);
        if (Clock::now() < deadline_)
          post(i);
      }
    }
    return true;
  }

  std::vector<double> latencies_ms;
  unsigned long long failures = 0;

 private:
  // Sends the next request on connection i, connecting first when it has no socket.
  void post(unsigned i) {
    SmallConnection& c = connections_[i];
    if (c.fd < 0 && !reconnect(c)) {
      ++failures;
      wait_to_reconnect();
      return;
    }
    c.request = small_request(o_, i, c.sequence++);
    c.sent = 0;
    c.start = wall_now();
    ++busy_;
    if (!send_more(c))
      fail(c);
  }

  bool reconnect(SmallConnection& c) {
    c.fd = connect_to(o_.port);
    if (c.fd < 0)
      return false;
    c.received.clear();
    c.watching_output = false;
    fcntl(c.fd, F_SETFL, fcntl(c.fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    setsockopt(c.fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u32 = static_cast<uint32_t>(&c - connections_.data());
    if (epoll_ctl(poll_, EPOLL_CTL_ADD, c.fd, &e) != 0) {
      drop(c);
      return false;
    }
    return true;
  }

  // Sends what the socket takes of the request; false when the connection failed.
  bool send_more(SmallConnection& c) {
    while (c.sent < c.request.size()) {
      const ssize_t k =
          send(c.fd, c.request.data() + c.sent, c.request.size() - c.sent, MSG_NOSIGNAL);
      if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        break;
      if (k <= 0)
        return false;
      c.sent += static_cast<size_t>(k);
    }
    const bool want_output = c.sent < c.request.size();
    if (want_output != c.watching_output) {
      epoll_event e{};
      e.events = EPOLLIN | (want_output ? EPOLLOUT : 0u);
      e.data.u32 = static_cast<uint32_t>(&c - connections_.data());
      if (epoll_ctl(poll_, EPOLL_CTL_MOD, c.fd, &e) != 0)
        return false;
      c.watching_output = want_output;
    }
    return true;
  }

  // The request in flight on c failed: counted, and the connection is made again for the next
  // one while there is time.
  void fail(SmallConnection& c) {
    ++failures;
    --busy_;
    drop(c);
    wait_to_reconnect();
  }

  // A connection that failed is made again 10 ms after the first failure not yet retried.
  void wait_to_reconnect() {
    if (waiting_reconnect_++ == 0)
      retry_at_ = Clock::now() + std::chrono::milliseconds(10);
  }

  void retry_reconnects() {
    waiting_reconnect_ = 0;
    if (Clock::now() >= deadline_)
      return;
    for (unsigned i = 0; i < connections_.size(); ++i)
      if (connections_[i].fd < 0)
        post(i);
  }

  void drop(SmallConnection& c) {
    if (c.fd >= 0)
      close(c.fd);
    c.fd = -1;
  }

  const Options& o_;
  const Clock::time_point deadline_;
  std::vector<SmallConnection> connections_;
  int poll_;
  unsigned busy_ = 0;               // requests in flight
  unsigned waiting_reconnect_ = 0;  // connections to make again
  Clock::time_point retry_at_;
};

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty())
    return 0;
  const size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

int run_small(const Options& o) {
  const auto start = Clock::now();
  SmallLoad load(o, start + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(o.seconds)));
  if (!load.Run()) {
    std::fprintf(stderr, "upload_load: epoll: %s\n", std::strerror(errno));
    return 1;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double>& all = load.latencies_ms;
  const unsigned long long failures = load.failures;
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
