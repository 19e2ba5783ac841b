// CKaText: the system's text value. One pointer to a zero-terminated block of the library
// allocator; no stored length, no spare capacity, deep copies. A character is one byte.
//
// Every member that changes the length builds a new block of exactly length + 1 bytes from a
// copy of its sources, then releases the old block, so a source inside the object's own block
// is read intact. When the library allocator fails, the member leaves the text as it was (a
// constructor gives the empty text); no member writes outside a block.
#pragma once

#include <stdarg.h>

#include "KaMsUtilApi.h"

class KAMSUTIL_API CKaText {
 public:
  CKaText();
  CKaText(const char* s);  // NOLINT(google-explicit-constructor): texts convert freely.
  CKaText(char ch, int count);
  // count below 1 gives the empty text; otherwise the whole of s is copied (count does not
  // limit it).
  CKaText(const char* s, int count);
  CKaText(const CKaText& other);
  ~CKaText();

  const CKaText& operator=(const CKaText& other);
  const CKaText& operator=(char ch);
  const CKaText& operator=(const char* s);
  const CKaText& operator=(char* s);
  const CKaText& operator+=(const CKaText& other);
  const CKaText& operator+=(char ch);
  const CKaText& operator+=(const char* s);

  // The block itself, writable, valid until the next member that renews the block.
  operator const char*() const;     // NOLINT(google-explicit-constructor)
  operator char*() const;           // NOLINT(google-explicit-constructor)
  operator unsigned char*() const;  // NOLINT(google-explicit-constructor)
  char* GetData() const;
  // Takes ownership of p (a zero-terminated library block) without releasing the previous
  // block, which the caller must have taken over. A null p gives the empty text.
  void SetData(char* p);

  int GetLength() const;
  int IsEmpty() const;
  void Empty();
  // The byte at i as a signed value; 0 outside the text.
  char operator[](int i) const;

  int Find(const char* sub) const;
  int ReverseFind(char ch) const;
  int FindOneOf(const char* set) const;
  int FindNoCase(const char* sub) const;

  int Compare(const char* s) const;
  int CompareNoCase(const char* s) const;

  CKaText Mid(int first, int count) const;
  CKaText Mid(int first) const;
  CKaText Left(int count) const;
  CKaText Right(int count) const;
  CKaText SpanIncluding(const char* set) const;
  CKaText SpanExcluding(const char* set) const;

  const char* MakeUpper();
  const char* MakeLower();
  const char* MakeReverse();
  const char* TrimLeft();
  const char* TrimRight();

  // A zero-filled block of max(minLength, length) + 1 bytes holding the text; null when the
  // allocator fails (the text is then unchanged).
  char* GetBuffer(unsigned int minLength);
  void ReleaseBuffer();

  // printf-style formatting into a block sized by an estimate of the output; output beyond
  // the estimate is cut. Conversions follow the platform's formatter: l is 32-bit for integers,
  // I64 and ll are 64-bit, %S and %ls take UTF-16 text.
  void Format(const char* fmt, ...);

 private:
  void FormatV(const char* fmt, va_list args);
  void AllocBuffer(unsigned int n);
  void AllocCopy(CKaText& dest, int count, int index) const;
  void AssignCopy(int length, const char* src);
  void ConcatCopy(int length1, const char* src1, int length2, const char* src2);

  char* m_pData;
};
