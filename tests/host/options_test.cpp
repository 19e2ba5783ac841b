// Tests of the host's command-line options: the largest response, the thread counts, the data
// folders and the values Application holds from the start.
#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vhost::Options;
using vhost::parse_options;

TEST(HostOptions, LargestResponseIsASizeBelowTwoGigabytes) {
  Options o;
  std::string error;
  EXPECT_EQ(64ull << 20, o.max_response);
  ASSERT_TRUE(parse_options({"--max-response", "512K"}, &o, &error)) << error;
  EXPECT_EQ(512ull << 10, o.max_response);
  ASSERT_TRUE(parse_options({"--max-response", "2147483647"}, &o, &error)) << error;
  EXPECT_EQ(0x7FFFFFFFull, o.max_response);
  for (const char* bad : {"2G", "0", "-1", "ten", "5T"}) {
    Options refused;
    EXPECT_FALSE(parse_options({"--max-response", bad}, &refused, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find("--max-response")) << bad;
  }
}

TEST(HostOptions, ThreadCountsAreFromOneTo1024) {
  Options o;
  std::string error;
  EXPECT_EQ(0u, o.connection_threads) << "the host picks one for each processor";
  ASSERT_TRUE(parse_options({"--connection-threads", "3", "--workers", "1024"}, &o, &error))
      << error;
  EXPECT_EQ(3u, o.connection_threads);
  EXPECT_EQ(1024u, o.workers);
  for (const char* option : {"--connection-threads", "--workers"}) {
    for (const char* bad : {"0", "1025", "-1", "two"}) {
      Options refused;
      EXPECT_FALSE(parse_options({option, bad}, &refused, &error)) << option << " " << bad;
      EXPECT_NE(std::string::npos, error.find(option)) << bad;
    }
  }
}

TEST(HostOptions, DataFoldersAreFoldersOfTheSite) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse_options(
      {"--data-dir", "files", "--data-dir", "/up/images/", "--data-dir", "a..b", "--data-dir", "."},
      &o, &error))
      << error;
  EXPECT_EQ((std::vector<std::string>{"files", "up/images", "a..b", "."}), o.data_dirs);
  for (const char* bad : {"", "/", "..", "../outside", "up/../../x", "a\\b"}) {
    Options refused;
    EXPECT_FALSE(parse_options({"--data-dir", bad}, &refused, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find("--data-dir")) << bad;
  }
}

TEST(HostOptions, ApplicationValuesAreNamesWithTheRestAsValue) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse_options({"--app-value", "Db=Provider=PostgreSQL;host=h", "--app-value", "e="},
                            &o, &error))
      << error;
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Db", "Provider=PostgreSQL;host=h"},
                                                              {"e", ""}}),
            o.app_values);
  for (const char* bad : {"", "=value", "no-equals"}) {
    Options refused;
    EXPECT_FALSE(parse_options({"--app-value", bad}, &refused, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find("--app-value")) << bad;
  }
}

}  // namespace
