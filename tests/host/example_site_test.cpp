// The example site's database pages on PostgreSQL: a host given the connection string as the
// Application value UploadsDb (as scripts/run.sh gives it from VANTREL_SITE_DB) stores an
// upload as sent and compressed in the tests' PostgreSQL server, lists both rows and sends
// both back as uploaded, and makes no SQLite file.
#include <gtest/gtest.h>

#include <string>

#include "host_process.h"
#include "http_client.h"
#include "pg_test_database.h"

namespace {

using host_test::Host;
using host_test::read_bytes;
using host_test::request;
using host_test::Response;
using host_test::run;

class ExampleSiteOnPostgres : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vhostexampleXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    const std::string registry = dir_ + "/registry.reg";
    for (const char* module : {VTRLSRV_PATH, ADO_MODULE})
      ASSERT_EQ(0, run("PLATFORM_REGISTRY='" + registry + "' '" REGSVR_PATH "' -s '" + module +
                       "' > /dev/null"));
    ASSERT_EQ(0, run("cp -r '" EXAMPLE_SITE_DIR "' '" + dir_ + "/site'"));
    std::string error;
    const std::string conninfo = pg_test::NewSchema(&error);
    ASSERT_NE("", conninfo) << error;
    // The value holds single quotes (libpq's options), so the shell gets it in double ones.
    const std::string args = "--root '" + dir_ +
                             "/site' --workers 2 --data-dir files --data-dir zfiles "
                             "--data-dir data --app-value \"UploadsDb=Provider=PostgreSQL;" +
                             conninfo + "\"";
    ASSERT_TRUE(
        host_.start(dir_, "host", "PLATFORM_REGISTRY='" + registry + "' PLATFORM_ACP=65001", args))
        << read_bytes(host_.err_file);
  }
  void TearDown() override {
    host_.stop();
    run("rm -rf '" + dir_ + "'");
  }

  std::string dir_;
  Host host_;
};

TEST_F(ExampleSiteOnPostgres, StoresListsAndSendsBackThroughTheServer) {
  std::string content(200000, '\0');
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>((i % 7 == 0) ? 0 : (i * 31) >> 3);
  const std::string boundary = "----ExampleSiteOnPostgres";
  const std::string body = "--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"file1\"; "
                           "filename=\"report.bin\"\r\nContent-Type: "
                           "application/octet-stream\r\n\r\n" +
                           content + "\r\n--" + boundary + "--\r\n";
  Response saved = request(host_.port, "POST", "/db_save.asp", body,
                           {"Content-Type: multipart/form-data; boundary=" + boundary});
  ASSERT_EQ(302, saved.status) << saved.body << read_bytes(host_.err_file);
  EXPECT_EQ("db_list.asp?stored=1", saved.header("Location"));

  Response list = request(host_.port, "GET", "/db_list.asp");
  ASSERT_EQ(200, list.status) << list.body;
  EXPECT_NE(std::string::npos, list.body.find("db_download.asp?id=1\">report.bin"));
  EXPECT_NE(std::string::npos, list.body.find("db_download.asp?id=2\">report.bin"));
  for (const char* row : {"/db_download.asp?id=1", "/db_download.asp?id=2"}) {
    SCOPED_TRACE(row);
    Response sent = request(host_.port, "GET", row);
    EXPECT_EQ(200, sent.status);
    EXPECT_TRUE(content == sent.body) << sent.body.size() << " bytes";
  }
  EXPECT_NE(0, run("test -e '" + dir_ + "/site/data/uploads.db'")) << "no SQLite file is made";
}

}  // namespace
