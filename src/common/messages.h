// The progress window's private messages, control ids and status codes,
// shared by the window and by everything that reports to it.
#pragma once

#include "common/control_ids.h"

// Messages (WM_APP + n). SendMessageA only: the text of UM_SETTEXT is read
// before the call returns.
constexpr unsigned UM_SETPROGRESS = 0x8001; // wParam: 0..100 or -1; lParam: bar id
constexpr unsigned UM_SETSTATUS = 0x8002;   // wParam: status code; lParam: icon id
constexpr unsigned UM_SETTEXT = 0x8003;     // wParam: const char*; lParam: control id
constexpr unsigned UM_FINISH = 0x8004;      // wParam 0, lParam 0

// Status codes of UM_SETSTATUS.
constexpr int STATUS_CODE_PENDING = 0;
constexpr int STATUS_CODE_SUCCESS = 1;
constexpr int STATUS_CODE_FAILURE = 2;
