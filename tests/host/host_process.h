// A vhost process for the host tests that need one of their own: started on a free loopback
// port with the environment and options given, stopped at the end; and the small file helpers
// those tests share.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace host_test {

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The largest resident size the process has had so far (VmHWM), in KiB; 0 when unknown.
inline size_t peak_resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0)
      return std::strtoull(line.c_str() + 6, nullptr, 10);
  return 0;
}

// One vhost process with its own output files.
struct Host {
  pid_t pid = -1;
  unsigned port = 0;
  std::string err_file;

  bool start(const std::string& dir, const std::string& name, const std::string& env,
             const std::string& args) {
    err_file = dir + "/" + name + ".err";
    const std::string out_file = dir + "/" + name + ".out";
    const std::string command = "exec env " + env + " '" VHOST_PATH "' " + args +
                                " --port 0 --access-log off > '" + out_file + "' 2> '" + err_file +
                                "'";
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      return false;
    for (int i = 0; i < 100 && port == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::string out = read_bytes(out_file);
      const size_t at = out.find("http://127.0.0.1:");
      if (at != std::string::npos)
        port = static_cast<unsigned>(std::atoi(out.c_str() + at + 17));
    }
    return port != 0;
  }

  void stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      int status = 0;
      waitpid(pid, &status, 0);
    }
    pid = -1;
  }
};

// body in the chunked transfer coding, in chunks of 64 KiB, with the closing chunk.
inline std::string chunked(const std::string& body) {
  std::string out;
  for (size_t at = 0; at < body.size(); at += 65536) {
    const size_t n = std::min<size_t>(65536, body.size() - at);
    char size_line[32];
    std::snprintf(size_line, sizeof size_line, "%zx\r\n", n);
    out += size_line + body.substr(at, n) + "\r\n";
  }
  return out + "0\r\n\r\n";
}

}  // namespace host_test
