// Tests of the object list: the handle-level functions, the owning class and its copies, and
// allocation failures.
#include "KaObList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KaFile.h"
#include "KaString.h"
#include "child_process.h"
#include "faultsim.h"

namespace {

// "사용 가능한 메모리가 부족합니다." in code page 949.
const char kOutOfMemory[] =
    "\xBB\xE7\xBF\xEB \xB0\xA1\xB4\xC9\xC7\xD1 \xB8\xDE\xB8\xF0\xB8\xAE\xB0\xA1 "
    "\xBA\xCE\xC1\xB7\xC7\xD5\xB4\xCF\xB4\xD9.";

// An element that records its destruction in a shared log.
class Tracked : public CKaObject {
 public:
  Tracked(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
  ~Tracked() override { log_->push_back(name_); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

void* Item(int n) {
  return reinterpret_cast<void*>(static_cast<intptr_t>(n));
}

TEST(KaObList, HandleLevelOrderLookupAndRemoval) {
  KaListHead* list = kaNewObList();
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(0, kaCountObList(list));
  EXPECT_EQ(nullptr, kaFindAtObList(list, 0));
  EXPECT_EQ(nullptr, kaRemoveAtObList(list, 0));

  EXPECT_EQ(0, kaAddTailObList(list, Item(1)));
  EXPECT_EQ(0, kaAddTailObList(list, Item(2)));
  EXPECT_EQ(0, kaAddHeadObList(list, Item(3)));
  EXPECT_EQ(0, kaAddTailObList(list, Item(1)));
  EXPECT_EQ(0, kaAddTailObList(list, nullptr));
  ASSERT_EQ(5, kaCountObList(list));
  EXPECT_EQ(Item(3), kaFindAtObList(list, 0));
  EXPECT_EQ(Item(2), kaFindAtObList(list, 2));
  EXPECT_EQ(nullptr, kaFindAtObList(list, -1));
  EXPECT_EQ(nullptr, kaFindAtObList(list, 5));
  EXPECT_EQ(Item(2), kaFindObList(list, Item(2)));
  EXPECT_EQ(nullptr, kaFindObList(list, Item(9)));

  // The first of two equal elements goes; the second stays.
  EXPECT_EQ(Item(1), kaRemoveObList(list, Item(1)));
  EXPECT_EQ(Item(2), kaFindAtObList(list, 1));
  EXPECT_EQ(Item(1), kaFindAtObList(list, 2));
  EXPECT_EQ(nullptr, kaRemoveObList(list, Item(9)));
  EXPECT_EQ(Item(2), kaRemoveAtObList(list, 1));
  EXPECT_EQ(nullptr, kaRemoveAtObList(list, 3));
  EXPECT_EQ(3, kaCountObList(list));
  // Sentinels stay linked to the ends after removals at both ends.
  EXPECT_EQ(Item(3), kaRemoveAtObList(list, 0));
  EXPECT_EQ(nullptr, kaRemoveAtObList(list, 1));
  EXPECT_EQ(Item(1), kaRemoveAtObList(list, 0));
  EXPECT_EQ(list->tail, list->head->next);
  EXPECT_EQ(list->head, list->tail->previous);
  EXPECT_EQ(0, kaFreeObList(&list));
}

TEST(KaObList, FreeReleasesLibraryBlockElements) {
  KaListHead* list = kaNewObList();
  ASSERT_NE(nullptr, list);
  kaAddTailObList(list, kaStringDup("one"));
  kaAddTailObList(list, kaNewString(100));
  kaAddTailObList(list, nullptr);
  // The leak checker of the sanitizer build proves that the blocks went back.
  EXPECT_EQ(0, kaFreeObList(&list));
  EXPECT_EQ(0, kaFreeObList(nullptr));
  KaListHead* none = nullptr;
  EXPECT_EQ(0, kaFreeObList(&none));
  EXPECT_EQ(-1, kaAddTailObList(nullptr, Item(1)));
  EXPECT_EQ(0, kaCountObList(nullptr));
}

TEST(KaObList, AllocationFailuresLeaveTheListAndSetTheMessage) {
  for (int nth = 1; nth <= 3; ++nth) {
    kaSetErrString("before");
    FaultSimConfig(nth, FALSE);
    KaListHead* list = kaNewObList();
    FaultSimConfig(0, FALSE);
    EXPECT_EQ(nullptr, list) << nth;
    EXPECT_STREQ(kOutOfMemory, kaGetErrString()) << nth;
  }
  KaListHead* list = kaNewObList();
  ASSERT_NE(nullptr, list);
  kaAddTailObList(list, Item(1));
  kaSetErrString("before");
  FaultSimConfig(1, TRUE);
  EXPECT_EQ(-1, kaAddHeadObList(list, Item(2)));
  EXPECT_EQ(-1, kaAddTailObList(list, Item(3)));
  FaultSimConfig(0, FALSE);
  EXPECT_STREQ(kOutOfMemory, kaGetErrString());
  EXPECT_EQ(1, kaCountObList(list));
  EXPECT_EQ(Item(1), kaFindAtObList(list, 0));
  kaRemoveAtObList(list, 0);
  kaFreeObList(&list);
}

TEST(CKaObList, OwnsItsElementsAndDeletesThemFromTheHead) {
  std::vector<std::string> log;
  Tracked* taken = nullptr;
  {
    CKaObList list;
    auto* a = new Tracked(&log, "a");
    auto* b = new Tracked(&log, "b");
    auto* c = new Tracked(&log, "c");
    taken = new Tracked(&log, "taken");
    EXPECT_EQ(1, list.AddTail(a));
    EXPECT_EQ(1, list.AddTail(b));
    EXPECT_EQ(1, list.AddHead(c));
    EXPECT_EQ(1, list.AddTail(taken));
    EXPECT_EQ(1, list.AddTail(nullptr));
    EXPECT_EQ(c, list.FindAt(0));
    EXPECT_EQ(b, list.FindAt(2));
    EXPECT_EQ(b, list.Find(b));
    EXPECT_EQ(taken, list.RemoveAt(3));
    EXPECT_EQ(nullptr, list.Remove(taken));
    EXPECT_EQ(4, list.GetCount());
  }
  EXPECT_EQ((std::vector<std::string>{"c", "a", "b"}), log);
  delete taken;
  EXPECT_EQ("taken", log.back());
}

TEST(CKaObList, AllocationFailureLeavesTheElementWithTheCaller) {
  std::vector<std::string> log;
  CKaObList list;
  Tracked element(&log, "x");
  FaultSimConfig(1, FALSE);
  EXPECT_EQ(0, list.AddTail(&element));
  FaultSimConfig(0, FALSE);
  EXPECT_EQ(0, list.GetCount());
}

TEST(CKaObList, CopiesNeverShareElements) {
  std::vector<std::string> log;
  {
    CKaObList list;
    list.AddTail(new Tracked(&log, "only"));
    CKaObList copy(list);
    EXPECT_EQ(0, copy.GetCount());
    copy.AddTail(new Tracked(&log, "copy's"));
    copy = list;
    list = copy;
    EXPECT_EQ(1, copy.GetCount());
    EXPECT_EQ(1, list.GetCount());
    EXPECT_NE(list.FindAt(0), copy.FindAt(0));
  }
  // Each element deleted once (the copy's first, it was destroyed first).
  EXPECT_EQ((std::vector<std::string>{"copy's", "only"}), log);
}

TEST(CKaObject, CopyAndAssignmentWork) {
  CKaObject a;
  CKaObject b(a);
  CKaObject& same = (b = a);
  EXPECT_EQ(&b, &same);
}

}  // namespace
