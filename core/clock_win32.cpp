#include <windows.h>

#include "core/clock.h"

uint32_t clock_ticks(void)
{
    return GetTickCount();
}

uint64_t clock_ms(void)
{
    return GetTickCount64();
}
