// A scripted session of the stand-in player with the real plug-in, about
// three minutes long, printing what the player does and, through the
// recording stand-in of discord-rpc.dll, what the Discord profile would
// show. The stand-in calls the plug-in as the real XMPlay does, on the real
// clock, so the plug-in paces its updates as it would for Discord, which
// keeps one per 15 seconds; the demo says when an update waited its turn.
//   nowglow-demo.exe [path\to\XMP-Nowglow.dll]
#include <cstdio>
#include <functional>
#include <string>

#include "tools/discord_standin/discord_recorder.h"
#include "tools/standin_player/standin_player.h"

// The longest a step waits for the presence it expects: Discord's 15 s and
// the plug-in's margin, two timer ticks and some slack.
static const DWORD PresenceWaitMs = 24000;
// A presence later than this after the change that caused it waited its turn.
static const int64_t PromptMs = 5000;

// Prints one line of the player's side of the story.
static void Say(const char* what) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    printf("%02u:%02u:%02u  Player: %s\n", now.wHour, now.wMinute, now.wSecond, what);
    fflush(stdout);
}

// The number of presence updates received so far.
static uint32_t PresenceCount(const char* badge) {
    uint32_t count = 0;
    RecordedCall call;
    for (uint32_t index = 0; Recorder_ReadCall(index, &call) != 0; ++index)
        if (call.kind == RecordedUpdatePresence &&
            (badge == nullptr || std::string(call.presence.smallImageKey.text) == badge))
            ++count;
    return count;
}

// The arrival of the newest presence update, in ms since 1970.
static int64_t LastPresenceAt(void) {
    int64_t at = 0;
    RecordedCall call;
    for (uint32_t index = 0; Recorder_ReadCall(index, &call) != 0; ++index)
        if (call.kind == RecordedUpdatePresence) at = call.wallClockMs;
    return at;
}

// Waits until a presence with the badge (any, for null) arrives after the
// ones already counted, or the wait is over, and says so when it waited
// for its turn after the change at changedAtMs (WallClockMs).
static void AwaitPresence(uint32_t countBefore, const char* badge, int64_t changedAtMs) {
    DWORD start = GetTickCount();
    while (PresenceCount(badge) <= countBefore && GetTickCount() - start < PresenceWaitMs) Sleep(20);
    if (PresenceCount(badge) <= countBefore) return;
    const int64_t waited = LastPresenceAt() - changedAtMs;
    if (waited < PromptMs) return;
    printf("          Nowglow: that update was held %lld s, for Discord keeps one update per 15 s\n",
           static_cast<long long>(waited / 1000));
    fflush(stdout);
}

static StandinTrack Track(const char* title, const char* length, const char* album, const char* date,
                          const char* fileType) {
    StandinTrack track;
    track.title = title;
    track.length = length;
    if (album != nullptr) track.album = album;
    if (date != nullptr) track.date = date;
    track.fileType = fileType;
    return track;
}

// The plug-in beside this program, when no path is given.
static std::string DefaultPluginPath(void) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    size_t slash = directory.find_last_of("\\/");
    return (slash == std::string::npos ? std::string(".") : directory.substr(0, slash)) + "\\XMP-Nowglow.dll";
}

// Runs a change of the player and waits for the presence with the badge
// (any, for null) that shows it.
static void Change(const char* what, const char* badge, const std::function<void()>& change) {
    const uint32_t before = PresenceCount(badge);
    const int64_t changedAtMs = WallClockMs();
    Say(what);
    change();
    AwaitPresence(before, badge, changedAtMs);
    Sleep(2000);
}

static void PlaySession(void) {
    Say("starts the plug-in (New)");
    PluginNew();
    Sleep(1500);

    Change("opens \"Ladytron - Seventeen\" from Light & Magic (2002), 4:37 long", nullptr, [] {
        OpenTrack(Track("Ladytron - Seventeen", "277", "Light & Magic", "2002", "MP3"),
                  "C:\\Music\\seventeen.mp3");
    });
    Change("you press pause", "pause", [] { PauseTrack(); });
    Change("you press play again", "play", [] { PlayTrack(); });
    Change("you drag the position to 3:00 (Reset)", nullptr, [] { SeekTrack(180); });
    Change("you press pause, then drag the position to 4:00: the card stays paused", "pause", [] {
        PauseTrack();
        Sleep(4500);
        SeekTrack(240);
    });
    Change("you press play again", "play", [] { PlayTrack(); });
    Change(
        "the track ends and the next begins: \"Boards of Canada - Roygbiv\", an OGG file without an "
        "album tag, 2:31 long",
        nullptr, [] {
            PlayOnToTrack(Track("Boards of Canada - Roygbiv", "151", nullptr, "1998", "OGG"),
                          "C:\\Music\\roygbiv.ogg");
        });

    Say("restores saved settings: no year, no version, elapsed time (SetConfig; nothing is sent yet)");
    const int32_t saved[3] = {0, 0, 1};
    PluginSetConfig(saved, sizeof saved);
    Sleep(2500);
    Change("opens \"Ladytron - Destroy Everything You Touch\" from Witching Hour (2005), 4:47 long", nullptr,
           [] {
               OpenTrack(
                   Track("Ladytron - Destroy Everything You Touch", "287", "Witching Hour", "2005", "MP3"),
                   "C:\\Music\\destroy.mp3");
           });
    Change("you press stop", "stopped", [] { StopTrack(); });

    Say("you close XMPlay (SetFormat, NewTrack with no file, GetConfig, Free)");
    ClosePlayer();
}

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : DefaultPluginPath();
    printf(
        "Nowglow demo: the stand-in player drives %s; every line marked Discord is what the\n"
        "stand-in of discord-rpc.dll received, shown as the Discord profile would show it.\n\n",
        path.c_str());
    fflush(stdout);
    Recorder_SetPrintMode(1);
    StepPluginClockAtUpdates(false);
    if (!StartPlayer() || !LoadPlugin(path.c_str())) {
        fprintf(stderr, "nowglow-demo: could not start the player with %s\n", path.c_str());
        return 1;
    }
    PlaySession();
    UnloadPlugin();
    StopPlayer();
    std::vector<std::string> errors = PlayerErrors();
    if (OutstandingTexts() != 0)
        errors.push_back(std::to_string(OutstandingTexts()) + " texts never released");
    for (const std::string& error : errors) fprintf(stderr, "nowglow-demo: %s\n", error.c_str());
    return errors.empty() ? 0 : 1;
}
