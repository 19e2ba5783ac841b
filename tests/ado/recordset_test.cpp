// Tests of the Recordset, Fields and Field classes, late-bound as scripts use them, on each
// provider: moving through rows, field types and attributes, and long fields read whole and in
// chunks.
#include <gtest/gtest.h>

#include "ado_test_support.h"

namespace {

using namespace ado_test;

class Recordset : public EachProvider {
 protected:
  void SetUp() override {
    EachProvider::SetUp();
    connection_ = OpenConnection();
    Run(connection_, u"CREATE TABLE t (id INTEGER PRIMARY KEY, content " + BlobType() +
                         u", body TEXT, title VARCHAR(40), score DOUBLE PRECISION, big BIGINT);"
                         u"INSERT INTO t VALUES (1, " +
                         HexBlob(u"00010203FF") +
                         u", 'h\xE9llo', 'first', 1.5, 5000000000);"
                         u"INSERT INTO t VALUES (2, NULL, NULL, NULL, NULL, NULL);");
  }

  Late Open(const std::u16string& sql) {
    Late recordset = Create(u"ADODB.Recordset");
    ScopedVariant source = Str(sql);
    ScopedVariant connection = Object(connection_.get());
    EXPECT_EQ(S_OK, recordset.Call(u"Open", {&source.Get(), &connection.Get()}).hr);
    return recordset;
  }

  static Late FieldOf(Late& recordset, const char16_t* name) {
    ScopedVariant key = Str(name);
    return recordset.Object(u"Fields").Object(u"Item", {&key.Get()});
  }

  Late connection_;
};

TEST_P(Recordset, MovesThroughRowsToTheEnd) {
  Late rows = Open(u"SELECT id FROM t ORDER BY id");
  Late id = FieldOf(rows, u"id");
  EXPECT_EQ(VARIANT_FALSE, rows.Get(u"EOF").result.Get().boolVal);
  EXPECT_EQ(1, id.Get(u"Value").result.Get().lVal);
  EXPECT_EQ(S_OK, rows.Call(u"MoveNext").hr);
  EXPECT_EQ(2, id.Get(u"Value").result.Get().lVal) << "a field reads the current row";
  EXPECT_EQ(S_OK, rows.Call(u"MoveNext").hr);
  EXPECT_EQ(VARIANT_TRUE, rows.Get(u"EOF").result.Get().boolVal);
  EXPECT_EQ(AdoErrorCode(adErrNoCurrentRecord), id.Get(u"Value").scode);
  EXPECT_EQ(AdoErrorCode(adErrNoCurrentRecord), rows.Call(u"MoveNext").scode);

  EXPECT_EQ(S_OK, rows.Call(u"Close").hr);
  EXPECT_EQ(adStateClosed, rows.Get(u"State").result.Get().lVal);
  EXPECT_EQ(AdoErrorCode(adErrObjectClosed), rows.Get(u"EOF").scode);
  EXPECT_EQ(AdoErrorCode(adErrObjectClosed), id.Get(u"Value").scode);
  EXPECT_EQ(AdoErrorCode(adErrObjectClosed), rows.Call(u"Close").scode);

  Late empty = Open(u"SELECT id FROM t WHERE id > 9");
  EXPECT_EQ(VARIANT_TRUE, empty.Get(u"EOF").result.Get().boolVal);
}

TEST_P(Recordset, FieldsByOrdinalNameAndDefaultMember) {
  Late rows = Open(u"SELECT id, title FROM t ORDER BY id");
  Late fields = rows.Object(u"Fields");
  EXPECT_EQ(2, fields.Get(u"Count").result.Get().lVal);
  ScopedVariant one = I4(1);
  EXPECT_EQ(u"title", Text(fields.Object(u"Item", {&one.Get()}).Get(u"Name").result.Get().bstrVal));
  ScopedVariant upper = Str(u"TITLE");
  EXPECT_EQ(u"first",
            Text(fields.Object(u"Item", {&upper.Get()}).Get(u"Value").result.Get().bstrVal));
  ScopedVariant missing_name = Str(u"nope");
  ScopedVariant two = I4(2);
  Outcome absent = fields.Get(u"Item", {&missing_name.Get()});
  EXPECT_EQ(AdoErrorCode(adErrItemNotFound), absent.scode);
  EXPECT_FALSE(absent.description.empty());
  EXPECT_EQ(AdoErrorCode(adErrItemNotFound), fields.Get(u"Item", {&two.Get()}).scode);

  // rs("title"): the recordset's default member with an argument is the field.
  ScopedVariant key = Str(u"title");
  DISPPARAMS params = {const_cast<VARIANT*>(&key.Get()), nullptr, 1, 0};
  ScopedVariant result;
  ASSERT_EQ(S_OK,
            rows.get()->Invoke(DISPID_VALUE, GUID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                               &params, result.Receive(), nullptr, nullptr));
  EXPECT_EQ(u"first", Text(Late(result.Get()).Get(u"Value").result.Get().bstrVal));
}

TEST_P(Recordset, TypesAttributesAndSizes) {
  Late rows = Open(
      u"SELECT content, body, title, score, big, id, length(body) AS n FROM t "
      u"ORDER BY id");
  struct Expected {
    const char16_t* name;
    LONG type;
    bool long_field;
    LONGLONG actual_size;
  };
  const Expected expected[] = {
      {u"content", adLongVarBinary, true, 5},
      {u"body", adLongVarWChar, true, 10},  // wide characters: 2 bytes each
      {u"title", adVarWChar, false, 10},
      {u"score", adDouble, false, 8},
      {u"big", adBigInt, false, 8},
      {u"id", adInteger, false, 4},
      // SQLite types an expression by its value, PostgreSQL by the function's result.
      {u"n", postgres() ? adInteger : adBigInt, false, 4},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(std::string(e.name, e.name + std::char_traits<char16_t>::length(e.name)));
    Late field = FieldOf(rows, e.name);
    EXPECT_EQ(e.type, field.Get(u"Type").result.Get().lVal);
    EXPECT_EQ(e.long_field, (field.Get(u"Attributes").result.Get().lVal & adFldLong) != 0);
    Outcome size = field.Get(u"ActualSize");
    ASSERT_EQ(VT_I8, size.result.Get().vt);
    EXPECT_EQ(e.actual_size, size.result.Get().llVal);
  }
  EXPECT_EQ(40, FieldOf(rows, u"title").Get(u"DefinedSize").result.Get().llVal);
  EXPECT_EQ(VT_I8, FieldOf(rows, u"big").Get(u"Value").result.Get().vt);
  EXPECT_EQ(5000000000LL, FieldOf(rows, u"big").Get(u"Value").result.Get().llVal);

  rows.Call(u"MoveNext");
  for (const Expected& e : expected) {
    if (e.name[0] == u'i' || e.name[0] == u'n')
      continue;
    Late field = FieldOf(rows, e.name);
    EXPECT_EQ(VT_NULL, field.Get(u"Value").result.Get().vt);
    EXPECT_EQ(0, field.Get(u"ActualSize").result.Get().llVal);
    EXPECT_EQ(e.type, field.Get(u"Type").result.Get().lVal) << "declared types stay";
  }
}

TEST_P(Recordset, GetChunkReadsSuccessiveChunksThenNull) {
  Late rows = Open(u"SELECT content, body, title FROM t ORDER BY id");
  Late content = FieldOf(rows, u"content");
  ScopedVariant two = I4(2);
  EXPECT_EQ((std::vector<BYTE>{0x00, 0x01}),
            BytesOf(content.Call(u"GetChunk", {&two.Get()}).result.Get()));
  EXPECT_EQ((std::vector<BYTE>{0x02, 0x03}),
            BytesOf(content.Call(u"GetChunk", {&two.Get()}).result.Get()));
  Outcome last = content.Call(u"GetChunk", {&two.Get()});
  EXPECT_EQ(VT_ARRAY | VT_UI1, last.result.Get().vt);
  EXPECT_EQ((std::vector<BYTE>{0xFF}), BytesOf(last.result.Get())) << "a short last chunk";
  EXPECT_EQ(VT_NULL, content.Call(u"GetChunk", {&two.Get()}).result.Get().vt);
  EXPECT_EQ(VT_NULL, content.Call(u"GetChunk", {&two.Get()}).result.Get().vt);

  // Text comes in characters; reading another field starts this one over.
  Late body = FieldOf(rows, u"body");
  EXPECT_EQ(u"h\xE9", Text(body.Call(u"GetChunk", {&two.Get()}).result.Get().bstrVal));
  EXPECT_EQ(u"ll", Text(body.Call(u"GetChunk", {&two.Get()}).result.Get().bstrVal));
  ScopedVariant big = I4(1000);
  EXPECT_EQ((std::vector<BYTE>{0x00, 0x01, 0x02, 0x03, 0xFF}),
            BytesOf(content.Call(u"GetChunk", {&big.Get()}).result.Get()));
  EXPECT_EQ(u"h\xE9llo", Text(body.Call(u"GetChunk", {&big.Get()}).result.Get().bstrVal));
  EXPECT_EQ(VT_NULL, body.Call(u"GetChunk", {&big.Get()}).result.Get().vt);

  Late title = FieldOf(rows, u"title");
  EXPECT_EQ(AdoErrorCode(adErrIllegalOperation), title.Call(u"GetChunk", {&two.Get()}).scode)
      << "only long fields give chunks";
  ScopedVariant negative = I4(-1);
  EXPECT_EQ(AdoErrorCode(adErrInvalidArgument), body.Call(u"GetChunk", {&negative.Get()}).scode);

  // Moving starts every field over; a null field reads as null at once.
  rows.Call(u"MoveNext");
  EXPECT_EQ(VT_NULL, content.Call(u"GetChunk", {&two.Get()}).result.Get().vt);
}

TEST_P(Recordset, ChunksOfALargeBlobJoinToTheWhole) {
  Run(connection_,
      u"CREATE TABLE big (data " + BlobType() + u"); INSERT INTO big VALUES (" +
          (postgres() ? u"decode(repeat('00ff7a31', 524288), 'hex')" : u"randomblob(2097152)") +
          u")");
  Late rows = Open(u"SELECT data FROM big");
  Late data = FieldOf(rows, u"data");
  const std::vector<BYTE> whole = BytesOf(data.Get(u"Value").result.Get());
  ASSERT_EQ(2097152u, whole.size());
  std::vector<BYTE> joined;
  ScopedVariant chunk_size = I4(1048576);
  int chunks = 0;
  for (;;) {
    Outcome chunk = data.Call(u"GetChunk", {&chunk_size.Get()});
    ASSERT_EQ(S_OK, chunk.hr);
    if (chunk.result.Get().vt == VT_NULL)
      break;
    const std::vector<BYTE> bytes = BytesOf(chunk.result.Get());
    joined.insert(joined.end(), bytes.begin(), bytes.end());
    ++chunks;
  }
  EXPECT_EQ(2, chunks);
  EXPECT_EQ(whole, joined);
}

TEST_P(Recordset, OpenNeedsTextAndAnOpenConnection) {
  Late recordset = Create(u"ADODB.Recordset");
  ScopedVariant source = Str(u"SELECT 1");
  EXPECT_EQ(AdoErrorCode(adErrInvalidConnection), recordset.Call(u"Open", {&source.Get()}).scode);

  ScopedVariant number = I4(5);
  ScopedVariant connection = Object(connection_.get());
  EXPECT_EQ(AdoErrorCode(adErrInvalidArgument),
            recordset.Call(u"Open", {&number.Get(), &connection.Get()}).scode);

  ScopedVariant bad = Str(u"SELECT x FROM nowhere");
  Outcome rejected = recordset.Call(u"Open", {&bad.Get(), &connection.Get()});
  EXPECT_EQ(E_FAIL, rejected.scode);
  EXPECT_EQ(MissingTable(u"nowhere"), rejected.description);
  EXPECT_EQ(adStateClosed, recordset.Get(u"State").result.Get().lVal);

  ASSERT_EQ(S_OK, recordset.PutRef(u"ActiveConnection", connection.Get()).hr);
  ASSERT_EQ(S_OK, recordset.Call(u"Open", {&source.Get()}).hr);
  EXPECT_EQ(AdoErrorCode(adErrObjectOpen), recordset.Call(u"Open", {&source.Get()}).scode);

  // Rows already read stay readable after their connection closes.
  ASSERT_EQ(S_OK, connection_.Call(u"Close").hr);
  ScopedVariant zero = I4(0);
  EXPECT_EQ(
      1,
      recordset.Object(u"Fields").Object(u"Item", {&zero.Get()}).Get(u"Value").result.Get().lVal);
}

INSTANTIATE_FOR_EACH_PROVIDER(Recordset);

}  // namespace
