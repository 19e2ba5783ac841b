// Tests of the debugger channel: OutputDebugStringA on the standard error stream.
#include <gtest/gtest.h>

#include "debugapi.h"

namespace {

TEST(DebugChannel, WritesToStandardErrorInUtf8) {
  testing::internal::CaptureStderr();
  OutputDebugStringA("plain ");
  OutputDebugStringA("\xC7\xD1");  // "한" in code page 949
  OutputDebugStringA(nullptr);
  EXPECT_EQ("plain \xED\x95\x9C", testing::internal::GetCapturedStderr());
}

}  // namespace
