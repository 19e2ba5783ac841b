// The body of a response (see response_body.h).
#include "response_body.h"

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
      std::string block;
      block.reserve(bytes.size() < kBlock ? kBlock : bytes.size());
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
