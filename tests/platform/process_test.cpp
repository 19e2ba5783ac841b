// Tests of the process, clock and debugger-channel services: identifiers, ticks, local time,
// Sleep, OutputDebugStringA and FatalAppExitA.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>

#include "debugapi.h"
#include "errhandlingapi.h"
#include "platform_config.h"
#include "processthreadsapi.h"
#include "synchapi.h"
#include "sysinfoapi.h"

namespace {

TEST(Process, IdentifierIsTheKernels) {
  EXPECT_EQ(static_cast<DWORD>(getpid()), GetCurrentProcessId());
}

TEST(Clock, SleepWaitsAtLeastItsTimeOnTheTickCount) {
  DWORD before = GetTickCount();
  Sleep(30);
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), 30u);
  Sleep(0);
}

TEST(Clock, LocalTimeFollowsTheTimeZone) {
  std::time_t now = std::time(nullptr);
  SYSTEMTIME st;
  GetLocalTime(&st);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(local.tm_year + 1900, st.wYear);
  EXPECT_EQ(local.tm_mon + 1, st.wMonth);
  EXPECT_EQ(local.tm_mday, st.wDay);
  EXPECT_LT(st.wMilliseconds, 1000);
  GetLocalTime(nullptr);
}

TEST(DebugChannel, WritesToStandardErrorInUtf8) {
  testing::internal::CaptureStderr();
  OutputDebugStringA("plain ");
  OutputDebugStringA("\xC7\xD1");  // "한" in code page 949
  OutputDebugStringA(nullptr);
  EXPECT_EQ("plain \xED\x95\x9C", testing::internal::GetCapturedStderr());
}

TEST(FatalAppExit, EndsTheProcessAsAFailedLoad) {
  EXPECT_EXIT(FatalAppExitA(0, "cannot start"), testing::ExitedWithCode(127), "cannot start");
}

}  // namespace
