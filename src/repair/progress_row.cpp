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

void NoteFailure(std::optional<std::string>& firstFailure, std::string_view file)
{
    if (!firstFailure)
        firstFailure.emplace(file);
}

void ReportRowFailure(HWND window, const ProgressRow& row, const std::string& failedFile)
{
    ReportLabel(window, row, failedFile.c_str());
    ReportStatus(window, row, STATUS_CODE_FAILURE);
}
