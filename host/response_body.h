// The body of a response, held as a list of blocks. It grows without copying what it already
// holds (a string that doubles its room copies the whole body and holds both for a moment, so
// a large body would cost twice its size), and goes to the network block by block from where
// it is, without a copy either.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vhost {

class ResponseBody {
 public:
  // Small writes share blocks, the first of kFirstBlock bytes (its allocation stays in the C
  // library's per-thread cache), each next one twice the last up to kBlock; a larger write is a
  // block of its own size.
  static constexpr size_t kFirstBlock = 1000;
  static constexpr size_t kBlock = 64 * 1024;

  ResponseBody() = default;
  // Takes the blocks of other, which is left empty.
  ResponseBody(ResponseBody&& other) noexcept
      : blocks_(std::move(other.blocks_)), size_(std::exchange(other.size_, 0)) {
    other.blocks_.clear();
  }
  ResponseBody& operator=(ResponseBody&&) = delete;
  ResponseBody(const ResponseBody&) = delete;
  ResponseBody& operator=(const ResponseBody&) = delete;

  // Appends bytes. False, with nothing appended, when memory runs out.
  bool append(std::string_view bytes);
  // Empties the body and gives its memory back.
  void clear();
  // The body becomes text (host-made pages: errors, redirections).
  void assign(std::string text);
  size_t size() const { return size_; }
  const std::vector<std::string>& blocks() const { return blocks_; }
  // The whole body in one string.
  std::string str() const;

 private:
  std::vector<std::string> blocks_;
  size_t size_ = 0;
};

}  // namespace vhost
