#include "repair/progress_row.h"

void ReportLabel(HWND window, const ProgressRow& row, const char* text)
{
    if (window)
        SendMessageA(window, UM_SETTEXT, reinterpret_cast<WPARAM>(text), row.label);
}

void ReportPosition(HWND window, const ProgressRow& row, int position)
{
    if (window)
        SendMessageA(window, UM_SETPROGRESS, static_cast<WPARAM>(position), row.bar);
}

void ReportStatus(HWND window, const ProgressRow& row, int status)
{
    if (window)
        SendMessageA(window, UM_SETSTATUS, static_cast<WPARAM>(status), row.icon);
}
