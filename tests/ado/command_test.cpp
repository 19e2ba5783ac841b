// Tests of the Command, Parameter and Parameters classes, late-bound as scripts use them, on
// each provider: blobs stored through a parameter that receives its bytes by AppendChunk, and
// the failures of each step with the provider's message.
#include <gtest/gtest.h>

#include "ado_test_support.h"

namespace {

using namespace ado_test;

class Command : public EachProvider {
 protected:
  void SetUp() override {
    EachProvider::SetUp();
    connection_ = OpenConnection();
    Run(connection_,
        u"CREATE TABLE files (id " + IdColumn() + u", content " + BlobType() + u", note TEXT)");
  }

  // A command on the connection with text sql, set up as a script does.
  Late NewCommand(const std::u16string& sql) {
    Late command = Create(u"ADODB.Command");
    ScopedVariant connection = Object(connection_.get());
    EXPECT_EQ(S_OK, command.PutRef(u"ActiveConnection", connection.Get()).hr);
    ScopedVariant text = Str(sql);
    EXPECT_EQ(S_OK, command.Put(u"CommandText", text.Get()).hr);
    ScopedVariant type = I4(adCmdText);
    EXPECT_EQ(S_OK, command.Put(u"CommandType", type.Get()).hr);
    return command;
  }

  // Stores bytes as a new row through "Param1", given in chunks of chunk bytes; returns the
  // row's id.
  LONG Store(const std::vector<BYTE>& bytes, size_t chunk) {
    Late command = NewCommand(u"INSERT INTO files (content) VALUES (?)");
    ScopedVariant name = Str(u"Param1");
    ScopedVariant type = I4(adLongVarBinary);
    ScopedVariant direction = I4(adParamInput);
    ScopedVariant size = I4(static_cast<LONG>(bytes.size()));
    ScopedVariant missing = Missing();
    Outcome made = command.Call(u"CreateParameter", {&name.Get(), &type.Get(), &direction.Get(),
                                                     &size.Get(), &missing.Get()});
    EXPECT_EQ(S_OK, made.hr);
    Late parameter(made.result.Get());
    size_t at = 0;
    do {
      const size_t n = std::min(chunk, bytes.size() - at);
      ScopedVariant piece = Bytes(std::vector<BYTE>(bytes.begin() + at, bytes.begin() + at + n));
      EXPECT_EQ(S_OK, parameter.Call(u"AppendChunk", {&piece.Get()}).hr);
      at += n;
    } while (at < bytes.size());
    ScopedVariant as_object = Object(parameter.get());
    EXPECT_EQ(S_OK, command.Object(u"Parameters").Call(u"Append", {&as_object.Get()}).hr);
    Outcome run = command.Call(u"Execute");
    EXPECT_EQ(S_OK, run.hr) << std::string(run.description.begin(), run.description.end());
    ScopedVariant last = Str(LastId());
    Late id(connection_.Call(u"Execute", {&last.Get()}).result.Get());
    ScopedVariant zero = I4(0);
    return id.Object(u"Fields").Object(u"Item", {&zero.Get()}).Get(u"Value").result.Get().lVal;
  }

  // The stored bytes of row id, read as Value, with their declared type and attributes.
  std::vector<BYTE> Load(LONG id) {
    ScopedVariant sql = Str(u"SELECT content FROM files WHERE id = " + Utf16(std::to_string(id)));
    Late rows(connection_.Call(u"Execute", {&sql.Get()}).result.Get());
    ScopedVariant zero = I4(0);
    Late field = rows.Object(u"Fields").Object(u"Item", {&zero.Get()});
    Outcome value = field.Get(u"Value");
    EXPECT_EQ(VT_ARRAY | VT_UI1, value.result.Get().vt) << "a blob reads as bytes, never NULL";
    return BytesOf(value.result.Get());
  }

  Late connection_;
};

std::vector<BYTE> pattern(size_t n) {
  std::vector<BYTE> bytes(n);
  for (size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<BYTE>((i * 131 + i / 256) % 251);
  return bytes;
}

TEST_P(Command, BlobsRoundTripByteForByte) {
  const std::vector<BYTE> zeros_inside = {'a', 0, 0, 'b', 0, 0xFF, 0};
  const std::vector<BYTE> large = pattern(3 * 1024 * 1024);
  for (const std::vector<BYTE>& bytes :
       {std::vector<BYTE>{}, std::vector<BYTE>{0x42}, zeros_inside, large}) {
    SCOPED_TRACE(bytes.size());
    EXPECT_EQ(bytes, Load(Store(bytes, bytes.size() + 1)));
  }
}

TEST_P(Command, AFirstChunkIsCopiedWithItsBoundsWhetherGivenOrReferenced) {
  Late command = NewCommand(u"INSERT INTO files (content) VALUES (?)");
  for (const bool by_reference : {false, true}) {
    SCOPED_TRACE(by_reference ? "by reference" : "by value");
    ScopedVariant name = Str(u"Param1");
    ScopedVariant type = I4(adLongVarBinary);
    Late parameter(command.Call(u"CreateParameter", {&name.Get(), &type.Get()}).result.Get());
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 5, 3);
    BYTE* data = nullptr;
    ASSERT_EQ(S_OK, SafeArrayAccessData(array, reinterpret_cast<void**>(&data)));
    data[0] = 7;
    data[1] = 0;
    data[2] = 9;
    VARIANT chunk;
    VariantInit(&chunk);
    chunk.vt = VT_ARRAY | VT_UI1 | (by_reference ? VT_BYREF : 0);
    if (by_reference)
      chunk.pparray = &array;
    else
      chunk.parray = array;
    EXPECT_EQ(S_OK, parameter.Call(u"AppendChunk", {&chunk}).hr);
    data[0] = 0xEE;  // the caller's array is its own
    SafeArrayUnaccessData(array);
    SafeArrayDestroy(array);

    Outcome value = parameter.Get(u"Value");
    ASSERT_EQ(VT_ARRAY | VT_UI1, value.result.Get().vt);
    LONG lower = 0;
    LONG upper = 0;
    SafeArrayGetLBound(value.result.Get().parray, 1, &lower);
    SafeArrayGetUBound(value.result.Get().parray, 1, &upper);
    EXPECT_EQ(5, lower);
    EXPECT_EQ(7, upper);
    EXPECT_EQ((std::vector<BYTE>{7, 0, 9}), BytesOf(value.result.Get()));
  }
}

TEST_P(Command, ChunksJoinInOrder) {
  const std::vector<BYTE> bytes = pattern(100000);
  EXPECT_EQ(bytes, Load(Store(bytes, 7)));
  EXPECT_EQ(bytes, Load(Store(bytes, 65536)));
}

TEST_P(Command, ParameterPropertiesAndValue) {
  Late command = NewCommand(u"INSERT INTO files (note) VALUES (?)");
  ScopedVariant name = Str(u"Param1");
  ScopedVariant type = I4(adLongVarWChar);
  Late parameter(command.Call(u"CreateParameter", {&name.Get(), &type.Get()}).result.Get());
  EXPECT_EQ(adParamInput, parameter.Get(u"Direction").result.Get().lVal);
  EXPECT_EQ(adLongVarWChar, parameter.Get(u"Type").result.Get().lVal);
  EXPECT_EQ(u"Param1", Text(parameter.Get(u"Name").result.Get().bstrVal));
  EXPECT_EQ(adParamLong, parameter.Get(u"Attributes").result.Get().lVal & adParamLong);
  EXPECT_EQ(VT_EMPTY, parameter.Get(u"Value").result.Get().vt);

  ScopedVariant first = Str(u"\xD55C\xAD6D");
  ScopedVariant second = Str(u" text");
  EXPECT_EQ(S_OK, parameter.Call(u"AppendChunk", {&first.Get()}).hr);
  EXPECT_EQ(S_OK, parameter.Call(u"AppendChunk", {&second.Get()}).hr);
  EXPECT_EQ(u"\xD55C\xAD6D text", Text(parameter.Get(u"Value").result.Get().bstrVal));
  ScopedVariant bytes = Bytes({1, 2});
  Outcome mixed = parameter.Call(u"AppendChunk", {&bytes.Get()});
  EXPECT_EQ(AdoErrorCode(adErrDataConversion), mixed.scode);
  EXPECT_EQ(u"\xD55C\xAD6D text", Text(parameter.Get(u"Value").result.Get().bstrVal))
      << "a refused chunk leaves the value as it was";

  ScopedVariant as_object = Object(parameter.get());
  Late parameters = command.Object(u"Parameters");
  EXPECT_EQ(S_OK, parameters.Call(u"Append", {&as_object.Get()}).hr);
  EXPECT_EQ(1, parameters.Get(u"Count").result.Get().lVal);
  ScopedVariant by_name = Str(u"PARAM1");
  EXPECT_EQ(parameter.get(), Late(parameters.Get(u"Item", {&by_name.Get()}).result.Get()).get());
  ScopedVariant zero = I4(0);
  EXPECT_EQ(parameter.get(), Late(parameters.Get(u"Item", {&zero.Get()}).result.Get()).get());
  ScopedVariant one = I4(1);
  EXPECT_EQ(AdoErrorCode(adErrItemNotFound), parameters.Get(u"Item", {&one.Get()}).scode);
  ASSERT_EQ(S_OK, command.Call(u"Execute").hr);

  ScopedVariant sql = Str(u"SELECT note FROM files");
  Late rows(connection_.Call(u"Execute", {&sql.Get()}).result.Get());
  EXPECT_EQ(u"\xD55C\xAD6D text", Text(rows.Object(u"Fields")
                                           .Object(u"Item", {&zero.Get()})
                                           .Get(u"Value")
                                           .result.Get()
                                           .bstrVal));
}

TEST_P(Command, ValuesOfEveryKindBindInOrder) {
  // SQLite keeps each value as it was bound in columns without a type.
  Run(connection_, postgres() ? u"CREATE TABLE kinds (a BIGINT, b TEXT, c BYTEA, "
                                u"d DOUBLE PRECISION, e TEXT)"
                              : u"CREATE TABLE kinds (a, b, c, d, e)");
  Late command = NewCommand(u"INSERT INTO kinds VALUES (?, ?, ?, ?, ?)");
  ScopedVariant values[] = {I4(-7), Str(u"x"), Bytes({0, 1}), ScopedVariant(), Missing()};
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_R8;
  r.dblVal = 2.5;
  values[3].Reset(r);
  Late parameters = command.Object(u"Parameters");
  for (ScopedVariant& value : values) {
    ScopedVariant empty_name = Str(u"");
    ScopedVariant type = I4(adVariant);
    ScopedVariant direction = I4(adParamInput);
    ScopedVariant size = I4(0);
    Late parameter(command
                       .Call(u"CreateParameter", {&empty_name.Get(), &type.Get(), &direction.Get(),
                                                  &size.Get(), &value.Get()})
                       .result.Get());
    ScopedVariant as_object = Object(parameter.get());
    ASSERT_EQ(S_OK, parameters.Call(u"Append", {&as_object.Get()}).hr);
  }
  ASSERT_EQ(S_OK, command.Call(u"Execute").hr);
  if (!postgres()) {
    ScopedVariant sql =
        Str(u"SELECT typeof(a), typeof(b), typeof(c), typeof(d), typeof(e) FROM kinds");
    Late rows(connection_.Call(u"Execute", {&sql.Get()}).result.Get());
    Late fields = rows.Object(u"Fields");
    const char16_t* expected[] = {u"integer", u"text", u"blob", u"real", u"null"};
    for (LONG i = 0; i < 5; ++i) {
      ScopedVariant index = I4(i);
      EXPECT_EQ(expected[i],
                Text(fields.Object(u"Item", {&index.Get()}).Get(u"Value").result.Get().bstrVal));
    }
  }
  ScopedVariant sql = Str(u"SELECT a, b, c, d, e FROM kinds");
  Late rows(connection_.Call(u"Execute", {&sql.Get()}).result.Get());
  Late fields = rows.Object(u"Fields");
  auto value = [&](const char16_t* name) {
    ScopedVariant key = Str(name);
    return fields.Object(u"Item", {&key.Get()}).Get(u"Value");
  };
  EXPECT_EQ(-7, value(u"a").result.Get().lVal);
  EXPECT_EQ(u"x", Text(value(u"b").result.Get().bstrVal));
  EXPECT_EQ((std::vector<BYTE>{0, 1}), BytesOf(value(u"c").result.Get()));
  EXPECT_EQ(2.5, value(u"d").result.Get().dblVal);
  EXPECT_EQ(VT_NULL, value(u"e").result.Get().vt);
}

TEST_P(Command, ExecuteTakesValuesAsAnArgument) {
  Late command = NewCommand(u"INSERT INTO files (id, note) VALUES (?, ?)");
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  LONG index = 0;
  ScopedVariant id = I4(40);
  SafeArrayPutElement(array, &index, const_cast<VARIANT*>(&id.Get()));
  index = 1;
  ScopedVariant note = Str(u"given");
  SafeArrayPutElement(array, &index, const_cast<VARIANT*>(&note.Get()));
  ScopedVariant values;
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_VARIANT;
  raw.parray = array;
  values.Reset(raw);
  ScopedVariant missing = Missing();
  ASSERT_EQ(S_OK, command.Call(u"Execute", {&missing.Get(), &values.Get()}).hr);
  ScopedVariant sql = Str(u"SELECT note FROM files WHERE id = 40");
  Late rows(connection_.Call(u"Execute", {&sql.Get()}).result.Get());
  EXPECT_EQ(VARIANT_FALSE, rows.Get(u"EOF").result.Get().boolVal);
}

TEST_P(Command, RejectedCommandStoresNothingAndReportsTheMessage) {
  Late command = NewCommand(u"INSERT INTO nowhere (content) VALUES (?)");
  ScopedVariant name = Str(u"Param1");
  ScopedVariant type = I4(adLongVarBinary);
  Late parameter(command.Call(u"CreateParameter", {&name.Get(), &type.Get()}).result.Get());
  ScopedVariant bytes = Bytes({1, 2, 3});
  parameter.Call(u"AppendChunk", {&bytes.Get()});
  ScopedVariant as_object = Object(parameter.get());
  command.Object(u"Parameters").Call(u"Append", {&as_object.Get()});
  Outcome out = command.Call(u"Execute");
  EXPECT_EQ(DISP_E_EXCEPTION, out.hr);
  EXPECT_EQ(E_FAIL, out.scode);
  EXPECT_EQ(MissingTable(u"nowhere"), out.description);

  ScopedVariant sql = Str(u"SELECT count(*) FROM files");
  Late rows(connection_.Call(u"Execute", {&sql.Get()}).result.Get());
  ScopedVariant zero = I4(0);
  EXPECT_EQ(0,
            rows.Object(u"Fields").Object(u"Item", {&zero.Get()}).Get(u"Value").result.Get().lVal);
}

TEST_P(Command, PlaceholdersAndParametersMustMatch) {
  Late too_few = NewCommand(u"INSERT INTO files (id, note) VALUES (?, ?)");
  Outcome out = too_few.Call(u"Execute");
  EXPECT_EQ(AdoErrorCode(adErrInvalidArgument), out.scode);
  EXPECT_FALSE(out.description.empty());

  Late too_many = NewCommand(u"DELETE FROM files");
  ScopedVariant name = Str(u"extra");
  ScopedVariant type = I4(adInteger);
  ScopedVariant direction = I4(adParamInput);
  ScopedVariant size = I4(4);
  ScopedVariant value = I4(1);
  Late parameter(too_many
                     .Call(u"CreateParameter",
                           {&name.Get(), &type.Get(), &direction.Get(), &size.Get(), &value.Get()})
                     .result.Get());
  ScopedVariant as_object = Object(parameter.get());
  too_many.Object(u"Parameters").Call(u"Append", {&as_object.Get()});
  EXPECT_EQ(AdoErrorCode(adErrInvalidArgument), too_many.Call(u"Execute").scode);

  for (const char16_t* nothing : {u"", u"  ;\n", u"-- only a comment"}) {
    Late empty = NewCommand(nothing);
    EXPECT_EQ(AdoErrorCode(adErrInvalidArgument), empty.Call(u"Execute").scode)
        << "an empty command is no success";
  }
}

TEST_P(Command, ActiveConnectionMustBeAConnection) {
  Late command = Create(u"ADODB.Command");
  Late recordset = Create(u"ADODB.Recordset");
  ScopedVariant not_connection = Object(recordset.get());
  // Through the type information the object is asked for the connection interface first.
  EXPECT_EQ(DISP_E_TYPEMISMATCH, command.PutRef(u"ActiveConnection", not_connection.Get()).hr);
  Outcome put = command.Put(u"ActiveConnection", not_connection.Get());
  EXPECT_EQ(DISP_E_EXCEPTION, put.hr);
  EXPECT_EQ(AdoErrorCode(adErrInvalidConnection), put.scode);
  EXPECT_FALSE(put.description.empty());

  ScopedVariant sql = Str(u"SELECT 1");
  command.Put(u"CommandText", sql.Get());
  EXPECT_EQ(AdoErrorCode(adErrInvalidConnection), command.Call(u"Execute").scode);

  // A connection string opens a connection of the command's own.
  ScopedVariant text = Str(ConnectionString());
  ASSERT_EQ(S_OK, command.Put(u"ActiveConnection", text.Get()).hr);
  Late rows(command.Call(u"Execute").result.Get());
  EXPECT_EQ(adStateOpen, rows.Get(u"State").result.Get().lVal);

  // A closed connection runs nothing.
  Late closed = OpenConnection("closed.db");
  ScopedVariant closed_object = Object(closed.get());
  ASSERT_EQ(S_OK, command.PutRef(u"ActiveConnection", closed_object.Get()).hr);
  closed.Call(u"Close");
  EXPECT_EQ(AdoErrorCode(adErrInvalidConnection), command.Call(u"Execute").scode);

  Late parameters = command.Object(u"Parameters");
  Outcome append = parameters.Call(u"Append", {&not_connection.Get()});
  EXPECT_EQ(AdoErrorCode(adErrInvalidArgument), append.scode) << "only parameters append";
}

INSTANTIATE_FOR_EACH_PROVIDER(Command);

}  // namespace
