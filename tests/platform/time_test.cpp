// Tests of the clocks and waiting: GetTickCount, GetLocalTime, Sleep.
#include <gtest/gtest.h>

#include <ctime>

#include "synchapi.h"
#include "sysinfoapi.h"

namespace {

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

}  // namespace
