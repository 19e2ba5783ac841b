// The contents the save and download benchmarks share, made from fixed seeds so that every run
// measures the same bytes: random bytes (incompressible) and server-log text.
#pragma once

#include <stdint.h>
#include <string.h>

#include <random>
#include <string>

namespace bench_content {

inline std::string random_bytes(size_t size) {
  std::mt19937_64 random(42);
  std::string out(size, '\0');
  for (size_t i = 0; i + 8 <= out.size(); i += 8) {
    const uint64_t v = random();
    memcpy(&out[i], &v, 8);
  }
  return out;
}

// Text as servers store it: log lines of words, numbers and paths.
inline std::string text_bytes(size_t size) {
  static const char* const words[] = {"GET",   "POST",   "upload", "report", "files",
                                      "image", "status", "user",   "ok",     "error",
                                      "page",  "admin",  "2026",   "photo",  "index"};
  std::mt19937 random(7);
  std::string out;
  out.reserve(size + 200);
  while (out.size() < size) {
    out += std::to_string(1700000000 + random() % 100000);
    for (int w = 0; w < 8; ++w) {
      out += ' ';
      out += words[random() % 15];
      if (random() % 3 == 0)
        out += "/" + std::to_string(random() % 5000);
    }
    out += '\n';
  }
  out.resize(size);
  return out;
}

}  // namespace bench_content
