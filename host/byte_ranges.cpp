// Range and If-Range (see byte_ranges.h).
#include "byte_ranges.h"

#include <limits>

#include "text.h"

namespace vhost {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_space(char c) {
  return c == ' ' || c == '\t';
}

// 1*DIGIT at `at`; a value past 64 bits saturates, which no representation reaches.
bool read_number(std::string_view s, size_t* at, uint64_t* out) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  const size_t start = *at;
  uint64_t value = 0;
  for (; *at < s.size() && is_digit(s[*at]); ++*at) {
    const uint64_t digit = static_cast<uint64_t>(s[*at] - '0');
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  *out = value;
  return *at > start;
}

}  // namespace

RangeRequest parse_range(std::string_view value, uint64_t size) {
  constexpr std::string_view kUnit = "bytes=";
  RangeRequest whole;
  if (value.size() < kUnit.size() || !iequals(value.substr(0, kUnit.size()), kUnit))
    return whole;
  std::vector<ByteRange> satisfiable;
  bool any_spec = false;
  bool suffix_on_empty = false;
  uint64_t total = 0;
  size_t at = kUnit.size();
  // 1#range-spec: elements between commas, optional white space, empty elements allowed.
  for (;;) {
    while (at < value.size() && (is_space(value[at]) || value[at] == ','))
      ++at;
    if (at == value.size())
      break;
    uint64_t first = 0, last = 0;
    bool has_first = false, has_last = false;
    if (is_digit(value[at])) {
      read_number(value, &at, &first);
      has_first = true;
    }
    if (at == value.size() || value[at] != '-')
      return whole;
    ++at;
    if (at < value.size() && is_digit(value[at])) {
      read_number(value, &at, &last);
      has_last = true;
    }
    while (at < value.size() && is_space(value[at]))
      ++at;
    if (at < value.size() && value[at] != ',')
      return whole;
    if (!has_first && !has_last)
      return whole;
    if (has_first && has_last && last < first)
      return whole;  // an invalid range-spec makes the whole header invalid
    any_spec = true;
    ByteRange range;
    if (has_first) {
      if (first >= size)
        continue;
      range = {first, has_last && last < size ? last : size - 1};
    } else {
      if (last == 0)
        continue;
      if (size == 0) {
        suffix_on_empty = true;
        continue;
      }
      range = {last >= size ? 0 : size - last, size - 1};
    }
    total += range.length();
    if (total > size || satisfiable.size() == kMaxRanges)
      return whole;
    satisfiable.push_back(range);
  }
  if (!any_spec || suffix_on_empty)
    return whole;
  if (satisfiable.empty())
    return {RangeRequest::kUnsatisfiable, {}};
  return {RangeRequest::kPartial, std::move(satisfiable)};
}

bool if_range_holds(std::string_view if_range, const Validators& current) {
  while (!if_range.empty() && is_space(if_range.front()))
    if_range.remove_prefix(1);
  while (!if_range.empty() && is_space(if_range.back()))
    if_range.remove_suffix(1);
  if (if_range.empty())
    return false;
  // An entity tag is quoted, or weak ("W/"), and a weak one never matches here: If-Range asks
  // for the strong comparison.
  if (if_range.front() == '"' || if_range.substr(0, 2) == "W/")
    return if_range.front() == '"' && if_range.size() >= 2 && if_range.back() == '"' &&
           !current.etag.empty() && current.etag.front() == '"' && if_range == current.etag;
  return current.last_modified_is_strong && !current.last_modified.empty() &&
         if_range == current.last_modified;
}

}  // namespace vhost
