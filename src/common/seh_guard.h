// Calls into code that is not ours, such as a module's self-registration
// export, so that a structured exception it raises (an access violation, say)
// ends that call and not the whole process.
#pragma once

#include <windows.h>

using GuardedFunction = HRESULT(WINAPI*)();

// Calls function and stores what it returned in result. False when an
// exception ended the call; result then keeps what it held. The frames of
// the function are unwound, so its own handlers still run. A function that
// calls ExitProcess or never returns cannot be contained in-process.
bool CallGuarded(GuardedFunction function, HRESULT& result);
