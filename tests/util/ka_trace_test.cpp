// Tests of the trace log: the trace file in text mode, its size limit, the switch shared by
// every process, and the debugger channel.
#include "KaTrace.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "child_process.h"
#include "faultsim.h"

namespace {

namespace fs = std::filesystem;

// Children that switch tracing, and one that traces a line.
const bool kTurnsTraceOn = child_process::RoleIfChild("trace-on", [](const std::string& path) {
  kaInitFileTrace(path.c_str(), 1);
  return 0;
});
const bool kTraces = child_process::RoleIfChild("trace-line", [](const std::string& text) {
  kaFileTrace("%s\n", text.c_str());
  return 0;
});

class KaTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/katrace-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
  }
  void TearDown() override {
    kaInitFileTrace(nullptr, 0);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Win(const std::string& rel) const {
    std::string path = root_ + "/" + rel;
    for (char& c : path)
      if (c == '/')
        c = '\\';
    return path;
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(root_ + "/" + rel, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& rel) const { return fs::exists(root_ + "/" + rel); }
  void Fill(const std::string& rel, size_t size) const {
    std::ofstream(root_ + "/" + rel, std::ios::binary) << std::string(size, 'f');
  }

  std::string root_;
};

// Tracing switched on by a process that has ended is off again for the next one to load the
// library when no other process held it in between.
TEST_F(KaTrace, SwitchEndsWithTheLastProcess) {
  std::string name = "KaMsUtilTest.alone." + std::to_string(getpid());
  std::string saved = getenv("KAMSUTIL_SETTINGS_NAME");
  setenv("KAMSUTIL_SETTINGS_NAME", name.c_str(), 1);
  int turned_on = child_process::RunChild("trace-on", Win("alone.log"));
  int traced = child_process::RunChild("trace-line", "after the last holder left");
  setenv("KAMSUTIL_SETTINGS_NAME", saved.c_str(), 1);
  EXPECT_EQ(0, turned_on);
  EXPECT_EQ(0, traced);
  EXPECT_FALSE(Exists("alone.log"));
}

TEST_F(KaTrace, LinesEndInCarriageReturnAndLineFeed) {
  kaInitFileTrace(Win("t.log").c_str(), 1);
  EXPECT_FALSE(Exists("t.log"));
  kaFileTrace("%s\n", "a");
  kaFileTrace("b %d\n", 2);
  kaFileTrace("no end");
  EXPECT_EQ("a\r\nb 2\r\nno end", Read("t.log"));
}

TEST_F(KaTrace, InitDeletesTheOldFileAndOffStopsWriting) {
  Fill("t.log", 10);
  kaInitFileTrace(Win("t.log").c_str(), 1);
  EXPECT_FALSE(Exists("t.log"));
  kaFileTrace("one\n");
  // Deleted between messages: the next message makes it again.
  fs::remove(root_ + "/t.log");
  kaFileTrace("two\n");
  EXPECT_EQ("two\r\n", Read("t.log"));
  kaInitFileTrace(Win("t.log").c_str(), 0);
  EXPECT_FALSE(Exists("t.log"));
  kaFileTrace("three\n");
  EXPECT_FALSE(Exists("t.log"));
}

TEST_F(KaTrace, FileStartsAfreshAtOneMebibyte) {
  kaInitFileTrace(Win("t.log").c_str(), 1);
  Fill("t.log", kaTraceFileLimit - 1);
  kaFileTrace("x");
  EXPECT_EQ(static_cast<uintmax_t>(kaTraceFileLimit), fs::file_size(root_ + "/t.log"));
  kaFileTrace("first\n");
  EXPECT_EQ("first\r\n", Read("t.log"));
}

TEST_F(KaTrace, OverlongPathIsRefusedAndChangesNothing) {
  kaInitFileTrace(Win("t.log").c_str(), 1);
  std::string too_long = Win(std::string(300, 'p'));
  kaInitFileTrace(too_long.c_str(), 0);
  kaFileTrace("still on\n");
  EXPECT_EQ("still on\r\n", Read("t.log"));
}

TEST_F(KaTrace, OneSwitchForEveryProcess) {
  ASSERT_EQ(0, child_process::RunChild("trace-on", Win("shared.log")));
  kaFileTrace("from the parent\n");
  ASSERT_EQ(0, child_process::RunChild("trace-line", "from the child"));
  EXPECT_EQ("from the parent\r\nfrom the child\r\n", Read("shared.log"));
  kaInitFileTrace(Win("shared.log").c_str(), 0);
  ASSERT_EQ(0, child_process::RunChild("trace-line", "after off"));
  EXPECT_FALSE(Exists("shared.log"));
}

TEST_F(KaTrace, AllocationFailureWritesNothing) {
  kaInitFileTrace(Win("t.log").c_str(), 1);
  for (int nth : {1, 2}) {
    FaultSimConfig(nth, FALSE);
    kaFileTrace("lost %d\n", nth);
    EXPECT_EQ(1, FaultSimFaults());
    FaultSimConfig(0, FALSE);
  }
  EXPECT_FALSE(Exists("t.log"));
  kaFileTrace("kept\n");
  EXPECT_EQ("kept\r\n", Read("t.log"));
}

TEST(KaTraceDebugChannel, SendsTheMessageCutTo4095Bytes) {
  testing::internal::CaptureStderr();
  kaTrace("%s=%d\n", "value", 7);
  EXPECT_EQ("value=7\n", testing::internal::GetCapturedStderr());
  std::string long_text(5000, 'm');
  testing::internal::CaptureStderr();
  kaTrace("%s", long_text.c_str());
  EXPECT_EQ(std::string(4095, 'm'), testing::internal::GetCapturedStderr());
}

}  // namespace
