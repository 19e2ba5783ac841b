// The fixed Korean messages of KaMsUtil, kept in one place, and their way into the shared
// last-error text in the process's ANSI code page.
#pragma once

#include "ka_alloc.h"

enum class KaMessage {
  kOutOfMemory,
  kFileInUse,
  kDirectoryNotEmpty,
  kPathNotFound,
};

// The message as code page 949 bytes.
KAMSUTIL_HIDDEN const char* ka_message_949(KaMessage message);

// Sets the shared last-error text to the message: the code page 949 bytes themselves when the
// ANSI code page is 949 (the default), the same text converted otherwise.
KAMSUTIL_HIDDEN void ka_set_error(KaMessage message);
