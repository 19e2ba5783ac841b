// The description of interfaces, coclasses and enums that an IDL file holds, as the interface
// compiler and the type-library loader see it. Plain data: no platform types, so the build-time
// compiler and the run-time loader share it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace idl {

// Base types an automation interface can use; each maps to one VARTYPE.
enum class BaseType {
  kVoid,
  kHresult,
  kI1,
  kUI1,
  kI2,
  kUI2,
  kI4,
  kUI4,
  kI8,
  kUI8,
  kInt,
  kUInt,
  kR4,
  kR8,
  kBool,  // VARIANT_BOOL
  kBstr,
  kVariant,
  kDate,
  kCy,
  kDecimal,
  kScode,
  kLpStr,
  kLpWStr,
  kUnknown,      // IUnknown
  kDispatch,     // IDispatch
  kUserDefined,  // an interface or enum of the description, named by Type::user_name
};

struct Type {
  BaseType base = BaseType::kVoid;
  std::string user_name;          // for kUserDefined
  int pointer_level = 0;          // IUnknown* counts as 1; for a SAFEARRAY, the levels outside it
  bool safearray = false;         // SAFEARRAY(element) where element is the rest of this Type
  int element_pointer_level = 0;  // pointer levels of a SAFEARRAY's element
  bool is_const = false;
};

// A constant as IDL writes it in defaultvalue() and enum members.
struct Literal {
  enum class Kind { kNone, kInteger, kFloat, kString, kBool } kind = Kind::kNone;
  int64_t integer = 0;
  double floating = 0;
  std::string text;
};

struct Param {
  std::string name;
  Type type;
  bool in = false;
  bool out = false;
  bool retval = false;
  bool optional = false;
  bool lcid = false;
  std::optional<Literal> default_value;
};

enum class MemberKind { kMethod, kPropGet, kPropPut, kPropPutRef };

struct Method {
  std::string name;
  MemberKind kind = MemberKind::kMethod;
  std::optional<int32_t> id;  // DISPID when given
  std::string helpstring;
  bool restricted = false;
  bool hidden = false;
  bool vararg = false;
  Type result;  // HRESULT for dual interfaces
  std::vector<Param> params;
  int line = 0;
};

struct Interface {
  std::string name;
  std::string uuid;  // canonical upper-case text without braces; empty when not given
  std::string base;  // base interface name; empty for IUnknown itself
  std::string helpstring;
  bool dual = false;
  bool oleautomation = false;
  bool object = false;
  bool hidden = false;
  bool nonextensible = false;
  bool dispinterface = false;
  bool forward_only = false;  // "interface X;" with no body
  std::vector<Method> methods;
  int line = 0;
};

struct CoclassMember {
  std::string interface_name;
  bool is_default = false;
  bool source = false;
};

struct Coclass {
  std::string name;
  std::string uuid;
  std::string helpstring;
  bool noncreatable = false;
  std::vector<CoclassMember> members;
  int line = 0;
};

struct EnumMember {
  std::string name;
  int64_t value = 0;
  std::string helpstring;
};

struct Enum {
  std::string name;
  std::string uuid;
  std::string helpstring;
  std::vector<EnumMember> members;
  int line = 0;
};

// A [uuid] library block, or the file's top level when it has none.
struct Library {
  std::string name;
  std::string uuid;
  int version_major = 1;
  int version_minor = 0;
  uint32_t lcid = 0;
  std::string helpstring;
  std::vector<std::string> importlibs;
  std::vector<std::string> imports;   // import "x.idl" at the top level
  std::vector<Interface> interfaces;  // in declaration order, outside and inside the library
  std::vector<Coclass> coclasses;
  std::vector<Enum> enums;
  bool has_library = false;
};

}  // namespace idl
