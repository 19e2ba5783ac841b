// CKaZlibReader: decompresses what CKaZlib wrote a piece at a time, into buffers of the
// caller's, so an output of any size passes through a buffer of fixed size: a download sends
// each piece on as it comes and never holds the whole output. It reads the zlib stream that
// Compress makes and any gzip file (several members included), checks them as UnCompress and
// UnZip2Buffer do, and stops at the same output limit (KaZlibLimit.h).
#pragma once

#include <stddef.h>

#include "KaZlibApi.h"
#include "windef.h"

class KAZLIB_API CKaZlibReader {
 public:
  CKaZlibReader();
  virtual ~CKaZlibReader();
  CKaZlibReader(const CKaZlibReader&) = delete;
  CKaZlibReader& operator=(const CKaZlibReader&) = delete;

  // OpenStream
  // Starts reading one zlib stream that fills size bytes at data exactly.
  // Params:  data [I] only read, and kept: it must stay until the reader is done or reopened.
  //          size [I]
  // Returns: nonzero; 0 for a null or empty input, or memory running out.
  int OpenStream(const char* data, unsigned long size);

  // OpenFile
  // Reads the gzip file at path (its compressed bytes, whole) and starts reading from them.
  // Params:  path [I] a narrow path in the ANSI code page.
  // Returns: nonzero; 0 for a missing, unreadable or empty file, a file past the output limit,
  //          or memory running out.
  int OpenFile(const char* path);

  // Read
  // Decompresses the next bytes of the output into out.
  // Params:  out [O] capacity bytes. capacity [I] above 0. got [O] bytes written to out.
  // Returns: nonzero. *got is capacity while more may follow; fewer (0 included) only when the
  //          output has ended and the whole input was checked: every checksum and size, and
  //          nothing after the end that is not another gzip member. Later reads give 0 bytes.
  //          0 for a reader that is not open, corrupt or truncated input, bytes after the end,
  //          output past the output limit, or memory running out. The reader is then closed:
  //          what earlier reads gave was not the whole of a good output.
  int Read(char* out, DWORD capacity, DWORD* got);

  // Bytes of output read so far.
  DWORD GetTotal() const;

 private:
  struct State;

  // Opens over size bytes at data; 0 when they cannot be read or memory runs out.
  int Start(const char* data, size_t size, bool gzip);
  void Close();

  State* state_;
};
