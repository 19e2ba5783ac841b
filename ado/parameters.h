// The Parameters collection of a command: its parameters in placeholder order, by 0-based
// ordinal or by name.
#pragma once

#include "ado_object.h"
#include "database.h"

class ParameterObject;

class ParametersObject final : public AdoObject<ParametersObject, Parameters, &IID_Parameters,
                                                &IID__DynaCollection, &IID__Collection>,
                               public BindValues {
 public:
  // BindValues: the parameters' values.
  size_t Count() const override { return static_cast<size_t>(count_); }
  const VARIANT& At(size_t index) const override;
  // Joins every parameter's chunks into its value, before the values are bound.
  HRESULT PrepareValues();

  // _Collection
  HRESULT STDMETHODCALLTYPE get_Count(LONG* c) override;
  HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Refresh() override { return E_NOTIMPL; }
  // _DynaCollection
  HRESULT STDMETHODCALLTYPE Append(IDispatch* Object) override;
  HRESULT STDMETHODCALLTYPE Delete(VARIANT Index) override;
  // Parameters
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, _Parameter** ppvObject) override;

 private:
  friend AdoObject;
  ParametersObject() = default;
  ~ParametersObject();

  // The index of the parameter Index names (ordinal or name), or -1.
  LONG Find(const VARIANT& Index) const;

  ParameterObject** items_ = nullptr;  // each with a reference; task memory
  LONG count_ = 0;
  LONG capacity_ = 0;
};
