// The settings dialog's decisions, kept free of Windows so that they can be
// tested natively: which clock button shows the stored mode when the dialog
// opens, and what OK stores. The dialog procedure supplies the controls.
#pragma once

#include <cstdint>

#include "host/xmp_host.h"

// Answers whether the given button of the open dialog is checked.
typedef bool (*ControlCheckedProc)(HostWindow dialog, int32_t control);

// The radio button that shows timeMode when the dialog opens, or 0 for a
// mode outside 0 to 2, which leaves all three buttons clear.
int32_t ClockButtonForMode(int32_t timeMode);

// What OK does before the dialog ends: stores the two flags (rebuilding the
// large image's text only when showVersion changed) and the clock mode read
// from the controls, then asks the monitor's next tick to publish what it
// sees afresh: the track playing or paused, or the stopped presence.
void StoreDialogChoices(HostWindow dialog, ControlCheckedProc isChecked);
