// The three exports of the stand-in library and its DllMain. Decisions live
// in sim_engine; this file waits out writes, keeps the registered callback
// and logs each call.
#include "isp_api.h"
#include "sim_call_log_win32.h"
#include "sim_engine.h"
#include "sim_lock_win32.h"
#include "sim_log_format.h"
#include "sim_threads_win32.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// How long a write or a search that unplugged a device waits for the removal
// to reach the tool before it answers anyway.
constexpr DWORD kDeliveryWaitMs = 10000;
constexpr DWORD kWriteSliceMs = 10;

// Only code can be called back; anything else would crash the event thread.
bool IsExecutable(uint32_t field) {
    DeviceEventCallback callback = IspDecodeCallback(field);
    MEMORY_BASIC_INFORMATION info;
    if (callback == nullptr ||
        VirtualQuery(reinterpret_cast<const void*>(callback), &info, sizeof info) == 0)
        return false;
    const DWORD executable =
        PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return info.State == MEM_COMMIT && (info.Protect & executable) != 0;
}

// Sleeps for a write's duration in slices; false when the device went away
// meanwhile (an unplug command during the write).
bool WriteFor(SimContext& sim, uint32_t deviceId, DWORD durationMs) {
    ULONGLONG deadline = GetTickCount64() + durationMs;
    for (;;) {
        {
            Locked hold(sim.stateLock);
            if (FindSlot(sim.state.devices, deviceId) < 0)
                return false;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return true;
        Sleep(DWORD(deadline - now < kWriteSliceMs ? deadline - now : kWriteSliceMs));
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        StartCallLogClock();
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" {

int32_t ISP_CALL Tamla_EnumDevices(IspDeviceInfo* devices, uint32_t maxCount) {
    SimContext& sim = Simulator();
    SimCallModes modes = ReadCallModes(sim);
    // Armed when the search starts, so a search already scanning when the
    // command ran is not the one that unplugs.
    std::vector<uint32_t> unplugAfter;
    {
        Locked hold(sim.stateLock);
        unplugAfter.swap(sim.state.unplugAfterSearch);
    }
    // The scan comes before the lock: a search can be under way while the
    // event thread holds the lock and calls back.
    if (modes.enumMs > 0)
        Sleep(modes.enumMs);
    int32_t result = 0;
    uint64_t token = 0;
    {
        LibraryLockHold library(sim.libraryLock, modes.lockedCallbacks);
        if (modes.syncCallbacks) {
            DeliverQueuedEvents(sim, "Tamla_EnumDevices");
            SimEvent change;
            bool reportChange = false;
            {
                Locked hold(sim.stateLock);
                reportChange = ChangeInSearch(sim.state, InsideCallback(), change);
            }
            if (reportChange)
                DeliverEvent(sim, change, "Tamla_EnumDevices");
        }
        std::vector<SimEvent> removals(unplugAfter.size());
        std::vector<bool> unplugged(unplugAfter.size());
        {
            Locked hold(sim.stateLock);
            result = EnumerateSimDevices(sim.state, devices, maxCount);
            for (size_t i = 0; i < unplugAfter.size(); ++i)
                unplugged[i] = UnplugArmed(sim.state, unplugAfter[i], removals[i]);
        }
        for (size_t i = 0; i < unplugAfter.size(); ++i) {
            std::string id = std::to_string(unplugAfter[i]);
            if (!unplugged[i]) {
                LogCall(sim.log, "error unplug-after-search id=" + id + ": not attached");
                continue;
            }
            LogCall(sim.log, "unplug-after-search id=" + id);
            token = QueueEvent(sim, removals[i]);
        }
        if (token == 0) {
            LogCall(sim.log, EnumCallText(maxCount, result));
            return result;
        }
    }
    // The records name the device that has just gone; the search answers
    // once the removal has reached the tool, outside the library's lock the
    // event thread may need for it.
    WaitDelivered(sim, token, kDeliveryWaitMs);
    LogCall(sim.log, EnumCallText(maxCount, result));
    return result;
}

int32_t ISP_CALL Tamla_SetIspOption(IspOption* option) {
    SimContext& sim = Simulator();
    SimCallModes modes = ReadCallModes(sim);
    LibraryLockHold library(sim.libraryLock, modes.lockedCallbacks);
    if (option == nullptr) {
        LogCall(sim.log, "Tamla_SetIspOption record=null -> 0");
        return 0;
    }
    const IspOption passed = *option;
    int32_t result = 0;
    SimEvent arrival;
    bool reportAttached = false;
    {
        Locked hold(sim.stateLock);
        result = RegisterSimOption(sim.state, *option);
        reportAttached = ArrivalOnRegistration(sim.state, result, arrival);
    }
    uint32_t field = EventCallbackField(passed);
    // A refused registration leaves the previous one in force.
    if (result != 0) {
        if (field != 0 && !IsExecutable(field)) {
            char text[64];
            std::snprintf(text, sizeof text, "error callback 0x%08X is not code; events off",
                          unsigned(field));
            LogCall(sim.log, text);
            field = 0;
        }
        sim.callbackField.store(field);
    }
    if (reportAttached) {
        // Finding the attached devices takes a scan, as a search does.
        if (modes.enumMs > 0)
            Sleep(modes.enumMs);
        DeliverEvent(sim, arrival, "Tamla_SetIspOption");
    }
    int32_t mode = int32_t(IspGetU32(passed, isp_option::kMode));
    LogCallWithDump(
        sim.log, "option", passed.bytes, sizeof passed.bytes, [&](const std::string& dump) {
            return OptionCallText(mode, IspGetU32(passed, isp_option::kCallback), result, dump);
        });
    return result;
}

int32_t ISP_CALL Tamla_FlashProgramB(uint32_t deviceId, const uint8_t* image, uint32_t length,
                                     int32_t arg4, int32_t arg5, int32_t arg6, int32_t arg7) {
    SimContext& sim = Simulator();
    const bool locked = ReadCallModes(sim).lockedCallbacks;
    const int32_t args[4] = {arg4, arg5, arg6, arg7};
    // The library's lock covers the write's bookkeeping, not its wait.
    SimFlashPlan plan;
    std::vector<uint8_t> copy;
    {
        LibraryLockHold library(sim.libraryLock, locked);
        {
            Locked hold(sim.stateLock);
            plan = PlanSimFlash(sim.state, deviceId, image != nullptr, length);
        }
        if (plan.error != nullptr) {
            LogCall(sim.log,
                    FlashCallText(deviceId, length, args, 0, std::string("error=") + plan.error));
            return 0;
        }
        // The image as passed, before the caller can touch its buffer again.
        copy.assign(image, image + length);
    }
    int32_t result = plan.result;
    if (plan.unplugHalfway) {
        WriteFor(sim, deviceId, plan.durationMs / 2);
        uint64_t token = 0;
        {
            LibraryLockHold library(sim.libraryLock, locked);
            SimEvent event;
            bool unplugged = false;
            {
                Locked hold(sim.stateLock);
                unplugged = UnplugArmed(sim.state, deviceId, event);
            }
            if (unplugged) {
                LogCall(sim.log, "unplug-during-write id=" + std::to_string(deviceId));
                token = QueueEvent(sim, event);
            }
        }
        if (token != 0) {
            Sleep(plan.durationMs - plan.durationMs / 2);
            WaitDelivered(sim, token, kDeliveryWaitMs);
        }
        result = 0;
    } else if (!WriteFor(sim, deviceId, plan.durationMs)) {
        result = 0;
    }
    LibraryLockHold library(sim.libraryLock, locked);
    // A device reads the buffer while it writes: a change meanwhile would
    // reach it as a mix of two images.
    SimImageChange change = CompareImage(copy.data(), image, length);
    if (change.bytes > 0)
        LogCall(sim.log, ImageChangedText(deviceId, change));
    LogCallWithDump(sim.log, "flash", copy.data(), copy.size(), [&](const std::string& dump) {
        return FlashCallText(deviceId, length, args, result, dump);
    });
    return result;
}

} // extern "C"
