// The configuration image against its floor: the same 61440 bytes made by a
// plain fill and copy with every offset known in advance.
#include "config_image.h"
#include "fake_platform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
const ConfigSettings kEveryOption{true, 1000, 7, 500, true, true};

const std::vector<uint8_t>& Payload() {
    static const std::vector<uint8_t> payload = fake_platform::BuildPayload();
    return payload;
}

// The floor: fill, copy, and store the block's bytes as constants.
void FillAndCopy(const uint8_t* payload, uint32_t size, ConfigImageBytes& image) {
    std::memset(image.data(), 0xFF, image.size());
    std::memcpy(image.data(), payload, size);
    static constexpr uint8_t kCount[4] = {0x00, 0x00, 0x03, 0xE8};
    static constexpr uint8_t kWait[4] = {0x00, 0x00, 0x01, 0xF4};
    std::memcpy(image.data() + config_block::kCountLimit, kCount, 4);
    image[config_block::kPortSelect] = 7;
    std::memcpy(image.data() + config_block::kWaitTime, kWait, 4);
    image[config_block::kMachineSignal] = 0xAA;
    image[config_block::kKeepPower] = 0xAA;
    std::memset(image.data() + config_block::kMarker, 0xBB, config_block::kMarkerLength);
}

void BM_ComposeConfigImage(benchmark::State& state) {
    static ConfigImageBytes image;
    const std::vector<uint8_t>& payload = Payload();
    for (auto _ : state) {
        ComposeConfigImage(payload.data(), uint32_t(payload.size()), kEveryOption, image);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}

void BM_FillAndCopyFloor(benchmark::State& state) {
    static ConfigImageBytes image;
    const std::vector<uint8_t>& payload = Payload();
    for (auto _ : state) {
        FillAndCopy(payload.data(), uint32_t(payload.size()), image);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}

BENCHMARK(BM_ComposeConfigImage);
BENCHMARK(BM_FillAndCopyFloor);
} // namespace

int main(int argc, char** argv) {
    // The comparison means nothing unless both make the same bytes.
    static ConfigImageBytes composed;
    static ConfigImageBytes floor;
    const std::vector<uint8_t>& payload = Payload();
    if (payload.empty() || ComposeConfigImage(payload.data(), uint32_t(payload.size()),
                                              kEveryOption, composed) != ImageStatus::Ok) {
        std::fprintf(stderr, "bench_image: no usable firmware payload\n");
        return 1;
    }
    FillAndCopy(payload.data(), uint32_t(payload.size()), floor);
    if (composed != floor) {
        std::fprintf(stderr, "bench_image: the floor does not make the same image\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
