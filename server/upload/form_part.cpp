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
