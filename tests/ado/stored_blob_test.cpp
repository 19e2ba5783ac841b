// The calls a component makes through the vtables to store an upload into a table and to send
// a long field back: the order, the interfaces it asks error information for, and what every
// allocation failure on the way leaves behind.
#include <gtest/gtest.h>

#include "ado_test_support.h"
#include "faultsim.h"
#include "platform_memstat.h"

namespace {

using namespace ado_test;

// The description of the thread's error object when object reports errors for iid; empty
// otherwise.
std::u16string error_of(IUnknown* object, REFIID iid) {
  ComPtr<ISupportErrorInfo> support;
  if (FAILED(object->QueryInterface(IID_ISupportErrorInfo,
                                    reinterpret_cast<void**>(support.Receive()))) ||
      support->InterfaceSupportsErrorInfo(iid) != S_OK)
    return u"";
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info)
    return u"";
  ScopedBstr description;
  info->GetDescription(description.Receive());
  return Text(description.Get());
}

// Stores bytes with sql through "Param1" on command as a component does; *error receives the
// failing object's description.
HRESULT save_with(Command25* command, IUnknown* connection_object, const std::u16string& sql,
                  const ScopedVariant& bytes, std::u16string* error) {
  ComPtr<_Connection> connection;
  HRESULT hr = connection_object->QueryInterface(IID__Connection,
                                                 reinterpret_cast<void**>(connection.Receive()));
  if (FAILED(hr))
    return hr;
  ScopedBstr text;
  ScopedBstr name;
  if (!text.AllocateLen(sql.data(), static_cast<UINT>(sql.size())) || !name.Allocate(u"Param1"))
    return E_OUTOFMEMORY;
  command->putref_ActiveConnection(connection.Get());
  ComPtr<_Parameter> parameter;
  ComPtr<Parameters> parameters;
  ComPtr<_Recordset> recordset;
  const LONGLONG size = static_cast<LONGLONG>(BytesOf(bytes.Get()).size());
  if (FAILED(hr = command->put_CommandType(adCmdText)) ||
      FAILED(hr = command->put_CommandText(text.Get())) ||
      FAILED(hr = command->CreateParameter(name.Get(), adLongVarBinary, adParamInput, size,
                                           Missing().Get(), parameter.Receive()))) {
    *error = error_of(command, IID_Command15);
    return hr;
  }
  if (FAILED(hr = parameter->AppendChunk(bytes.Get()))) {
    *error = error_of(parameter.Get(), IID__Parameter);
    return hr;
  }
  if (FAILED(hr = command->get_Parameters(parameters.Receive()))) {
    *error = error_of(command, IID_Command15);
    return hr;
  }
  if (FAILED(hr = parameters->Append(parameter.Get()))) {
    *error = error_of(parameters.Get(), IID__DynaCollection);
    return hr;
  }
  if (FAILED(hr = command->Execute(nullptr, nullptr, adCmdText, recordset.Receive())))
    *error = error_of(command, IID_Command15);
  return hr;
}

// As save_with, on a Command object created for the call.
HRESULT save(IUnknown* connection_object, const std::u16string& sql, const ScopedVariant& bytes,
             std::u16string* error) {
  ComPtr<Command25> command;
  HRESULT hr = CoCreateInstance(CLSID_Command, nullptr, CLSCTX_ALL, IID_Command25,
                                reinterpret_cast<void**>(command.Receive()));
  return FAILED(hr) ? hr : save_with(command.Get(), connection_object, sql, bytes, error);
}

// Reads a long field back as a component does: attributes, size, type, then one chunk of the
// whole size.
HRESULT load(IUnknown* field_object, std::vector<BYTE>* bytes) {
  ComPtr<Field20> field;
  HRESULT hr = field_object->QueryInterface(IID_Field20, reinterpret_cast<void**>(field.Receive()));
  if (FAILED(hr))
    return hr;
  LONG attributes = 0;
  LONGLONG size = 0;
  DataTypeEnum type = adEmpty;
  if (FAILED(hr = field->get_Attributes(&attributes)) ||
      FAILED(hr = field->get_ActualSize(&size)) || FAILED(hr = field->get_Type(&type)))
    return hr;
  if (!(attributes & adFldLong) || type != adLongVarBinary)
    return E_INVALIDARG;
  ScopedVariant chunk;
  if (size > 0 && FAILED(hr = field->GetChunk(static_cast<LONG>(size), chunk.Receive())))
    return hr;
  *bytes = BytesOf(chunk.Get());
  return S_OK;
}

class StoredBlob : public EachProvider {
 protected:
  void SetUp() override {
    EachProvider::SetUp();
    connection_ = OpenConnection();
    Run(connection_, u"CREATE TABLE files (id " + IdColumn() + u", content " + BlobType() + u")");
  }

  // The content field of the first row, through the recordset's vtable.
  HRESULT first_field(ComPtr<_Recordset>* rows, ComPtr<Field>* field) {
    ComPtr<_Connection> connection;
    connection_.get()->QueryInterface(IID__Connection,
                                      reinterpret_cast<void**>(connection.Receive()));
    ScopedBstr sql;
    if (!sql.Allocate(u"SELECT content FROM files ORDER BY id"))
      return E_OUTOFMEMORY;
    HRESULT hr = connection->Execute(sql.Get(), nullptr, adCmdText, rows->Receive());
    if (FAILED(hr))
      return hr;
    ComPtr<Fields> fields;
    if (FAILED(hr = (*rows)->get_Fields(fields.Receive())))
      return hr;
    return fields->get_Item(I4(0).Get(), field->Receive());
  }

  Late connection_;
};

TEST_P(StoredBlob, StoresAndSendsBackThroughTheVtables) {
  std::u16string error;
  const ScopedVariant bytes = Bytes({0, 'z', 0, 0xFE});
  ASSERT_EQ(S_OK,
            save(connection_.get(), u"INSERT INTO files (content) VALUES (?)", bytes, &error));
  ComPtr<_Recordset> rows;
  ComPtr<Field> field;
  ASSERT_EQ(S_OK, first_field(&rows, &field));
  std::vector<BYTE> loaded;
  ASSERT_EQ(S_OK, load(field.Get(), &loaded));
  EXPECT_EQ((std::vector<BYTE>{0, 'z', 0, 0xFE}), loaded);
}

// The size an upload may reach in one chunk: one AppendChunk in, one GetChunk out.
TEST_P(StoredBlob, A64MiBBlobGoesInAndComesOutInOneChunkEach) {
  std::vector<BYTE> bytes(64u << 20);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<BYTE>((i >> 12) ^ (i * 7));
  std::u16string error;
  ASSERT_EQ(S_OK, save(connection_.get(), u"INSERT INTO files (content) VALUES (?)", Bytes(bytes),
                       &error))
      << std::string(error.begin(), error.end());
  ComPtr<_Recordset> rows;
  ComPtr<Field> field;
  ASSERT_EQ(S_OK, first_field(&rows, &field));
  std::vector<BYTE> loaded;
  ASSERT_EQ(S_OK, load(field.Get(), &loaded));
  EXPECT_TRUE(bytes == loaded);
}

TEST_P(StoredBlob, EachFailingObjectReportsForItsInterface) {
  std::u16string error;
  EXPECT_EQ(E_FAIL, save(connection_.get(), u"INSERT INTO missing (content) VALUES (?)", Bytes({1}),
                         &error));
  EXPECT_EQ(MissingTable(u"missing"), error) << "from Command15";

  ScopedVariant not_bytes = I4(5);
  error.clear();
  EXPECT_EQ(AdoErrorCode(adErrDataConversion),
            save(connection_.get(), u"INSERT INTO files (content) VALUES (?)", not_bytes, &error));
  EXPECT_EQ(u"AppendChunk takes bytes or text.", error) << "from _Parameter";

  ComPtr<Parameters> parameters;
  ComPtr<Command25> command;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_Command, nullptr, CLSCTX_ALL, IID_Command25,
                                   reinterpret_cast<void**>(command.Receive())));
  ASSERT_EQ(S_OK, command->get_Parameters(parameters.Receive()));
  EXPECT_EQ(AdoErrorCode(adErrInvalidArgument), parameters->Append(connection_.get()));
  EXPECT_FALSE(error_of(parameters.Get(), IID__DynaCollection).empty()) << "from _DynaCollection";

  // What is not a connection is told apart by the query, before any call on it.
  EXPECT_EQ(E_NOINTERFACE, save(command.Get(), u"SELECT 1", Bytes({1}), &error));
}

TEST_P(StoredBlob, FieldsThatAreNotLongAreTold) {
  Run(connection_, u"INSERT INTO files (id) VALUES (1)");
  ComPtr<_Connection> connection;
  connection_.get()->QueryInterface(IID__Connection,
                                    reinterpret_cast<void**>(connection.Receive()));
  ScopedBstr sql;
  ASSERT_TRUE(sql.Allocate(u"SELECT id FROM files"));
  ComPtr<_Recordset> rows;
  ASSERT_EQ(S_OK, connection->Execute(sql.Get(), nullptr, adCmdText, rows.Receive()));
  ComPtr<Fields> fields;
  ComPtr<Field> field;
  ASSERT_EQ(S_OK, rows->get_Fields(fields.Receive()));
  ASSERT_EQ(S_OK, fields->get_Item(I4(0).Get(), field.Receive()));
  std::vector<BYTE> loaded;
  EXPECT_EQ(E_INVALIDARG, load(field.Get(), &loaded));
}

// Every allocation of ours on the way can fail (the Command object is made beforehand, as its
// activation reads the registry, and released before counting): the calls then end in
// E_OUTOFMEMORY, nothing is left allocated, and the table holds the row only when the save
// succeeded.
TEST_P(StoredBlob, AllocationFailuresLeaveNothingBehind) {
  const ScopedVariant bytes = Bytes(std::vector<BYTE>(300, 0xAB));
  ScopedVariant count_sql = Str(u"SELECT count(*) FROM files");
  ScopedVariant zero = I4(0);
  SetErrorInfo(0, nullptr);
  for (BOOL persistent : {FALSE, TRUE}) {
    for (int n = 1; n < 300; ++n) {
      SCOPED_TRACE(::testing::Message()
                   << "failing allocation " << n << (persistent ? " and later" : " only"));
      const LONG baseline = PlatformTaskMemBlocks();
      ComPtr<Command25> command;
      ASSERT_EQ(S_OK, CoCreateInstance(CLSID_Command, nullptr, CLSCTX_ALL, IID_Command25,
                                       reinterpret_cast<void**>(command.Receive())));
      FaultSimConfig(n, persistent);
      HRESULT hr;
      HRESULT saved;
      {
        std::u16string error;
        hr = save_with(command.Get(), connection_.get(), u"INSERT INTO files (content) VALUES (?)",
                       bytes, &error);
        saved = hr;
        ComPtr<_Recordset> rows;
        ComPtr<Field> field;
        std::vector<BYTE> loaded;
        if (SUCCEEDED(hr))
          hr = first_field(&rows, &field);
        if (SUCCEEDED(hr))
          hr = load(field.Get(), &loaded);
        if (SUCCEEDED(hr) && loaded != BytesOf(bytes.Get()))
          hr = E_UNEXPECTED;
        SetErrorInfo(0, nullptr);
      }
      const int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      command.Reset();
      EXPECT_EQ(faults ? E_OUTOFMEMORY : S_OK, hr);
      EXPECT_EQ(baseline, PlatformTaskMemBlocks()) << "task memory leaked";
      Late rows(connection_.Call(u"Execute", {&count_sql.Get()}).result.Get());
      const LONG stored =
          rows.Object(u"Fields").Object(u"Item", {&zero.Get()}).Get(u"Value").result.Get().lVal;
      EXPECT_EQ(SUCCEEDED(saved) ? 1 : 0, stored) << "a failed save stores nothing";
      Run(connection_, u"DELETE FROM files");
      if (faults == 0 || HasFailure())
        break;
    }
  }
}

INSTANTIATE_FOR_EACH_PROVIDER(StoredBlob);

}  // namespace
