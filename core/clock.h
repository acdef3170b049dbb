// The system's millisecond tick count (GetTickCount on Windows).
#pragma once

#include <stdint.h>

uint32_t clock_ticks(void);
