// A scripted session of the stand-in player with the real plug-in, about a
// minute long, printing what the player does and, through the recording
// stand-in of discord-rpc.dll, what the Discord profile would show. The
// stand-in calls the plug-in as the real XMPlay does.
//   nowglow-demo.exe [path\to\XMP-Nowglow.dll]
#include <cstdio>
#include <string>

#include "tools/discord_standin/discord_recorder.h"
#include "tools/standin_player/standin_player.h"

// The longest a step waits for the presence it expects: two timer ticks and
// some slack.
static const DWORD PresenceWaitMs = 5500;

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

// Waits until a presence with the badge (any, for null) arrives after the
// ones already counted, or the wait is over.
static void AwaitPresence(uint32_t countBefore, const char* badge) {
    DWORD start = GetTickCount();
    while (PresenceCount(badge) <= countBefore && GetTickCount() - start < PresenceWaitMs) Sleep(20);
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

static void PlaySession(void) {
    Say("starts the plug-in (New)");
    PluginNew();
    Sleep(1500);

    Say("opens \"Ladytron - Seventeen\" from Light & Magic (2002), 4:37 long");
    OpenTrack(Track("Ladytron - Seventeen", "277", "Light & Magic", "2002", "MP3"),
              "C:\\Music\\seventeen.mp3");
    Sleep(8000);

    uint32_t paused = PresenceCount("pause");
    Say("you press pause");
    PauseTrack();
    AwaitPresence(paused, "pause");
    Sleep(5000);

    uint32_t playing = PresenceCount("play");
    Say("you press play again");
    PlayTrack();
    AwaitPresence(playing, "play");
    Sleep(5000);

    uint32_t any = PresenceCount(nullptr);
    Say("you drag the position to 3:00 (Reset)");
    SeekTrack(180);
    AwaitPresence(any, nullptr);
    Sleep(5000);

    paused = PresenceCount("pause");
    Say("you press pause, then drag the position to 4:00: the card stays paused");
    PauseTrack();
    AwaitPresence(paused, "pause");
    SeekTrack(240);
    Sleep(3000);
    playing = PresenceCount("play");
    Say("you press play again");
    PlayTrack();
    AwaitPresence(playing, "play");
    Sleep(3000);

    Say("the track ends and the next begins: \"Boards of Canada - Roygbiv\", an OGG file without an album "
        "tag, "
        "2:31 long");
    PlayOnToTrack(Track("Boards of Canada - Roygbiv", "151", nullptr, "1998", "OGG"),
                  "C:\\Music\\roygbiv.ogg");
    Sleep(7000);

    Say("restores saved settings: no year, no version, elapsed time (SetConfig; nothing is sent yet)");
    const int32_t saved[3] = {0, 0, 1};
    PluginSetConfig(saved, sizeof saved);
    Sleep(2500);
    Say("opens \"Ladytron - Destroy Everything You Touch\" from Witching Hour (2005), 4:47 long");
    OpenTrack(Track("Ladytron - Destroy Everything You Touch", "287", "Witching Hour", "2005", "MP3"),
              "C:\\Music\\destroy.mp3");
    Sleep(8000);

    uint32_t stopped = PresenceCount("stopped");
    Say("you press stop");
    StopTrack();
    AwaitPresence(stopped, "stopped");
    Sleep(3000);

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
