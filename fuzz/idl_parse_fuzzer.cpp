// The IDL parser on arbitrary text: it parses or fails with "file:line: message", and what it
// parses can be walked the way the interface compiler and the type-library loader walk it.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "idl_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  idl::Library library;
  std::string error;
  if (!idl::Parse(text, "fuzz.idl", library, error)) {
    FUZZ_CHECK(error.rfind("fuzz.idl:", 0) == 0, "an error names the file and line");
    return 0;
  }
  FUZZ_CHECK(error.empty(), "a parse that succeeds reports no error");
  for (const idl::Interface& itf : library.interfaces) {
    if (itf.forward_only)
      continue;
    FUZZ_CHECK(idl::FindInterface(library, itf.name) != nullptr, "each interface is found");
    // Base chains may be broken or cyclic: the walk ends, with -1 for those, and a depth can
    // pass no more interfaces than there are.
    const int level = idl::InterfaceLevel(library, itf.name);
    FUZZ_CHECK(level >= -1 && level <= static_cast<int>(library.interfaces.size()) + 1,
               "a level is -1 or a depth within the interfaces");
  }
  for (const idl::Coclass& coclass : library.coclasses)
    for (const idl::CoclassMember& member : coclass.members)
      idl::FindInterface(library, member.interface_name);
  return 0;
}
