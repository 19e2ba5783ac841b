// The components of a request path: an absolute path whose components '/' separates.
#pragma once

#include <string_view>

namespace vhost {

// Calls visit(name, last) for each component of path after its leading '/', empty and "."
// ones included (what they mean is the caller's to say), until visit returns false; last is
// true for the final component. Returns whether every component was visited.
template <class Visit>
bool for_each_component(std::string_view path, Visit&& visit) {
  for (size_t start = 1; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (!visit(path.substr(start, end - start), end == path.size()))
      return false;
    start = end + 1;
  }
  return true;
}

}  // namespace vhost
