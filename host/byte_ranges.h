// Byte ranges of a representation the host holds whole (RFC 9110, section 14): reading a Range
// header against the representation's length, and deciding an If-Range precondition.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vhost {

struct ByteRange {
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
  uint64_t length() const { return last - first + 1; }
};

struct RangeRequest {
  enum Kind {
    kWhole,          // no usable Range: the whole representation, 200
    kPartial,        // the ranges to send, 206
    kUnsatisfiable,  // no range overlaps the representation, 416
  };
  Kind kind = kWhole;
  std::vector<ByteRange> ranges;  // kPartial: in the order asked, each inside the representation
};

// More ranges than this in one request get the whole representation.
constexpr size_t kMaxRanges = 32;

// Reads the value of a Range header against a representation of `size` bytes. A value that is
// not a valid "bytes=" range set is ignored (kWhole), as are range sets of more than kMaxRanges
// satisfiable ranges or whose ranges add up to more than the representation (overlaps that
// would make the answer larger than the whole).
RangeRequest parse_range(std::string_view value, uint64_t size);

// The current validators of a representation, as sent in ETag and Last-Modified (empty when
// not sent). A Last-Modified time is a weak validator when the representation may have changed
// again within the same second.
struct Validators {
  std::string_view etag;
  std::string_view last_modified;
  bool last_modified_is_strong = true;
};

// Whether an If-Range value lets the Range through: an entity tag that is strong and equal to
// the current one, or the exact text of a strong Last-Modified.
bool if_range_holds(std::string_view if_range, const Validators& current);

}  // namespace vhost
