// The player's two function tables as the plug-in sees them: the
// miscellaneous functions (interface 0) and the status functions (interface
// 4), answered from the scripted current track. Every slot the plug-in has no
// business calling fails loudly. Every text handed out by GetTag is
// accounted for: a leak, a double release or the release of a pointer the
// player never handed out is reported.
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "tools/standin_player/player_internal.h"

// Slots beyond the ones the plug-in uses, so that a call through a wrong
// offset still lands in a function that reports it.
enum { MiscSlotCount = 32, StatusSlotCount = 16 };

// Tag number logged for a pointer the player does not know.
static const int64_t UnknownTag = -9999;

// Stops the process: an unused slot has unknown arguments, so returning
// from it could corrupt the caller's stack.
static void FailUnusedSlot(const char* table, int slot) {
    fprintf(stderr, "stand-in player: the plug-in called %s slot %d, which it must not use\n", table, slot);
    fflush(stderr);
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 70);
}

template <int Table, int Slot>
static void XMP_STDCALL UnusedSlot(void) {
    FailUnusedSlot(Table == 0 ? "misc" : "status", Slot);
}

typedef void(XMP_STDCALL* SlotFunction)(void);

template <int Table, int... Slots>
static std::array<SlotFunction, sizeof...(Slots)> MakeUnusedSlots(std::integer_sequence<int, Slots...>) {
    return {{&UnusedSlot<Table, Slots>...}};
}

static const std::array<SlotFunction, MiscSlotCount> unusedMisc =
    MakeUnusedSlots<0>(std::make_integer_sequence<int, MiscSlotCount>());
static const std::array<SlotFunction, StatusSlotCount> unusedStatus =
    MakeUnusedSlots<4>(std::make_integer_sequence<int, StatusSlotCount>());

// The tables as laid out in memory: the named slots, then more failing ones.
struct MiscTable {
    XMPFUNC_MISC used;
    void* more[MiscSlotCount - 13];
};
struct StatusTable {
    XMPFUNC_STATUS used;
    void* more[StatusSlotCount - 2];
};
static MiscTable miscTable;
static StatusTable statusTable;

static void* SlotAddress(SlotFunction function) {
    void* address;
    memcpy(&address, &function, sizeof address);
    return address;
}

// The scripted track, guarded by trackLock.
static std::mutex trackLock;
static StandinTrack track;
static PlaybackMode mode = PlaybackMode::Stopped;
static double basePosition;         // the position when playback last started, or the position itself
static LARGE_INTEGER playingSince;  // performance counter when playback last started
// After a CUE part's boundary, GetTime goes on with the previous part's
// clock for a moment: that clock, and until when.
static double laggingPosition;
static LARGE_INTEGER laggingSince;
static bool lagging;
static uint32_t versionWord = 0x03080500;
// How much later the player answers on its two threads (see standin_player.h).
static std::atomic<DWORD> windowThreadAnswerDelayMs;
static std::atomic<DWORD> audioThreadAnswerDelayMs;
// The track as a running tick sees it, when the snapshot is on; guarded by trackLock.
static std::atomic<bool> tickSnapshot;
static StandinTrack tickTrack;
static bool tickTrackHeld;

// Texts handed out and released, guarded by textLock. Released texts are
// never freed, so that a second release of the same pointer is recognised;
// their bytes are overwritten so that a use after release shows.
struct HandedText {
    int32_t tag;
    size_t size;
};
static std::mutex textLock;
static std::map<uintptr_t, HandedText> outstanding;
static std::map<uintptr_t, HandedText> released;

static double SecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The position, with trackLock held.
static double PositionLocked(void) {
    if (lagging && SecondsSince(laggingSince) * 1000.0 < CuePositionLagMs)
        return laggingPosition + SecondsSince(laggingSince);
    lagging = false;
    if (mode == PlaybackMode::Playing) return basePosition + SecondsSince(playingSince);
    return basePosition;
}

// Makes the window thread or the audio thread wait before an answer, when asked to.
static void DelayAnswer(void) {
    DWORD thread = GetCurrentThreadId();
    DWORD delay = thread == PlayerWindowThreadId()  ? windowThreadAnswerDelayMs.load()
                  : thread == PlayerAudioThreadId() ? audioThreadAnswerDelayMs.load()
                                                    : 0;
    if (delay != 0) Sleep(delay);
}

static uint32_t XMP_STDCALL PlayerGetVersion(void) {
    uint32_t word = PlayerVersionWord();
    LogPlayerCall(PlayerCallKind::GetVersion, word);
    return word;
}

static HostWindow XMP_STDCALL PlayerGetWindow(void) {
    HWND window = PlayerWindow();
    LogPlayerCall(PlayerCallKind::GetWindow, 0, reinterpret_cast<uintptr_t>(window));
    return reinterpret_cast<HostWindow>(window);
}

static void XMP_STDCALL PlayerFree(void* text) {
    DelayAnswer();
    uintptr_t key = reinterpret_cast<uintptr_t>(text);
    int64_t tag = UnknownTag;
    std::string error;
    {
        std::lock_guard<std::mutex> hold(textLock);
        auto handed = outstanding.find(key);
        if (handed != outstanding.end()) {
            tag = handed->second.tag;
            memset(text, 0xDD, handed->second.size - 1);
            released[key] = handed->second;
            outstanding.erase(handed);
        } else if (text != nullptr) {
            auto again = released.find(key);
            if (again != released.end()) {
                tag = again->second.tag;
                error = "the plug-in released the text of tag " + std::to_string(tag) + " twice";
            } else {
                error = "the plug-in released a pointer that the player never handed out";
            }
        }
    }
    LogPlayerCall(PlayerCallKind::FreeText, tag, key);
    if (!error.empty()) ReportPlayerError(error);
}

static char* XMP_STDCALL PlayerGetTag(int32_t tag) {
    DelayAnswer();
    std::optional<std::string> value = TrackTag(tag);
    char* text = nullptr;
    if (value) {
        size_t size = value->size() + 1;
        text = static_cast<char*>(malloc(size));
        memcpy(text, value->c_str(), size);
        std::lock_guard<std::mutex> hold(textLock);
        outstanding[reinterpret_cast<uintptr_t>(text)] = HandedText{tag, size};
    }
    LogPlayerCall(PlayerCallKind::GetTag, tag, reinterpret_cast<uintptr_t>(text), 0, 0,
                  value ? *value : std::string());
    return text;
}

static int32_t XMP_STDCALL PlayerIsPlaying(void) {
    DelayAnswer();
    int32_t answer = TrackIsPlayingAnswer();
    LogPlayerCall(PlayerCallKind::IsPlaying, answer);
    return answer;
}

static double XMP_STDCALL PlayerGetTime(void) {
    DelayAnswer();
    double position = TrackPosition();
    char text[32];
    snprintf(text, sizeof text, "%.3f", position);
    LogPlayerCall(PlayerCallKind::GetTime, 0, 0, 0, 0, text);
    return position;
}

// Fills both tables: the named slots, and failing functions everywhere else.
static void FillTables(void) {
    miscTable.used.GetVersion = PlayerGetVersion;
    miscTable.used.GetWindow = PlayerGetWindow;
    miscTable.used.unusedSlots2to3[0] = SlotAddress(unusedMisc[2]);
    miscTable.used.unusedSlots2to3[1] = SlotAddress(unusedMisc[3]);
    miscTable.used.Free = PlayerFree;
    for (int slot = 5; slot <= 11; ++slot)
        miscTable.used.unusedSlots5to11[slot - 5] = SlotAddress(unusedMisc[slot]);
    miscTable.used.GetTag = PlayerGetTag;
    for (int slot = 13; slot < MiscSlotCount; ++slot)
        miscTable.more[slot - 13] = SlotAddress(unusedMisc[slot]);
    statusTable.used.IsPlaying = PlayerIsPlaying;
    statusTable.used.GetTime = PlayerGetTime;
    for (int slot = 2; slot < StatusSlotCount; ++slot)
        statusTable.more[slot - 2] = SlotAddress(unusedStatus[slot]);
}

void* XMP_STDCALL PlayerInterface(uint32_t face) {
    LogPlayerCall(PlayerCallKind::Interface, face);
    // Filled once: a plug-in may read the tables on one thread while it binds again on another.
    static std::once_flag filled;
    std::call_once(filled, FillTables);
    if (face == InterfaceMisc) return &miscTable.used;
    if (face == InterfaceStatus) return &statusTable.used;
    ReportPlayerError("the plug-in asked for player interface " + std::to_string(face));
    return nullptr;
}

void ResetPlayerTexts(void) {
    std::lock_guard<std::mutex> hold(textLock);
    outstanding.clear();
    released.clear();
}

size_t OutstandingTexts(void) {
    std::lock_guard<std::mutex> hold(textLock);
    return outstanding.size();
}

std::optional<std::string> TrackTag(int32_t tag) {
    std::lock_guard<std::mutex> hold(trackLock);
    const StandinTrack& seen =
        tickTrackHeld && GetCurrentThreadId() == PlayerWindowThreadId() ? tickTrack : track;
    switch (tag) {
    case TagFormattedTitle: return seen.title;
    case TagLengthSeconds: return seen.length;
    case TagAlbum: return seen.album;
    case TagDate: return seen.date;
    case TagFileType: return seen.fileType;
    case TagItemTitle: return seen.itemTitle;
    default: return std::nullopt;
    }
}

void BeginTickView(void) {
    if (!tickSnapshot) return;
    std::lock_guard<std::mutex> hold(trackLock);
    tickTrack = track;
    tickTrackHeld = true;
}

void EndTickView(void) {
    std::lock_guard<std::mutex> hold(trackLock);
    tickTrackHeld = false;
}

int32_t TrackIsPlayingAnswer(void) {
    std::lock_guard<std::mutex> hold(trackLock);
    // As the real player: 1 while paused too, 0 only when stopped.
    return mode == PlaybackMode::Stopped ? 0 : 1;
}

uint32_t PlayerVersionWord(void) {
    std::lock_guard<std::mutex> hold(trackLock);
    return versionWord;
}

void SetPlayerVersion(uint32_t word) {
    std::lock_guard<std::mutex> hold(trackLock);
    versionWord = word;
}

void ResetTrack(void) {
    SetAnswerDelays(0, 0);
    tickSnapshot = false;
    std::lock_guard<std::mutex> hold(trackLock);
    tickTrackHeld = false;
    track = StandinTrack();
    mode = PlaybackMode::Stopped;
    basePosition = 0;
    lagging = false;
    versionWord = 0x03080500;
}

void SetAnswerDelays(DWORD windowThreadMs, DWORD audioThreadMs) {
    windowThreadAnswerDelayMs = windowThreadMs;
    audioThreadAnswerDelayMs = audioThreadMs;
}

void SetTickTrackSnapshot(bool on) { tickSnapshot = on; }

double TrackPosition(void) {
    std::lock_guard<std::mutex> hold(trackLock);
    return PositionLocked();
}

PlaybackMode TrackMode(void) {
    std::lock_guard<std::mutex> hold(trackLock);
    return mode;
}

// The state changes below run on the window thread (see standin_player.h).

static void ApplyTrack(const StandinTrack& newTrack) {
    std::lock_guard<std::mutex> hold(trackLock);
    track = newTrack;
}

static void ApplyMode(PlaybackMode newMode) {
    std::lock_guard<std::mutex> hold(trackLock);
    basePosition = PositionLocked();
    if (newMode == PlaybackMode::Playing) QueryPerformanceCounter(&playingSince);
    if (newMode == PlaybackMode::Stopped) basePosition = 0;
    mode = newMode;
}

static void ApplySeek(double seconds) {
    std::lock_guard<std::mutex> hold(trackLock);
    basePosition = seconds;
    QueryPerformanceCounter(&playingSince);
}

void SetTrack(const StandinTrack& newTrack) {
    RunOnWindowThread([&] {
        ApplyTrack(newTrack);
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "set track", newTrack.title.value_or("(no title)"));
    });
}

// Playing from stopped announces the format first; a resume does not. The
// blocks come from a new thread either way.
void PlayTrack(void) {
    const bool fromStopped = TrackMode() == PlaybackMode::Stopped;
    if (fromStopped) PluginSetFormat(true);
    RunOnWindowThread([] {
        ApplyMode(PlaybackMode::Playing);
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "play");
    });
    MoveAudioToNewThread();
}

void PauseTrack(void) {
    RunOnWindowThread([] {
        ApplyMode(PlaybackMode::Paused);
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "pause");
    });
    // A block already being fed finishes before this returns.
    RunOnAudioThread([] {});
}

void StopTrack(void) {
    RunOnWindowThread([] {
        ApplyMode(PlaybackMode::Stopped);
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "stop");
    });
    RunOnAudioThread([] {});
    PluginSetFormat(false);
}

void SeekTrack(double seconds) {
    RunOnWindowThread([seconds] {
        ApplySeek(seconds);
        char text[48];
        snprintf(text, sizeof text, "seek %.3f", seconds);
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, text);
        NotifyReset();
    });
    if (TrackMode() == PlaybackMode::Playing) MoveAudioToNewThread();
}

// The new track, announced while the player says it is stopped at 0 (as the
// real player, until the new format is set), then playing.
// The announcement a new track gets before it opens.
enum class Announce { Nothing, TitleFirst };

// The new track, announced while the player says it is stopped at 0 (as the
// real player, until the new format is set), then playing. An item that
// names what plays inside it gets NewTitle first.
static void OpenNextTrack(const StandinTrack& newTrack, const char* file, Announce announce) {
    RunOnWindowThread([&] {
        ApplyTrack(newTrack);
        ApplyMode(PlaybackMode::Stopped);
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "open", file != nullptr ? file : "(null)");
    });
    if (announce == Announce::TitleFirst) {
        const std::optional<std::string> early = newTrack.itemTitle ? newTrack.itemTitle : newTrack.title;
        NotifyNewTitle(early ? early->c_str() : nullptr);
    }
    NotifyNewTrack(file);
    PluginSetFormat(true);
    RunOnWindowThread([] { ApplyMode(PlaybackMode::Playing); });
}

// A change by the user: SetFormat(null) and NewTrack(null), then the next
// one within milliseconds, on a new worker thread.
static void ChangeTrack(const StandinTrack& newTrack, const char* file, Announce announce) {
    RunOnPlayerWorker([&] {
        PluginSetFormat(false);
        NotifyNewTrack(nullptr);
        OpenNextTrack(newTrack, file, announce);
    });
    MoveAudioToNewThread();
}

void OpenTrack(const StandinTrack& newTrack, const char* file) {
    ChangeTrack(newTrack, file, Announce::Nothing);
}

void OpenItem(const StandinTrack& item, const char* file) { ChangeTrack(item, file, Announce::TitleFirst); }

// At a natural end the close comes first, while the tail plays; the format
// goes only when the next track opens.
void PlayOnToTrack(const StandinTrack& newTrack, const char* file) {
    RunOnPlayerWorker([&] {
        RunOnWindowThread([] {
            ApplyTrack(StandinTrack());
            LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "tail");
        });
        NotifyNewTrack(nullptr);
        Sleep(TailMs);
        PluginSetFormat(false);
        OpenNextTrack(newTrack, file, Announce::Nothing);
    });
    MoveAudioToNewThread();
}

void NameSongInside(const char* song) {
    RunOnWindowThread([song] {
        {
            std::lock_guard<std::mutex> hold(trackLock);
            track.itemTitle = song != nullptr ? std::optional<std::string>(song) : std::nullopt;
        }
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "song", song != nullptr ? song : "(null)");
    });
    NotifyNewTitle(song);
}

void PlayOnToCuePart(const StandinTrack& part, const char* file) {
    RunOnPlayerWorker([&] {
        NotifyNewTrack(nullptr);
        Sleep(1);
        RunOnWindowThread([&] {
            std::lock_guard<std::mutex> hold(trackLock);
            laggingPosition = PositionLocked();
            QueryPerformanceCounter(&laggingSince);
            lagging = true;
            track = part;
            basePosition = 0;
            QueryPerformanceCounter(&playingSince);
        });
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "next part", file != nullptr ? file : "(null)");
        NotifyNewTrack(file);
    });
}

void OpenTrackOnThisThread(const StandinTrack& newTrack, const char* file, PlaybackMode modeAfter) {
    ApplyTrack(newTrack);
    ApplyMode(PlaybackMode::Stopped);
    ApplyMode(modeAfter);
    LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "open", file != nullptr ? file : "(null)");
    NotifyNewTrack(file);
}

void CloseTrack(void) {
    RunOnWindowThread([] {
        ApplyMode(PlaybackMode::Stopped);
        ApplyTrack(StandinTrack());
        LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "close");
    });
    RunOnAudioThread([] {});
    PluginSetFormat(false);
    NotifyNewTrack(nullptr);
}
