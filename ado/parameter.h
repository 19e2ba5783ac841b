// The Parameter class: one value a command binds to a placeholder. Long values arrive in
// pieces through AppendChunk.
#pragma once

#include "ado_object.h"
#include "scoped_bstr.h"
#include "scoped_variant.h"

class ParameterObject final : public AdoObject<ParameterObject, _Parameter, &IID__Parameter,
                                               &IID__ADO, &kParameterIdentity> {
 public:
  static constexpr const IID& kIdentity = kParameterIdentity;

  // What the command binds; valid after PrepareValue.
  const VARIANT& value() const { return value_.Get(); }
  // Joins the chunks appended so far into the value. Failures set error information.
  HRESULT PrepareValue();
  // The name, for finding the parameter in its collection.
  BSTR name() const { return name_.Get(); }

  // _ADO
  HRESULT STDMETHODCALLTYPE get_Properties(Properties**) override { return E_NOTIMPL; }
  // _Parameter
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pbstr) override;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR pbstr) override;
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pvar) override;
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT pvar) override;
  HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum* psDataType) override;
  HRESULT STDMETHODCALLTYPE put_Type(DataTypeEnum psDataType) override;
  HRESULT STDMETHODCALLTYPE put_Direction(ParameterDirectionEnum plParmDirection) override;
  HRESULT STDMETHODCALLTYPE get_Direction(ParameterDirectionEnum* plParmDirection) override;
  HRESULT STDMETHODCALLTYPE put_Precision(BYTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Precision(BYTE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_NumericScale(BYTE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NumericScale(BYTE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Size(LONGLONG pl) override;
  HRESULT STDMETHODCALLTYPE get_Size(LONGLONG* pl) override;
  HRESULT STDMETHODCALLTYPE AppendChunk(VARIANT Val) override;
  HRESULT STDMETHODCALLTYPE get_Attributes(LONG* plParmAttribs) override;
  HRESULT STDMETHODCALLTYPE put_Attributes(LONG plParmAttribs) override;

 private:
  friend AdoObject;
  ParameterObject() = default;
  ~ParameterObject();

  enum class ChunkKind { kNone, kBytes, kText };
  HRESULT AppendToPending(ChunkKind kind, const void* data, ULONGLONG bytes);
  void DiscardPending();

  ScopedBstr name_;
  ScopedVariant value_;
  DataTypeEnum type_ = adEmpty;
  ParameterDirectionEnum direction_ = adParamInput;
  LONGLONG size_ = 0;
  LONG attributes_ = 0;
  // Chunks after the first gather here (task memory, grown geometrically) until the value is
  // needed, so that many chunks cost one copy each rather than a copy of all before them.
  BYTE* pending_ = nullptr;
  ULONGLONG pending_size_ = 0;
  ULONGLONG pending_capacity_ = 0;
  ChunkKind pending_kind_ = ChunkKind::kNone;
};
