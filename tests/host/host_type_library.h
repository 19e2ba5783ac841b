// A base for tests of host objects that need the host's own interface descriptions: the
// asptlb.idl installed beside the vhost program, loaded for each test and released after it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dispatch_object.h"

class HostTypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string vhost = VHOST_PATH;
    ASSERT_EQ(S_OK,
              vhost::load_host_type_library(vhost.substr(0, vhost.rfind('/')) + "/asptlb.idl"));
  }
  void TearDown() override { vhost::release_host_type_library(); }
};
