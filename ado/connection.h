// The Connection class: one database opened from a connection string, on the provider it names:
// "Provider=SQLite;Data Source=<path>" (the default provider), with the path in the system's
// namespace, or "Provider=PostgreSQL;..." with the server's address and credentials.
#pragma once

#include "ado_object.h"
#include "database.h"

class ConnectionObject final
    : public AdoObject<ConnectionObject, _Connection, &IID__Connection, &IID_Connection15,
                       &IID__ADO, &kConnectionIdentity> {
 public:
  static constexpr const IID& kIdentity = kConnectionIdentity;

  // The open database with a reference, or null when the connection is closed.
  Database* OpenDatabase() const;

  // The connection a command or recordset is given as its ActiveConnection: a connection
  // object of this module, or a connection string opened into a new one. Empty, null and
  // missing values give no connection. Failures set error information (clsid, iid).
  static HRESULT FromVariant(const VARIANT& value, REFCLSID clsid, REFIID iid,
                             ComPtr<ConnectionObject>* out);

  // _ADO
  HRESULT STDMETHODCALLTYPE get_Properties(Properties**) override { return E_NOTIMPL; }
  // Connection15
  HRESULT STDMETHODCALLTYPE get_ConnectionString(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ConnectionString(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Version(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE Execute(BSTR CommandText, VARIANT* RecordsAffected, LONG Options,
                                    _Recordset** ppiRset) override;
  HRESULT STDMETHODCALLTYPE BeginTrans(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CommitTrans() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RollbackTrans() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Open(BSTR ConnectionString, BSTR UserID, BSTR Password,
                                 LONG Options) override;
  HRESULT STDMETHODCALLTYPE get_Errors(Errors**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DefaultDatabase(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_DefaultDatabase(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsolationLevel(IsolationLevelEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsolationLevel(IsolationLevelEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Attributes(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Attributes(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CursorLocation(CursorLocationEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CursorLocation(CursorLocationEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Mode(ConnectModeEnum*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Mode(ConnectModeEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Provider(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Provider(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_State(LONG* plObjState) override;
  HRESULT STDMETHODCALLTYPE OpenSchema(SchemaEnum, VARIANT, VARIANT, _Recordset**) override {
    return E_NOTIMPL;
  }
  // _Connection
  HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }

 private:
  friend AdoObject;
  ConnectionObject() = default;
  ~ConnectionObject();

  Database* db_ = nullptr;  // with a reference while open
};
