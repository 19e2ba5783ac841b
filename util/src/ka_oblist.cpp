// The object list: handle-level ka*ObList functions over nodes of the library allocator, and
// the owning classes CKaObject and CKaObList.
#include "KaObList.h"

#include "ka_alloc.h"
#include "ka_messages.h"

namespace {

KaListNode* new_node(void* element) {
  auto* node = static_cast<KaListNode*>(ka_alloc(sizeof(KaListNode)));
  if (!node) {
    ka_set_error(KaMessage::kOutOfMemory);
    return nullptr;
  }
  node->element = element;
  return node;
}

// Links node between previous and next.
void link(KaListNode* node, KaListNode* previous, KaListNode* next) {
  node->previous = previous;
  node->next = next;
  previous->next = node;
  next->previous = node;
}

// Unlinks and releases node; returns its element.
void* unlink(KaListHead* list, KaListNode* node) {
  void* element = node->element;
  if (node->previous)
    node->previous->next = node->next;
  if (node->next)
    node->next->previous = node->previous;
  ka_free(node);
  --list->count;
  return element;
}

KaListNode* node_at(KaListHead* list, int index) {
  if (!list || index < 0 || index >= list->count)
    return nullptr;
  KaListNode* node = list->head->next;
  for (int i = 0; i < index && node != list->tail; ++i)
    node = node->next;
  return node != list->tail ? node : nullptr;
}

KaListNode* node_of(KaListHead* list, void* element) {
  if (!list)
    return nullptr;
  for (KaListNode* node = list->head->next; node != list->tail; node = node->next)
    if (node->element == element)
      return node;
  return nullptr;
}

}  // namespace

KaListHead* kaNewObList(void) {
  auto* list = static_cast<KaListHead*>(ka_alloc(sizeof(KaListHead)));
  KaListNode* head = list ? static_cast<KaListNode*>(ka_alloc(sizeof(KaListNode))) : nullptr;
  KaListNode* tail = head ? static_cast<KaListNode*>(ka_alloc(sizeof(KaListNode))) : nullptr;
  if (!tail) {
    // A list without both sentinels is no list: give back what was had.
    ka_free(head);
    ka_free(list);
    ka_set_error(KaMessage::kOutOfMemory);
    return nullptr;
  }
  head->next = tail;
  tail->previous = head;
  list->head = head;
  list->tail = tail;
  return list;
}

int kaFreeObList(KaListHead** list) {
  if (!list || !*list)
    return 0;
  KaListHead* l = *list;
  while (l->head->next != l->tail)
    ka_free(unlink(l, l->head->next));
  ka_free(l->head);
  ka_free(l->tail);
  ka_free(l);
  return 0;
}

int kaAddHeadObList(KaListHead* list, void* element) {
  if (!list)
    return -1;
  KaListNode* node = new_node(element);
  if (!node)
    return -1;
  link(node, list->head, list->head->next);
  ++list->count;
  return 0;
}

int kaAddTailObList(KaListHead* list, void* element) {
  if (!list)
    return -1;
  KaListNode* node = new_node(element);
  if (!node)
    return -1;
  link(node, list->tail->previous, list->tail);
  ++list->count;
  return 0;
}

void* kaRemoveAtObList(KaListHead* list, int index) {
  KaListNode* node = node_at(list, index);
  return node ? unlink(list, node) : nullptr;
}

void* kaRemoveObList(KaListHead* list, void* element) {
  KaListNode* node = node_of(list, element);
  return node ? unlink(list, node) : nullptr;
}

void* kaFindAtObList(KaListHead* list, int index) {
  KaListNode* node = node_at(list, index);
  return node ? node->element : nullptr;
}

void* kaFindObList(KaListHead* list, void* element) {
  return node_of(list, element) ? element : nullptr;
}

int kaCountObList(KaListHead* list) {
  return list ? list->count : 0;
}

CKaObject::CKaObject() = default;
CKaObject::CKaObject(const CKaObject&) = default;
CKaObject& CKaObject::operator=(const CKaObject&) {
  return *this;
}
CKaObject::~CKaObject() = default;

CKaObList::CKaObList() : list_(kaNewObList()) {}

CKaObList::CKaObList(const CKaObList&) : list_(kaNewObList()) {}

CKaObList& CKaObList::operator=(const CKaObList&) {
  return *this;
}

CKaObList::~CKaObList() {
  RemoveAll();
  kaFreeObList(&list_);
}

int CKaObList::AddHead(CKaObject* element) {
  return kaAddHeadObList(list_, element) == 0;
}

int CKaObList::AddTail(CKaObject* element) {
  return kaAddTailObList(list_, element) == 0;
}

CKaObject* CKaObList::RemoveAt(int index) {
  return static_cast<CKaObject*>(kaRemoveAtObList(list_, index));
}

CKaObject* CKaObList::Remove(CKaObject* element) {
  return static_cast<CKaObject*>(kaRemoveObList(list_, element));
}

CKaObject* CKaObList::FindAt(int index) const {
  return static_cast<CKaObject*>(kaFindAtObList(list_, index));
}

CKaObject* CKaObList::Find(CKaObject* element) const {
  return static_cast<CKaObject*>(kaFindObList(list_, element));
}

int CKaObList::GetCount() const {
  return kaCountObList(list_);
}

void CKaObList::RemoveAll() {
  while (kaCountObList(list_) > 0)
    delete static_cast<CKaObject*>(kaRemoveAtObList(list_, 0));
}
