// Tests of the references that a page's script objects hold: counted per object, forgotten as
// finalizers let go, and released at the page's end, for a few objects and for many.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "bridge.h"

namespace {

using vhost::ScriptReferences;

// Counts the Releases it gets. A Release may reach back into the references, as the finalizers
// that a Release sets off do: it forgets itself and holds `then` when set.
class Counted final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    ++releases;
    if (references) {
      references->Forget(this);
      if (then)
        references->Hold(then);
    }
    return 1;
  }
  int releases = 0;
  ScriptReferences* references = nullptr;
  IUnknown* then = nullptr;
};

// More objects than the short list holds, held in turns, some forgotten in part or whole: each
// is released as often as it is still held, once, whichever store kept it.
TEST(ScriptReferencesTest, ReleasesEveryReferenceStillHeldOnce) {
  std::vector<Counted> objects(40);
  std::vector<int> held(objects.size());
  {
    ScriptReferences references;
    for (int round = 0; round < 3; ++round)
      for (size_t i = 0; i < objects.size(); ++i)
        if (static_cast<int>(i % 3) >= round) {
          references.Hold(&objects[i]);
          ++held[i];
        }
    for (const size_t i : {size_t{0}, size_t{3}, size_t{30}, size_t{39}}) {
      references.Forget(&objects[i]);
      --held[i];
    }
    while (held[32] > 0) {  // forgotten whole, from the map
      references.Forget(&objects[32]);
      --held[32];
    }
    Counted stranger;
    references.Forget(&stranger);
    references.ReleaseAll();
    for (size_t i = 0; i < objects.size(); ++i)
      EXPECT_EQ(held[i], objects[i].releases) << "object " << i;
    EXPECT_EQ(0, stranger.releases);
  }
  for (size_t i = 0; i < objects.size(); ++i)
    EXPECT_EQ(held[i], objects[i].releases) << "released again by the destructor: " << i;
}

// A Release that forgets its object and holds another while every reference goes: the walk
// releases what was held when it began, and the new reference is released later.
TEST(ScriptReferencesTest, AReleaseThatHoldsAnotherObjectLeavesItForLater) {
  for (const int objects_before : {1, 20}) {
    Counted later;
    std::vector<Counted> objects(static_cast<size_t>(objects_before));
    {
      ScriptReferences references;
      for (Counted& object : objects)
        references.Hold(&object);
      objects.back().references = &references;
      objects.back().then = &later;
      references.ReleaseAll();
      for (const Counted& object : objects)
        EXPECT_EQ(1, object.releases);
      EXPECT_EQ(0, later.releases);
    }
    EXPECT_EQ(1, later.releases) << objects_before << " objects before";
    for (const Counted& object : objects)
      EXPECT_EQ(1, object.releases);
  }
}

}  // namespace
