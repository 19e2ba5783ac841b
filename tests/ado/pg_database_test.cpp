// Tests of the PostgreSQL provider against the tests' server, late-bound as scripts use it: the
// forms of its connection string, the server's messages with their SQLSTATE, placeholders among
// quotes, several statements with their own values, the column types it reads, and a
// connection the server drops.
#include <gtest/gtest.h>

#include "ado_test_support.h"

namespace {

using namespace ado_test;

class PgDatabase : public RegisteredAdo {
 protected:
  void SetUp() override {
    provider_ = Provider::kPostgres;
    RegisteredAdo::SetUp();
  }

  // Runs sql on connection with values (the Parameters argument of Execute); the recordset.
  Outcome Execute(Late& connection, const std::u16string& sql,
                  std::initializer_list<const VARIANT*> values = {}) {
    Late command = Create(u"ADODB.Command");
    ScopedVariant as_object = Object(connection.get());
    EXPECT_EQ(S_OK, command.PutRef(u"ActiveConnection", as_object.Get()).hr);
    ScopedVariant text = Str(sql);
    EXPECT_EQ(S_OK, command.Put(u"CommandText", text.Get()).hr);
    ScopedVariant missing = Missing();
    ScopedVariant list;
    VARIANT raw;
    VariantInit(&raw);
    raw.vt = VT_ARRAY | VT_VARIANT;
    raw.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    LONG index = 0;
    for (const VARIANT* value : values) {
      SafeArrayPutElement(raw.parray, &index, const_cast<VARIANT*>(value));
      ++index;
    }
    list.Reset(raw);
    return command.Call(u"Execute", {&missing.Get(), &list.Get()});
  }

  static Outcome ValueOf(const Outcome& rows, const char16_t* name) {
    Late recordset(rows.result.Get());
    ScopedVariant key = Str(name);
    return recordset.Object(u"Fields").Object(u"Item", {&key.Get()}).Get(u"Value");
  }

  std::u16string Dir() const { return Utf16(pg_test::ServerDir()); }
};

TEST_F(PgDatabase, OpensByKeysByUriAndByLibpqPairs) {
  const std::u16string dir = Dir();
  const std::u16string strings[] = {
      u"Provider=PostgreSQL;Host=" + dir +
          u";Port=5432;Database=postgres;User ID=vantrel;Password=unused",
      u"Provider=PostgreSQL;postgresql:///postgres?host=" + dir + u"&user=vantrel",
      ConnectionString(),
  };
  for (const std::u16string& text : strings) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    Late connection = Create(u"ADODB.Connection");
    ScopedVariant open = Str(text);
    Outcome opened = connection.Call(u"Open", {&open.Get()});
    ASSERT_EQ(S_OK, opened.hr) << std::string(opened.description.begin(), opened.description.end());
    EXPECT_EQ(adStateOpen, connection.Get(u"State").result.Get().lVal);
    ScopedVariant sql = Str(u"SELECT current_user AS who");
    Outcome rows = connection.Call(u"Execute", {&sql.Get()});
    EXPECT_EQ(u"vantrel", Text(ValueOf(rows, u"who").result.Get().bstrVal));
    EXPECT_EQ(S_OK, connection.Call(u"Close").hr);
  }
}

TEST_F(PgDatabase, ConnectFailuresCarryLibpqsMessage) {
  const std::u16string dir = Dir();
  struct Case {
    std::u16string text;
    std::u16string part_of_message;
  };
  const Case cases[] = {
      {u"Provider=PostgreSQL;Host=" + dir + u";Port=1;User ID=vantrel", u".s.PGSQL.1"},
      {u"Provider=PostgreSQL;Host=" + dir + u";Database=postgres;User ID=nobody_here",
       u"role \"nobody_here\" does not exist"},
      {u"Provider=PostgreSQL;host=" + dir + u" port=5432 bogus=1",
       u"invalid connection option \"bogus\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    Late connection = Create(u"ADODB.Connection");
    ScopedVariant text = Str(c.text);
    Outcome out = connection.Call(u"Open", {&text.Get()});
    EXPECT_EQ(DISP_E_EXCEPTION, out.hr);
    EXPECT_EQ(E_FAIL, out.scode);
    EXPECT_NE(std::u16string::npos, out.description.find(c.part_of_message))
        << std::string(out.description.begin(), out.description.end());
    EXPECT_EQ(adStateClosed, connection.Get(u"State").result.Get().lVal);
  }
}

TEST_F(PgDatabase, ServerErrorsCarryTheirSqlstate) {
  Late connection = OpenConnection();
  Run(connection, u"CREATE TABLE u (k INTEGER PRIMARY KEY); INSERT INTO u VALUES (1)");
  ScopedVariant one = I4(1);
  Outcome out = Execute(connection, u"INSERT INTO u VALUES (?)", {&one.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, out.hr);
  EXPECT_EQ(E_FAIL, out.scode);
  EXPECT_EQ(u"duplicate key value violates unique constraint \"u_pkey\" (SQLSTATE 23505)",
            out.description);
}

TEST_F(PgDatabase, PlaceholdersAmongQuotesAndComments) {
  Late connection = OpenConnection();
  ScopedVariant x = Str(u"x");
  ScopedVariant y = Str(u"\xD55C\xAE00");
  Outcome rows = Execute(connection,
                         u"SELECT '?' AS a, $$?$$ AS b, ?::text AS c, /* ? */ E'\\'?' AS d, "
                         u"?::text AS \"e?\" -- ?\n",
                         {&x.Get(), &y.Get()});
  ASSERT_EQ(S_OK, rows.hr) << std::string(rows.description.begin(), rows.description.end());
  EXPECT_EQ(u"?", Text(ValueOf(rows, u"a").result.Get().bstrVal));
  EXPECT_EQ(u"?", Text(ValueOf(rows, u"b").result.Get().bstrVal));
  EXPECT_EQ(u"x", Text(ValueOf(rows, u"c").result.Get().bstrVal));
  EXPECT_EQ(u"'?", Text(ValueOf(rows, u"d").result.Get().bstrVal));
  EXPECT_EQ(u"\xD55C\xAE00", Text(ValueOf(rows, u"e?").result.Get().bstrVal));

  // A text the server cannot hold is refused before anything runs.
  ScopedVariant with_zero = Str(std::u16string(u"a\0b", 3));
  Outcome refused = Execute(connection, u"SELECT ?::text", {&with_zero.Get()});
  EXPECT_EQ(AdoErrorCode(adErrDataConversion), refused.scode);
}

TEST_F(PgDatabase, EveryStatementTakesItsOwnValues) {
  Late connection = OpenConnection();
  Run(connection, u"CREATE TABLE n (v INTEGER)");
  ScopedVariant two = I4(2);
  ScopedVariant three = I4(3);
  Outcome rows = Execute(
      connection, u"INSERT INTO n VALUES (?); INSERT INTO n VALUES (?); SELECT sum(v) AS s FROM n",
      {&two.Get(), &three.Get()});
  ASSERT_EQ(S_OK, rows.hr) << std::string(rows.description.begin(), rows.description.end());
  EXPECT_EQ(5, ValueOf(rows, u"s").result.Get().lVal);

  // Values that do not match the placeholders run nothing.
  Outcome too_few =
      Execute(connection, u"INSERT INTO n VALUES (?); INSERT INTO n VALUES (?)", {&two.Get()});
  EXPECT_EQ(AdoErrorCode(adErrInvalidArgument), too_few.scode);
  ScopedVariant count = Str(u"SELECT count(*) AS c FROM n");
  EXPECT_EQ(2, ValueOf(connection.Call(u"Execute", {&count.Get()}), u"c").result.Get().lVal);
}

TEST_F(PgDatabase, ColumnTypesReadAsTheirKinds) {
  Late connection = OpenConnection();
  ScopedVariant sql =
      Str(u"SELECT true AS b, 7::int2 AS s, 2147483647 AS i, 9000000000 AS l, 1.5::float4 AS f, "
          u"2.25::float8 AS d, 12345.678::numeric(10,3) AS n, -0.05::numeric AS m, "
          u"'x'::varchar(5) AS v, '{\"a\":1}'::jsonb AS j, NULL::int4 AS z, "
          u"'\\x00ff'::bytea AS y, '2026-12-09'::date AS t");
  Outcome rows = connection.Call(u"Execute", {&sql.Get()});
  ASSERT_EQ(S_OK, rows.hr) << std::string(rows.description.begin(), rows.description.end());
  Late recordset(rows.result.Get());
  struct Expected {
    const char16_t* name;
    DataTypeEnum type;
    VARTYPE vt;
  };
  const Expected expected[] = {
      {u"b", adBoolean, VT_BOOL},
      {u"s", adSmallInt, VT_I4},
      {u"i", adInteger, VT_I4},
      {u"l", adBigInt, VT_I8},
      {u"f", adSingle, VT_R8},
      {u"d", adDouble, VT_R8},
      {u"n", adNumeric, VT_BSTR},
      {u"m", adNumeric, VT_BSTR},
      {u"v", adVarWChar, VT_BSTR},
      {u"j", adLongVarWChar, VT_BSTR},
      {u"z", adInteger, VT_NULL},
      {u"y", adLongVarBinary, VT_ARRAY | VT_UI1},
      {u"t", adLongVarBinary, VT_ARRAY | VT_UI1},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(std::string(e.name, e.name + 1));
    ScopedVariant key = Str(e.name);
    Late field = recordset.Object(u"Fields").Object(u"Item", {&key.Get()});
    EXPECT_EQ(e.type, field.Get(u"Type").result.Get().lVal);
    EXPECT_EQ(e.vt, field.Get(u"Value").result.Get().vt);
  }
  EXPECT_EQ(VARIANT_TRUE, ValueOf(rows, u"b").result.Get().boolVal);
  EXPECT_EQ(7, ValueOf(rows, u"s").result.Get().lVal);
  EXPECT_EQ(2147483647, ValueOf(rows, u"i").result.Get().lVal);
  EXPECT_EQ(9000000000LL, ValueOf(rows, u"l").result.Get().llVal);
  EXPECT_EQ(1.5, ValueOf(rows, u"f").result.Get().dblVal);
  EXPECT_EQ(2.25, ValueOf(rows, u"d").result.Get().dblVal);
  EXPECT_EQ(u"12345.678", Text(ValueOf(rows, u"n").result.Get().bstrVal));
  EXPECT_EQ(u"-0.05", Text(ValueOf(rows, u"m").result.Get().bstrVal));
  EXPECT_EQ(u"{\"a\": 1}", Text(ValueOf(rows, u"j").result.Get().bstrVal));
  EXPECT_EQ((std::vector<BYTE>{0x00, 0xFF}), BytesOf(ValueOf(rows, u"y").result.Get()));
  // Days since 2000-01-01 in the server's binary form.
  EXPECT_EQ((std::vector<BYTE>{0, 0, 0x26, 0x6F}), BytesOf(ValueOf(rows, u"t").result.Get()));
  ScopedVariant v = Str(u"v");
  EXPECT_EQ(5, recordset.Object(u"Fields")
                   .Object(u"Item", {&v.Get()})
                   .Get(u"DefinedSize")
                   .result.Get()
                   .llVal);
}

TEST_F(PgDatabase, AConnectionTheServerDropsFailsClearly) {
  Late connection = OpenConnection();
  ScopedVariant sql = Str(u"SELECT pg_terminate_backend(pg_backend_pid())");
  Outcome dropped = connection.Call(u"Execute", {&sql.Get()});
  EXPECT_EQ(DISP_E_EXCEPTION, dropped.hr);
  EXPECT_EQ(AdoErrorCode(adErrInvalidConnection), dropped.scode);
  EXPECT_EQ(0u, dropped.description.find(u"The connection to the database server is broken: "))
      << std::string(dropped.description.begin(), dropped.description.end());

  ScopedVariant again = Str(u"SELECT 1");
  Outcome after = connection.Call(u"Execute", {&again.Get()});
  EXPECT_EQ(AdoErrorCode(adErrInvalidConnection), after.scode);
  ScopedVariant one = I4(1);
  EXPECT_EQ(AdoErrorCode(adErrInvalidConnection),
            Execute(connection, u"SELECT ?::int", {&one.Get()}).scode);
  EXPECT_EQ(S_OK, connection.Call(u"Close").hr);
  EXPECT_EQ(adStateClosed, connection.Get(u"State").result.Get().lVal);
}

}  // namespace
