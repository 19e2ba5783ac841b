// The access log (see access_log.h).
#include "access_log.h"

#include <ctime>

namespace vhost {

bool AccessLog::open(const std::string& where) {
  if (where == "-") {
    out_ = stdout;
    return true;
  }
  if (where == "off") {
    out_ = nullptr;
    return true;
  }
  out_ = std::fopen(where.c_str(), "a");
  owned_ = out_ != nullptr;
  return out_ != nullptr;
}

AccessLog::~AccessLog() {
  if (owned_)
    std::fclose(out_);
}

void AccessLog::write(const std::string& client, const std::string& method, const std::string& uri,
                      const std::string& protocol, unsigned status, unsigned long long bytes,
                      double milliseconds, const std::string& extra) {
  if (!out_)
    return;
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char when[32];
  std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S +0000", &parts);
  std::lock_guard<std::mutex> guard(lock_);
  std::fprintf(out_, "%s - - [%s] \"%s %s %s\" %u %llu %.1fms%s%s\n", client.c_str(), when,
               method.c_str(), uri.c_str(), protocol.c_str(), status, bytes, milliseconds,
               extra.empty() ? "" : " ", extra.c_str());
  std::fflush(out_);
}

}  // namespace vhost
