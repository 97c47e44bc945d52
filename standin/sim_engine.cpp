// Command effects and export answers of the simulated library.
#include "sim_engine.h"

#include <algorithm>
#include <cstring>

SimState DefaultSimState() {
    SimState state;
    AttachDefaultDevices(state.devices);
    return state;
}

namespace {

SimOutcome Fail(std::string error) {
    SimOutcome outcome;
    outcome.ok = false;
    outcome.error = std::move(error);
    return outcome;
}

uint32_t DeviceCount(const SimState& state) { return uint32_t(state.devices.slots.size()); }

SimOutcome Attach(SimState& state, const SimCommand& command, bool fireArrival) {
    uint32_t mask = 0;
    switch (AttachDevice(state.devices, MakeSimDevice(command.device), mask)) {
    case SimAttach::Duplicate:
        return Fail("device " + std::to_string(command.device.id) + " is already attached");
    case SimAttach::Full:
        return Fail("no free slot for device " + std::to_string(command.device.id));
    case SimAttach::Attached:
        break;
    }
    SimOutcome outcome;
    if (fireArrival)
        outcome.events.push_back({kIspEventArrival, mask, DeviceCount(state)});
    return outcome;
}

} // namespace

SimOutcome ApplySimCommand(SimState& state, const SimCommand& command) {
    SimOutcome outcome;
    switch (command.kind) {
    case SimCommandKind::Device:
        return Attach(state, command, false);
    case SimCommandKind::Plug:
        return Attach(state, command, true);
    case SimCommandKind::Unplug: {
        uint32_t mask = 0;
        if (!DetachDevice(state.devices, command.device.id, mask))
            return Fail("device " + std::to_string(command.device.id) + " is not attached");
        outcome.events.push_back({kSimEventRemoval, mask, DeviceCount(state)});
        break;
    }
    case SimCommandKind::UnplugAll: {
        // Nothing attached means nothing changed, so no event either.
        uint32_t mask = DetachAllDevices(state.devices);
        if (mask != 0)
            outcome.events.push_back({kSimEventRemoval, mask, 0});
        break;
    }
    case SimCommandKind::OptionResult:
        state.optionResult = int32_t(command.value);
        break;
    case SimCommandKind::Mode:
        state.modeSet = command.enabled;
        state.mode = command.enabled ? command.code : 0;
        break;
    case SimCommandKind::FlashResult:
        state.flashResult = int32_t(command.value);
        break;
    case SimCommandKind::FlashMs:
        state.flashMs = command.value;
        break;
    case SimCommandKind::UnplugDuringWrite:
    case SimCommandKind::UnplugAfterSearch: {
        std::vector<uint32_t>& armed = command.kind == SimCommandKind::UnplugDuringWrite
                                           ? state.unplugDuringWrite
                                           : state.unplugAfterSearch;
        if (std::find(armed.begin(), armed.end(), command.device.id) == armed.end())
            armed.push_back(command.device.id);
        break;
    }
    case SimCommandKind::EnumCount:
        state.enumCountSet = command.enabled;
        state.enumCount = command.enabled ? command.value : 0;
        break;
    case SimCommandKind::UnterminatedNames:
        state.unterminatedNames = command.enabled;
        break;
    case SimCommandKind::Event:
        outcome.events.push_back({command.code, command.mask, command.count});
        break;
    case SimCommandKind::Storm:
        outcome.events.assign(
            command.value, SimEvent{command.code, AllSlotsMask(state.devices), DeviceCount(state)});
        break;
    case SimCommandKind::Wait:
        outcome.waitMs = command.value;
        break;
    case SimCommandKind::EnumMs:
        state.enumMs = command.value;
        break;
    case SimCommandKind::SyncCallbacks:
        state.syncCallbacks = command.enabled;
        break;
    case SimCommandKind::LockedCallbacks:
        state.lockedCallbacks = command.enabled;
        break;
    case SimCommandKind::RescanMs:
        state.rescanMs = command.value;
        break;
    }
    return outcome;
}

int32_t EnumerateSimDevices(const SimState& state, IspDeviceInfo* records, uint32_t maxCount) {
    uint32_t attached = DeviceCount(state);
    uint32_t reported = state.enumCountSet ? state.enumCount : attached;
    uint32_t written = std::min({attached, reported, maxCount});
    if (records != nullptr) {
        for (uint32_t i = 0; i < written; ++i)
            FillDeviceRecord(state.devices.slots[i], state.unterminatedNames, records[i]);
    }
    // The number of records written, as the interface says; a scripted count
    // is a library that breaks it on purpose.
    return int32_t(state.enumCountSet ? reported : written);
}

int32_t RegisterSimOption(const SimState& state, IspOption& record) {
    // The scripted mode is written whatever the answer, as a library that
    // fills in the record before refusing it would.
    if (state.modeSet)
        IspPutU32(record, isp_option::kMode, uint32_t(state.mode));
    return state.optionResult;
}

bool ArrivalOnRegistration(const SimState& state, int32_t result, SimEvent& event) {
    if (!state.syncCallbacks || result == 0 || state.devices.slots.empty())
        return false;
    event = {kIspEventArrival, AllSlotsMask(state.devices), DeviceCount(state)};
    return true;
}

bool ChangeInSearch(const SimState& state, bool insideCallback, SimEvent& event) {
    if (!state.syncCallbacks || insideCallback)
        return false;
    event = {kSimEventChange, AllSlotsMask(state.devices), DeviceCount(state)};
    return true;
}

uint32_t EventCallbackField(const IspOption& record) {
    if (IspGetU32(record, isp_option::kEventNotify) == 0)
        return 0;
    return IspGetU32(record, isp_option::kCallback);
}

SimFlashPlan PlanSimFlash(SimState& state, uint32_t deviceId, bool haveImage, uint32_t length) {
    SimFlashPlan plan;
    if (!haveImage || length == 0) {
        plan.error = "no-image";
        return plan;
    }
    if (length > kSimMaxImage) {
        plan.error = "image-too-large";
        return plan;
    }
    if (FindSlot(state.devices, deviceId) < 0) {
        plan.error = "no-device";
        return plan;
    }
    auto armed =
        std::find(state.unplugDuringWrite.begin(), state.unplugDuringWrite.end(), deviceId);
    plan.durationMs = state.flashMs;
    if (armed != state.unplugDuringWrite.end()) {
        state.unplugDuringWrite.erase(armed);
        plan.unplugHalfway = true;
        plan.result = 0;
    } else {
        plan.result = state.flashResult;
    }
    return plan;
}

SimImageChange CompareImage(const uint8_t* atStart, const uint8_t* atEnd, uint32_t length) {
    SimImageChange change;
    for (uint32_t i = 0; i < length; ++i) {
        if (atStart[i] == atEnd[i])
            continue;
        if (change.bytes++ == 0)
            change.first = i;
    }
    return change;
}

bool UnplugArmed(SimState& state, uint32_t deviceId, SimEvent& event) {
    uint32_t mask = 0;
    if (!DetachDevice(state.devices, deviceId, mask))
        return false;
    event = {kSimEventRemoval, mask, DeviceCount(state)};
    return true;
}
