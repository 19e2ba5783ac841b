// Tests of a response's body held in blocks: whatever the sizes of the writes, the body is the
// bytes written in order, and blocks already written are never moved.
#include "response_body.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vhost::ResponseBody;

TEST(ResponseBodyTest, WritesOfEverySizeKeepTheirBytesAndOrder) {
  ResponseBody body;
  std::string expected;
  std::vector<const char*> first_bytes;
  // Tiny writes, writes around the block sizes, and one larger than a block.
  for (size_t size : {size_t{1}, size_t{7}, ResponseBody::kFirstBlock - 8, size_t{999},
                      ResponseBody::kFirstBlock * 3, ResponseBody::kBlock - 1,
                      ResponseBody::kBlock * 2 + 5, size_t{3}, size_t{40000}}) {
    std::string piece(size, static_cast<char>('a' + expected.size() % 26));
    ASSERT_TRUE(body.append(piece));
    expected += piece;
    for (size_t i = 0; i < first_bytes.size(); ++i)
      EXPECT_EQ(first_bytes[i], body.blocks()[i].data()) << "block " << i << " moved";
    first_bytes.clear();
    for (const std::string& block : body.blocks())
      first_bytes.push_back(block.data());
  }
  EXPECT_EQ(expected.size(), body.size());
  EXPECT_EQ(expected, body.str());
  EXPECT_TRUE(body.append(""));
  EXPECT_EQ(expected, body.str());
  body.clear();
  EXPECT_EQ(0u, body.size());
  EXPECT_EQ("", body.str());
}

}  // namespace
