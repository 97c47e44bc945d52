#include "guarded_calls.h"

#include <windows.h>

#include <cstdio>

#if defined(__i386__)
// Calls function with count 32-bit arguments and stores in *stackLeft how
// many bytes of them the callee left on the stack (stdcall: 0, cdecl: all),
// then puts the stack back as it was, so a cdecl export is measured rather
// than crashed on. The stack pointer is kept in EBX, which both conventions
// preserve.
extern "C" int32_t ProbeCallWithStackCheck(uintptr_t function, const uint32_t* args, uint32_t count,
                                           int32_t* stackLeft);
asm(".text\n"
    ".globl _ProbeCallWithStackCheck\n"
    "_ProbeCallWithStackCheck:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl 12(%ebp), %esi\n"
    "    movl 16(%ebp), %ecx\n"
    "    movl %esp, %ebx\n"
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    pushl -4(%esi,%ecx,4)\n"
    "    decl %ecx\n"
    "    jmp 1b\n"
    "2:  call *8(%ebp)\n"
    "    movl %ebx, %ecx\n"
    "    subl %esp, %ecx\n"
    "    movl 20(%ebp), %edx\n"
    "    movl %ecx, (%edx)\n"
    "    leal -12(%ebp), %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n");
#endif

namespace {
std::atomic<uint8_t> g_lastCall{0};
std::atomic<int64_t> g_lastCallStart{0};
uintptr_t g_setIspOption = 0;
uintptr_t g_enumDevices = 0;

int64_t Frequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return frequency;
}

LibraryCall CallOfThread(uint32_t thread) {
    for (const CallSlot& slot : Run().calls)
        if (slot.thread.load() == thread)
            return static_cast<LibraryCall>(slot.call.load());
    return LibraryCall::None;
}

// Marks the calling thread as inside a call for its lifetime.
class InsideCall {
public:
    explicit InsideCall(LibraryCall call) : start_(Ticks()) {
        g_lastCall = static_cast<uint8_t>(call);
        g_lastCallStart = start_;
        for (CallSlot& slot : Run().calls) {
            bool expected = false;
            if (slot.claimed.compare_exchange_strong(expected, true)) {
                slot.call = static_cast<uint8_t>(call);
                slot.start = start_;
                slot.thread = GetCurrentThreadId();
                slot_ = &slot;
                return;
            }
        }
    }
    ~InsideCall() {
        if (slot_ != nullptr) {
            slot_->thread = 0;
            slot_->claimed = false;
        }
    }
    InsideCall(const InsideCall&) = delete;
    InsideCall& operator=(const InsideCall&) = delete;
    double Elapsed() const { return TicksToMs(Ticks() - start_); }

private:
    int64_t start_;
    CallSlot* slot_ = nullptr;
};

// Error exceptions only (warnings and information, as debugger output
// raises, are not faults), and none of a program's own codes, such as a
// C++ throw, which the library may catch itself.
bool IsFault(DWORD code) {
    return (code & 0xC0000000u) == 0xC0000000u && (code & 0x20000000u) == 0;
}

// Both handlers run on whatever stack the faulting thread has left, a stack
// overflow's included: they only store into the shared record.
void Record(const EXCEPTION_RECORD* record) {
    ExceptionSeen& seen = Run().exception;
    seen.code = record->ExceptionCode;
    seen.address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    seen.accessed =
        record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2
            ? record->ExceptionInformation[1]
            : 0;
    seen.thread = GetCurrentThreadId();
    seen.call = static_cast<uint8_t>(CallOfThread(GetCurrentThreadId()));
    seen.count.fetch_add(1);
}

LONG WINAPI OnException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (!IsFault(record->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    Record(record);
    // Nothing survives a stack overflow: ending here spares the system's
    // handlers a stack that is gone (64-bit Wine then ends the process with
    // status 0).
    if (record->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        Run().exception.unhandled = true;
        TerminateProcess(GetCurrentProcess(), EXCEPTION_STACK_OVERFLOW);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    Record(record);
    Run().exception.unhandled = true;
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

template <typename Function> Function EntryAs(uintptr_t entry) {
    return reinterpret_cast<Function>(entry);
}
} // namespace

const char* LibraryCallName(LibraryCall call) {
    switch (call) {
    case LibraryCall::Load:
        return "Loading the library (its DllMain)";
    case LibraryCall::SetIspOption:
        return "Tamla_SetIspOption";
    case LibraryCall::EnumDevices:
        return "Tamla_EnumDevices";
    case LibraryCall::None:
        break;
    }
    return "no call";
}

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToMs(int64_t ticks) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(Frequency());
}

double NowMs() { return TicksToMs(Ticks() - Run().originTicks); }

void GuardChild() {
    Run().mainThread = GetCurrentThreadId();
    // No error box of the system's may hold a crashed child open: the
    // parent would take it for a hang.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    AddVectoredExceptionHandler(1, OnException);
    SetUnhandledExceptionFilter(OnUnhandledException);
}

void* GuardedLoad(const wchar_t* path, uint32_t* error) {
    InsideCall inside(LibraryCall::Load);
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    *error = module == nullptr ? GetLastError() : 0;
    return module;
}

void SetLibraryEntries(uintptr_t setIspOption, uintptr_t enumDevices) {
    g_setIspOption = setIspOption;
    g_enumDevices = enumDevices;
}

CallOutcome GuardedSetIspOption(IspOption* record) {
    CallOutcome outcome{};
    InsideCall inside(LibraryCall::SetIspOption);
#if defined(__i386__)
    const uint32_t args[] = {reinterpret_cast<uint32_t>(record)};
    outcome.result = ProbeCallWithStackCheck(g_setIspOption, args, 1, &outcome.stackLeft);
#else
    using Function = int32_t(ISP_CALL*)(IspOption*);
    outcome.result = EntryAs<Function>(g_setIspOption)(record);
    outcome.stackLeft = kStackNotChecked;
#endif
    outcome.ms = inside.Elapsed();
    return outcome;
}

CallOutcome GuardedEnumDevices(IspDeviceInfo* table, uint32_t maxCount) {
    CallOutcome outcome{};
    InsideCall inside(LibraryCall::EnumDevices);
#if defined(__i386__)
    const uint32_t args[] = {reinterpret_cast<uint32_t>(table), maxCount};
    outcome.result = ProbeCallWithStackCheck(g_enumDevices, args, 2, &outcome.stackLeft);
#else
    using Function = int32_t(ISP_CALL*)(IspDeviceInfo*, uint32_t);
    outcome.result = EntryAs<Function>(g_enumDevices)(table, maxCount);
    outcome.stackLeft = kStackNotChecked;
#endif
    outcome.ms = inside.Elapsed();
    return outcome;
}

LibraryCall CallInsideThisThread() { return CallOfThread(GetCurrentThreadId()); }

bool AnyCallInside() {
    for (const CallSlot& slot : Run().calls)
        if (slot.thread.load() != 0)
            return true;
    return false;
}

LibraryCall LastCallStarted(double* msSince) {
    *msSince = TicksToMs(Ticks() - g_lastCallStart.load());
    return static_cast<LibraryCall>(g_lastCall.load());
}

void StackText(char* buffer, size_t size, int32_t stackLeft, uint32_t argumentBytes) {
    if (stackLeft == kStackNotChecked)
        std::snprintf(buffer, size, "stack not checked (x64 has one calling convention)");
    else if (stackLeft == 0)
        std::snprintf(buffer, size, "stack as stdcall leaves it (%u bytes of arguments removed)",
                      static_cast<unsigned>(argumentBytes));
    else if (stackLeft == static_cast<int32_t>(argumentBytes))
        std::snprintf(buffer, size, "left its %d bytes of arguments on the stack (cdecl)",
                      static_cast<int>(stackLeft));
    else if (stackLeft < 0)
        std::snprintf(buffer, size, "removed %d bytes more than its %u bytes of arguments",
                      static_cast<int>(-stackLeft), static_cast<unsigned>(argumentBytes));
    else
        std::snprintf(buffer, size, "left %d of its %u bytes of arguments on the stack",
                      static_cast<int>(stackLeft), static_cast<unsigned>(argumentBytes));
}
