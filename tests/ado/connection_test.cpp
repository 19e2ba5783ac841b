// Tests of the Connection class, late-bound as scripts use it: opening by connection string,
// running commands, closing, and the errors of each with the provider's own message.
#include <gtest/gtest.h>

#include <fstream>

#include "ado_test_support.h"
#include "winnls.h"

namespace {

using namespace ado_test;

class Connection : public RegisteredAdo {};
class ConnectionOnEachProvider : public EachProvider {};

std::string narrow(const std::u16string& s) {
  return std::string(s.begin(), s.end());
}

TEST_F(Connection, OpensCreatesAndClosesTheFile) {
  Late connection = Create(u"ADODB.Connection");
  ASSERT_TRUE(connection);
  EXPECT_EQ(adStateClosed, connection.Get(u"State").result.Get().lVal);
  ScopedVariant text = Str(ConnectionString("new.db"));
  ASSERT_EQ(S_OK, connection.Call(u"Open", {&text.Get()}).hr);
  EXPECT_EQ(adStateOpen, connection.Get(u"State").result.Get().lVal);
  EXPECT_TRUE(std::ifstream(dir_ + "/new.db").good()) << "the file is created on first use";

  Outcome again = connection.Call(u"Open", {&text.Get()});
  EXPECT_EQ(AdoErrorCode(adErrObjectOpen), again.scode);

  EXPECT_EQ(S_OK, connection.Call(u"Close").hr);
  EXPECT_EQ(adStateClosed, connection.Get(u"State").result.Get().lVal);
  Outcome closed = connection.Call(u"Close");
  EXPECT_EQ(DISP_E_EXCEPTION, closed.hr);
  EXPECT_EQ(AdoErrorCode(adErrObjectClosed), closed.scode);
  ScopedVariant sql = Str(u"SELECT 1");
  EXPECT_EQ(AdoErrorCode(adErrObjectClosed), connection.Call(u"Execute", {&sql.Get()}).scode);
}

TEST_F(Connection, DriveAndRelativeFormsMapLikeAnyPath) {
  ASSERT_TRUE(PlatformSetDriveRoot('Q', dir_.c_str()));
  Late connection = Create(u"ADODB.Connection");
  ScopedVariant text = Str(u"Data Source=Q:\\sub.db;Provider=SQLite");
  EXPECT_EQ(S_OK, connection.Call(u"Open", {&text.Get()}).hr);
  PlatformSetDriveRoot('Q', nullptr);
  EXPECT_TRUE(std::ifstream(dir_ + "/sub.db").good());
}

TEST_F(Connection, OpensWhenTheSystemCodePageIsUtf8) {
  // A UTF-8 process (the example site's) names files in UTF-8, Korean names included.
  PlatformSetACP(CP_UTF8);
  ASSERT_TRUE(PlatformSetDriveRoot('Q', dir_.c_str()));
  Late connection = Create(u"ADODB.Connection");
  ScopedVariant text = Str(u"Provider=SQLite;Data Source=Q:\\자료.db");
  const HRESULT hr = connection.Call(u"Open", {&text.Get()}).hr;
  PlatformSetDriveRoot('Q', nullptr);
  PlatformSetACP(949);
  EXPECT_EQ(S_OK, hr);
  EXPECT_TRUE(std::ifstream(dir_ + "/자료.db").good());
}

TEST_F(Connection, BadConnectionStringsFailWithAMessage) {
  struct Case {
    std::u16string text;
    HRESULT scode;
  };
  const Case cases[] = {
      {u"Provider=Other;Data Source=x.db", AdoErrorCode(adErrProviderNotFound)},
      {u"Provider=SQLite", AdoErrorCode(adErrInvalidArgument)},
      {u"Provider=SQLite;Data Source='x.db", AdoErrorCode(adErrInvalidArgument)},
      {u"Provider=SQLite;Data Source=\\tmp\\*.db", AdoErrorCode(adErrInvalidArgument)},
      // No character of the ANSI code page can stand for it in a file name.
      {u"Provider=SQLite;Data Source=\\tmp\\\U0001F600.db", AdoErrorCode(adErrInvalidArgument)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    Late connection = Create(u"ADODB.Connection");
    ScopedVariant text = Str(c.text);
    Outcome out = connection.Call(u"Open", {&text.Get()});
    EXPECT_EQ(DISP_E_EXCEPTION, out.hr);
    EXPECT_EQ(c.scode, out.scode);
    EXPECT_FALSE(out.description.empty());
    EXPECT_EQ(adStateClosed, connection.Get(u"State").result.Get().lVal);
  }
}

TEST_F(Connection, FilesSQLiteCannotOpenFailWithItsMessage) {
  Late connection = Create(u"ADODB.Connection");
  ScopedVariant missing_dir = Str(ConnectionString("no/such/dir/x.db"));
  Outcome out = connection.Call(u"Open", {&missing_dir.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, out.hr);
  EXPECT_EQ(E_FAIL, out.scode);
  EXPECT_EQ(u"unable to open database file", out.description);

  std::ofstream(dir_ + "/junk.db") << std::string(4096, 'j');
  ScopedVariant junk = Str(ConnectionString("junk.db"));
  out = connection.Call(u"Open", {&junk.Get()});
  EXPECT_EQ(E_FAIL, out.scode);
  EXPECT_EQ(u"file is not a database", out.description);
  EXPECT_EQ(adStateClosed, connection.Get(u"State").result.Get().lVal);
}

TEST_P(ConnectionOnEachProvider, ExecuteRunsEveryStatementAndCountsChanges) {
  Late connection = OpenConnection();
  ScopedVariant sql = Str(u"CREATE TABLE t (id " + IdColumn() +
                          u", name TEXT); -- two rows\n"
                          u"INSERT INTO t (name) VALUES ('a'); INSERT INTO t (name) VALUES ('b');");
  ScopedVariant affected = I4(-5);
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_BYREF | VT_VARIANT;
  by_ref.pvarVal = const_cast<VARIANT*>(&affected.Get());
  Outcome out = connection.Call(u"Execute", {&sql.Get(), &by_ref});
  ASSERT_EQ(S_OK, out.hr);
  EXPECT_EQ(VT_I4, affected.Get().vt);
  EXPECT_EQ(2, affected.Get().lVal);
  Late closed(out.result.Get());
  ASSERT_TRUE(closed) << "a command without rows still gives a (closed) recordset";
  EXPECT_EQ(adStateClosed, closed.Get(u"State").result.Get().lVal);

  ScopedVariant query = Str(u"SELECT name FROM t ORDER BY id");
  Late rows(connection.Call(u"Execute", {&query.Get()}).result.Get());
  EXPECT_EQ(adStateOpen, rows.Get(u"State").result.Get().lVal);
  ScopedVariant zero = I4(0);
  EXPECT_EQ(u"a", Text(rows.Object(u"Fields")
                           .Object(u"Item", {&zero.Get()})
                           .Get(u"Value")
                           .result.Get()
                           .bstrVal));

  ScopedVariant missing = Missing();
  ScopedVariant no_records = I4(static_cast<LONG>(adCmdText) | adExecuteNoRecords);
  ScopedVariant insert = Str(u"INSERT INTO t (name) VALUES ('c')");
  out = connection.Call(u"Execute", {&insert.Get(), &missing.Get(), &no_records.Get()});
  EXPECT_EQ(S_OK, out.hr);
  EXPECT_EQ(VT_DISPATCH, out.result.Get().vt);
  EXPECT_EQ(nullptr, out.result.Get().pdispVal) << "no recordset with adExecuteNoRecords";
}

// The provider's message reaches the caller through EXCEPINFO and through the thread's error
// object, for the interface the caller asks about.
TEST_P(ConnectionOnEachProvider, RejectedCommandsCarryTheProvidersMessage) {
  Late connection = OpenConnection();
  ScopedVariant sql = Str(u"SELEC nothing");
  Outcome out = connection.Call(u"Execute", {&sql.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, out.hr);
  EXPECT_EQ(E_FAIL, out.scode);
  EXPECT_EQ(postgres() ? u"syntax error at or near \"SELEC\" (SQLSTATE 42601)"
                       : u"near \"SELEC\": syntax error",
            out.description);

  ComPtr<_Connection> direct;
  ASSERT_EQ(S_OK, connection.get()->QueryInterface(IID__Connection,
                                                   reinterpret_cast<void**>(direct.Receive())));
  ScopedBstr text;
  ASSERT_TRUE(text.Allocate(u"INSERT INTO missing VALUES (1)"));
  ComPtr<_Recordset> recordset;
  EXPECT_EQ(E_FAIL, direct->Execute(text.Get(), nullptr, adCmdText, recordset.Receive()));
  EXPECT_FALSE(recordset);
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(S_OK, direct->QueryInterface(IID_ISupportErrorInfo,
                                         reinterpret_cast<void**>(support.Receive())));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_Connection15));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID__Connection));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID__Command));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.Receive()));
  ScopedBstr description;
  info->GetDescription(description.Receive());
  EXPECT_EQ(MissingTable(u"missing"), Text(description.Get()));
  ScopedBstr source;
  info->GetSource(source.Receive());
  EXPECT_EQ(u"ADODB.Connection.6.0", Text(source.Get()));
}

INSTANTIATE_FOR_EACH_PROVIDER(ConnectionOnEachProvider);

}  // namespace
