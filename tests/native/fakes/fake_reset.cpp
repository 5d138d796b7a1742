// Puts the plug-in's module-wide state and every fake back to zero, so that
// each test starts as if the module had just been loaded.
#include <cstring>

#include "fakes/fakes_internal.h"
#include "plugin/plugin_state.h"
#include "presence/publication_lock.h"
#include "presence/publisher.h"
#include "presence/update_pacing.h"
#include "presence/wall_clock.h"

namespace fake {

// Longer before the clock's start than any wait of the pacing.
static const uint32_t LongAgoMs = 60000;

static void ResetPluginState(void) {
    configDialog.store(nullptr);
    processCount.store(0);
    presence = DiscordRichPresence{};
    expectedRemaining.store(0);
    hostWindow = nullptr;
    misc = nullptr;
    status = nullptr;
    StoreSettings(0, 0, 0);
    module = nullptr;
    publishedState = Playing;
    observedState = Playing;
    lastProcessCount = 0;
    republishRequested.store(false);
    notifiedPositionPending.store(false);
    notifiedPosition.store(0);
    notifiedAtMs.store(0);
    instanceLive.store(false);
    std::memset(versionText, 0, sizeof versionText);
    std::memset(detailsBuffer, 0, sizeof detailsBuffer);
    std::memset(largeImageTextBuffer, 0, sizeof largeImageTextBuffer);
    std::memset(stateBuffer, 0, sizeof stateBuffer);
}

void StoreSettings(int32_t showAlbumDate, int32_t showVersion, int32_t timeMode) {
    settings.showAlbumDate.store(showAlbumDate);
    settings.showVersion.store(showVersion);
    settings.timeMode.store(timeMode);
}

void ForgetLastUpdate(void) {
    // As after a clear long before: nothing shows, nothing is held, and the
    // clock may stand anywhere from the count's start on.
    LockPublication();
    DropHeldUpdate();
    NoteClearSent(ReadMonotonicMs() - LongAgoMs);
    UnlockPublication();
}

void Reset(void) {
    // Taken before the fakes' mutex: a publication takes them in that order.
    CancelClosedTrack();
    {
        std::lock_guard<std::mutex> hold(FakeMutex());
        ResetPluginState();
        ResetLog();
        ResetPlayer();
        ResetLibrary();
        ResetWindows();
        ResetClock();
    }
    ForgetLastUpdate();
}

}  // namespace fake
