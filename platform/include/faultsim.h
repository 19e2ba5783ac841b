// Allocation fault simulation for tests. Every allocator of the project (the utility library's
// blocks, BSTRs, VARIANT and SAFEARRAY storage, task memory) asks FaultSimStep before it
// allocates, so a test can make the Nth allocation fail and walk every out-of-memory path.
// Not part of the Windows-shaped headers.
#pragma once

#include "platform_export.h"
#include "windef.h"

// FaultSimConfig
// Arms the simulator: the nth allocation from now fails (nth >= 1); with persistent TRUE every
// later one fails too. nth 0 disarms it. Resets the count of injected faults.
// Notes:   the setting is process-wide; allocations on every thread count.
WINAPI_EXPORT void FaultSimConfig(int nth, BOOL persistent);

// FaultSimStep
// Called by an allocator before each allocation. Returns TRUE when this one must fail.
// Notes:   costs one relaxed atomic load while the simulator is disarmed.
WINAPI_EXPORT BOOL FaultSimStep(void);

// FaultSimFaults
// Returns the number of allocations failed since the last FaultSimConfig.
WINAPI_EXPORT int FaultSimFaults(void);
