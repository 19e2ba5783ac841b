// The body of a response (see response_body.h).
#include "response_body.h"

#include <algorithm>
#include <new>
#include <utility>

namespace vhost {

bool ResponseBody::append(std::string_view bytes) {
  if (bytes.empty())
    return true;
  try {
    std::string* last = blocks_.empty() ? nullptr : &blocks_.back();
    if (bytes.size() < kBlock && last && last->capacity() - last->size() >= bytes.size()) {
      last->append(bytes);
    } else {
      // Blocks start small and double up to kBlock: most pages answer a few hundred bytes,
      // and a 64 KiB block for them cost a large allocation, and its release made the C heap
      // merge all the small blocks freed before it, on every request.
      const size_t room =
          last ? std::min(kBlock, std::max(kFirstBlock, last->capacity() * 2)) : kFirstBlock;
      std::string block;
      block.reserve(bytes.size() < room ? room : bytes.size());
      block.append(bytes);
      blocks_.push_back(std::move(block));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  size_ += bytes.size();
  return true;
}

void ResponseBody::clear() {
  std::vector<std::string>().swap(blocks_);
  size_ = 0;
}

void ResponseBody::assign(std::string text) {
  clear();
  size_ = text.size();
  blocks_.push_back(std::move(text));
}

std::string ResponseBody::str() const {
  std::string out;
  out.reserve(size_);
  for (const std::string& block : blocks_)
    out += block;
  return out;
}

}  // namespace vhost
