// The scratch folder of a fuzz target (scratch_dir.h).
#include "scratch_dir.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace fuzz {

namespace {

class Folder {
 public:
  Folder() {
    // scripts/fuzz.sh names a folder of its own, removed after the run even when a crash kept
    // this destructor from running.
    const char* base = getenv("VANTREL_FUZZ_SCRATCH");
    if (!base || !*base)
      base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/vantrel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      perror("fuzz: cannot make a scratch folder");
      abort();
    }
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

const std::string& ScratchDir() {
  static Folder folder;
  return folder.path();
}

void WriteFile(const std::string& path, const void* bytes, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f || (size && fwrite(bytes, 1, size, f) != size) || fclose(f) != 0) {
    perror(("fuzz: cannot write " + path).c_str());
    abort();
  }
}

}  // namespace fuzz
