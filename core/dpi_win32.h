// Pixels at the display's scale. The program declares itself aware of each
// monitor's DPI, so Windows never stretches its windows: what is given in
// pixels for 96 DPI (100%) is scaled here, and at 96 DPI stays exactly as it is.
#pragma once

#include <windows.h>

enum { BASE_DPI = 96 };

// The DPI of the monitor the window is on.
int dpi_of_window(HWND window);
// Pixels given for 96 DPI, at dpi.
int dpi_scale(int pixels, int dpi);
// A system metric (SM_CXSMICON, ...) at dpi.
int dpi_metric(int metric, int dpi);
