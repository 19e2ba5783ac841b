// CKaZlib: compresses and decompresses whole blocks of attachment data. Compress and
// UnCompress work in memory with the zlib stream format (RFC 1950); Zip2File writes a gzip file
// (RFC 1952) that gunzip opens, and UnZip2Buffer reads any gzip file, several members included.
//
// Each operation returns nonzero on success and 0 on failure. On success the result fields hold
// the operation's output; on failure the object is empty (null data, size 0), whatever it held
// before. The object owns the result data: callers copy it before the object is destroyed and
// never release it. No output, and no input to compress, may pass the output limit (2^31 - 1
// bytes unless lowered, KaZlibLimit.h), so a decompression bomb stops there.
#pragma once

#include "KaZlibApi.h"
#include "windef.h"

class KAZLIB_API CKaZlib {
 public:
  CKaZlib();
  virtual ~CKaZlib();
  CKaZlib(const CKaZlib&) = delete;
  CKaZlib& operator=(const CKaZlib&) = delete;

  // Compress
  // Compresses size bytes at data into a zlib stream.
  // Params:  data [I] may be null when size is 0; it is only read. size [I]
  // Returns: nonzero; the result holds the stream (an empty input gives a valid stream).
  //          0 when data is null with a nonzero size, size passes the output limit (the stream
  //          could never be decompressed), the stream would pass it, or memory runs out.
  int Compress(char* data, unsigned long size);

  // UnCompress
  // Decompresses one zlib stream that fills size bytes at data exactly.
  // Params:  data [I] only read. size [I]
  // Returns: nonzero; the result holds the original bytes.
  //          0 for an empty, corrupt or truncated stream, bytes after the stream's end, an
  //          output past the output limit, or memory running out.
  int UnCompress(char* data, unsigned long size);

  // Zip2File
  // Compresses size bytes at data into a gzip file at path, created or replaced.
  // Params:  data [I] may be null when size is 0; only read. size [I]
  //          path [I] a narrow path in the ANSI code page.
  // Returns: nonzero; the result holds the bytes written and their count.
  //          0 as Compress, or when the file cannot be created or fully written.
  // Notes:   the data is compressed before the file is opened, so a failed compression leaves
  //          an existing file untouched; a failed write or close removes the partial file.
  int Zip2File(char* data, unsigned long size, const char* path);

  // UnZip2Buffer
  // Reads the gzip file at path and decompresses every member in it, in order.
  // Params:  path [I] a narrow path in the ANSI code page.
  // Returns: nonzero; the result holds the decompressed bytes.
  //          0 for a missing or unreadable file, an empty, corrupt or truncated file, bytes
  //          after the last member that do not form a member, a file or an output past the
  //          output limit, or memory running out.
  // Notes:   the size recorded in a member's trailer is only a hint for the first buffer; it
  //          is checked against the real output, never trusted for an allocation beyond what
  //          the compressed size can expand to.
  int UnZip2Buffer(const char* path);

  // Output of the last operation, owned by the object: null when it failed or none ran yet.
  // Callers read these two fields directly, in this order, after the virtual table.
  char* m_pResultData;
  DWORD m_dwResultSize;
};
