// Tests of the process services: the identifier and FatalAppExitA.
#include <gtest/gtest.h>
#include <unistd.h>

#include "errhandlingapi.h"
#include "processthreadsapi.h"

namespace {

TEST(Process, IdentifierIsTheKernels) {
  EXPECT_EQ(static_cast<DWORD>(getpid()), GetCurrentProcessId());
}

TEST(FatalAppExit, EndsTheProcessAsAFailedLoad) {
  EXPECT_EXIT(FatalAppExitA(0, "cannot start"), testing::ExitedWithCode(127), "cannot start");
}

}  // namespace
