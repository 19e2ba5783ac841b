// Opening, running commands on and closing a connection.
#include "connection.h"

#include <cstring>

#include "connection_string.h"
#include "pg_database.h"
#include "platform_path.h"
#include "recordset.h"
#include "sqlite_database.h"
#include "winnls.h"

namespace {

constexpr int kBusyTimeoutMs = 30000;

HRESULT fail(HRESULT hr, const char16_t* description) {
  return ReportAdoError(CLSID_Connection, IID_Connection15, hr, description);
}

// The kernel path of a Data Source given in the system's namespace.
HRESULT kernel_path(std::u16string_view source, char (&os_path)[3 * MAX_PATH + 1]) {
  if (source == u":memory:") {
    std::memcpy(os_path, ":memory:", sizeof ":memory:");
    return S_OK;
  }
  char narrow[MAX_PATH];
  BOOL lossy = FALSE;
  // UTF-8 takes no default character; there a text that cannot be converted fails instead.
  const bool utf8 = GetACP() == CP_UTF8;
  const int bytes =
      source.size() < MAX_PATH
          ? WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : 0, source.data(),
                                static_cast<int>(source.size()), narrow, MAX_PATH - 1, nullptr,
                                utf8 ? nullptr : &lossy)
          : 0;
  if (bytes <= 0 || lossy)
    return fail(AdoErrorStatus(adErrInvalidArgument),
                u"The Data Source is too long or holds characters of no file name.");
  narrow[bytes] = '\0';
  const DWORD length = PlatformMapPath(narrow, os_path, sizeof os_path);
  if (length == 0 || length >= sizeof os_path)
    return fail(AdoErrorStatus(adErrInvalidArgument), u"The Data Source is no valid path.");
  return S_OK;
}

}  // namespace

ConnectionObject::~ConnectionObject() {
  if (db_)
    db_->Release();
}

Database* ConnectionObject::OpenDatabase() const {
  if (db_)
    db_->AddRef();
  return db_;
}

HRESULT ConnectionObject::FromVariant(const VARIANT& value, REFCLSID clsid, REFIID iid,
                                      ComPtr<ConnectionObject>* out) {
  out->Reset();
  const VARIANT* given = &value;
  while (given->vt == (VT_BYREF | VT_VARIANT) && given->pvarVal)
    given = given->pvarVal;
  switch (given->vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR:
      return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_UNKNOWN: {
      IUnknown* object = (given->vt & VT_BYREF) ? *given->ppunkVal : given->punkVal;
      if (!object)
        return S_OK;
      *out = FromUnknown(object);
      if (!*out)
        return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidConnection),
                              u"The object given as the connection is no connection.");
      return S_OK;
    }
    case VT_BSTR:
    case VT_BYREF | VT_BSTR: {
      BSTR text = (given->vt & VT_BYREF) ? *given->pbstrVal : given->bstrVal;
      ComPtr<ConnectionObject> opened;
      HRESULT hr = Create(&opened);
      if (FAILED(hr))
        return ReportAdoError(clsid, iid, hr, u"Out of memory.");
      hr = opened->Open(text, nullptr, nullptr, adConnectUnspecified);
      if (FAILED(hr))
        return hr;
      *out = std::move(opened);
      return S_OK;
    }
    default:
      return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidConnection),
                            u"The connection must be a connection object or a connection string.");
  }
}

HRESULT ConnectionObject::Open(BSTR ConnectionString, BSTR, BSTR, LONG) {
  if (db_)
    return fail(AdoErrorStatus(adErrObjectOpen), u"The connection is already open.");
  ConnectionStringParts parts;
  if (!ParseConnectionString(
          {ConnectionString ? ConnectionString : u"", SysStringLen(ConnectionString)}, &parts))
    return fail(AdoErrorStatus(adErrInvalidArgument), u"The connection string is malformed.");
  if (IsProvider(parts.provider, u"PostgreSQL")) {
    PgDatabase* db = nullptr;
    HRESULT hr = PgDatabase::Open(parts, CLSID_Connection, IID_Connection15, &db);
    db_ = db;
    return hr;
  }
  if (!parts.provider.empty() && !IsProvider(parts.provider, u"SQLite"))
    return fail(AdoErrorStatus(adErrProviderNotFound),
                u"Provider cannot be found: the providers are SQLite and PostgreSQL.");
  if (parts.data_source.empty())
    return fail(AdoErrorStatus(adErrInvalidArgument),
                u"The connection string names no Data Source.");
  char os_path[3 * MAX_PATH + 1];
  HRESULT hr = kernel_path(parts.data_source, os_path);
  if (FAILED(hr))
    return hr;
  const char* message = "";
  SqliteDatabase* db = nullptr;
  hr = SqliteDatabase::Open(os_path, kBusyTimeoutMs, &db, &message);
  db_ = db;
  if (FAILED(hr))
    return ReportAdoErrorUtf8(CLSID_Connection, IID_Connection15, hr, message);
  return S_OK;
}

HRESULT ConnectionObject::Close() {
  if (!db_)
    return fail(AdoErrorStatus(adErrObjectClosed), u"The connection is closed.");
  // Recordsets still reading keep the database open until they are closed.
  db_->Release();
  db_ = nullptr;
  return S_OK;
}

HRESULT ConnectionObject::Execute(BSTR CommandText, VARIANT* RecordsAffected, LONG Options,
                                  _Recordset** ppiRset) {
  if (!ppiRset)
    return E_POINTER;
  *ppiRset = nullptr;
  if (!db_)
    return fail(AdoErrorStatus(adErrObjectClosed), u"The connection is closed.");
  const bool wants_records = Options == adOptionUnspecified || !(Options & adExecuteNoRecords);
  ComPtr<RecordsetObject> recordset;
  HRESULT hr = wants_records
                   ? RecordsetObject::Prepare(CLSID_Connection, IID_Connection15, &recordset)
                   : S_OK;
  if (FAILED(hr))
    return hr;
  CommandResult result;
  hr = db_->Run(CommandText, SysStringLen(CommandText), NoBindValues(), CLSID_Connection,
                IID_Connection15, &result);
  if (FAILED(hr))
    return hr;
  if (RecordsAffected) {
    RecordsAffected->vt = VT_I4;
    RecordsAffected->lVal = result.records_affected;
  }
  if (recordset) {
    recordset->Adopt(std::move(result));
    *ppiRset = recordset.Release();
  }
  return S_OK;
}

HRESULT ConnectionObject::get_State(LONG* plObjState) {
  if (!plObjState)
    return E_POINTER;
  *plObjState = db_ ? adStateOpen : adStateClosed;
  return S_OK;
}
