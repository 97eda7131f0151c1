// The rows of the progress window that the repair operations report to.
#pragma once

#include "common/messages.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

struct ProgressRow {
    int label;
    int bar;
    int icon;
};

constexpr ProgressRow ComRow{IDC_COM_LABEL, IDC_COM_BAR, IDC_COM_ICON};
constexpr ProgressRow NetRow{IDC_NET_LABEL, IDC_NET_BAR, IDC_NET_ICON};
constexpr ProgressRow ArcObjectsRow{IDC_ARC_LABEL, IDC_ARC_BAR, IDC_ARC_ICON};

// Synchronous, so the window has copied text before the call returns.
// With a null window nothing is sent.
void ReportLabel(HWND window, const ProgressRow& row, const char* text);
void ReportPosition(HWND window, const ProgressRow& row, int position);
void ReportStatus(HWND window, const ProgressRow& row, int status);

// The first file that failed on a row in a pass; later failures keep it.
void NoteFailure(std::optional<std::string>& firstFailure, std::string_view file);

// Ends a row whose work failed: the label names the file that failed and the
// icon shows the failure, whatever the last position turned it to.
void ReportRowFailure(HWND window, const ProgressRow& row, const std::string& failedFile);
