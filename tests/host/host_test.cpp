// End-to-end tests of the script host: the vhost program is started on a free loopback port
// with a site of test pages and a registry holding the test components, and real HTTP
// requests go to it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "http_client.h"

extern char** environ;

namespace {

using host_test::KeptConnection;
using host_test::request;
using host_test::Response;

const std::string kModuleDir = TEST_MODULE_DIR;

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class HostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/vhosttestXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    site_ = dir_ + "/site";
    const std::string registry = dir_ + "/registry.reg";
    ASSERT_EQ(0, run("mkdir -p '" + site_ + "/sub' '" + site_ + "/empty'"));
    for (const char* module : {"libdispmodule.so", "libpagemodule.so"})
      ASSERT_EQ(0, run("PLATFORM_REGISTRY='" + registry + "' '" REGSVR_PATH "' -s '" + kModuleDir +
                       "/" + module + "'"));
    write_pages();
    const std::string command = "exec env PLATFORM_REGISTRY='" + registry +
                                "' '" VHOST_PATH "' --root '" + site_ +
                                "' --port 0 --workers 4 --data-dir up --data-dir /deep/store/ "
                                "--app-value 'Site.Db=Provider=SQLite;Data Source=x=y' > '" +
                                dir_ + "/out.txt' 2> '" + dir_ + "/err.txt'";
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    ASSERT_EQ(0,
              posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ));
    for (int i = 0; i < 100 && port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::string out = read_text(dir_ + "/out.txt");
      const size_t at = out.find("http://127.0.0.1:");
      if (at != std::string::npos)
        port_ = static_cast<unsigned>(std::atoi(out.c_str() + at + 17));
    }
    ASSERT_NE(0u, port_) << read_text(dir_ + "/err.txt");
  }

  static void TearDownTestSuite() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      stopped_cleanly_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    run("rm -rf '" + dir_ + "'");
  }

  static void write_pages() {
    write_file(site_ + "/hello.txt", "static text\n");
    write_file(
        site_ + "/page.asp",
        "<%@ Language=JScript %>\n<p><% for (var i = 0; i < 3; i++) { %>[<%= i * 2 %>]<% } %></p>\n"
        "<!-- #include file=\"sub/part.inc\" -->\n"
        "<!-- #include virtual=\"/sub/part.inc\" -->\nend\n");
    write_file(site_ + "/sub/part.inc", "<%= \"inc:\" + Server.MapPath(\"x.txt\") %>\n");
    write_file(site_ + "/error.asp",
               "<%@ Language=JScript %>\nfirst line\n<%\nvar a = 1;\nnull.boom();\n%>\n");
    write_file(site_ + "/compile_error.asp", "<% var = ; %>");
    write_file(site_ + "/vb.asp", "<%@ Language=VBScript %>hi");
    write_file(site_ + "/form.asp",
               "<%= Request.ServerVariables(\"REQUEST_METHOD\") %>|<%= "
               "Request.ServerVariables(\"CONTENT_TYPE\") %>|"
               "<%= Request.ServerVariables(\"CONTENT_LENGTH\") %>|<%= Request.Form(\"name\") %>|"
               "<%= Request.Form(\"multi\").Count %>|<%= Request.Form(\"multi\") %>|<%= "
               "Request.Form(\"missing\").Count %>|"
               "<%= Request.QueryString(\"q\") %>|<%= Request(\"q\") %>|<%= Request.Form.Count %>");
    write_file(
        site_ + "/echo.asp",
        "<% var n = Request.TotalBytes; var data = Request.BinaryRead(n);"
        " Response.AddHeader(\"X-Length\", \"\" + data.length);"
        " Response.ContentType = \"application/octet-stream\"; Response.BinaryWrite(data); %>");
    write_file(site_ + "/binary_after_form.asp",
               "<% var f = Request.Form(\"a\"); try { Request.BinaryRead(1); } catch (e) {"
               " Response.Write(e.number + \"|\" + e.description); } %>");
    write_file(site_ + "/mappath.asp",
               "<%= Server.MapPath(\"/\") %>|<%= Server.MapPath(\"up/a.txt\") %>|<%= "
               "Server.MapPath(\"/sub/../b.txt\") %>|"
               "<% try { Server.MapPath(\"../../etc/passwd\"); } catch (e) { "
               "Response.Write(e.number + \":\" + e.description); } %>");
    write_file(
        site_ + "/header.asp",
        "<% try { Response.AddHeader(\"X-Bad\", \"a\\r\\nSet-Cookie: evil=1\"); } catch (e) {"
        " Response.Write(\"value:\" + e.number); }"
        " try { Response.AddHeader(\"X-Bad\\nName\", \"v\"); } catch (e) { "
        "Response.Write(\"|name:\" + e.number); }"
        " try { Response.Redirect(\"/x\\r\\nY: z\"); } catch (e) { Response.Write(\"|redirect:\" + "
        "e.number); }"
        " Response.AddHeader(\"X-Good\", \"fine\"); %>");
    write_file(
        site_ + "/calc.asp",
        "<% var c = Server.CreateObject(\"Test.Calc\");\n"
        "Response.Write([c.Add(2), c.Add(2, 3), c.Concat(\"a\"), c.Concat(\"a\", 5), c.Item(2), "
        "c(3),"
        " c.Scale(2), c.Scale(2, true), typeof c, c.Bytes(4).length, c.Bytes(4)[3]].join(\",\"));\n"
        "c.Name = \"\\uD55C\\uAE00\"; Response.Write(\"|\" + c.Name + \"|\" + c.Self.Self.Name);\n"
        "Response.Write(\"|\" + c.Echo(null) + \"|\" + c.Echo(true) + \"|\" + c.Echo(1.5));\n"
        "c.Twice(21);\n"
        "try { c.Fail(\"it broke\"); } catch (e) { Response.Write(\"|\" + e.number + \"|\" + "
        "e.description); }\n"
        "try { c.Item(9); } catch (e) { Response.Write(\"|\" + e.number); }\n"
        "try { Server.CreateObject(\"No.Such.Thing\"); } catch (e) { Response.Write(\"|missing:\" "
        "+ (e.number < 0)); }\n"
        "%>");
    write_file(
        site_ + "/default_member.asp",
        "<% var c = Server.CreateObject(\"Test.Calc\");\n"
        "Response.Write([c.Self(2) === c.Item(2), c.Self.Self(3) === c.Item(3)].join()); %>");
    write_file(site_ + "/calc_uncaught.asp",
               "<%@ Language=JScript %>\n<% var c = "
               "Server.CreateObject(\"Test.Calc\");\nc.Fail(\"deep trouble\"); %>");
    write_file(site_ + "/events_fail.asp",
               "<% var p = Server.CreateObject(\"Test.PageEvents\");\n"
               "try { p.Fail(\"no rich errors\"); } catch (e) { Response.Write(\"(\" + e.number + "
               "\"|\" + e.description + \")\"); } %>");
    write_file(site_ + "/events.asp",
               "<% var p = Server.CreateObject(\"Test.PageEvents\"); Response.Write(\"(body:\" + "
               "p.Started + \")\"); %>");
    write_file(site_ + "/enum.asp",
               "<% var e = new Enumerator(Request.QueryString); var keys = [];"
               " for (; !e.atEnd(); e.moveNext()) keys.push(e.item() + \"=\" + "
               "Request.QueryString(e.item()));"
               " Response.Write(keys.join(\";\")); %>");
    write_file(
        site_ + "/session.asp",
        "<% var n = Session(\"count\"); n = (n === undefined ? 0 : n) + 1; Session.count = n;"
        " Application.Lock(); Application.hits = (Application(\"hits\") || 0) + 1; "
        "Application.UnLock();"
        " Response.Write(n); %>");
    // What one page leaves in its heap (globals, changed built-ins, objects kept in globals)
    // and what the next one sees.
    write_file(site_ + "/leave_state.asp",
               "<% leftover = 1; Array.prototype.extra = 2; String.prototype.trim = null;"
               " kept = Server.CreateObject(\"Test.Calc\"); alsoKept = [kept.Self, kept.Self];"
               " Response.Write(Math.random()); %>");
    write_file(site_ + "/see_state.asp",
               "<%= [typeof leftover, typeof [].extra, typeof ''.trim,"
               " Server.CreateObject(\"Test.Calc\").Live].join() %>|<%= Math.random() %>");
    // A header's bytes as ServerVariables gives them, before and after the page changes its
    // code page, and whether two reads of the collection agree.
    write_file(site_ + "/variables.asp",
               "<% var v = Request.ServerVariables; var before = '' + v('HTTP_X_WORD');"
               " var same = Request.ServerVariables('HTTP_X_WORD') == before;"
               " Response.CodePage = 1252;"
               " Response.Write([before.length, same, ('' + "
               "Request.ServerVariables('HTTP_X_WORD')).length,"
               " Request.ServerVariables('REQUEST_METHOD')].join()); %>");
    // Every variable of the whole list against its look-up by name in a fresh collection,
    // then indexes, Request(name) and a missing name.
    write_file(site_ + "/variable_list.asp",
               "<% var v = Request.ServerVariables, n = 0, same = 0;"
               " for (var e = new Enumerator(v); !e.atEnd(); e.moveNext(), n++)"
               "   if ('' + v(e.item()) == '' + Request.ServerVariables(e.item())) same++;"
               " Response.Write([n > 22, n == v.Count, n == same, v.Key(1),"
               " '' + v(1) == '' + v('all_http'), Request('http_x_word'),"
               " v('NO_SUCH').Count, Request.ServerVariables.Count == n].join()); %>");
    // A collection kept past its page answers with an error, not with freed memory.
    write_file(site_ + "/variables_keep.asp", "<% Session.v = Request.ServerVariables; %>kept");
    write_file(site_ + "/variables_late.asp",
               "<% try { Response.Write('' + Session('v')('REQUEST_METHOD')); }"
               " catch (e) { Response.Write('error ' + (e.number >>> 0).toString(16)); } %>");
    write_file(site_ + "/timeout.asp", "<% Server.ScriptTimeout = 1; while (true) {} %>");
    write_file(site_ + "/end.asp", "before<% Response.End(); %>after");
    write_file(site_ + "/redirect.asp", "<% Response.Redirect(\"/hello.txt\"); %>not shown");
    write_file(site_ + "/status.asp",
               "<% Response.Status = \"404 Nothing Here\"; Response.Write(\"x\"); %>");
    write_file(site_ + "/app.asp", "<%= Application(\"site.db\") %>|<%= Application(\"none\") %>");
    write_file(site_ + "/korean.asp", "<%= \"\\uD55C\" + Request.QueryString(\"k\") %>");
    write_file(site_ + "/worker.asp",
               "<% var id = Request.QueryString(\"id\"); var s = 0; for (var i = 0; i < 20000; "
               "i++) s += i;"
               " Response.Write(id + \":\" + s); %>");
    // A data folder as uploads leave it, and links into it from elsewhere in the site.
    ASSERT_EQ(0, run("mkdir -p '" + site_ + "/up/sub'"));
    for (const char* page : {"up/page.asp", "up/SHOUT.ASP", "up/sub/deeper.asp", "up/index.asp"})
      write_file(site_ + "/" + page, "<%= \"ran\" + (6 * 7) %>");
    write_file(site_ + "/up/x.html", "<script>document.title = 'stored script';</script>");
    write_file(site_ + "/up/x.svg",
               "<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)</script></svg>");
    write_file(site_ + "/up/pic.png", "\x89PNG\r\n\x1a\n");
    write_file(site_ + "/up/notes.txt", "<b>plain</b>");
    write_file(site_ + "/up/data.bin", std::string("\0\1\2", 3));
    write_file(site_ + "/open.html", "<p>a page of the site</p>");
    ASSERT_EQ(
        0, run("ln -s up/page.asp '" + site_ + "/link.asp' && ln -s up '" + site_ + "/linkdir'"));
    // An hour old, so that the host keeps every page compiled from its first request (a file
    // changed in the last seconds is compiled again each time): the tests run on kept pages.
    ASSERT_EQ(0, run("find '" + site_ + "' -type f -exec touch -d '-1 hour' {} +"));
  }

  // Writes page into the site and asks for it three times, in whichever worker's heap takes it:
  // every answer is expected.
  static void expect_every_time(const std::string& name, const std::string& page,
                                const std::string& expected) {
    write_file(site_ + "/" + name, page);
    for (int i = 0; i < 3; ++i) {
      const Response r = request(port_, "GET", "/" + name);
      ASSERT_EQ(200, r.status) << r.body;
      EXPECT_EQ(expected, r.body) << name << ", request " << i;
    }
  }

  static inline std::string dir_, site_;
  static inline pid_t pid_ = -1;
  static inline unsigned port_ = 0;
  static inline bool stopped_cleanly_ = false;
};

// Every response, a page's, a file's or an error, carries one Date header: the time of the
// answer in the form HTTP gives it.
TEST_F(HostTest, EveryResponseHasOneDateOfNow) {
  write_file(site_ + "/dated.asp", "<%= 1 %>");
  for (const char* path : {"/dated.asp", "/hello.txt", "/nothing.txt", "/dated.asp"}) {
    const std::time_t before = std::time(nullptr);
    const Response r = request(port_, "GET", path);
    const std::time_t after = std::time(nullptr);
    ASSERT_NE(0, r.status) << path;
    int dates = 0;
    for (const auto& [name, value] : r.headers)
      dates += strcasecmp(name.c_str(), "Date") == 0;
    EXPECT_EQ(1, dates) << path;
    std::tm parts{};
    const std::string date = r.header("Date");
    const char* end = strptime(date.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    ASSERT_TRUE(end && *end == '\0') << path << ": " << date;
    const std::time_t when = timegm(&parts);
    EXPECT_LE(before, when) << date;
    EXPECT_GE(after, when) << date;
  }
}

TEST_F(HostTest, StaticFile) {
  Response r = request(port_, "GET", "/hello.txt");
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("static text\n", r.body);
  EXPECT_EQ(404, request(port_, "GET", "/nothing.txt").status);
  EXPECT_EQ(405, request(port_, "POST", "/hello.txt", "x").status);
  EXPECT_EQ(403, request(port_, "GET", "/empty/").status);
  Response dir = request(port_, "GET", "/sub");
  EXPECT_EQ(301, dir.status);
  EXPECT_EQ("/sub/", dir.header("Location"));
}

TEST_F(HostTest, ApplicationValuesGivenAtStartAreSetForEveryPage) {
  Response r = request(port_, "GET", "/app.asp");
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("Provider=SQLite;Data Source=x=y|", r.body) << "a name never set reads as empty";
}

TEST_F(HostTest, PageOutputAndIncludes) {
  Response r = request(port_, "GET", "/page.asp");
  EXPECT_EQ(200, r.status);
  // MapPath in an include is relative to the page that runs, not to the include file.
  const std::string sub = "\\" + site_.substr(1) + "\\x.txt";
  std::string expected_sub = sub;
  for (char& c : expected_sub)
    if (c == '/')
      c = '\\';
  EXPECT_EQ("\n<p>[0][2][4]</p>\ninc:" + expected_sub + "\n\ninc:" + expected_sub + "\n\nend\n",
            r.body);
}

TEST_F(HostTest, ScriptErrorGives500NamingPageAndLineAndServerGoesOn) {
  // The second run is loaded from the bytecode the first one kept, with its line table.
  for (int run = 0; run < 2; ++run) {
    Response r = request(port_, "GET", "/error.asp");
    EXPECT_EQ(500, r.status);
    EXPECT_NE(std::string::npos, r.body.find("/error.asp")) << r.body;
    EXPECT_NE(std::string::npos, r.body.find("line 5")) << r.body;
    EXPECT_NE(std::string::npos, r.body.find("TypeError")) << r.body;
    EXPECT_EQ(std::string::npos, r.body.find("first line")) << "partial output is replaced";
  }

  Response compile = request(port_, "GET", "/compile_error.asp");
  EXPECT_EQ(500, compile.status);
  EXPECT_NE(std::string::npos, compile.body.find("SyntaxError")) << compile.body;
  Response vb = request(port_, "GET", "/vb.asp");
  EXPECT_EQ(500, vb.status);
  EXPECT_NE(std::string::npos, vb.body.find("VBScript")) << vb.body;

  EXPECT_EQ(200, request(port_, "GET", "/page.asp").status);
}

// A kept page is compiled again when it or a file it includes changes, even to the same size,
// and a page that is removed or stops compiling is not served from what was kept.
TEST_F(HostTest, ChangedPagesAndIncludesAreServedNew) {
  const std::string page = site_ + "/changing.asp", part = site_ + "/sub/changing.inc";
  auto age = [](const std::string& path, const char* when) {
    return run("touch -d '" + std::string(when) + "' '" + path + "'");
  };
  write_file(page, "<% var v = 1; %>page<%= v %>/<!-- #include file=\"sub/changing.inc\" -->");
  write_file(part, "partA");
  ASSERT_EQ(0, age(page, "-1 hour"));
  ASSERT_EQ(0, age(part, "-1 hour"));
  EXPECT_EQ("page1/partA", request(port_, "GET", "/changing.asp").body);
  EXPECT_EQ("page1/partA", request(port_, "GET", "/changing.asp").body);

  write_file(part, "partB");  // same size, newer time
  ASSERT_EQ(0, age(part, "-50 minutes"));
  EXPECT_EQ("page1/partB", request(port_, "GET", "/changing.asp").body);

  write_file(page, "<% var v = 2; %>page<%= v %>/<!-- #include file=\"sub/changing.inc\" -->");
  EXPECT_EQ("page2/partB", request(port_, "GET", "/changing.asp").body) << "changed just now";
  write_file(page, "<% var v = 3; %>page<%= v %>/<!-- #include file=\"sub/changing.inc\" -->");
  EXPECT_EQ("page3/partB", request(port_, "GET", "/changing.asp").body)
      << "a page changed in the last seconds is not kept";

  write_file(page, "<% var = ; %>");
  ASSERT_EQ(0, age(page, "-40 minutes"));
  EXPECT_EQ(500, request(port_, "GET", "/changing.asp").status);
  ASSERT_EQ(0, run("rm '" + part + "'"));
  write_file(page, "<!-- #include file=\"sub/changing.inc\" -->");
  ASSERT_EQ(0, age(page, "-30 minutes"));
  EXPECT_EQ(500, request(port_, "GET", "/changing.asp").status) << "the include is gone";
  ASSERT_EQ(0, run("rm '" + page + "'"));
  EXPECT_EQ(404, request(port_, "GET", "/changing.asp").status);
}

// Pages and files asked for again are found without resolving their path; a change on the
// way shows at the next request all the same. One connection keeps the requests on one worker,
// whose cache has seen the earlier ones.
TEST_F(HostTest, PagesReplacedOrMovedAreSeenAtTheNextRequest) {
  ASSERT_EQ(0, run("mkdir -p '" + site_ + "/moving'"));
  const std::string page = site_ + "/moving/page.asp";
  auto settled = [](const std::string& path) { return run("touch -d '-1 hour' '" + path + "'"); };
  write_file(page, "<%= 'first' %>");
  ASSERT_EQ(0, settled(page));
  KeptConnection connection(port_);
  ASSERT_TRUE(connection.open());
  EXPECT_EQ("first", connection.get("/moving/page.asp").body);
  EXPECT_EQ("first", connection.get("/moving/page.asp").body);

  write_file(site_ + "/moving/page.tmp", "<%= 'second' %>");
  ASSERT_EQ(0, settled(site_ + "/moving/page.tmp"));
  ASSERT_EQ(0, run("mv '" + site_ + "/moving/page.tmp' '" + page + "'"));
  EXPECT_EQ("second", connection.get("/moving/page.asp").body) << "replaced by a rename";

  ASSERT_EQ(0, run("mv '" + site_ + "/moving' '" + site_ + "/moved'"));
  EXPECT_EQ(404, connection.get("/moving/page.asp").status) << "its folder renamed";
  EXPECT_EQ("second", connection.get("/moved/page.asp").body);
  write_file(dir_ + "/outside.asp", "<%= 'outside' %>");
  ASSERT_EQ(0, run("mkdir '" + site_ + "/moving' && ln -s '" + dir_ + "/outside.asp' '" + site_ +
                   "/moving/page.asp'"));
  EXPECT_EQ(403, connection.get("/moving/page.asp").status)
      << "a link out of the site in its place";
}

// Anything after a file's name names nothing: a page asked for with a slash or "/." after it
// neither runs nor goes out as its source.
TEST_F(HostTest, NothingLiesBelowAFile) {
  write_file(site_ + "/secret.asp", "<% var password = 'hunter2'; %>ok");
  ASSERT_EQ(0, run("ln -s secret.asp '" + site_ + "/alias.asp'"));
  for (const char* path : {"/secret.asp/", "/secret.asp/.", "/secret.asp//", "/secret.asp/x",
                           "/alias.asp/", "/hello.txt/"}) {
    const Response r = request(port_, "GET", path);
    EXPECT_EQ(404, r.status) << path;
    EXPECT_EQ(std::string::npos, r.body.find("hunter2")) << path;
  }
  EXPECT_EQ("ok", request(port_, "GET", "/secret.asp").body);
}

// What pages include and an application's file hold server-side script: never sent, whatever
// the case of the name or a link's name.
TEST_F(HostTest, IncludedAndApplicationFilesAreNotSent) {
  write_file(site_ + "/global.asa", "<script runat=server>var dsn = 'hunter2';</script>");
  write_file(site_ + "/conn.INC", "<% var dsn = 'hunter2'; %>");
  ASSERT_EQ(0, run("ln -s conn.INC '" + site_ + "/conn.txt'"));
  for (const char* path : {"/sub/part.inc", "/global.asa", "/conn.INC", "/conn.txt"}) {
    const Response r = request(port_, "GET", path);
    EXPECT_EQ(403, r.status) << path;
    EXPECT_EQ(std::string::npos, r.body.find("hunter2")) << path;
    EXPECT_EQ(std::string::npos, r.body.find("MapPath")) << path;
  }
  EXPECT_NE(std::string::npos, request(port_, "GET", "/page.asp").body.find("inc:"))
      << "pages still include them";
}

TEST_F(HostTest, ScriptTimeoutStopsThePage) {
  Response r = request(port_, "GET", "/timeout.asp");
  EXPECT_EQ(500, r.status);
  EXPECT_NE(std::string::npos, r.body.find("timeout")) << r.body;
  EXPECT_EQ(200, request(port_, "GET", "/hello.txt").status);
}

TEST_F(HostTest, UrlEncodedPostThroughRequestForm) {
  Response r = request(port_, "POST", "/form.asp?q=%ED%95%9C+x",
                       "name=J%C3%BCrgen+Smith&multi=1&multi=two&empty=",
                       {"Content-Type: application/x-www-form-urlencoded"});
  EXPECT_EQ(200, r.status);
  EXPECT_EQ(
      "POST|application/x-www-form-urlencoded|47|J\xC3\xBCrgen Smith|2|1, two|0|"
      "\xED\x95\x9C x|\xED\x95\x9C x|3",
      r.body);
  Response get = request(port_, "GET", "/form.asp");
  // A missing entry is an empty list, which Response.Write shows as nothing.
  EXPECT_EQ("GET||0||0||0|||0", get.body);
}

TEST_F(HostTest, BinaryReadReturnsTheBodyByteExact) {
  std::mt19937 random(7);
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{1000}, size_t{65537}, size_t{1} << 20, size_t{20} << 20}) {
    std::string body(size, '\0');
    for (char& c : body)
      c = static_cast<char>(random());
    Response r =
        request(port_, "POST", "/echo.asp", body, {"Content-Type: application/octet-stream"});
    ASSERT_EQ(200, r.status) << size << " " << r.body.substr(0, 500);
    EXPECT_EQ(std::to_string(size), r.header("X-Length"));
    EXPECT_TRUE(r.body == body) << "body of " << size << " bytes differs";
  }
}

TEST_F(HostTest, FormAndBinaryReadExcludeEachOther) {
  Response r = request(port_, "POST", "/binary_after_form.asp", "a=1",
                       {"Content-Type: application/x-www-form-urlencoded"});
  EXPECT_EQ("-2147467259|Request.BinaryRead cannot be used after Request.Form.", r.body);
}

TEST_F(HostTest, BodyOverTheLimitGets413BeforeItIsSent) {
  const int fd = host_test::connect_loopback(port_);
  ASSERT_GE(fd, 0);
  const std::string head =
      "POST /echo.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 31457281\r\n\r\n";
  ASSERT_TRUE(host_test::send_all(fd, head.data(), head.size()));
  Response r = host_test::read_response(fd);  // no body byte was sent
  close(fd);
  EXPECT_EQ(413, r.status);
  EXPECT_EQ(200, request(port_, "GET", "/hello.txt").status);
}

TEST_F(HostTest, EscapesFromTheSiteAreRefused) {
  EXPECT_EQ(403, request(port_, "GET", "/../../etc/passwd").status);
  EXPECT_EQ(403, request(port_, "GET", "/sub/%2e%2e/%2e%2e/etc/passwd").status);
  EXPECT_EQ(400, request(port_, "GET", "/sub%5c..%5c..%5cetc%5cpasswd").status);
  Response r = request(port_, "GET", "/sub/../mappath.asp");
  EXPECT_EQ(403, r.status);
  Response map = request(port_, "GET", "/mappath.asp");
  std::string root = site_;
  for (char& c : root)
    if (c == '/')
      c = '\\';
  EXPECT_EQ(root + "|" + root + "\\up\\a.txt|" + root +
                "\\b.txt|-2147024891:Server.MapPath: "
                "'../../etc/passwd' is not a virtual path "
                "inside the site.",
            map.body);
}

TEST_F(HostTest, SymbolicLinksOutOfTheSiteAreRefused) {
  write_file(dir_ + "/outside.txt", "secret\n");
  write_file(site_ + "/sub/inside.txt", "inside\n");
  ASSERT_EQ(0, run("ln -sfn '" + dir_ + "/outside.txt' '" + site_ + "/out-link.txt'"));
  ASSERT_EQ(0, run("ln -sfn '" + dir_ + "' '" + site_ + "/out-dir'"));
  ASSERT_EQ(0, run("ln -sfn '" + site_ + "/sub' '" + site_ + "/in-dir'"));
  EXPECT_EQ(403, request(port_, "GET", "/out-link.txt").status);
  EXPECT_EQ(403, request(port_, "GET", "/out-dir/outside.txt").status);
  EXPECT_EQ(403, request(port_, "GET", "/sub/../out-dir/outside.txt").status);
  const Response in = request(port_, "GET", "/in-dir/inside.txt");
  EXPECT_EQ(200, in.status);
  EXPECT_EQ("inside\n", in.body);
  EXPECT_EQ(404, request(port_, "GET", "/in-dir/missing.txt").status);
  EXPECT_EQ(404, request(port_, "GET", "/hello.txt/under-a-file").status);
}

TEST_F(HostTest, HeaderNamesAndValuesWithLineBreaksAreRefused) {
  Response r = request(port_, "GET", "/header.asp");
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("value:-2147024809|name:-2147024809|redirect:-2147024809", r.body);
  EXPECT_FALSE(r.has_header("X-Bad"));
  EXPECT_FALSE(r.has_header("Y"));
  EXPECT_EQ(std::string::npos, r.header("Set-Cookie").find("evil"));
  EXPECT_EQ("fine", r.header("X-Good"));
}

TEST_F(HostTest, ComponentsThroughServerCreateObject) {
  Response r = request(port_, "GET", "/calc.asp");
  ASSERT_EQ(200, r.status) << r.body;
  EXPECT_EQ(
      "12,5,a,a5,200,300,5,-5,function,4,3|\xED\x95\x9C\xEA\xB8\x80|"
      "\xED\x95\x9C\xEA\xB8\x80|null|true|1.5|-2147467259|it broke|-2147024809|missing:true",
      r.body);
}

// Arguments given to a property that takes none go to the default member of the object it
// gives, as rs.Fields("name") in database pages.
TEST_F(HostTest, ArgumentsPassThroughAPropertyToItsObjectsDefaultMember) {
  Response r = request(port_, "GET", "/default_member.asp");
  ASSERT_EQ(200, r.status) << r.body;
  EXPECT_EQ("true,true", r.body);
}

TEST_F(HostTest, UncaughtAutomationErrorNamesHresultDescriptionAndMember) {
  Response r = request(port_, "GET", "/calc_uncaught.asp");
  EXPECT_EQ(500, r.status);
  EXPECT_NE(std::string::npos, r.body.find("line 3")) << r.body;
  EXPECT_NE(std::string::npos, r.body.find("0x80004005")) << r.body;
  EXPECT_NE(std::string::npos, r.body.find("deep trouble")) << r.body;
  EXPECT_NE(std::string::npos, r.body.find("(Fail)")) << "the method is named: " << r.body;
}

TEST_F(HostTest, OnStartPageAndOnEndPageAreCalled) {
  Response r = request(port_, "GET", "/events.asp");
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("[start](body:true)[end]", r.body);
}

// A component that does not report rich errors may still leave its description on the thread.
TEST_F(HostTest, AFailingMembersDescriptionReachesTheCatchWithoutRichErrors) {
  Response r = request(port_, "GET", "/events_fail.asp");
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("[start](-2147467259|no rich errors)[end]", r.body);
}

// Every page runs in a heap as fresh as a new one, whichever worker ran what before it, and
// the objects a page's script still held when it ended are released with it.
TEST_F(HostTest, NothingAPageDidOutlivesIt) {
  std::set<std::string> randoms;
  for (int i = 0; i < 24; ++i) {
    const Response left = request(port_, "GET", "/leave_state.asp");
    ASSERT_EQ(200, left.status) << left.body;
    randoms.insert(left.body);
    const Response seen = request(port_, "GET", "/see_state.asp");
    ASSERT_EQ(200, seen.status) << seen.body;
    const size_t bar = seen.body.find('|');
    EXPECT_EQ("undefined,undefined,function,1", seen.body.substr(0, bar)) << "request " << i;
    randoms.insert(seen.body.substr(bar + 1));
  }
  EXPECT_EQ(48u, randoms.size()) << "Math.random began alike in two pages";
}

// The intrinsic objects are made when a page first reads them: each page still gets its own,
// the same object on every read, and a page that assigns to one of the names changes nothing
// for the next page.
TEST_F(HostTest, EachPageReadsItsOwnIntrinsicsAndMayReplaceThem) {
  write_file(site_ + "/intrinsics.asp",
             "<% var seen = [typeof Session, typeof Application, Response === Response,"
             " Request.QueryString('n')].join(); Request = 'replaced'; Server = null; %>"
             "<%= seen %>/<%= Request %>/<%= Server %>");
  for (const char* n : {"1", "2", "3"}) {
    const Response r = request(port_, "GET", std::string("/intrinsics.asp?n=") + n);
    ASSERT_EQ(200, r.status) << r.body;
    EXPECT_EQ(std::string("function,function,true,") + n + "/replaced/", r.body);
  }
}

// A method taken from an object keeps the object alive after the script dropped it and the
// heap was collected; the page lets go of it at its end.
TEST_F(HostTest, AMethodKeepsItsObjectAlive) {
  expect_every_time(
      "method.asp",
      "<% var add = Server.CreateObject('Test.Calc').Add; Duktape.gc(); Duktape.gc(); %>"
      "<%= add(2, 3) %>,<%= Server.CreateObject('Test.Calc').Live %>",
      "5,2");
}

// Built-in functions, which the engine keeps without objects of their own, still work as
// functions, carry their own names (functions sharing one native routine included) and read as
// native code, without anything of the process's memory in their text.
TEST_F(HostTest, BuiltInFunctionsKeepTheirNamesAndBehaviour) {
  expect_every_time(
      "builtins.asp",
      "<%= [Math.max.name, Math.min.name, [].push.name, ''.charAt.name, ({}).toString.name,"
      " JSON.stringify.name, new Uint8Array(1).subarray.name, String(Math.min),"
      " typeof Math.floor, Math.floor.length,"
      " [].push === Array.prototype.push, Math.max.call(null, 1, 5),"
      " Math.max.apply(null, [4, 9]), Math.max instanceof Function].join('|') %>",
      "max|min|push|charAt|toString|stringify|subarray|function min() { [native code] }|function|"
      "1|true|"
      "5|9|true");
}

// An object the script lets go of is released at once, not only at the page's end, also after
// its methods were called (a method kept for the object would hold it).
TEST_F(HostTest, AnObjectTheScriptDropsIsReleasedAtOnce) {
  expect_every_time("dropped.asp",
                    "<% var c = Server.CreateObject('Test.Calc'); var before = c.Live; c = null;"
                    " var d = Server.CreateObject('Test.Calc'); %><%= before %>,<%= d.Live %>",
                    "1,1");
  expect_every_time("dropped_after_calls.asp",
                    "<% var c = Server.CreateObject('Test.Calc'); c.Add(1); c.Add(2); c = null;"
                    " var d = Server.CreateObject('Test.Calc'); d.Add(1); %><%= d.Live %>",
                    "1");
}

// The intrinsics' member functions are made once a page: each read gives the same function,
// which calls its member and names it when the call fails, whatever name the script used.
TEST_F(HostTest, AnIntrinsicsMethodsAreMadeOncePerPage) {
  expect_every_time(
      "intrinsic_methods.asp",
      "<% var w = Response.Write; for (var i = 0; i < 3; i++) Response.Write(i);"
      " w('|' + (w === Response.Write) + '|' + (Server.MapPath === Server.MapPath) + '|');"
      " try { Response.Write(); } catch (e) { w(e.message); }"
      " try { Response.write(); } catch (e) { w('|' + e.message); } %>",
      "012|true|true|Wrong number of arguments or invalid property assignment (Write)"
      "|Wrong number of arguments or invalid property assignment (write)");
}

// A member function read from an object calls its member wherever it is called from, whether
// its id is small (given in the interface) or large (one a type library assigns itself, as
// Response's), and names the member when the call fails; passed to a member, it stands for its
// object.
TEST_F(HostTest, MemberFunctionsCallTheirMemberAndNameItWhenTheCallFails) {
  expect_every_time("members.asp",
                    "<% var c = Server.CreateObject('Test.Calc'); var add = c.Add;"
                    " var write = Response.Write; write(add(2, 3)); write('|' + add(1));"
                    " try { add(); } catch (e) { write('|' + e.message); }"
                    " try { write(); } catch (e) { write('|' + e.message); }"
                    " write('|' + c.Echo(add).Add(4, 5)); %>",
                    "5|11|Wrong number of arguments or invalid property assignment (Add)"
                    "|Wrong number of arguments or invalid property assignment (Write)|9");
}

// A page's code is one scope across its blocks: functions declared anywhere in it are called
// before their declaration and change its variables, eval sees them, and `this` is the global
// object, in strict pages too.
TEST_F(HostTest, PageCodeIsOneScopeAcrossItsBlocks) {
  expect_every_time("scope.asp",
                    "<% var n = twice(2); %>[<%= n %>]<% for (var i = 0; i < 2; i++) { bump(); } %>"
                    "<%= [n, i, eval('n + 1'), (function () { return i * 10; })(),"
                    " this === (0, eval)('this'), this.Response === Response].join() %>"
                    "<% function twice(x) { return x * 2; }\nfunction bump() { n += 10; } %>",
                    "[4]24,2,25,20,true,true");
  expect_every_time("strict.asp",
                    "<% 'use strict'; var s = (function () { return this; })(); %>"
                    "<%= [this === (0, eval)('this'), s].join() %>",
                    "true,");
}

TEST_F(HostTest, EnumeratorWalksACollection) {
  Response r = request(port_, "GET", "/enum.asp?b=2&a=1&b=3");
  EXPECT_EQ("b=2, 3;a=1", r.body);
}

TEST_F(HostTest, SessionKeepsValuesForItsCookie) {
  Response first = request(port_, "GET", "/session.asp");
  EXPECT_EQ("1", first.body);
  const std::string cookie = first.header("Set-Cookie");
  ASSERT_NE(std::string::npos, cookie.find("VHOSTSESSIONID=")) << cookie;
  const std::string pair = cookie.substr(0, cookie.find(';'));
  EXPECT_EQ("2", request(port_, "GET", "/session.asp", "", {"Cookie: " + pair}).body);
  Response second = request(port_, "GET", "/session.asp", "", {"Cookie: other=1; " + pair});
  EXPECT_EQ("3", second.body);
  EXPECT_FALSE(second.has_header("Set-Cookie"));
  EXPECT_EQ("1", request(port_, "GET", "/session.asp").body);
}

TEST_F(HostTest, EndRedirectStatusAndCodePage) {
  EXPECT_EQ("before", request(port_, "GET", "/end.asp").body);
  Response redirect = request(port_, "GET", "/redirect.asp");
  EXPECT_EQ(302, redirect.status);
  EXPECT_EQ("/hello.txt", redirect.header("Location"));
  EXPECT_EQ(std::string::npos, redirect.body.find("not shown"));
  Response status = request(port_, "GET", "/status.asp");
  EXPECT_EQ(404, status.status);
  EXPECT_EQ("x", status.body);
  EXPECT_EQ("\xED\x95\x9C\xEA\xB8\x80", request(port_, "GET", "/korean.asp?k=%EA%B8%80").body);
}

TEST_F(HostTest, ServerVariablesFollowThePagesCodePage) {
  // "\uD55C" in UTF-8: one character in code page 65001, three in 1252.
  const Response r = request(port_, "GET", "/variables.asp", "", {"X-Word: \xED\x95\x9C"});
  ASSERT_EQ(200, r.status) << r.body;
  EXPECT_EQ("1,true,3,GET", r.body);
}

TEST_F(HostTest, ServerVariablesByNameAgreeWithTheWholeList) {
  const Response r = request(port_, "GET", "/variable_list.asp", "", {"X-Word: hello"});
  ASSERT_EQ(200, r.status) << r.body;
  EXPECT_EQ("true,true,true,ALL_HTTP,true,hello,0,true", r.body);

  const Response kept = request(port_, "GET", "/variables_keep.asp");
  ASSERT_EQ("kept", kept.body);
  const std::string cookie = kept.header("Set-Cookie");
  const Response late = request(port_, "GET", "/variables_late.asp", "",
                                {"Cookie: " + cookie.substr(0, cookie.find(';'))});
  ASSERT_EQ(200, late.status) << late.body;
  EXPECT_EQ("error 8000ffff", late.body);
}

TEST_F(HostTest, ManyParallelRequests) {
  constexpr int kThreads = 16, kEach = 12;
  std::vector<std::thread> threads;
  std::vector<int> good(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &good] {
      for (int i = 0; i < kEach; ++i) {
        const std::string id = std::to_string(t * 100 + i);
        Response r = request(port_, "GET", "/worker.asp?id=" + id);
        if (r.status == 200 && r.body == id + ":199990000")
          ++good[static_cast<size_t>(t)];
      }
    });
  }
  for (auto& th : threads)
    th.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(kEach, good[static_cast<size_t>(t)]) << "thread " << t;
}

// A folder marked as data runs no page, not even through a link from elsewhere, and does not
// send a page's source either: 403, as a server that denies execute access to a folder.
TEST_F(HostTest, PagesDoNotRunFromADataFolder) {
  for (const char* path :
       {"/up/page.asp", "/up/SHOUT.ASP", "/up/sub/deeper.asp", "/link.asp", "/linkdir/page.asp",
        "/up/", "/up/sub/", "/./up/page.asp", "//up/./page.asp", "/up//sub/deeper.asp"}) {
    for (const char* method : {"GET", "POST"}) {
      SCOPED_TRACE(std::string(method) + " " + path);
      const Response r = request(port_, method, path);
      EXPECT_EQ(403, r.status);
      EXPECT_EQ(std::string::npos, r.body.find("ran42")) << r.body;
      EXPECT_EQ(std::string::npos, r.body.find("<%")) << r.body;
    }
  }
  EXPECT_EQ(301, request(port_, "GET", "/up").status);
  // A data folder made after the host started is one all the same.
  ASSERT_EQ(0, run("mkdir -p '" + site_ + "/deep/store' && cp '" + site_ + "/up/page.asp' '" +
                   site_ + "/deep/store/late.asp' && cp '" + site_ + "/up/page.asp' '" + site_ +
                   "/deep/late.asp'"));
  EXPECT_EQ(403, request(port_, "GET", "/deep/store/late.asp").status);
  EXPECT_EQ("ran42", request(port_, "GET", "/deep/late.asp").body) << "beside it pages run";
}

// Files of a data folder go out as data: no type guessing, a sandbox with no sources, and
// anything but an image or plain text as an attachment of no scriptable type.
TEST_F(HostTest, FilesOfADataFolderGoOutAsData) {
  const struct {
    const char* path;
    const char* type;
    bool attachment;
  } cases[] = {{"/up/x.html", "application/octet-stream", true},
               {"/up/x.svg", "application/octet-stream", true},
               {"/linkdir/x.html", "application/octet-stream", true},
               {"/up/data.bin", "application/octet-stream", true},
               {"/up/pic.png", "image/png", false},
               {"/up/notes.txt", "text/plain; charset=utf-8", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Response r = request(port_, "GET", c.path);
    EXPECT_EQ(200, r.status);
    EXPECT_EQ(read_text(site_ + (std::string(c.path).rfind("/linkdir", 0) == 0
                                     ? "/up" + std::string(c.path).substr(8)
                                     : std::string(c.path))),
              r.body);
    EXPECT_EQ(c.type, r.header("Content-Type"));
    EXPECT_EQ("nosniff", r.header("X-Content-Type-Options"));
    EXPECT_EQ("default-src 'none'; sandbox", r.header("Content-Security-Policy"));
    EXPECT_EQ(c.attachment ? "attachment" : "", r.header("Content-Disposition"));
  }
  // The rest of the site is served as before.
  const Response open = request(port_, "GET", "/open.html");
  EXPECT_EQ("text/html; charset=utf-8", open.header("Content-Type"));
  EXPECT_FALSE(open.has_header("Content-Disposition"));
  EXPECT_FALSE(open.has_header("Content-Security-Policy"));
}

// A data folder that a link takes out of the site could not be judged by where its files
// are: the host does not start.
TEST_F(HostTest, ADataFolderOutsideTheSiteStopsTheStart) {
  const std::string site = dir_ + "/other_site";
  ASSERT_EQ(0, run("mkdir -p '" + site + "' && ln -s '" + dir_ + "' '" + site + "/out'"));
  const std::string err = dir_ + "/out_err.txt";
  EXPECT_EQ(1, run("'" VHOST_PATH "' --root '" + site +
                   "' --port 0 --access-log off --data-dir out > /dev/null 2> '" + err + "'"));
  EXPECT_NE(std::string::npos, read_text(err).find("the data folder is not inside the site"))
      << read_text(err);
}

TEST_F(HostTest, KeepAliveServesSeveralRequestsOnOneConnection) {
  const int fd = host_test::connect_loopback(port_);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 3; ++i) {
    const std::string head = "GET /hello.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_TRUE(host_test::send_all(fd, head.data(), head.size()));
    Response r = host_test::read_response(fd);
    EXPECT_EQ(200, r.status);
    EXPECT_EQ("static text\n", r.body);
  }
  close(fd);
}

}  // namespace
