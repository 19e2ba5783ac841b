// A vhost process of its own for a host test: started on a free loopback port with the
// environment and options given, stopped with SIGTERM. Also the file and shell helpers such
// tests share.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace host_test {

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The exit status of a shell command, -1 when it did not exit.
inline int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct HostProcess {
  pid_t pid = -1;
  unsigned port = 0;
  std::string err_file;

  // Starts vhost with `env` (NAME='value' words) and `args`; false when it did not report its
  // address within 10 seconds.
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

}  // namespace host_test
