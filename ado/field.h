// One field of a recordset: a column of its current row.
#pragma once

#include "ado_object.h"

class RecordsetObject;

class FieldObject final
    : public AdoObject<FieldObject, Field, &IID_Field, &IID_Field20, &IID__ADO> {
 public:
  // _ADO
  HRESULT STDMETHODCALLTYPE get_Properties(Properties**) override { return E_NOTIMPL; }
  // Field20
  HRESULT STDMETHODCALLTYPE get_ActualSize(LONGLONG* pl) override;
  HRESULT STDMETHODCALLTYPE get_Attributes(LONG* pl) override;
  HRESULT STDMETHODCALLTYPE get_DefinedSize(LONGLONG* pl) override;
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pbstr) override;
  HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum* pDataType) override;
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pvar) override;
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Precision(BYTE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NumericScale(BYTE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AppendChunk(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChunk(LONG Length, VARIANT* pvar) override;
  HRESULT STDMETHODCALLTYPE get_OriginalValue(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_UnderlyingValue(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DataFormat(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE putref_DataFormat(IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Precision(BYTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_NumericScale(BYTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Type(DataTypeEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_DefinedSize(LONGLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Attributes(LONG) override { return E_NOTIMPL; }
  // Field
  HRESULT STDMETHODCALLTYPE get_Status(LONG*) override { return E_NOTIMPL; }

 private:
  friend AdoObject;
  FieldObject(RecordsetObject* recordset, int column);
  ~FieldObject();

  ComPtr<RecordsetObject> recordset_;
  int column_;
};
