// Pacing of the updates handed to the library. Discord keeps about one
// activity update per 15 seconds and silently drops the others, so an
// update goes out at once only when the last one went out long enough ago;
// otherwise it is held, the newest replacing the one before, and goes out
// at the status timer's tick once the time has come. An update that shows
// nothing new is not sent at all. Every function here is called with the
// publication lock held; none calls the player or the library.
#pragma once

#include <cstdint>

#include "presence/discord_rpc.h"

enum UpdatePace : int32_t {
    UpdateUnchanged,  // the card already shows it: nothing to send, and nothing held any more
    UpdateNow,        // send it now: it is noted as the last update sent, at nowMs
    UpdateHeld,       // too soon after the last update: held until UpdateHeldDue
};

// Decides what becomes of the record about to be handed to the library.
UpdatePace PaceUpdate(const DiscordRichPresence* record, uint32_t nowMs);

// True when an update is held and may go now; record (the held update, as
// it stands now) is then noted as the last update sent, at nowMs, and the
// caller hands it to the library.
bool HeldUpdateDue(const DiscordRichPresence* record, uint32_t nowMs);

// Forgets a held update (the instance ends; its clear goes instead).
void DropHeldUpdate(void);

// The presence was cleared at nowMs: the card shows nothing, and the clear
// counts as an update.
void NoteClearSent(uint32_t nowMs);

// A new connection opens: its first update may reach Discord up to the
// connection's set-up later than it is handed over, which the wait after it
// allows for.
void NoteConnectionOpened(void);
