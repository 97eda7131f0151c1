// The progress window: three rows (COM servers, .NET assemblies, ArcObjects),
// driven from the worker thread by the messages of common/messages.h.
#pragma once

#include <windows.h>

// The module the icons are loaded from; set by WinMain before the window exists.
extern HINSTANCE appInstance;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
