// The Fields collection of a recordset: its columns, by 0-based ordinal or by name.
#pragma once

#include "ado_object.h"

class RecordsetObject;

class FieldsObject final : public AdoObject<FieldsObject, Fields, &IID_Fields, &IID_Fields20,
                                            &IID_Fields15, &IID__Collection> {
 public:
  // _Collection
  HRESULT STDMETHODCALLTYPE get_Count(LONG* c) override;
  HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Refresh() override { return E_NOTIMPL; }
  // Fields15
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, Field** ppvObject) override;
  // Fields20
  HRESULT STDMETHODCALLTYPE _Append(BSTR, DataTypeEnum, LONGLONG, FieldAttributeEnum) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Delete(VARIANT) override { return E_NOTIMPL; }
  // Fields
  HRESULT STDMETHODCALLTYPE Append(BSTR, DataTypeEnum, LONGLONG, FieldAttributeEnum,
                                   VARIANT) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Update() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Resync(ResyncEnum) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CancelUpdate() override { return E_NOTIMPL; }

 private:
  friend AdoObject;
  explicit FieldsObject(RecordsetObject* recordset);
  ~FieldsObject();

  ComPtr<RecordsetObject> recordset_;
};
