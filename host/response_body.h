// The body of a response, held as a list of blocks. It grows without copying what it already
// holds (a string that doubles its room copies the whole body and holds both for a moment, so
// a large body would cost twice its size), and goes to the network block by block from where
// it is, without a copy either.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vhost {

class ResponseBody {
 public:
  // Small writes share blocks of this many bytes; a larger write is a block of its own size.
  static constexpr size_t kBlock = 64 * 1024;

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
