// Member facts read once per type and thread (see member_facts.h).
#include "member_facts.h"

#include "winnls.h"

namespace vhost {

namespace {

// The types this thread met, each with the type information that names it held.
struct ThreadTypes {
  std::map<ITypeInfo*, std::pair<ComPtr<ITypeInfo>, std::unique_ptr<TypeFacts>>> types;
};

thread_local ThreadTypes thread_types;

const std::vector<VARTYPE> kNoByref;

}  // namespace

std::unique_ptr<TypeFacts> TypeFacts::Read(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr)))
    return nullptr;
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  auto facts = std::make_unique<TypeFacts>();
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(i, &f)))
      continue;
    Function function{f->memid, f->invkind, f->invkind == INVOKE_FUNC, {}};
    for (SHORT p = 0; p < f->cParams; ++p) {
      const ELEMDESC& e = f->lprgelemdescParam[p];
      if (e.paramdesc.wParamFlags & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID))
        continue;
      // A property get with a positional argument is called like a method.
      if (f->invkind == INVOKE_PROPERTYGET)
        function.callable = true;
      VARTYPE vt = VT_EMPTY;
      if (e.tdesc.vt == VT_PTR && e.tdesc.lptdesc) {
        const VARTYPE target = e.tdesc.lptdesc->vt;
        if (target != VT_VARIANT && target != VT_USERDEFINED && target != VT_PTR &&
            target != VT_SAFEARRAY)
          vt = target;
      }
      function.byref.push_back(vt);
    }
    info->ReleaseFuncDesc(f);
    facts->functions_.push_back(std::move(function));
  }
  return facts;
}

MemberKind TypeFacts::Kind(DISPID id) const {
  MemberKind kind = MemberKind::kUnknown;
  for (const Function& f : functions_) {
    if (f.id != id)
      continue;
    if (f.callable)
      return MemberKind::kCallable;
    kind = MemberKind::kProperty;
  }
  return kind;
}

const std::vector<VARTYPE>& TypeFacts::ByrefTypes(DISPID id, WORD flags) const {
  for (const Function& f : functions_) {
    if (f.id == id && (f.invoke_kind & flags))
      return f.byref;
  }
  return kNoByref;
}

bool TypeFacts::KnownId(std::string_view name, DISPID* id) const {
  const auto found = ids_.find(name);
  if (found == ids_.end())
    return false;
  *id = found->second;
  return true;
}

void TypeFacts::RememberId(std::string_view name, DISPID id) {
  if (Kind(id) != MemberKind::kUnknown)
    ids_.emplace(name, id);
}

TypeFacts* FactsOf(IDispatch* object) {
  UINT count = 0;
  ComPtr<ITypeInfo> info;
  if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 ||
      FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive())) || !info)
    return nullptr;
  return FactsOfType(info.Get());
}

TypeFacts* FactsOfType(ITypeInfo* info) {
  if (!info)
    return nullptr;
  auto& types = thread_types.types;
  const auto found = types.find(info);
  if (found != types.end())
    return found->second.second.get();
  std::unique_ptr<TypeFacts> facts = TypeFacts::Read(info);
  if (!facts)
    return nullptr;
  TypeFacts* kept = facts.get();
  ComPtr<ITypeInfo> held;
  held.Set(info);
  types.emplace(info, std::make_pair(std::move(held), std::move(facts)));
  return kept;
}

}  // namespace vhost
