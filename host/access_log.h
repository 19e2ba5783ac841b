// The access log: one line per request (client, request line, status, bytes, time taken).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace vhost {

class AccessLog {
 public:
  // "-" writes to standard output, "off" writes nothing, anything else is a file appended to.
  bool open(const std::string& where);
  ~AccessLog();
  // False when the log writes nothing ("off"): the caller need not make a line.
  bool writes() const { return out_ != nullptr; }
  void write(const std::string& client, const std::string& method, const std::string& uri,
             const std::string& protocol, unsigned status, unsigned long long bytes,
             double milliseconds, const std::string& extra);

 private:
  std::mutex lock_;
  std::FILE* out_ = stdout;
  bool owned_ = false;
};

}  // namespace vhost
