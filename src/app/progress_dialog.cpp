#include "app/progress_dialog.h"

#include "common/messages.h"

#include <commctrl.h>

HINSTANCE appInstance;

namespace {

// Written once in WM_INITDIALOG, before the worker exists; read on the UI thread only.
struct Row {
    int barId;
    int iconId;
    HWND bar;
    HWND icon;
};
Row rows[] = {{IDC_COM_BAR, IDC_COM_ICON, nullptr, nullptr},
              {IDC_NET_BAR, IDC_NET_ICON, nullptr, nullptr},
              {IDC_ARC_BAR, IDC_ARC_ICON, nullptr, nullptr}};
HICON pendingIcon;
HICON successIcon;
HICON failureIcon;

constexpr COLORREF BarColour = 0x00FF0000;

HICON LoadStatusIcon(int id)
{
    return static_cast<HICON>(LoadImageA(appInstance, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_DEFAULTSIZE));
}

// The status code stays on the control as well, so that another process
// (a test driver) can tell which picture it shows: icon handles are per process.
void ShowStatus(HWND icon, int status)
{
    HICON picture = status == STATUS_CODE_SUCCESS ? successIcon : status == STATUS_CODE_FAILURE ? failureIcon : pendingIcon;
    SetWindowLongPtrA(icon, GWLP_USERDATA, status);
    SendMessageA(icon, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(picture));
}

const Row* RowOfBar(LPARAM id)
{
    for (const Row& row : rows)
        if (row.barId == id)
            return &row;
    return nullptr;
}

const Row* RowOfIcon(LPARAM id)
{
    for (const Row& row : rows)
        if (row.iconId == id)
            return &row;
    return nullptr;
}

void Initialise(HWND dialog)
{
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    if (HMENU menu = GetSystemMenu(dialog, FALSE))
        EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

    for (Row& row : rows) {
        row.bar = GetDlgItem(dialog, row.barId);
        row.icon = GetDlgItem(dialog, row.iconId);
    }
    for (const Row& row : rows)
        SendMessageA(row.bar, PBM_SETBARCOLOR, 0, BarColour);

    pendingIcon = LoadStatusIcon(IDI_PENDING);
    successIcon = LoadStatusIcon(IDI_SUCCESS);
    failureIcon = LoadStatusIcon(IDI_FAILURE);

    for (const Row& row : rows) {
        SetWindowPos(row.icon, nullptr, 0, 0, 16, 16, SWP_NOMOVE | SWP_NOZORDER);
        ShowStatus(row.icon, STATUS_CODE_PENDING);
    }
}

void SetProgress(int position, LPARAM barId)
{
    const Row* row = RowOfBar(barId);
    if (!row)
        return;
    SendMessageA(row->bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    if (position == 100)
        ShowStatus(row->icon, STATUS_CODE_SUCCESS);
    else if (position == -1)
        ShowStatus(row->icon, STATUS_CODE_FAILURE);
}

void SetStatus(WPARAM status, LPARAM iconId)
{
    const Row* row = RowOfIcon(iconId);
    if (!row || status > STATUS_CODE_FAILURE)
        return;
    ShowStatus(row->icon, static_cast<int>(status));
}

} // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        Initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDOK)
            return FALSE;
        // Posted or sent from outside while the work goes on, OK is not obeyed.
        if (IsWindowEnabled(GetDlgItem(dialog, IDOK)))
            DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        // However the window goes (OK clicked, posted or sent from another
        // process), the UI thread leaves its loop: a message handled inside
        // GetMessageA would not make it return.
        PostQuitMessage(0);
        return FALSE;
    case UM_SETPROGRESS:
        SetProgress(static_cast<int>(wParam), lParam);
        return TRUE;
    case UM_SETSTATUS:
        SetStatus(wParam, lParam);
        return TRUE;
    case UM_SETTEXT:
        SetDlgItemTextA(dialog, static_cast<int>(lParam), reinterpret_cast<const char*>(wParam));
        return TRUE;
    case UM_FINISH:
        PostQuitMessage(0);
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}
