// The plug-in keeps all its state in static storage: a whole session of
// publications, ticks and settings changes must not allocate once. Counted
// through the sanitizer allocator's hooks, which see every malloc and every
// operator new of the process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"
#include "presence/composer.h"
#include "presence/publisher.h"
#include "settings/settings_block.h"

#if defined(__SANITIZE_ADDRESS__)
#define ALLOCATION_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ALLOCATION_HOOKS 1
#endif
#endif

#if defined(ALLOCATION_HOOKS)
// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizer runtime's own name
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, size_t),
                                                         void (*freeHook)(const volatile void*));
#endif

namespace {

thread_local bool counting;
std::atomic<int> allocations;

void CountAllocation(const volatile void*, size_t) {
    if (counting) allocations.fetch_add(1);
}

void IgnoreRelease(const volatile void*) {}

// Counts the allocations made on this thread while run runs.
template <typename Body>
int AllocationsDuring(Body run) {
    allocations.store(0);
    counting = true;
    run();
    counting = false;
    return allocations.load();
}

class Allocation : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(ALLOCATION_HOOKS)
        static const bool installed =
            __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreRelease) != 0;
        if (!installed) GTEST_SKIP() << "the allocator takes no hooks";
#else
        GTEST_SKIP() << "allocations are counted through AddressSanitizer's allocator";
#endif
        fake::Reset();
        fake::SetVersion(0x03080500u);
        fake::SetTrack(fake::Track{"Artist - Title", "200", "Album", "1999", "MP3", 30.0});
        fake::SetPlaying(1);
        dsp = fake::BindPlugin();
    }

    const XMPDSP* dsp = nullptr;
};

TEST_F(Allocation, TheHookSeesAnAllocation) {
    const int seen = AllocationsDuring([] {
        void* volatile block = std::malloc(16);
        std::free(block);
        delete new int(1);
    });
    EXPECT_EQ(seen, 2);
}

TEST_F(Allocation, AWholeSessionAllocatesNothing) {
    const int seen = AllocationsDuring([this] {
        dsp->New();
        const int32_t block[3] = {1, 0, TimeElapsed};
        dsp->SetConfig(nullptr, block, sizeof block);
        dsp->NewTrack(nullptr, "file.mp3");
        for (int tick = 0; tick < 20; tick++) {
            if (tick % 7 != 3) dsp->Process(nullptr, nullptr, 0);  // an occasional pause
            if (tick == 12) fake::SetPlaying(0);
            RunMonitorTick();
            fake::SetPosition(30.0 + 2 * tick);
        }
        settings.timeMode = TimeRemaining;
        dsp->NewTitle(nullptr, "title");
        dsp->Reset(nullptr);
        PublishPlaybackState(Paused);
        settings.showVersion = 1;
        UpdateVersionText();
        dsp->NewTrack(nullptr, nullptr);
        dsp->Free(nullptr);
    });
    EXPECT_EQ(seen, 0);
    EXPECT_GT(fake::PresenceCount(), 5u) << "the session did publish";
    EXPECT_TRUE(fake::TextsBalanced());
}

}  // namespace
