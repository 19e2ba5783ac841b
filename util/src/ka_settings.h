// The shared settings block of KaMsUtil: one block of memory for every process that has the
// library loaded, zero when the first of them creates it. Read and written without locks.
#pragma once

#include <stdint.h>

#include "ka_alloc.h"

// Size of each text field, terminator included.
inline constexpr int kKaTextFieldSize = 256;

struct KaSharedSettings {
  char lastError[kKaTextFieldSize];
  char traceFile[kKaTextFieldSize];
  int32_t traceEnabled;
};

// The block, mapped at load (or at first use, should that come first). Never null: when the shared
// block cannot be had, a block of this process stands in for it.
KAMSUTIL_HIDDEN KaSharedSettings* ka_settings();

// Unmaps the block; called when the library unloads.
KAMSUTIL_HIDDEN void ka_release_settings();

// Copies text into a field of kKaTextFieldSize bytes, cut to 255 bytes and zero-terminated.
// Readers in other processes may see a half-written text; the field always stays terminated.
KAMSUTIL_HIDDEN void ka_set_shared_text(char* field, const char* text);
