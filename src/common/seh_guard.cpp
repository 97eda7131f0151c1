#include "common/seh_guard.h"

#if defined(_MSC_VER)

bool CallGuarded(GuardedFunction function, HRESULT& result)
{
    __try {
        result = function();
        return true;
    } __except (EXCEPTION_EXECUTE_HANDLER) {
        return false;
    }
}

#elif defined(__GNUC__) && defined(__i386__)

// GCC has no __try. On x86 a frame-based handler is a record on the thread's
// exception list (fs:[0], the TIB's ExceptionList), asked after every handler
// installed above it. Ours unwinds those frames with RtlUnwind and resumes
// after the call, as __except would.
namespace {

struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record; // first: the handler receives its address
    void* resume[5];                      // __builtin_setjmp's buffer
};

// The head of the list is the TIB's first field, at fs:[0].
EXCEPTION_REGISTRATION_RECORD* ExceptionList()
{
    EXCEPTION_REGISTRATION_RECORD* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetExceptionList(EXCEPTION_REGISTRATION_RECORD* head)
{
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

} // namespace

// RtlUnwind on x86 does not keep EBX, ESI and EDI (the context it continues
// with has them zeroed), so the call is wrapped in a thunk that saves them.
extern "C" void __stdcall QexGuardUnwind(void* frame, EXCEPTION_RECORD* record);
asm(".text\n"
    "_QexGuardUnwind@8:\n\t"
    "pushl %ebx\n\t"
    "pushl %esi\n\t"
    "pushl %edi\n\t"
    "pushl %ebp\n\t"
    "pushl $0\n\t"        // ReturnValue
    "pushl 28(%esp)\n\t"  // ExceptionRecord
    "pushl $0\n\t"        // TargetIp: unused on x86, RtlUnwind returns here
    "pushl 32(%esp)\n\t"  // TargetFrame
    "call _RtlUnwind@16\n\t"
    "popl %ebp\n\t"
    "popl %edi\n\t"
    "popl %esi\n\t"
    "popl %ebx\n\t"
    "ret $8\n");

namespace {

EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* record, void* establisherFrame, CONTEXT*, void*)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    GuardFrame* frame = static_cast<GuardFrame*>(establisherFrame);
    // Leaves our record at the head of the list, every frame above it unwound.
    QexGuardUnwind(frame, record);
    __builtin_longjmp(frame->resume, 1);
}

} // namespace

bool CallGuarded(GuardedFunction function, HRESULT& result)
{
    GuardFrame frame;
    frame.record.Handler = GuardHandler;
    frame.record.Next = ExceptionList();
    if (__builtin_setjmp(frame.resume)) {
        SetExceptionList(frame.record.Next);
        return false;
    }
    SetExceptionList(&frame.record);
    const HRESULT returned = function();
    SetExceptionList(frame.record.Next);
    result = returned;
    return true;
}

#else
#error "CallGuarded needs MSVC's __try or an x86 exception list"
#endif
