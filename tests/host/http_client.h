// A small blocking HTTP/1.1 client for the host tests: one request per connection, or several
// on a kept one, the response read whole (the host always sends Content-Length).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace host_test {

struct Response {
  int status = 0;  // 0 when the exchange failed
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string header(const std::string& name) const {
    for (auto& [k, v] : headers)
      if (strcasecmp(k.c_str(), name.c_str()) == 0)
        return v;
    return {};
  }
  bool has_header(const std::string& name) const {
    for (auto& [k, v] : headers)
      if (strcasecmp(k.c_str(), name.c_str()) == 0)
        return true;
    return false;
  }
};

inline int connect_loopback(unsigned port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
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

inline bool send_all(int fd, const char* p, size_t n) {
  while (n) {
    const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0)
      return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// Reads one response. With a sink, the body goes to it as it arrives and is not kept, so a
// large body costs the client no memory.
inline Response read_response(int fd,
                              const std::function<void(const char*, size_t)>& sink = nullptr) {
  Response r;
  std::string data;
  size_t streamed = 0;
  char buf[65536];
  size_t header_end = std::string::npos;
  size_t length = 0;
  for (;;) {
    if (header_end == std::string::npos) {
      header_end = data.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        const std::string head = data.substr(0, header_end);
        size_t line_end = head.find("\r\n");
        const std::string status_line = head.substr(0, line_end);
        r.status = std::atoi(status_line.c_str() + status_line.find(' ') + 1);
        while (line_end != std::string::npos) {
          const size_t next = head.find("\r\n", line_end + 2);
          const std::string line = head.substr(
              line_end + 2, next == std::string::npos ? std::string::npos : next - line_end - 2);
          const size_t colon = line.find(':');
          if (colon != std::string::npos)
            r.headers.emplace_back(line.substr(0, colon),
                                   line.substr(line.find_first_not_of(' ', colon + 1)));
          line_end = next;
        }
        length = std::strtoull(r.header("Content-Length").c_str(), nullptr, 10);
      }
    }
    if (header_end != std::string::npos && sink) {
      // What arrived after the headers goes out, and only the headers stay.
      const size_t body_start = header_end + 4;
      if (data.size() > body_start) {
        const size_t n = std::min(data.size() - body_start, length - streamed);
        sink(data.data() + body_start, n);
        streamed += n;
        data.resize(body_start);
      }
      if (streamed >= length)
        break;
    } else if (header_end != std::string::npos && data.size() >= header_end + 4 + length) {
      break;
    }
    const ssize_t k = recv(fd, buf, sizeof buf, 0);
    if (k <= 0) {
      if (header_end == std::string::npos)
        r.status = 0;
      break;
    }
    data.append(buf, static_cast<size_t>(k));
  }
  if (header_end != std::string::npos && !sink)
    r.body = data.substr(header_end + 4, length);
  return r;
}

// Sends one request (Connection: close) and reads the answer; with a sink, the body goes to
// it instead of the answer's body.
inline Response request(unsigned port, const std::string& method, const std::string& target,
                        const std::string& body = "",
                        const std::vector<std::string>& extra_headers = {},
                        const std::function<void(const char*, size_t)>& sink = nullptr) {
  const int fd = connect_loopback(port);
  if (fd < 0)
    return {};
  std::string head =
      method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  for (const std::string& h : extra_headers)
    head += h + "\r\n";
  if (!body.empty() || method == "POST")
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  head += "\r\n";
  Response r;
  if (send_all(fd, head.data(), head.size()) && send_all(fd, body.data(), body.size()))
    r = read_response(fd, sink);
  close(fd);
  return r;
}

// A connection kept open for several requests: libmicrohttpd serves all of them on one worker.
class KeptConnection {
 public:
  explicit KeptConnection(unsigned port) : fd_(connect_loopback(port)) {}
  ~KeptConnection() {
    if (fd_ >= 0)
      close(fd_);
  }
  KeptConnection(const KeptConnection&) = delete;
  KeptConnection& operator=(const KeptConnection&) = delete;

  bool open() const { return fd_ >= 0; }
  Response get(const std::string& target) {
    const std::string head = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    return send_all(fd_, head.data(), head.size()) ? read_response(fd_, nullptr) : Response{};
  }

 private:
  int fd_;
};

}  // namespace host_test
