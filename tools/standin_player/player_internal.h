// What the stand-in player's files share among themselves.
#pragma once

#include <string>

#include "tools/standin_player/standin_player.h"

// Adds an entry to the log and returns its sequence number.
uint32_t LogPlayerCall(PlayerCallKind kind, int64_t number = 0, uintptr_t handle = 0, int64_t extra = 0,
                       int64_t result = 0, const std::string& text = std::string(),
                       const std::string& caption = std::string());

// Empties the log and the error list; the sequence goes on.
void ResetPlayerLog(void);

// Finds the sequence of the recording stand-in, when it is loaded.
void BindSharedSequence(void);

// The player's interface getter, handed to XMPDSP_GetInterface2.
void* XMP_STDCALL PlayerInterface(uint32_t face);

// Forgets every text handed out (a new session of the player).
void ResetPlayerTexts(void);

// The tag's current text, or nothing when the track has no such tag.
std::optional<std::string> TrackTag(int32_t tag);

// A tick of the plug-in's timer begins or ends: with the snapshot on, the
// window thread sees the track as it stood at the tick's beginning until
// its end.
void BeginTickView(void);
void EndTickView(void);

// The answer IsPlaying gives now.
int32_t TrackIsPlayingAnswer(void);

// The word GetVersion answers.
uint32_t PlayerVersionWord(void);

// Resets the track: none, stopped, version word 0x03080500, answers at once,
// no snapshot for ticks.
void ResetTrack(void);

// Feeds one block of samples to the plug-in's Process if a track plays.
void FeedPluginBlock(void);

// Ends the audio thread and starts a new one, which begins with a burst of
// blocks, as the real player does after a seek, a new track or a play. Does
// nothing when called on the audio thread itself.
void MoveAudioToNewThread(void);

// Forgets the settings block saved at a close (a new session of the player).
void ForgetSavedConfig(void);

// Runs a sequence of the player's own on a new worker thread, as the real
// player changes tracks, and waits for it. Notifications sent there are
// delivered on that thread, unless a test chose another.
void RunOnPlayerWorker(const std::function<void()>& sequence);

// Replaces the window functions the plug-in imports with logging wrappers.
void WatchPluginImports(HMODULE module);

// Forgets the plug-in's timers before it is unloaded.
void ForgetPluginTimers(void);

// Casts one function pointer type to another through the one type the
// compiler accepts as matching any.
template <typename To, typename From>
To FunctionCast(From function) {
    return reinterpret_cast<To>(reinterpret_cast<void (*)(void)>(function));
}
