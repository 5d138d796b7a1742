// A gate inside a stand-in library: a test can hold the library's callers
// inside it until it lets them go, and the gate counts how many callers are
// inside at once. The native fake of the presence library and the recording
// stand-in of discord-rpc.dll both keep one, so that a test can stop a
// caller in the middle of a library call and see what other threads do
// meanwhile. Portable: no Windows header.
//
// A library's function calls GateEnter first and GateLeave last; each
// function has a kind, a number from 0 to 31 of the library's choosing.
#pragma once

#include <cstdint>

// A caller has entered one of the library's functions.
void GateEnter(void);

// A caller of the given kind is about to leave: while its kind is held it
// waits here, counted as held, until released; then it is counted out.
void GateLeave(uint32_t kind);

// From now on, callers of the kinds in kindMask (bit k for kind k) are held.
void GateHold(uint32_t kindMask);

// Lets go the callers held now; later callers of a held kind wait again.
void GateReleaseHeld(void);

// Lets every held caller go and holds nothing any more.
void GateStopHolding(void);

// Waits up to timeoutMs until at least count callers of the kind are held;
// true when they are.
bool GateWaitForHeld(uint32_t kind, uint32_t count, uint32_t timeoutMs);

// The most callers that were inside at once since the last GateResetMost.
uint32_t GateMostInside(void);

// Starts counting the most callers inside at once afresh, from those inside now.
void GateResetMost(void);
