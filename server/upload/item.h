// KaoItem: one form field of an upload, as scripts see it (IKaoItem: Value, Name).
#pragma once

#include "form_part.h"

class KaoItem final : public VtrlObject<IKaoItem, &IID_IKaoItem> {
 public:
  // A new item over record, keeping parts alive; null when memory is short.
  static KaoItem* Create(UploadParts* parts, FormPart* record);

  // The record's content as text (up to its first zero byte) and its name.
  HRESULT STDMETHODCALLTYPE get_Value(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;

 private:
  KaoItem(UploadParts* parts, FormPart* record);
  ~KaoItem() override;

  UploadParts* parts_;
  FormPart* record_;
};
