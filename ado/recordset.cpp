// Opening, moving through and closing a recordset.
#include "recordset.h"

#include "fields.h"
#include "scoped_variant.h"

namespace {

HRESULT fail(HRESULT hr, const char16_t* description) {
  return ReportAdoError(CLSID_Recordset, IID_Recordset15, hr, description);
}

const VARIANT& through_references(const VARIANT& value) {
  const VARIANT* v = &value;
  while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
    v = v->pvarVal;
  return *v;
}

}  // namespace

RecordsetObject::~RecordsetObject() {
  CloseRows();
}

void RecordsetObject::Adopt(CommandResult&& result) {
  CloseRows();
  rows_ = std::move(result.rows);
}

void RecordsetObject::CloseRows() {
  rows_.reset();
  chunk_ = ChunkPosition{};
}

HRESULT RecordsetObject::Prepare(REFCLSID clsid, REFIID iid, ComPtr<RecordsetObject>* out) {
  HRESULT hr = Create(out);
  return FAILED(hr) ? ReportAdoError(clsid, iid, hr, u"Out of memory.") : S_OK;
}

HRESULT RecordsetObject::OpenRows(REFIID iid, Rows** rows) {
  *rows = rows_.get();
  if (!*rows)
    return ReportAdoError(CLSID_Recordset, iid, AdoErrorStatus(adErrObjectClosed),
                          u"The recordset is closed.");
  return S_OK;
}

HRESULT RecordsetObject::CurrentRow(REFIID iid, Rows** rows) {
  HRESULT hr = OpenRows(iid, rows);
  if (SUCCEEDED(hr) && !(*rows)->HasRow()) {
    *rows = nullptr;
    return ReportAdoError(CLSID_Recordset, iid, AdoErrorStatus(adErrNoCurrentRecord),
                          u"There is no current record: the recordset is at its end.");
  }
  return hr;
}

HRESULT RecordsetObject::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                UINT* puArgErr) {
  if (dispIdMember != DISPID_VALUE || !pDispParams || pDispParams->cArgs == 0 ||
      pDispParams->cNamedArgs != 0 || !(wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
    return AdoObject::Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo,
                             puArgErr);
  DISPPARAMS none = {};
  ScopedVariant fields;
  HRESULT hr = AdoObject::Invoke(DISPID_VALUE, riid, lcid, DISPATCH_PROPERTYGET, &none,
                                 fields.Receive(), pExcepInfo, puArgErr);
  if (FAILED(hr))
    return hr;
  if (fields.Type() != VT_DISPATCH || !fields.Get().pdispVal)
    return DISP_E_TYPEMISMATCH;
  return fields.Get().pdispVal->Invoke(DISPID_VALUE, riid, lcid, wFlags, pDispParams, pVarResult,
                                       pExcepInfo, puArgErr);
}

HRESULT RecordsetObject::putref_ActiveConnection(IDispatch* pvar) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_DISPATCH;
  value.pdispVal = pvar;
  return put_ActiveConnection(value);
}

HRESULT RecordsetObject::put_ActiveConnection(VARIANT pvar) {
  if (rows_)
    return fail(AdoErrorStatus(adErrObjectOpen),
                u"The connection of an open recordset cannot change.");
  ComPtr<ConnectionObject> connection;
  HRESULT hr = ConnectionObject::FromVariant(pvar, CLSID_Recordset, IID_Recordset15, &connection);
  if (FAILED(hr))
    return hr;
  active_connection_ = std::move(connection);
  return S_OK;
}

HRESULT RecordsetObject::get_EOF(VARIANT_BOOL* pb) {
  if (!pb)
    return E_POINTER;
  Rows* rows = nullptr;
  HRESULT hr = OpenRows(IID_Recordset15, &rows);
  if (FAILED(hr))
    return hr;
  *pb = rows->HasRow() ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT RecordsetObject::get_Fields(Fields** ppvObject) {
  if (!ppvObject)
    return E_POINTER;
  *ppvObject = nullptr;
  ComPtr<FieldsObject> fields;
  HRESULT hr = FieldsObject::Create(&fields, this);
  if (FAILED(hr))
    return fail(hr, u"Out of memory.");
  *ppvObject = fields.Release();
  return S_OK;
}

HRESULT RecordsetObject::get_RecordCount(LONGLONG* pl) {
  if (!pl)
    return E_POINTER;
  Rows* rows = nullptr;
  HRESULT hr = OpenRows(IID_Recordset15, &rows);
  if (FAILED(hr))
    return hr;
  *pl = -1;  // a forward-only cursor does not know its count
  return S_OK;
}

HRESULT RecordsetObject::Close() {
  if (!rows_)
    return fail(AdoErrorStatus(adErrObjectClosed), u"The recordset is closed.");
  CloseRows();
  return S_OK;
}

HRESULT RecordsetObject::MoveNext() {
  Rows* rows = nullptr;
  HRESULT hr = CurrentRow(IID_Recordset15, &rows);
  if (FAILED(hr))
    return hr;
  chunk_ = ChunkPosition{};
  return rows->MoveNext(CLSID_Recordset, IID_Recordset15);
}

HRESULT RecordsetObject::Open(VARIANT Source, VARIANT ActiveConnection, CursorTypeEnum,
                              LockTypeEnum, LONG) {
  if (rows_)
    return fail(AdoErrorStatus(adErrObjectOpen), u"The recordset is already open.");
  const VARIANT& source = through_references(Source);
  BSTR text = source.vt == VT_BSTR                ? source.bstrVal
              : source.vt == (VT_BYREF | VT_BSTR) ? *source.pbstrVal
                                                  : nullptr;
  if (source.vt != VT_BSTR && source.vt != (VT_BYREF | VT_BSTR))
    return fail(AdoErrorStatus(adErrInvalidArgument), u"The source must be command text.");
  ComPtr<ConnectionObject> connection;
  HRESULT hr = ConnectionObject::FromVariant(ActiveConnection, CLSID_Recordset, IID_Recordset15,
                                             &connection);
  if (FAILED(hr))
    return hr;
  if (connection)
    active_connection_ = std::move(connection);
  if (!active_connection_)
    return fail(AdoErrorStatus(adErrInvalidConnection), u"The recordset has no connection.");
  Database* db = active_connection_->OpenDatabase();
  if (!db)
    return fail(AdoErrorStatus(adErrObjectClosed), u"The connection is closed.");
  CommandResult result;
  hr = db->Run(text, SysStringLen(text), NoBindValues(), CLSID_Recordset, IID_Recordset15, &result);
  if (SUCCEEDED(hr))
    Adopt(std::move(result));
  db->Release();
  return hr;
}

HRESULT RecordsetObject::get_State(LONG* plObjState) {
  if (!plObjState)
    return E_POINTER;
  *plObjState = rows_ ? adStateOpen : adStateClosed;
  return S_OK;
}
