// What making a small file costs on its own: creates COUNT files of SIZE bytes in DIR as an
// upload server saves one (exclusive create, one write, close) and prints the CPU time (user +
// system) and wall time per file. bench/host.sh runs it in the servers' save folder, so that
// the figure is the part of a small upload's cost that any server pays.
//   file_create DIR [COUNT] [SIZE]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: file_create DIR [COUNT] [SIZE]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long count = argc > 2 ? std::atol(argv[2]) : 10000;
  const size_t size = argc > 3 ? static_cast<size_t>(std::atol(argv[3])) : 1024;
  const std::string content(size, 'x');
  const std::string prefix = dir + "/floor-" + std::to_string(getpid()) + "-";
  const double cpu_before = cpu_seconds();
  const auto wall_before = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    const std::string name = prefix + std::to_string(i) + ".txt";
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, content.data(), size) != static_cast<ssize_t>(size) || close(fd) != 0) {
      std::perror(name.c_str());
      return 1;
    }
  }
  const double cpu = cpu_seconds() - cpu_before;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  std::printf("files %ld cpu_ms_per_file %.4f wall_ms_per_file %.4f\n", count, cpu * 1000 / count,
              wall * 1000 / count);
  return 0;
}
