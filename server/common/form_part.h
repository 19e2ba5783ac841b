// FormPart: the record of one part of a multipart body (a form field or an uploaded file), and
// UploadParts, the records of one upload shared by the upload object and the objects that
// scripts get for them.
#pragma once

#include <deque>

#include "KaObList.h"
#include "KaText.h"
#include "small_blocks.h"
#include "vtrl_module.h"

class FormPart : public CKaObject, public PlatformSmallObject {
 public:
  // A new empty record, or null when memory is short.
  static FormPart* Create();
  ~FormPart() override;

  CKaText Name;
  CKaText FileName;
  CKaText MimeType;
  char* Data = nullptr;  // library block: Size content bytes, then a zero byte
  int Size = 0;
  int ZipSize = 0;

 private:
  FormPart() = default;
};

// The part records of an upload and the server object of its page. The upload object and every
// item and attachment object hold a reference, so a script that keeps an element after the
// upload object is gone still reads live records. It references none of them: no cycle.
// Records in body order, reached by position. Grown in small blocks: a body of many fields
// never asks the heap for one large block while it is full of small freed ones, which makes
// the C library consolidate them all.
using PartIndex = std::deque<FormPart*>;

class UploadParts {
 public:
  // A new set with one reference, or null when memory is short.
  static UploadParts* Create();
  void AddRef() { ++refs_; }
  void Release() {
    if (--refs_ == 0)
      delete this;
  }

  CKaObList ItemList;        // form fields, in body order
  CKaObList AttachmentList;  // uploaded files, in body order
  // The same records in the same order, for walks: a list is reached by position only, which
  // would make every walk quadratic.
  PartIndex Items;
  PartIndex Attachments;

  // Appends record to the field or file list (by its file name); false when memory is short,
  // and then neither list holds it.
  bool Append(FormPart* record);
  // The page's server object while the upload object holds one (borrowed from it): path
  // mapping for the attachments' saves. Null outside a page.
  IServer* Server = nullptr;

 private:
  UploadParts() = default;
  ~UploadParts() = default;
  int refs_ = 1;
};
