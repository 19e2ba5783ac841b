// The Command class: command text with parameters, run on the connection it is given.
#pragma once

#include "ado_object.h"
#include "connection.h"
#include "parameters.h"
#include "scoped_bstr.h"

class CommandObject final : public AdoObject<CommandObject, _Command, &IID__Command, &IID_Command25,
                                             &IID_Command15, &IID__ADO> {
 public:
  // _ADO
  HRESULT STDMETHODCALLTYPE get_Properties(Properties**) override { return E_NOTIMPL; }
  // Command15
  HRESULT STDMETHODCALLTYPE get_ActiveConnection(_Connection** ppvObject) override;
  HRESULT STDMETHODCALLTYPE putref_ActiveConnection(_Connection* ppvObject) override;
  HRESULT STDMETHODCALLTYPE put_ActiveConnection(VARIANT ppvObject) override;
  HRESULT STDMETHODCALLTYPE get_CommandText(BSTR* pbstr) override;
  HRESULT STDMETHODCALLTYPE put_CommandText(BSTR pbstr) override;
  HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Prepared(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Prepared(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Execute(VARIANT* RecordsAffected, VARIANT* Parameters, LONG Options,
                                    _Recordset** ppirs) override;
  HRESULT STDMETHODCALLTYPE CreateParameter(BSTR Name, DataTypeEnum Type,
                                            ParameterDirectionEnum Direction, LONGLONG Size,
                                            VARIANT Value, _Parameter** ppiprm) override;
  HRESULT STDMETHODCALLTYPE get_Parameters(Parameters** ppvObject) override;
  HRESULT STDMETHODCALLTYPE put_CommandType(CommandTypeEnum plCmdType) override;
  HRESULT STDMETHODCALLTYPE get_CommandType(CommandTypeEnum* plCmdType) override;
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR) override { return E_NOTIMPL; }
  // Command25
  HRESULT STDMETHODCALLTYPE get_State(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }
  // _Command
  HRESULT STDMETHODCALLTYPE putref_CommandStream(IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CommandStream(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Dialect(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Dialect(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_NamedParameters(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NamedParameters(VARIANT_BOOL*) override { return E_NOTIMPL; }

 private:
  friend AdoObject;
  CommandObject() = default;
  ~CommandObject() = default;

  ComPtr<ConnectionObject> connection_;
  ScopedBstr text_;
  CommandTypeEnum type_ = adCmdUnknown;
  ComPtr<ParametersObject> parameters_;  // made on first use
};
