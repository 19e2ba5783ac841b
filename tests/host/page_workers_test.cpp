// Tests of the page workers: alone, that they run what is posted side by side and finish the
// queue when stopped; and in the host, that a page handed to them does not hold up the other
// clients of the connection thread, whether it was slow from the start or turned slow after
// short runs (which ran on the connection thread), and that the host stops cleanly while one
// runs.
#include "page_workers.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "host_process.h"
#include "http_client.h"

namespace {

using namespace std::chrono_literals;

TEST(PageWorkers, RunPostedJobsSideBySideAndFinishTheQueueWhenStopped) {
  vhost::PageWorkers workers;
  EXPECT_FALSE(workers.post([] {})) << "nothing runs before the start";
  std::string error;
  ASSERT_TRUE(workers.start(2, &error)) << error;

  // Each of two jobs waits for the other: both finish only when two workers run them at once.
  const auto caller = std::this_thread::get_id();
  std::atomic<int> met{0}, on_caller{0};
  std::promise<void> a_started, b_started;
  std::future<void> a_seen = a_started.get_future(), b_seen = b_started.get_future();
  auto meet = [&](std::promise<void>& mine, std::future<void>& other) {
    if (std::this_thread::get_id() == caller)
      ++on_caller;
    mine.set_value();
    if (other.wait_for(10s) == std::future_status::ready)
      ++met;
  };
  ASSERT_TRUE(workers.post([&] { meet(a_started, b_seen); }));
  ASSERT_TRUE(workers.post([&] { meet(b_started, a_seen); }));

  // The queue left when stopping is run to its end.
  std::atomic<int> done{0};
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(workers.post([&done] {
      std::this_thread::sleep_for(1ms);
      ++done;
    }));
  workers.stop();
  EXPECT_EQ(2, met.load());
  EXPECT_EQ(0, on_caller.load());
  EXPECT_EQ(40, done.load());

  bool ran_after_stop = false;
  EXPECT_FALSE(workers.post([&ran_after_stop] { ran_after_stop = true; }));
  EXPECT_FALSE(ran_after_stop);
}

// One connection thread and two workers, so that a page run on the connection thread would
// hold up every other client.
class PageHandOverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/handoverXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    ASSERT_EQ(0, host_test::run("mkdir -p '" + dir_ + "/site'"));
    host_test::write_file(dir_ + "/site/spin.asp",
                          "<% var end = new Date().getTime() +"
                          " parseInt(\"\" + Request.QueryString(\"ms\"), 10);"
                          " while (new Date().getTime() < end) {} %>spun");
    host_test::write_file(dir_ + "/site/quick.asp", "<%= \"quick\" %>");
    // Settled pages: one changed in the last seconds is compiled anew, unproven, every time.
    ASSERT_EQ(0, host_test::run("touch -d '-1 minute' '" + dir_ + "/site/'*.asp"));
    ASSERT_TRUE(host_.start(dir_, "host", "",
                            "--root '" + dir_ + "/site' --connection-threads 1 --workers 2"))
        << host_test::read_bytes(host_.err_file);
  }
  void TearDown() override {
    host_.stop();
    host_test::run("rm -rf '" + dir_ + "'");
  }

  // Asks for spin.asp running ms milliseconds, and for quick.asp while it runs: true when the
  // quick page answered before the slow one, which must answer too.
  bool quick_answers_while_spinning(int ms) {
    auto slow = std::async(std::launch::async, [this, ms] {
      return host_test::request(host_.port, "GET", "/spin.asp?ms=" + std::to_string(ms));
    });
    std::this_thread::sleep_for(200ms);
    const host_test::Response quick = host_test::request(host_.port, "GET", "/quick.asp");
    const bool first = slow.wait_for(0s) != std::future_status::ready;
    const host_test::Response spun = slow.get();
    EXPECT_EQ(200, quick.status);
    EXPECT_EQ("quick", quick.body);
    EXPECT_EQ(200, spun.status);
    EXPECT_EQ("spun", spun.body);
    return first;
  }

  std::string dir_;
  host_test::Host host_;
};

TEST_F(PageHandOverTest, ASlowPageDoesNotHoldUpTheOtherClients) {
  EXPECT_TRUE(quick_answers_while_spinning(2000));
}

TEST_F(PageHandOverTest, APageThatTurnsSlowHoldsItsThreadOnceThenGoesToTheWorkers) {
  // Short runs make the page one that runs on the connection thread, where a slow run holds up
  // the thread's other clients. The first run on each thread makes the thread's heap image, and
  // a loaded machine or a sanitizer build may stretch a short run past the bound: a few rounds
  // of short runs are allowed before the page is found running there.
  host_test::KeptConnection kept(host_.port);
  ASSERT_TRUE(kept.open());
  bool held = false;
  for (int round = 0; round < 5 && !held; ++round) {
    for (int i = 0; i < 20; ++i)
      ASSERT_EQ("spun", kept.get("/spin.asp?ms=0").body);
    held = !quick_answers_while_spinning(1000);
  }
  EXPECT_TRUE(held);
  // It held the thread once: its next runs go to the workers.
  EXPECT_TRUE(quick_answers_while_spinning(2000));
}

// The library must not stop with a connection suspended: the workers finish first.
TEST_F(PageHandOverTest, TheHostStopsCleanlyWhileAHandedOverPageRuns) {
  auto slow = std::async(std::launch::async, [this] {
    return host_test::request(host_.port, "GET", "/spin.asp?ms=1000");
  });
  std::this_thread::sleep_for(300ms);
  const pid_t pid = std::exchange(host_.pid, -1);
  ASSERT_EQ(0, kill(pid, SIGTERM));
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const host_test::Response spun = slow.get();
  if (spun.status != 0) {
    EXPECT_EQ("spun", spun.body) << "an answer given is whole";
  }
}

}  // namespace
