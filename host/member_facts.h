// What the script bridge needs to know of an automation object's members (their dispatch ids,
// whether a member is a plain property or must be called, and which parameters it takes by
// reference), read from the object's type information once per type and thread and kept: a
// published interface never changes, so a page's every property read need not walk it again.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "com_ptr.h"
#include "oleauto.h"

namespace vhost {

enum class MemberKind { kProperty, kCallable, kUnknown };

class TypeFacts {
 public:
  // The facts of info's functions; null when they cannot be read.
  static std::unique_ptr<TypeFacts> Read(ITypeInfo* info);

  // kCallable for a method or a property get that takes arguments, kProperty for another member
  // of the type, kUnknown for an id the type does not describe.
  MemberKind Kind(DISPID id) const;
  // The pointed-to types of the by-reference parameters of the first function of id whose invoke
  // kind meets flags, by position (VT_EMPTY for the others); empty when there is none.
  const std::vector<VARTYPE>& ByrefTypes(DISPID id, WORD flags) const;
  // The id a name was found to have before; false when it was not asked yet. Names are the
  // script's own bytes (CESU-8), so that a name found again needs no conversion.
  bool KnownId(std::string_view name, DISPID* id) const;
  // Keeps the id GetIDsOfNames gave for name when the type describes it (an id the object made
  // up at run time may differ between objects of one type).
  void RememberId(std::string_view name, DISPID id);

 private:
  struct Function {
    DISPID id;
    INVOKEKIND invoke_kind;
    bool callable;
    std::vector<VARTYPE> byref;
  };
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  std::vector<Function> functions_;
  std::unordered_map<std::string, DISPID, NameHash, std::equal_to<>> ids_;
};

// The facts of object's type for the calling thread, or null when it has no type information.
// The type information is held for as long as the thread runs, so its address names one type.
TypeFacts* FactsOf(IDispatch* object);
// The facts of type info for the calling thread (null when they cannot be read); info is held
// from the first call on, as FactsOf holds it.
TypeFacts* FactsOfType(ITypeInfo* info);

}  // namespace vhost
