// The recording stand-in of discord-rpc.dll can also reach Discord's pipe
// the way discord-rpc 3.4.0 does, so that the check of nowglow-appid.exe
// is tested end to end where Discord's own library is not at hand. It is
// on when the environment's NOWGLOW_RECORDER_SPEAKS is set at
// Discord_Initialize; off, the library's functions reach nothing, as a
// library whose functions do nothing.
//
// What it does as 3.4.0 does: its own thread connects to discord-ipc-0 to
// -9 (a missing pipe sends it to the next, a busy one is waited for, any
// other error ends the attempt), sends the handshake, waits for READY, and
// retries at growing intervals from half a second; the presence and its
// clear are queued and sent by that thread; Discord_Shutdown stops the
// thread, so a clear not yet sent by then is lost. The library wakes its
// thread for a presence, and the thread then races Discord_Shutdown; the
// stand-in's thread runs only every half second, the library's slowest, so
// that a clear shut down too soon is lost every time. Discord_RunCallbacks calls ready once READY came,
// errored for an ERROR answer, and disconnected for a lost connection, but
// a lost connection clears the handlers until the next READY, so that
// disconnected reaches the caller only after a reconnection.
#pragma once

#include "presence/discord_rpc.h"

// Whether the environment asks for the speaking library.
bool SpeakerWanted(void);

void SpeakerInitialize(const char* applicationId, const DiscordEventHandlers* handlers);

// Queues a presence, or its clear when presence is null.
void SpeakerUpdate(const DiscordRichPresence* presence);

void SpeakerShutdown(void);

void SpeakerRunCallbacks(void);
