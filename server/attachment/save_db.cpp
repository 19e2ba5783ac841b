// KaoAttachment: the saves into a database through the script's own connection. The command
// runs once with one long binary input parameter that carries the bytes.
#include <string.h>

#include "adoint.h"
#include "attachment.h"
#include "byte_array.h"
#include "com_ptr.h"
#include "compression.h"
#include "db_error.h"
#include "report_error.h"
#include "scoped_bstr.h"

namespace {

// The bytes to store in *data and *size: the record's own, or their compressed form (held by
// zlib), whose size then becomes the record's ZipSize.
HRESULT bytes_to_store(FormPart* record, bool compress, CKaZlib* zlib, const char** data,
                       ULONG* size) {
  if (!compress) {
    if (record->Size < 0)
      return E_FAIL;
    *data = record->Data;
    *size = static_cast<ULONG>(record->Size);
    return S_OK;
  }
  if (record->Size < 0 || !zlib->Compress(record->Data, static_cast<unsigned long>(record->Size))) {
    ReportError(CLSID_KaFileUpload, VtrlMessageText(VtrlMessage::kCompressFailed), GUID_NULL, 0);
    return E_FAIL;
  }
  record->ZipSize = static_cast<int>(zlib->m_dwResultSize);
  *data = zlib->m_pResultData;
  *size = static_cast<ULONG>(zlib->m_dwResultSize);
  return S_OK;
}

// A reference a step needs came back empty: reported without text.
HRESULT report_missing() {
  return ReportError(CLSID_KaFileUpload, nullptr, GUID_NULL, 0);
}

HRESULT save_into_db(FormPart* record, IUnknown* pvConnect, BSTR bstrQuery, bool compress) {
  if (!pvConnect)
    return E_POINTER;
  ComPtr<_Connection> connection;
  HRESULT hr =
      pvConnect->QueryInterface(IID__Connection, reinterpret_cast<void**>(connection.Receive()));
  if (FAILED(hr))
    return hr;
  ComPtr<Command25> command;
  hr = CoCreateInstance(CLSID_Command, nullptr, CLSCTX_ALL, IID_Command25,
                        reinterpret_cast<void**>(command.Receive()));
  if (FAILED(hr))
    return hr;
  if (!command)
    return E_NOINTERFACE;
  // A connection the command refuses shows at Execute; this result is left unexamined.
  command->putref_ActiveConnection(connection.Get());
  hr = command->put_CommandType(adCmdText);
  if (SUCCEEDED(hr)) {
    ScopedBstr text;
    if (!text.AllocateLen(bstrQuery, SysStringLen(bstrQuery)))
      return report_missing();
    hr = command->put_CommandText(text.Get());
  }
  if (FAILED(hr))
    return ReportDbError(CLSID_KaFileUpload, command.Get(), IID_Command15);

  // The parameter takes its own copy of the bytes in AppendChunk: the array handed to it is a
  // view of the record's bytes (or of the compressed ones), not a copy of them.
  CKaZlib zlib;
  const char* data = nullptr;
  ULONG count = 0;
  hr = bytes_to_store(record, compress, &zlib, &data, &count);
  if (FAILED(hr))
    return hr;
  const ByteArrayView bytes(data, count);

  ScopedBstr name;
  if (!name.Allocate(OLESTR("Param1")))
    return report_missing();
  VARIANT missing;
  VariantInit(&missing);
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  ComPtr<_Parameter> parameter;
  hr = command->CreateParameter(name.Get(), adLongVarBinary, adParamInput, count, missing,
                                parameter.Receive());
  if (FAILED(hr))
    return ReportDbError(CLSID_KaFileUpload, command.Get(), IID_Command15);
  if (!parameter)
    return report_missing();
  if (FAILED(parameter->AppendChunk(bytes.Get())))
    return ReportDbError(CLSID_KaFileUpload, parameter.Get(), IID__Parameter);

  ComPtr<Parameters> parameters;
  if (FAILED(command->get_Parameters(parameters.Receive())))
    return ReportDbError(CLSID_KaFileUpload, command.Get(), IID_Command15);
  if (!parameters)
    return report_missing();
  if (FAILED(parameters->Append(parameter.Get())))
    return ReportDbError(CLSID_KaFileUpload, parameters.Get(), IID__DynaCollection);

  ComPtr<_Recordset> recordset;
  if (FAILED(command->Execute(nullptr, nullptr, adCmdText, recordset.Receive())))
    return ReportDbError(CLSID_KaFileUpload, command.Get(), IID_Command15);
  return S_OK;
}

}  // namespace

HRESULT KaoAttachment::SaveDb(IUnknown* pvConnect, BSTR bstrQuery) {
  return save_into_db(record_, pvConnect, bstrQuery, false);
}

HRESULT KaoAttachment::SaveDbByZip(IUnknown* pvConnect, BSTR bstrQuery) {
  return save_into_db(record_, pvConnect, bstrQuery, true);
}
