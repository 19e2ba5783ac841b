// CKaText: the owned, zero-terminated byte string of the system.
#include "KaText.h"

#include <string.h>

#include "KaString.h"
#include "ka_alloc.h"
#include "ka_format.h"

namespace {

size_t length_of(const char* s) {
  return s ? strlen(s) : 0;
}

char fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int compare_bytes(const char* a, const char* b, bool fold_case) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;; ++x, ++y) {
    unsigned char cx = *x;
    unsigned char cy = *y;
    if (fold_case) {
      cx = static_cast<unsigned char>(fold(static_cast<char>(cx)));
      cy = static_cast<unsigned char>(fold(static_cast<char>(cy)));
    }
    if (cx != cy)
      return cx < cy ? -1 : 1;
    if (!cx)
      return 0;
  }
}

// Length of the leading run of s whose bytes are (or are not) in set.
int span(const char* s, const char* set, bool including) {
  int n = 0;
  for (; s[n]; ++n) {
    const bool in_set = set && *set && strchr(set, s[n]) != nullptr;
    if (in_set != including)
      break;
  }
  return n;
}

}  // namespace

CKaText::CKaText() : m_pData(kaNewString(0)) {
  if (!m_pData)
    m_pData = ka_empty_string();
}

CKaText::CKaText(const char* s) : m_pData(ka_empty_string()) {
  AssignCopy(kaStringLen(s), s);
}

CKaText::CKaText(char ch, int count) : m_pData(ka_empty_string()) {
  if (count < 1 || ch == '\0') {
    AllocBuffer(0);
    return;
  }
  AllocBuffer(static_cast<unsigned int>(count));
  if (m_pData != ka_empty_string())
    memset(m_pData, ch, static_cast<size_t>(count));
}

CKaText::CKaText(const char* s, int count) : m_pData(ka_empty_string()) {
  AssignCopy(count < 1 ? 0 : kaStringLen(s), s);
}

CKaText::CKaText(const CKaText& other) : m_pData(ka_empty_string()) {
  AssignCopy(kaStringLen(other.m_pData), other.m_pData);
}

CKaText::~CKaText() {
  kaFreeString(&m_pData);
}

const CKaText& CKaText::operator=(const CKaText& other) {
  if (m_pData != other.m_pData)
    AssignCopy(kaStringLen(other.m_pData), other.m_pData);
  return *this;
}

const CKaText& CKaText::operator=(char ch) {
  const char one[2] = {ch, '\0'};
  AssignCopy(ch ? 1 : 0, one);
  return *this;
}

const CKaText& CKaText::operator=(const char* s) {
  AssignCopy(kaStringLen(s), s);
  return *this;
}

const CKaText& CKaText::operator=(char* s) {
  return *this = static_cast<const char*>(s);
}

const CKaText& CKaText::operator+=(const CKaText& other) {
  if (other.IsEmpty())
    return *this;
  // Both sources are read into the new block before the old block goes, so s += s works.
  ConcatCopy(GetLength(), m_pData, other.GetLength(), other.m_pData);
  return *this;
}

const CKaText& CKaText::operator+=(char ch) {
  const char one[2] = {ch, '\0'};
  ConcatCopy(GetLength(), m_pData, ch ? 1 : 0, one);
  return *this;
}

const CKaText& CKaText::operator+=(const char* s) {
  ConcatCopy(GetLength(), m_pData, kaStringLen(s), s);
  return *this;
}

CKaText::operator const char*() const {
  return m_pData;
}
CKaText::operator char*() const {
  return m_pData;
}
CKaText::operator unsigned char*() const {
  return reinterpret_cast<unsigned char*>(m_pData);
}
char* CKaText::GetData() const {
  return m_pData;
}

void CKaText::SetData(char* p) {
  m_pData = p ? p : ka_empty_string();
}

int CKaText::GetLength() const {
  return static_cast<int>(length_of(m_pData));
}

int CKaText::IsEmpty() const {
  return GetLength() == 0 ? 1 : 0;
}

void CKaText::Empty() {
  AllocBuffer(0);
}

char CKaText::operator[](int i) const {
  return (i >= 0 && i < GetLength()) ? m_pData[i] : 0;
}

int CKaText::Find(const char* sub) const {
  return kaFindString(m_pData, sub);
}

int CKaText::ReverseFind(char ch) const {
  return kaReverseFindStr(m_pData, ch);
}

int CKaText::FindOneOf(const char* set) const {
  if (!set || !*set)
    return -1;
  const size_t n = strcspn(m_pData, set);
  return m_pData[n] ? static_cast<int>(n) : -1;
}

int CKaText::FindNoCase(const char* sub) const {
  if (IsEmpty())
    return -1;
  if (!sub || !*sub)
    return 0;
  const int length = GetLength();
  const int sub_length = static_cast<int>(strlen(sub));
  for (int at = 0; at + sub_length <= length; ++at) {
    int k = 0;
    while (k < sub_length && fold(m_pData[at + k]) == fold(sub[k]))
      ++k;
    if (k == sub_length)
      return at;
  }
  return -1;
}

int CKaText::Compare(const char* s) const {
  return compare_bytes(m_pData, s, false);
}

int CKaText::CompareNoCase(const char* s) const {
  return compare_bytes(m_pData, s, true);
}

CKaText CKaText::Mid(int first, int count) const {
  const int length = GetLength();
  if (first < 0)
    first = 0;
  if (count < 0)
    count = 0;
  CKaText result;
  if (first > length)
    return result;
  if (static_cast<long long>(first) + count > length)
    count = length - first;
  AllocCopy(result, count, first);
  return result;
}

CKaText CKaText::Mid(int first) const {
  if (first < 0)
    first = 0;
  return Mid(first, GetLength() - first);
}

CKaText CKaText::Left(int count) const {
  const int length = GetLength();
  if (count < 0)
    count = 0;
  if (count > length)
    count = length;
  CKaText result;
  AllocCopy(result, count, 0);
  return result;
}

CKaText CKaText::Right(int count) const {
  const int length = GetLength();
  if (count < 0)
    count = 0;
  if (count > length)
    count = length;
  CKaText result;
  AllocCopy(result, count, length - count);
  return result;
}

CKaText CKaText::SpanIncluding(const char* set) const {
  return Left(span(m_pData, set, true));
}

CKaText CKaText::SpanExcluding(const char* set) const {
  return Left(span(m_pData, set, false));
}

const char* CKaText::MakeUpper() {
  return kaUpperString(m_pData);
}

const char* CKaText::MakeLower() {
  return kaLowerString(m_pData);
}

const char* CKaText::MakeReverse() {
  const size_t n = length_of(m_pData);
  for (size_t i = 0; i < n / 2; ++i) {
    const char c = m_pData[i];
    m_pData[i] = m_pData[n - 1 - i];
    m_pData[n - 1 - i] = c;
  }
  return m_pData;
}

const char* CKaText::TrimLeft() {
  return kaTrimLeft(m_pData);
}

const char* CKaText::TrimRight() {
  return kaTrimRight(m_pData);
}

char* CKaText::GetBuffer(unsigned int minLength) {
  const unsigned int length = static_cast<unsigned int>(GetLength());
  const unsigned int size = minLength > length ? minLength : length;
  char* block = kaNewString(size);
  if (!block)
    return nullptr;
  memcpy(block, m_pData, length);
  kaFreeString(&m_pData);
  m_pData = block;
  return m_pData;
}

void CKaText::ReleaseBuffer() {
  // No length is stored: the first zero byte already ends the text, so nothing needs updating.
}

void CKaText::Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  FormatV(fmt, args);
  va_end(args);
}

void CKaText::FormatV(const char* fmt, va_list args) {
  const size_t estimate = ka_format_estimate(fmt, args);
  char* block = kaNewString(static_cast<unsigned int>(estimate));
  if (!block)
    return;
  // Arguments may point into this text's block: print before the old block goes.
  ka_format_print(block, estimate, fmt, args);
  kaFreeString(&m_pData);
  m_pData = block;
}

void CKaText::AllocBuffer(unsigned int n) {
  char* block = kaNewString(n);
  if (!block)
    return;
  kaFreeString(&m_pData);
  m_pData = block;
}

void CKaText::AllocCopy(CKaText& dest, int count, int index) const {
  if (count <= 0)
    return;
  char* block = kaDataDup(m_pData + index, static_cast<unsigned int>(count));
  if (!block)
    return;
  kaFreeString(&dest.m_pData);
  dest.m_pData = block;
}

void CKaText::AssignCopy(int length, const char* src) {
  char* block = kaNewString(static_cast<unsigned int>(length));
  if (!block)
    return;
  if (src && *src && length > 0)
    memcpy(block, src, static_cast<size_t>(length));
  kaFreeString(&m_pData);
  m_pData = block;
}

void CKaText::ConcatCopy(int length1, const char* src1, int length2, const char* src2) {
  char* block = kaNewString(static_cast<unsigned int>(length1 + length2));
  if (!block)
    return;
  if (length1 > 0)
    memcpy(block, src1, static_cast<size_t>(length1));
  if (length2 > 0)
    memcpy(block + length1, src2, static_cast<size_t>(length2));
  kaFreeString(&m_pData);
  m_pData = block;
}
