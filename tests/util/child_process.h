// Test support: a second process for tests of what KaMsUtil shares between processes, and a
// settings block of the test run's own.
//
// A child is this test program started again with KA_TEST_ROLE naming a role; the role runs
// while the program's statics are set up, before any test, and the child exits with the
// role's result. A child inherits its parent's environment, and with it the name of the shared
// settings block (tests/CMakeLists.txt gives each build's test run a name of its own).
#pragma once

#include <spawn.h>
#include <stdlib.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

#include <string>
#include <vector>

extern char** environ;

namespace child_process {

// Registers a role: when this process is a child started for it, runs it and exits with its
// result (an int from 0 to 255). Use as the initializer of a namespace-scope constant.
template <typename Role>
bool RoleIfChild(const char* name, Role role) {
  const char* wanted = getenv("KA_TEST_ROLE");
  if (!wanted || std::string(wanted) != name)
    return false;
  const char* argument = getenv("KA_TEST_ARGUMENT");
  std::exit(role(argument ? argument : ""));
}

// Starts this program as a child for role with argument and the extra environment entries
// ("NAME=value", replacing inherited ones), waits for it, and returns its exit status, or -1
// when it could not run or did not exit normally.
inline int RunChild(const std::string& role, const std::string& argument = "",
                    const std::vector<std::string>& extra = {}) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& x : extra)
      replaced = replaced || entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
    if (!replaced)
      env_strings.push_back(entry);
  }
  env_strings.insert(env_strings.end(), extra.begin(), extra.end());
  env_strings.push_back("KA_TEST_ROLE=" + role);
  env_strings.push_back("KA_TEST_ARGUMENT=" + argument);
  std::vector<char*> env;
  for (std::string& s : env_strings)
    env.push_back(s.data());
  env.push_back(nullptr);
  char program[] = "/proc/self/exe";
  char* argv[] = {program, nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program, nullptr, nullptr, argv, env.data()) != 0)
    return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

}  // namespace child_process
