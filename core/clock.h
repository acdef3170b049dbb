// The system's millisecond tick counts (GetTickCount and GetTickCount64 on
// Windows).
#pragma once

#include <stdint.h>

uint32_t clock_ticks(void);

// Milliseconds since the system started, time asleep included: the
// interval between periodic checks is real time, not timer messages.
uint64_t clock_ms(void);
