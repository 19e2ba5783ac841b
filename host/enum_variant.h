// IEnumVARIANT over a snapshot of values: what the host's collections hand out as _NewEnum.
#pragma once

#include <vector>

#include "oaidl.h"
#include "scoped_variant.h"

namespace vhost {

// A new enumerator over copies of values, with one reference, in *out.
HRESULT create_enum_variant(const std::vector<VARIANT>& values, IUnknown** out);

}  // namespace vhost
