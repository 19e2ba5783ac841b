// FormPart records and the shared set of an upload's records.
#include "form_part.h"

#include <new>

#include "KaString.h"
#include "faultsim.h"

FormPart* FormPart::Create() {
  if (FaultSimStep())
    return nullptr;
  return new (std::nothrow) FormPart();
}

FormPart::~FormPart() {
  kaFreeString(&Data);
}

UploadParts* UploadParts::Create() {
  if (FaultSimStep())
    return nullptr;
  return new (std::nothrow) UploadParts();
}

bool UploadParts::Append(FormPart* record) {
  const bool file = !record->FileName.IsEmpty();
  PartIndex& index = file ? Attachments : Items;
  try {
    index.push_back(record);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!(file ? AttachmentList : ItemList).AddTail(record)) {
    index.pop_back();
    return false;
  }
  return true;
}
