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
#include "scoped_variant.h"

namespace {

// The bytes to store in *bytes: the record's own, or their compressed form, whose size then
// becomes the record's ZipSize.
HRESULT bytes_to_store(FormPart* record, bool compress, ScopedVariant* bytes) {
  if (!compress)
    return MakeByteArray(record->Data, record->Size, bytes);
  CKaZlib zlib;
  if (record->Size < 0 || !zlib.Compress(record->Data, static_cast<unsigned long>(record->Size))) {
    ReportError(CLSID_KaFileUpload, VtrlMessageText(VtrlMessage::kCompressFailed), GUID_NULL, 0);
    return E_FAIL;
  }
  record->ZipSize = static_cast<int>(zlib.m_dwResultSize);
  return MakeByteArray(zlib.m_pResultData, record->ZipSize, bytes);
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

  ScopedVariant bytes;
  hr = bytes_to_store(record, compress, &bytes);
  if (hr == E_OUTOFMEMORY)
    return report_missing();
  if (FAILED(hr))
    return hr;

  ScopedBstr name;
  if (!name.Allocate(OLESTR("Param1")))
    return report_missing();
  VARIANT missing;
  VariantInit(&missing);
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  const LONGLONG size = bytes.Get().parray->rgsabound[0].cElements;
  ComPtr<_Parameter> parameter;
  hr = command->CreateParameter(name.Get(), adLongVarBinary, adParamInput, size, missing,
                                parameter.Receive());
  if (FAILED(hr))
    return ReportDbError(CLSID_KaFileUpload, command.Get(), IID_Command15);
  if (!parameter)
    return report_missing();
  if (FAILED(parameter->AppendChunk(bytes)))
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
