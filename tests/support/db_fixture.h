// A fixture for tests that store attachments into a database and send fields back: the file
// fixture with an open connection to a fresh SQLite file under drive C: (or a fresh schema of
// the tests' PostgreSQL server) holding the table files (id, content, note), and helpers that
// drive the connection by name as a script does.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "pg_test_database.h"

enum class DbProvider { kSqlite, kPostgres };

class DbFixture : public FileFixture {
 protected:
  void SetUp() override {
    FileFixture::SetUp();
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"ADODB.Connection", &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(connection_.Receive())));
    std::u16string text = u"Provider=SQLite;Data Source=C:\\db\\files.db";
    std::u16string create = u"CREATE TABLE files (id INTEGER PRIMARY KEY, content BLOB, note TEXT)";
    if (provider_ == DbProvider::kPostgres) {
      std::string error;
      const std::string conninfo = pg_test::NewSchema(&error);
      ASSERT_NE("", conninfo) << error;
      text = u"Provider=PostgreSQL;" + std::u16string(conninfo.begin(), conninfo.end());
      create = u"CREATE TABLE files (id SERIAL PRIMARY KEY, content BYTEA, note TEXT)";
    } else {
      mkdir("db");
    }
    ASSERT_EQ(S_OK, late_bound::Call(connection_.Get(), u"Open", DISPATCH_METHOD,
                                     {late_bound::Str(text.c_str())}, nullptr));
    ASSERT_EQ(S_OK, exec(create.c_str()));
  }
  void TearDown() override {
    rows_.Reset();
    if (connection_)
      late_bound::Call(connection_.Get(), u"Close", DISPATCH_METHOD, {}, nullptr);
    connection_.Reset();
    FileFixture::TearDown();
  }

  HRESULT exec(const char16_t* sql) {
    ScopedVariant rows;
    return late_bound::Call(connection_.Get(), u"Execute", DISPATCH_METHOD, {late_bound::Str(sql)},
                            rows.Receive());
  }

  // The field column of the first row that sql selects; the rows stay open until the next call.
  ComPtr<IDispatch> field(const char16_t* sql, LONG column = 0) {
    ComPtr<IDispatch> out;
    ScopedVariant rows;
    if (FAILED(late_bound::Call(connection_.Get(), u"Execute", DISPATCH_METHOD,
                                {late_bound::Str(sql)}, rows.Receive())) ||
        rows.Type() != VT_DISPATCH)
      return out;
    rows_.Set(rows.Get().pdispVal);
    ScopedVariant fields;
    if (FAILED(late_bound::Get(rows_.Get(), u"Fields", {}, fields.Receive())) ||
        fields.Type() != VT_DISPATCH)
      return out;
    ScopedVariant item;
    if (SUCCEEDED(late_bound::Get(fields.Get().pdispVal, u"Item", {late_bound::I4(column)},
                                  item.Receive())) &&
        item.Type() == VT_DISPATCH)
      out.Set(item.Get().pdispVal);
    return out;
  }

  // The content of every row of files, in id order; nullopt for a null content.
  std::vector<std::optional<std::string>> stored() {
    std::vector<std::optional<std::string>> out;
    ScopedVariant rows;
    if (FAILED(late_bound::Call(connection_.Get(), u"Execute", DISPATCH_METHOD,
                                {late_bound::Str(u"SELECT content FROM files ORDER BY id")},
                                rows.Receive())) ||
        rows.Type() != VT_DISPATCH)
      return out;
    IDispatch* set = rows.Get().pdispVal;
    for (;;) {
      ScopedVariant eof;
      if (FAILED(late_bound::Get(set, u"EOF", {}, eof.Receive())) || eof.Get().boolVal)
        break;
      ScopedVariant fields;
      ScopedVariant item;
      ScopedVariant value;
      late_bound::Get(set, u"Fields", {}, fields.Receive());
      late_bound::Get(fields.Get().pdispVal, u"Item", {late_bound::I4(0)}, item.Receive());
      late_bound::Get(item.Get().pdispVal, u"Value", {}, value.Receive());
      if (value.Type() == (VT_ARRAY | VT_UI1)) {
        char* bytes = nullptr;
        const ULONG n = value.Get().parray->rgsabound[0].cElements;
        SafeArrayAccessData(value.Get().parray, reinterpret_cast<void**>(&bytes));
        out.emplace_back(std::string(bytes, n));
        SafeArrayUnaccessData(value.Get().parray);
      } else {
        out.emplace_back(std::nullopt);
      }
      if (FAILED(late_bound::Call(set, u"MoveNext", DISPATCH_METHOD, {}, nullptr)))
        break;
    }
    return out;
  }

  // The provider SetUp opens; tests on PostgreSQL set it before.
  DbProvider provider_ = DbProvider::kSqlite;
  ComPtr<IDispatch> connection_;
  ComPtr<IDispatch> rows_;
};
