// Shared helpers of the KaZlib tests: a scratch directory in the platform's path namespace,
// test data, whole-file access and running the system's gzip.
#pragma once

#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "windows.h"

namespace kazlib_test {

// The POSIX form of a platform path under the temporary directory ("\tmp\x" is "/tmp/x").
inline std::string posix_path(std::string path) {
  for (char& c : path)
    if (c == '\\')
      c = '/';
  return path;
}

// A fresh directory for one test, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    dir_ = std::string(temp) + "kazlib_test_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(++counter);
    CreateDirectoryA(dir_.c_str(), /*lpSecurityAttributes=*/nullptr);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(posix_path(dir_), ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The platform path of a name inside the directory.
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
  std::string Posix(const std::string& name) const { return posix_path(Path(name)); }

 private:
  std::string dir_;
};

inline std::string random_bytes(size_t size, unsigned seed = 1) {
  std::mt19937_64 rng(seed);
  std::string s(size, '\0');
  for (char& c : s)
    c = static_cast<char>(rng());
  return s;
}

// Highly compressible bytes that are not a single repeated byte.
inline std::string repetitive_bytes(size_t size) {
  static const char kLine[] = "name=photo.jpg; size=1024; type=image/jpeg\r\n";
  std::string s;
  s.reserve(size);
  while (s.size() < size)
    s.append(kLine, sizeof kLine - 1);
  s.resize(size);
  return s;
}

inline std::string read_posix_file(const std::string& posix) {
  std::ifstream in(posix, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_posix_file(const std::string& posix, const std::string& bytes) {
  std::ofstream out(posix, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool file_exists(const std::string& platform_path) {
  return GetFileAttributesA(platform_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Runs a shell command and returns its standard output; *status gets its exit status.
inline std::string run_command(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    out.append(buf, n);
  *status = pclose(p);
  return out;
}

}  // namespace kazlib_test
