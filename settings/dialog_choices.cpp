// The settings dialog's decisions: the clock button shown on opening and the
// settings OK stores.
#include "settings/dialog_choices.h"

#include "plugin/plugin_state.h"
#include "presence/publisher.h"
#include "settings/resource_ids.h"

// Clock mode 0, 1 and 2 show buttons IDC_TIME_REMAINING onwards, in order.
int32_t ClockButtonForMode(int32_t timeMode) {
    switch (timeMode) {
    case TimeRemaining: return IDC_TIME_REMAINING;
    case TimeElapsed: return IDC_TIME_ELAPSED;
    case TimeDisabled: return IDC_TIME_DISABLED;
    default: return 0;
    }
}

// The controls are read in a fixed order: album date, version, then the
// elapsed button before the remaining one. The disabled button is never
// asked: a group with no button checked also means no clock.
void StoreDialogChoices(HostWindow dialog, ControlCheckedProc isChecked) {
    settings.showAlbumDate.store(isChecked(dialog, IDC_SHOW_ALBUM_DATE) ? 1 : 0, std::memory_order_relaxed);

    const int32_t showVersion = isChecked(dialog, IDC_SHOW_VERSION) ? 1 : 0;
    if (showVersion != settings.showVersion.load(std::memory_order_relaxed)) {
        settings.showVersion.store(showVersion, std::memory_order_relaxed);
        UpdateVersionText();
    }

    int32_t timeMode = TimeDisabled;
    if (isChecked(dialog, IDC_TIME_ELAPSED)) {
        timeMode = TimeElapsed;
    } else if (isChecked(dialog, IDC_TIME_REMAINING)) {
        timeMode = TimeRemaining;
    }
    settings.timeMode.store(timeMode, std::memory_order_relaxed);

    // The next tick publishes what it sees afresh, with the new settings.
    // The request is stored last and releasing: the tick takes it acquiring,
    // so the settings above are in place for it (see the playback monitor).
    republishRequested.store(true, std::memory_order_release);
}
