// Byte contents as the parameters of parameterised tests. gtest prints every parameter when it
// registers the tests, in every test process, and ctest runs each test in a process of its
// own: megabytes printed byte by byte, or copied for each test, cost each process about a
// second. So a content shares its bytes, prints as its size and names its tests by size.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <utility>

class ByteContent {
 public:
  explicit ByteContent(std::string bytes)
      : bytes_(std::make_shared<const std::string>(std::move(bytes))) {}
  const std::string& bytes() const { return *bytes_; }

 private:
  std::shared_ptr<const std::string> bytes_;
};

inline void PrintTo(const ByteContent& content, std::ostream* out) {
  *out << content.bytes().size() << " bytes";
}

inline std::string ContentName(const ::testing::TestParamInfo<ByteContent>& info) {
  return "Bytes" + std::to_string(info.param.bytes().size()) + "_" + std::to_string(info.index);
}
