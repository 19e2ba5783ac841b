// The body of an attachment response, handed out a piece at a time. A download writes each
// piece to the response as it comes, so besides what the response holds it keeps one piece of
// a file or of a decompressed output, never the whole.
#pragma once

#include "KaZlibReader.h"
#include "report_error.h"
#include "scoped_variant.h"
#include "vtrl_module.h"

// Bytes in each piece of a body read from a file or decompressed, but the last.
constexpr DWORD kAttachmentPiece = 0x100000;

class AttachmentBody {
 public:
  virtual ~AttachmentBody() = default;

  // Next
  // Gives the next piece of the body.
  // Params:  piece [O] a byte array (VT_ARRAY | VT_UI1, lower bound 0) owned by the body and
  //          valid until the next call; null when the body has ended.
  // Returns: S_OK with a piece; the first call always gives one, empty for an empty body.
  //          S_FALSE when the body has ended.
  //          a failure status, reported when the body has a message for it. The pieces given
  //          before were then not the whole body.
  virtual HRESULT Next(const VARIANT** piece) = 0;
};

// A body that is one byte array, made beforehand.
class WholeBody final : public AttachmentBody {
 public:
  // Takes the array out of *bytes.
  explicit WholeBody(ScopedVariant* bytes) { bytes_.Swap(*bytes); }
  HRESULT Next(const VARIANT** piece) override;

 private:
  ScopedVariant bytes_;
  bool given_ = false;
};

// A body read into one piece array, used again for every full piece; a short last piece is
// given as a copy of its own size.
class ReadBody : public AttachmentBody {
 public:
  HRESULT Next(const VARIANT** piece) final;

 protected:
  // Bytes of the piece array, asked once at the first piece.
  virtual DWORD PieceSize() const = 0;
  // Fills data with the next bytes of the body, *got of them: capacity unless the body ends.
  virtual HRESULT Fill(char* data, DWORD capacity, DWORD* got) = 0;

 private:
  ScopedVariant full_;
  ScopedVariant last_;
  bool ended_ = false;
};

// The bytes of an open file up to size, the length its status gave. A file that holds fewer
// ends there; one that holds more is read to size. A read that fails gives E_INVALIDARG.
class FileBody final : public ReadBody {
 public:
  FileBody(HANDLE file, DWORD size) : file_(file), left_(size) {}

 protected:
  DWORD PieceSize() const override;
  HRESULT Fill(char* data, DWORD capacity, DWORD* got) override;

 private:
  HANDLE file_;  // not owned
  DWORD left_;
};

// The output of an open reader. Damaged input, an output past the limit or memory running out
// gives E_FAIL with failure reported for the download class.
class UnzippedBody final : public ReadBody {
 public:
  UnzippedBody(CKaZlibReader* reader, VtrlMessage failure) : reader_(reader), failure_(failure) {}

 protected:
  DWORD PieceSize() const override { return kAttachmentPiece; }
  HRESULT Fill(char* data, DWORD capacity, DWORD* got) override;

 private:
  CKaZlibReader* reader_;  // not owned
  VtrlMessage failure_;
};
