// A folder of a fuzz target's own for the files an input is written into: under
// $VANTREL_FUZZ_SCRATCH when set, else on tmpfs when there is one (files there cost no disk and
// fsync is free); removed when the process exits normally.
#pragma once

#include <string>

namespace fuzz {

// The folder's path, without a trailing '/'. Made on first use; the process ends when it
// cannot be made.
const std::string& ScratchDir();

// Writes bytes into the file at path, replacing it; the process ends when that fails.
void WriteFile(const std::string& path, const void* bytes, size_t size);

}  // namespace fuzz
