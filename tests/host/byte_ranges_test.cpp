// Range header sets read against a representation's length, and If-Range decisions.
#include "byte_ranges.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using vhost::ByteRange;
using vhost::if_range_holds;
using vhost::parse_range;
using vhost::RangeRequest;
using vhost::Validators;

using Spans = std::vector<std::pair<uint64_t, uint64_t>>;

Spans spans(const RangeRequest& r) {
  Spans out;
  for (const ByteRange& b : r.ranges)
    out.emplace_back(b.first, b.last);
  return out;
}

TEST(ParseRange, SatisfiableRangesAreClampedToTheRepresentation) {
  const struct {
    const char* value;
    Spans want;
  } cases[] = {
      {"bytes=0-4", {{0, 4}}},
      {"bytes=5-", {{5, 99}}},
      {"bytes=-3", {{97, 99}}},
      {"bytes=-500", {{0, 99}}},                  // a suffix longer than the whole: the whole
      {"bytes=90-5000", {{90, 99}}},              // a last position past the end: to the end
      {"bytes=99-99", {{99, 99}}},                // the last byte
      {"BYTES=1-2", {{1, 2}}},                    // the unit in any case
      {"bytes=0-1,4-5", {{0, 1}, {4, 5}}},        // in the order asked
      {"bytes=4-5,0-1", {{4, 5}, {0, 1}}},        //
      {"bytes=0-1 , ,\t4-5,", {{0, 1}, {4, 5}}},  // white space and empty list elements
      {"bytes=0-9,100-200", {{0, 9}}},            // an unsatisfiable one among others is dropped
      {"bytes=-0,3-3", {{3, 3}}},                 //
      {"bytes=0-99999999999999999999999", {{0, 99}}},  // past 64 bits
  };
  for (const auto& c : cases) {
    const RangeRequest r = parse_range(c.value, 100);
    EXPECT_EQ(RangeRequest::kPartial, r.kind) << c.value;
    EXPECT_EQ(c.want, spans(r)) << c.value;
  }
}

TEST(ParseRange, RangesOutsideTheRepresentationAreUnsatisfiable) {
  for (const char* value : {"bytes=100-", "bytes=100-200", "bytes=-0", "bytes=100-,-0",
                            "bytes=99999999999999999999999-"}) {
    const RangeRequest r = parse_range(value, 100);
    EXPECT_EQ(RangeRequest::kUnsatisfiable, r.kind) << value;
    EXPECT_TRUE(r.ranges.empty()) << value;
  }
  // An empty representation has no byte to start at; a suffix of it is the whole, empty body.
  EXPECT_EQ(RangeRequest::kUnsatisfiable, parse_range("bytes=0-", 0).kind);
  EXPECT_EQ(RangeRequest::kUnsatisfiable, parse_range("bytes=0-0", 0).kind);
  EXPECT_EQ(RangeRequest::kWhole, parse_range("bytes=-5", 0).kind);
}

TEST(ParseRange, MalformedValuesAreIgnored) {
  for (const char* value :
       {"", "bytes", "bytes=", "bytes= ", "bytes=,", "bytes=-", "bytes=abc", "bytes=3-1",
        "bytes=0-1,3-1", "bytes 0-1", "bytes:0-1", "bytes =0-1", "items=0-1", "bytes=1-2-3",
        "bytes=+1-2", "bytes=1--2", "bytes=0x10-20", "bytes=1-2;q=1", "bytes=0-1,,x"}) {
    const RangeRequest r = parse_range(value, 100);
    EXPECT_EQ(RangeRequest::kWhole, r.kind) << '"' << value << '"';
    EXPECT_TRUE(r.ranges.empty()) << value;
  }
}

// Many ranges, or ranges that ask for more than the whole, cost more than they save: the whole
// representation is sent.
TEST(ParseRange, CostlyRangeSetsGetTheWholeRepresentation) {
  std::string at_cap = "bytes=", over_cap = "bytes=";
  for (size_t i = 0; i < vhost::kMaxRanges; ++i)
    at_cap += (i ? "," : "") + std::to_string(2 * i) + "-" + std::to_string(2 * i);
  over_cap = at_cap + ",99-99";
  EXPECT_EQ(RangeRequest::kPartial, parse_range(at_cap, 100).kind);
  EXPECT_EQ(vhost::kMaxRanges, parse_range(at_cap, 100).ranges.size());
  EXPECT_EQ(RangeRequest::kWhole, parse_range(over_cap, 100).kind);
  // Unsatisfiable ones do not count towards the cap.
  EXPECT_EQ(RangeRequest::kPartial, parse_range(at_cap + ",500-600,-0", 100).kind);

  EXPECT_EQ(RangeRequest::kWhole, parse_range("bytes=0-,0-", 100).kind);
  EXPECT_EQ(RangeRequest::kWhole, parse_range("bytes=0-60,40-99", 100).kind);
  EXPECT_EQ(RangeRequest::kWhole, parse_range("bytes=-60,-60", 100).kind);
  // Overlapping ranges that add up to no more than the whole are served.
  EXPECT_EQ(RangeRequest::kPartial, parse_range("bytes=0-50,40-60", 100).kind);
}

TEST(IfRange, EntityTagsCompareStrongly) {
  const Validators v{"\"abc-12\"", "Sun, 06 Nov 1994 08:49:37 GMT", true};
  EXPECT_TRUE(if_range_holds("\"abc-12\"", v));
  EXPECT_TRUE(if_range_holds("  \"abc-12\" ", v));
  EXPECT_FALSE(if_range_holds("\"abc-13\"", v));
  EXPECT_FALSE(if_range_holds("W/\"abc-12\"", v)) << "a weak tag never matches";
  EXPECT_FALSE(if_range_holds("\"abc-12", v));
  EXPECT_FALSE(if_range_holds("abc-12", v));
  EXPECT_FALSE(if_range_holds("", v));
  EXPECT_FALSE(if_range_holds("\"abc-12\"", {"W/\"abc-12\"", {}, true}))
      << "nor does a weak current tag";
  EXPECT_FALSE(if_range_holds("\"\"", {{}, {}, true})) << "no current tag matches nothing";
}

TEST(IfRange, DatesMustBeTheExactStrongLastModified) {
  const Validators v{"\"t\"", "Sun, 06 Nov 1994 08:49:37 GMT", true};
  EXPECT_TRUE(if_range_holds("Sun, 06 Nov 1994 08:49:37 GMT", v));
  EXPECT_FALSE(if_range_holds("Sun, 06 Nov 1994 08:49:38 GMT", v));
  EXPECT_FALSE(if_range_holds("Sunday, 06-Nov-94 08:49:37 GMT", v)) << "not the text sent";
  EXPECT_FALSE(if_range_holds("Sun, 06 Nov 1994 08:49:37 GMT",
                              {"\"t\"", "Sun, 06 Nov 1994 08:49:37 GMT", false}))
      << "a modification time of this second may still change";
  EXPECT_FALSE(if_range_holds("Sun, 06 Nov 1994 08:49:37 GMT", {"\"t\"", {}, true}));
}

}  // namespace
