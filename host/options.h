// Command-line options of the host program.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vhost {

struct Options {
  std::string root = ".";
  std::string address = "127.0.0.1";
  unsigned port = 8080;
  unsigned workers = 4;
  unsigned connection_threads = 0;  // 0: one for each processor
  unsigned long long max_body = 30ull * 1024 * 1024;
  unsigned long long max_response = 64ull * 1024 * 1024;
  int script_timeout = 90;
  int client_timeout = 60;
  std::string access_log = "-";
  std::vector<std::string> data_dirs;  // folders of the site, relative to it
  // Application values the pages find set when the host starts (name, value), in UTF-8.
  std::vector<std::pair<std::string, std::string>> app_values;
  std::string typelib;  // empty: asptlb.idl beside the program
  // Upload progress: where queries are answered (empty: nowhere), and seconds an ended upload's
  // progress is kept.
  std::string progress_path = "/.progress";
  int progress_keep = 60;
  bool help = false;
};

// Parses argv; false with *error set on a bad option.
bool parse_options(const std::vector<std::string>& args, Options* options, std::string* error);
std::string usage();

}  // namespace vhost
