// Pixels at the display's scale. Windows 10 1607 and later give each window
// the DPI of its monitor; before them, and where the functions are missing,
// every window has the system's DPI, so they are looked up, not linked.
#include "core/dpi_win32.h"

typedef UINT(WINAPI* DpiForWindow)(HWND);
typedef int(WINAPI* MetricForDpi)(int, UINT);

static FARPROC user32_function(const char* name)
{
    return GetProcAddress(GetModuleHandleA("user32.dll"), name);
}

int dpi_of_window(HWND window)
{
    DpiForWindow for_window = (DpiForWindow)(void*)user32_function("GetDpiForWindow");
    if (for_window && window)
        return (int)for_window(window);
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    return dpi;
}

int dpi_scale(int pixels, int dpi)
{
    return MulDiv(pixels, dpi, BASE_DPI);
}

int dpi_metric(int metric, int dpi)
{
    MetricForDpi for_dpi = (MetricForDpi)(void*)user32_function("GetSystemMetricsForDpi");
    return for_dpi ? for_dpi(metric, (UINT)dpi) : GetSystemMetrics(metric);
}
