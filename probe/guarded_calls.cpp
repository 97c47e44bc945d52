#include "guarded_calls.h"

#include "probe_run.h"

#include <windows.h>

#include <atomic>
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
constexpr DWORD kWatchdogPollMs = 50;
// The main thread, the lock check's helper, and room to spare.
constexpr size_t kCallSlots = 4;

struct CallSlot {
    std::atomic<bool> claimed{false};
    std::atomic<uint8_t> call{0};
    std::atomic<int64_t> start{0};
    std::atomic<uint32_t> thread{0}; // set last: the slot is in use
};

CallSlot g_calls[kCallSlots];
std::atomic<uint8_t> g_lastCall{0};
std::atomic<int64_t> g_lastCallStart{0};
LARGE_INTEGER g_frequency;
LARGE_INTEGER g_origin;
uint32_t g_timeoutMs = 30000;
uint32_t g_mainThread = 0;
uintptr_t g_setIspOption = 0;
uintptr_t g_enumDevices = 0;

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToMs(int64_t ticks) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(g_frequency.QuadPart);
}

// Marks the calling thread as inside a call for its lifetime.
class InsideCall {
public:
    explicit InsideCall(LibraryCall call) : start_(Ticks()) {
        g_lastCall = static_cast<uint8_t>(call);
        g_lastCallStart = start_;
        for (CallSlot& slot : g_calls) {
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

DWORD WINAPI Watchdog(void*) {
    for (;;) {
        Sleep(kWatchdogPollMs);
        for (CallSlot& slot : g_calls) {
            if (slot.thread.load() == 0)
                continue;
            if (TicksToMs(Ticks() - slot.start.load()) <= g_timeoutMs)
                continue;
            char cause[192];
            std::snprintf(cause, sizeof cause,
                          "%s did not return within %u s (the probe's time-out per call)",
                          LibraryCallName(static_cast<LibraryCall>(slot.call.load())),
                          static_cast<unsigned>(g_timeoutMs / 1000));
            StopRun(cause, true);
        }
    }
}

// The module and offset of an address, as "TAMLAISPDLL.DLL+0x1234".
void DescribeAddress(char* buffer, size_t size, const void* address) {
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH];
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(address), &module) &&
        GetModuleFileNameW(module, path, MAX_PATH) != 0) {
        const wchar_t* name = path;
        for (const wchar_t* p = path; *p != 0; ++p)
            if (*p == L'\\' || *p == L'/')
                name = p + 1;
        std::snprintf(buffer, size, "%ls+0x%llX", name,
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address) -
                                                      reinterpret_cast<uintptr_t>(module)));
    } else {
        std::snprintf(buffer, size, "0x%llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
    }
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    char where[MAX_PATH + 32];
    DescribeAddress(where, sizeof where, record->ExceptionAddress);
    const LibraryCall inside = CallInsideThisThread();
    char cause[384];
    if (inside != LibraryCall::None)
        std::snprintf(cause, sizeof cause, "%s crashed: exception 0x%08lX at %s",
                      LibraryCallName(inside), static_cast<unsigned long>(record->ExceptionCode),
                      where);
    else if (GetCurrentThreadId() != g_mainThread)
        std::snprintf(cause, sizeof cause,
                      "a crash on a thread the probe did not call from: exception 0x%08lX at %s",
                      static_cast<unsigned long>(record->ExceptionCode), where);
    else
        std::snprintf(cause, sizeof cause, "the probe crashed: exception 0x%08lX at %s",
                      static_cast<unsigned long>(record->ExceptionCode), where);
    StopRun(cause, inside != LibraryCall::None);
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

void StartCallGuard(uint32_t timeoutMs) {
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_origin);
    g_timeoutMs = timeoutMs;
    g_mainThread = GetCurrentThreadId();
    SetUnhandledExceptionFilter(OnUnhandledException);
    HANDLE thread = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

uint32_t CallTimeoutMs() { return g_timeoutMs; }

double NowMs() { return TicksToMs(Ticks() - g_origin.QuadPart); }

uint32_t MainThreadId() { return g_mainThread; }

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

LibraryCall CallInsideThisThread() {
    const uint32_t self = GetCurrentThreadId();
    for (const CallSlot& slot : g_calls)
        if (slot.thread.load() == self)
            return static_cast<LibraryCall>(slot.call.load());
    return LibraryCall::None;
}

bool AnyCallInside() {
    for (const CallSlot& slot : g_calls)
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
    else
        std::snprintf(buffer, size, "moved the stack by %d bytes (%u bytes of arguments)",
                      static_cast<int>(-stackLeft), static_cast<unsigned>(argumentBytes));
}
