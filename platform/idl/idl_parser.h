// Parser of the IDL subset that the project's components are described in: library, import and
// importlib, interface (object, uuid, dual, oleautomation, helpstring, pointer_default,
// hidden, nonextensible), methods (id, propget, propput, propputref, helpstring, restricted,
// hidden, vararg), parameters (in, out, retval, optional, defaultvalue, lcid), coclass
// (default, source, noncreatable), typedef'd and plain enums, typedefs of other types (the
// name stands for its type), cpp_quote and preprocessor
// lines (skipped).
#pragma once

#include <string>
#include <string_view>

#include "idl_model.h"

namespace idl {

// Parses text (named file_name in messages) into library. Returns false with error set to
// "file:line: message" on the first error. Hostile input (deep nesting, unterminated strings
// and comments, huge numbers) fails the same way; it never crashes.
bool Parse(std::string_view text, const std::string& file_name, Library& library,
           std::string& error);

// The DISPID of each method: its own id, or the default the interface compiler gives
// (0x60000000 | level << 16 | slot index, where a property's get/put group shares the number
// of its first slot and level is 2 for an interface derived directly from IDispatch).
// level is the interface's depth below IUnknown.
int32_t DefaultDispid(int level, int slot_index);

// Depth below IUnknown of an interface of library (IUnknown 0, IDispatch 1, ...); -1 when its
// base chain is broken or cyclic.
int InterfaceLevel(const Library& library, const std::string& name);

// The interface of library named name (case-sensitive), or null.
const Interface* FindInterface(const Library& library, const std::string& name);

}  // namespace idl
