// Costs of the plug-in's hot paths against the fake player and library:
// Process (called for every block of audio), a quiet playing tick (every two
// seconds while a track plays), and a full publication. The baseline is an
// empty call through a function pointer, measured in the same run; the fake
// player's own share of a tick is measured apart.
#include <benchmark/benchmark.h>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"
#include "presence/composer.h"

namespace {

const int32_t Remaining = 170;  // length 200, position 30

// NOLINTNEXTLINE(readability-non-const-parameter): the Process slot's signature
__attribute__((noinline)) uint32_t XMP_STDCALL EmptySlot(void* inst, float* data, uint32_t count) {
    (void)inst;
    (void)data;
    (void)count;
    return 0;
}

// A live instance playing a track, with the guard in step.
const XMPDSP* StartPlaying() {
    fake::Reset();
    fake::SetVersion(0x03080500u);
    fake::SetTrack(fake::Track{"Artist - Title", "200", "Album", "1999", "MP3", 30.0});
    fake::SetPlaying(1);
    const XMPDSP* dsp = fake::BindPlugin();
    dsp->New();
    return dsp;
}

void BM_BaselineEmptyCall(benchmark::State& state) {
    uint32_t(XMP_STDCALL * slot)(void*, float*, uint32_t) = EmptySlot;
    for (auto _ : state) {
        benchmark::DoNotOptimize(slot);
        benchmark::DoNotOptimize(slot(nullptr, nullptr, 0));
    }
}
BENCHMARK(BM_BaselineEmptyCall);

void BM_Process(benchmark::State& state) {
    const XMPDSP* dsp = StartPlaying();
    for (auto _ : state) {
        benchmark::DoNotOptimize(dsp);
        benchmark::DoNotOptimize(dsp->Process(nullptr, nullptr, 0));
    }
    dsp->Free(nullptr);
}
BENCHMARK(BM_Process);

void BM_QuietPlayingTick(benchmark::State& state) {
    const XMPDSP* dsp = StartPlaying();
    RunMonitorTick();  // the new instance's first tick shows the card
    publishedState = Playing;
    const size_t sentBefore = fake::PresenceCount();
    for (auto _ : state) {
        dsp->Process(nullptr, nullptr, 0);
        expectedRemaining = Remaining + 2;  // the track advanced by the tick's 2 seconds
        RunMonitorTick();
    }
    if (fake::PresenceCount() != sentBefore) state.SkipWithError("a quiet tick published");
    dsp->Free(nullptr);
}
BENCHMARK(BM_QuietPlayingTick);

// What the fake player alone costs of a quiet tick: the same four calls.
void BM_QuietTickPlayerCallsOnly(benchmark::State& state) {
    const XMPDSP* dsp = StartPlaying();
    for (auto _ : state) {
        benchmark::DoNotOptimize(status->IsPlaying());
        char* text = misc->GetTag(TagLengthSeconds);
        benchmark::DoNotOptimize(text);
        misc->Free(text);
        benchmark::DoNotOptimize(status->GetTime());
    }
    dsp->Free(nullptr);
}
BENCHMARK(BM_QuietTickPlayerCallsOnly);

void BM_FullPublication(benchmark::State& state) {
    const XMPDSP* dsp = StartPlaying();
    const size_t sentBefore = fake::PresenceCount();
    size_t published = 0;
    for (auto _ : state) {
        // A card of its own each time, its clock ten seconds from the last:
        // one like the card shown would not be sent.
        fake::SetPosition((published++ & 1u) != 0 ? 30.0 : 40.0);
        PublishCurrentTrack();
    }
    if (fake::PresenceCount() - sentBefore != published) state.SkipWithError("a publication was not sent");
    if (!fake::TextsBalanced()) state.SkipWithError("a player text was not released");
    dsp->Free(nullptr);
}
BENCHMARK(BM_FullPublication);

}  // namespace

BENCHMARK_MAIN();
