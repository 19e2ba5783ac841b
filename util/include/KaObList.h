// The object list of KaMsUtil: a doubly linked list of pointers between two sentinel nodes,
// reached through a handle and the ka*ObList functions, and CKaObList, which wraps one such
// list and owns the CKaObject elements in it. Positions count from 0 at the head; an index that
// is negative or not below the count finds nothing. A list is used by one thread at a time.
#pragma once

#include "KaMsUtilApi.h"

// One node; the head sentinel has no previous node, the tail sentinel no next one.
struct KaListNode {
  void* element;
  KaListNode* previous;
  KaListNode* next;
};

// The record behind a list handle. An empty list is head->next == tail.
struct KaListHead {
  int count;
  KaListNode* head;
  KaListNode* tail;
};

// A new empty list; null when the allocator fails, with the last-error text set to the
// out-of-memory message.
KAMSUTIL_FUNC KaListHead* kaNewObList(void);

// Releases every node, every element (with the library allocator: the elements must be library
// blocks or null), the sentinels and the head record. The caller's handle variable keeps its
// value. Returns 0; a null address or handle is a harmless no-op.
KAMSUTIL_FUNC int kaFreeObList(KaListHead** list);

// Insert element (null allowed) at the head or at the tail. 0; -1 when the node cannot be
// allocated (the list is unchanged and the last-error text is the out-of-memory message) or the
// list is null.
KAMSUTIL_FUNC int kaAddHeadObList(KaListHead* list, void* element);
KAMSUTIL_FUNC int kaAddTailObList(KaListHead* list, void* element);

// Unlink the node at index, or the first node from the head holding element, and return its
// element, which is not released; null when there is no such node.
KAMSUTIL_FUNC void* kaRemoveAtObList(KaListHead* list, int index);
KAMSUTIL_FUNC void* kaRemoveObList(KaListHead* list, void* element);

// The element at index, or element itself when a node holds it; null otherwise.
KAMSUTIL_FUNC void* kaFindAtObList(KaListHead* list, int index);
KAMSUTIL_FUNC void* kaFindObList(KaListHead* list, void* element);

// The number of element nodes; 0 for a null list.
KAMSUTIL_FUNC int kaCountObList(KaListHead* list);

// The base of every element that a CKaObList owns: deleting through a CKaObject pointer runs
// the derived destructor and returns the memory to the module that made the element.
class KAMSUTIL_API CKaObject {
 public:
  CKaObject();
  CKaObject(const CKaObject& other);
  // Copies nothing: the base has no data.
  CKaObject& operator=(const CKaObject& other);
  virtual ~CKaObject();
};

// A list that owns its elements: RemoveAll and the destructor delete them. RemoveAt and Remove
// hand an element back to the caller, who owns it from then on.
//
// Copying builds a list of its own: a copy holds no elements (they cannot be duplicated
// through the base class) and an assignment leaves the target unchanged, so every element
// stays owned by exactly one list.
class KAMSUTIL_API CKaObList {
 public:
  CKaObList();
  CKaObList(const CKaObList& other);
  CKaObList& operator=(const CKaObList& other);
  virtual ~CKaObList();

  // 1 on success; 0 when the node cannot be allocated (the caller still owns element).
  int AddHead(CKaObject* element);
  int AddTail(CKaObject* element);
  CKaObject* RemoveAt(int index);
  CKaObject* Remove(CKaObject* element);
  CKaObject* FindAt(int index) const;
  CKaObject* Find(CKaObject* element) const;
  int GetCount() const;
  // Deletes every element from the head on; null elements are only unlinked.
  void RemoveAll();

 private:
  KaListHead* list_;
};
