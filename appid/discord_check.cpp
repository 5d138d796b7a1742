// The check of nowglow-appid.exe: the plug-in's DLL, discord-rpc.dll beside
// it, Discord over its local pipe, and a test presence through the library.
// Each step says what it saw, never what it merely asked for. It writes no
// file and no registry key and never changes the DLL.
#include <windows.h>

#include "appid/discord_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "appid/console.h"
#include "appid/ipc_answer.h"
#include "presence/discord_rpc.h"

// The four functions the plug-in imports, which XMPlay needs to list the
// plug-in at all, then the one the check needs besides to hear the
// library's events.
static const char* const LibraryFunctions[] = {"Discord_Initialize", "Discord_UpdatePresence",
                                               "Discord_ClearPresence", "Discord_Shutdown",
                                               "Discord_RunCallbacks"};
static const size_t PluginImportCount = 4;

// The library's file may be a few hundred kilobytes; a larger one is not it.
static const DWORD LargestLibrary = 16u * 1024u * 1024u;

// How long Discord is given for the whole exchange of step 3: finding a
// free pipe, taking the handshake and answering it.
static const DWORD ProbeTimeoutMs = 5000;

// How long the library is given to get Discord's READY for itself; it
// retries from half a second on, so a few seconds are usual.
static const DWORD ReadyTimeoutMs = 10000;

// How often the library's events are fetched while step 4 waits.
static const DWORD CallbackPeriodMs = 100;

// How long a presence or its clear is given to go out, and Discord's
// answer to come back, before the check goes on: the library's own thread
// sends and reads every half second.
static const DWORD SettleMs = 2000;

// How long the test presence's clock runs, in seconds.
static const int TestPresenceSeconds = 15;

static const wchar_t ReleasePage[] = L"https://github.com/discord/discord-rpc/releases/tag/v3.4.0";

// The machine this program is built for, which the library must match to
// be loaded in it; the shipped tool is 32-bit, as XMPlay is.
#if defined(__x86_64__)
static const uint16_t LibraryMachine = MachineAmd64;
static const int LibraryBits = 64;
#else
static const uint16_t LibraryMachine = MachineI386;
static const int LibraryBits = 32;
#endif

static wchar_t line[4096];
static wchar_t found[2048];

// The check's own connection to Discord, kept from step 3 through step 4:
// when Discord quits or restarts, this connection breaks too.
static HANDLE discordWatch = INVALID_HANDLE_VALUE;

// What the library told the check through its handlers. They run inside
// Discord_RunCallbacks, on the check's own thread.
static struct {
    bool ready;
    bool disconnected;
    bool errored;
    int code;
    wchar_t message[256];
} heard;

// Prints one step's line: its number, its name, the file it is about (or
// none) and what was found.
static void SayStep(int step, const wchar_t* name, const wchar_t* path, const wchar_t* what) {
    if (path != nullptr) {
        std::swprintf(line, sizeof line / sizeof line[0], L"%d. %ls (%ls): %ls", step, name, ShownPath(path),
                      what);
    } else {
        std::swprintf(line, sizeof line / sizeof line[0], L"%d. %ls: %ls", step, name, what);
    }
    SayLine(line);
}

// The milliseconds left before a tick-count deadline set less than a
// minute ahead; 0 once it has passed.
static DWORD MsLeft(DWORD deadline) {
    const DWORD left = deadline - GetTickCount();
    return left > 60000 ? 0 : left;
}

// ---- step 1: the plug-in's DLL ----

static int CheckPlugin(const PluginFile& plugin) {
    static const wchar_t Name[] = L"The plug-in DLL";
    char id[ApplicationIdMaxDigits + 1];
    ReadApplicationId(plugin.bytes, plugin.place, id);
    if (std::strcmp(id, NOWGLOW_PLACEHOLDER_APP_ID) == 0) {
        std::swprintf(
            found, sizeof found / sizeof found[0],
            L"it carries the placeholder application ID %hs, which no Discord application has, so "
            L"nothing can show. Register an application in Discord's Developer Portal and write its "
            L"Application ID into the DLL: double-click nowglow-appid.exe in the DLL's folder, or "
            L"run nowglow-appid PATH\\XMP-Nowglow.dll NEW-ID",
            id);
        SayStep(1, Name, plugin.path, found);
        return CheckPluginFailed;
    }
    std::swprintf(found, sizeof found / sizeof found[0], L"ok, it carries the application ID %hs", id);
    SayStep(1, Name, plugin.path, found);
    return CheckPassed;
}

// ---- step 2: discord-rpc.dll beside it ----

// The library's path: the plug-in's folder and discord-rpc.dll.
static bool LibraryBeside(const PluginFile& plugin, wchar_t* path, size_t capacity) {
    return PathBeside(plugin.path, L"discord-rpc.dll", path, capacity);
}

static int CheckLibrary(const PluginFile& plugin) {
    static const wchar_t Name[] = L"discord-rpc.dll beside it";
    static wchar_t path[32768];
    size_t size = 0;
    uint32_t error = ERROR_FILENAME_EXCED_RANGE;
    uint8_t* bytes = nullptr;
    if (LibraryBeside(plugin, path, sizeof path / sizeof path[0]))
        bytes = ReadWholeFile(path, LargestLibrary, &size, &error);
    if (bytes == nullptr && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"missing. Without it XMPlay does not even list the plug-in. Get the %d-bit "
                      L"discord-rpc.dll of discord-rpc 3.4.0 from %ls (in discord-rpc-win.zip, "
                      L"discord-rpc\\win32-dynamic\\bin\\discord-rpc.dll), copy it and XMP-Nowglow.dll into "
                      L"XMPlay's folder (the one that holds xmplay.exe), then run the check there",
                      LibraryBits, ReleasePage);
        SayStep(2, Name, path, found);
        return CheckLibraryFailed;
    }
    if (bytes == nullptr) {
        SayStep(2, Name, path,
                L"cannot be read: it is not the library, or Windows keeps it from this account");
        return CheckLibraryFailed;
    }
    const size_t count = sizeof LibraryFunctions / sizeof LibraryFunctions[0];
    const LibraryJudgement judged = JudgeLibrary(bytes, size, LibraryMachine, LibraryFunctions, count);
    std::free(bytes);
    switch (judged.verdict) {
    case LibraryVerdict::Good: SayStep(2, Name, path, L"ok"); return CheckPassed;
    case LibraryVerdict::NotDll:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"not a Windows DLL. Get the %d-bit discord-rpc.dll of discord-rpc 3.4.0 from %ls",
                      LibraryBits, ReleasePage);
        break;
    case LibraryVerdict::OtherMachine:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"the %d-bit DLL. XMPlay is a %d-bit program: get the %d-bit discord-rpc.dll of "
                      L"discord-rpc 3.4.0 from %ls (in discord-rpc-win.zip, discord-rpc\\win32-dynamic\\bin)",
                      judged.machine == MachineAmd64 ? 64 : 32, LibraryBits, LibraryBits, ReleasePage);
        break;
    case LibraryVerdict::Unlike:
        std::swprintf(
            found, sizeof found / sizeof found[0],
            L"not discord-rpc 3.4.0: it has far more sections or exported names than the library. Get "
            L"discord-rpc.dll from %ls",
            ReleasePage);
        break;
    case LibraryVerdict::MissingExport:
        // The first name missing: one of the plug-in's four, or the one
        // only the check needs.
        std::swprintf(
            found, sizeof found / sizeof found[0],
            L"it has no %hs, so it is not discord-rpc 3.4.0%ls. Get discord-rpc.dll from %ls", judged.missing,
            judged.missing != LibraryFunctions[PluginImportCount] ? L" and XMPlay does not list the plug-in"
                                                                  : L"",
            ReleasePage);
        break;
    }
    SayStep(2, Name, path, found);
    return CheckLibraryFailed;
}

// ---- step 3: Discord over its pipe ----

// Moves size bytes to or from the pipe before the deadline; false on time
// out, a closed pipe or an error. An operation cancelled at the deadline is
// waited for before its OVERLAPPED and the bytes go.
static bool TransferBefore(HANDLE pipe, HANDLE event, bool write, uint8_t* bytes, DWORD size,
                           DWORD deadline) {
    DWORD have = 0;
    while (have < size) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        const BOOL done = write ? WriteFile(pipe, bytes + have, size - have, nullptr, &overlapped)
                                : ReadFile(pipe, bytes + have, size - have, nullptr, &overlapped);
        if (done == FALSE) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            if (WaitForSingleObject(event, MsLeft(deadline)) != WAIT_OBJECT_0) {
                DWORD ignored = 0;
                CancelIo(pipe);
                GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
                return false;
            }
        }
        DWORD moved = 0;
        if (GetOverlappedResult(pipe, &overlapped, &moved, FALSE) == FALSE || moved == 0) return false;
        have += moved;
    }
    return true;
}

enum class PipeSearch { Opened, NoPipe, StayedBusy, Refused };

// Looks for Discord's pipe as discord-rpc.dll does: discord-ipc-0 to -9 in
// order; a pipe that does not exist sends it on to the next, a busy one is
// waited for (within the deadline) and tried again, and any other error
// ends the search there, with that pipe and error kept.
static PipeSearch OpenDiscordPipe(DWORD deadline, HANDLE* pipe, int* index, DWORD* error) {
    for (*index = 0; *index < 10; ++*index) {
        wchar_t name[64];
        std::swprintf(name, sizeof name / sizeof name[0], L"\\\\.\\pipe\\discord-ipc-%d", *index);
        for (;;) {
            *pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
            if (*pipe != INVALID_HANDLE_VALUE) return PipeSearch::Opened;
            *error = GetLastError();
            if (*error == ERROR_FILE_NOT_FOUND) break;
            if (*error != ERROR_PIPE_BUSY) return PipeSearch::Refused;
            const DWORD left = MsLeft(deadline);
            if (left == 0) return PipeSearch::StayedBusy;
            // A wait that fails early (the pipe went, say) is judged by the
            // next attempt to open it.
            if (WaitNamedPipeW(name, left) == FALSE && GetLastError() != ERROR_SEM_TIMEOUT) Sleep(10);
        }
    }
    return PipeSearch::NoPipe;
}

// Sends the handshake and reads the answer, all before the deadline;
// false when no whole answer came.
static bool AskDiscord(HANDLE pipe, const char* applicationId, DWORD deadline, Answer* answer) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return false;
    uint8_t handshake[128];
    const DWORD size = static_cast<DWORD>(BuildHandshake(applicationId, handshake, sizeof handshake));
    uint8_t header[FrameHeaderSize];
    bool answered = false;
    if (TransferBefore(pipe, event, true, handshake, size, deadline) &&
        TransferBefore(pipe, event, false, header, sizeof header, deadline)) {
        static uint8_t body[LongestAnswer];
        const FrameHeader frame = ReadFrameHeader(header);
        // A frame of another kind, or one longer than any answer, is judged
        // by its header alone: its body is never read.
        if ((frame.opcode != OpcodeFrame && frame.opcode != OpcodeClose) || frame.length > LongestAnswer) {
            *answer = JudgeAnswer(frame, body, 0);
            answered = true;
        } else if (TransferBefore(pipe, event, false, body, frame.length, deadline)) {
            *answer = JudgeAnswer(frame, body, frame.length);
            answered = true;
        }
    }
    CloseHandle(event);
    return answered;
}

// Says why the pipe search ended without a pipe; the exit status.
static int SayNoPipe(PipeSearch search, int index, DWORD error) {
    static const wchar_t Name[] = L"Discord";
    switch (search) {
    case PipeSearch::NoPipe:
        SayStep(3, Name, nullptr,
                L"not running for this Windows user. Start the Discord desktop program and sign in; the "
                L"browser version cannot be reached");
        return CheckNoDiscord;
    case PipeSearch::StayedBusy:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"its pipe discord-ipc-%d stayed busy for 5 seconds: another program holds Discord's "
                      L"connection. Close the other programs that show their activity on Discord, or restart "
                      L"Discord, then run the check again",
                      index);
        SayStep(3, Name, nullptr, found);
        return CheckDiscordAnswerFailed;
    case PipeSearch::Refused:
    case PipeSearch::Opened: break;
    }
    if (error == ERROR_ACCESS_DENIED) {
        std::swprintf(
            found, sizeof found / sizeof found[0],
            L"Discord runs, but as administrator or as another Windows user, and this account may "
            L"not open its pipe discord-ipc-%d. XMPlay must run the same way as Discord: start both "
            L"normally, as yourself",
            index);
    } else {
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"its pipe discord-ipc-%d cannot be opened (Windows error %lu), and discord-rpc.dll "
                      L"stops there too. Restart Discord, then run the check again",
                      index, static_cast<unsigned long>(error));
    }
    SayStep(3, Name, nullptr, found);
    return CheckNoDiscord;
}

// Says what Discord answered; the exit status.
static int SayAnswer(const Answer& answer) {
    static const wchar_t Name[] = L"Discord";
    wchar_t text[256];
    switch (answer.verdict) {
    case AnswerVerdict::Ready:
        WideFromUtf8(answer.userName[0] != '\0' ? answer.userName : "(no name given)", text,
                     sizeof text / sizeof text[0]);
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"ok, it accepts the application ID; signed in as %ls", text);
        SayStep(3, Name, nullptr, found);
        return CheckPassed;
    case AnswerVerdict::Closed:
        WideFromUtf8(answer.message, text, sizeof text / sizeof text[0]);
        if (answer.code == 4000) {
            std::swprintf(
                found, sizeof found / sizeof found[0],
                L"refuses the application ID (code 4000: %ls). Register an application in Discord's "
                L"Developer Portal, copy its Application ID and write it into the DLL with "
                L"nowglow-appid.exe",
                text);
            SayStep(3, Name, nullptr, found);
            return CheckIdRefused;
        }
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"closed the connection (code %lld: %ls). Restart Discord, then run the check again",
                      static_cast<long long>(answer.code), text);
        break;
    case AnswerVerdict::WrongOpcode:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"answered with a frame of an unknown kind; the program on Discord's pipe may not be "
                      L"Discord. Restart Discord, then run the check again");
        break;
    case AnswerVerdict::TooLong:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"announced an answer far too long to be Discord's; the program on Discord's pipe may "
                      L"not be Discord. Restart Discord, then run the check again");
        break;
    case AnswerVerdict::BadJson:
    case AnswerVerdict::Unexpected:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"gave an answer that is not Discord's greeting. Restart Discord, then run the check "
                      L"again");
        break;
    }
    SayStep(3, Name, nullptr, found);
    return CheckDiscordAnswerFailed;
}

// Step 3. On success the connection stays open as the watch on Discord.
static int CheckDiscord(const char* applicationId) {
    const DWORD deadline = GetTickCount() + ProbeTimeoutMs;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    int index = 0;
    DWORD error = 0;
    const PipeSearch search = OpenDiscordPipe(deadline, &pipe, &index, &error);
    if (search != PipeSearch::Opened) return SayNoPipe(search, index, error);
    Answer answer = {};
    if (!AskDiscord(pipe, applicationId, deadline, &answer)) {
        CloseHandle(pipe);
        SayStep(3, L"Discord", nullptr,
                L"gave no whole answer within 5 seconds. Restart Discord, then run the check again");
        return CheckDiscordAnswerFailed;
    }
    const int status = SayAnswer(answer);
    if (status == CheckPassed) {
        discordWatch = pipe;
    } else {
        CloseHandle(pipe);
    }
    return status;
}

// ---- step 4: the test presence through the library ----

// The library's functions as the check calls them, with the plug-in's own
// declarations of the record and the handlers.
typedef void(DISCORD_CDECL* InitializeProc)(const char*, DiscordEventHandlers*, int, const char*);
typedef void(DISCORD_CDECL* UpdateProc)(const DiscordRichPresence*);
typedef void(DISCORD_CDECL* PlainProc)(void);

struct Library {
    HMODULE module;
    InitializeProc initialize;
    UpdateProc update;
    PlainProc clear;
    PlainProc shutdown;
    PlainProc runCallbacks;
};

// One of the library's functions by name, as its type; null when missing.
template <typename Proc>
static Proc LibraryFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

static void KeepMessage(int code, const char* message) {
    heard.code = code;
    WideFromUtf8(message != nullptr ? message : "", heard.message,
                 sizeof heard.message / sizeof heard.message[0]);
}

static void DISCORD_CDECL HeardReady(const DiscordUser*) { heard.ready = true; }

static void DISCORD_CDECL HeardDisconnected(int code, const char* message) {
    if (!heard.errored && !heard.disconnected) KeepMessage(code, message);
    heard.disconnected = true;
}

static void DISCORD_CDECL HeardErrored(int code, const char* message) {
    if (!heard.errored && !heard.disconnected) KeepMessage(code, message);
    heard.errored = true;
}

// Whether the check's own connection to Discord still stands.
static bool DiscordStillThere(void) {
    DWORD available = 0;
    return PeekNamedPipe(discordWatch, nullptr, 0, nullptr, &available, nullptr) != FALSE;
}

enum class Heard { Nothing, Ready, Trouble, DiscordGone };

// Fetches the library's events every CallbackPeriodMs for up to ms, and
// returns early on trouble, or on ready when it is awaited.
static Heard Listen(const Library& library, DWORD ms, bool awaitReady) {
    const DWORD start = GetTickCount();
    for (;;) {
        library.runCallbacks();
        if (heard.errored || heard.disconnected) return Heard::Trouble;
        if (!DiscordStillThere()) return Heard::DiscordGone;
        if (awaitReady && heard.ready) return Heard::Ready;
        if (GetTickCount() - start >= ms) return Heard::Nothing;
        Sleep(CallbackPeriodMs);
    }
}

// Says what went wrong in step 4, by what was heard.
static int SayPresenceTrouble(Heard what) {
    static const wchar_t Name[] = L"Test presence";
    if (what == Heard::DiscordGone) {
        SayStep(4, Name, nullptr,
                L"Discord closed its connections during the test: it quit or restarted. Start Discord again, "
                L"then run the check again");
    } else if (heard.errored) {
        std::swprintf(
            found, sizeof found / sizeof found[0],
            L"Discord refused the test presence (code %d: %ls). Restart Discord, then run the check "
            L"again",
            heard.code, heard.message);
        SayStep(4, Name, nullptr, found);
    } else if (heard.disconnected) {
        std::swprintf(
            found, sizeof found / sizeof found[0],
            L"Discord closed discord-rpc.dll's connection (code %d: %ls). Restart Discord, then run "
            L"the check again",
            heard.code, heard.message);
        SayStep(4, Name, nullptr, found);
    } else {
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"discord-rpc.dll did not get through to Discord within %lu seconds, though the check "
                      L"itself did. Another program may hold Discord's pipe, or this discord-rpc.dll is not "
                      L"Discord's own: close the other programs that show their activity on Discord, get "
                      L"discord-rpc.dll again from %ls, restart Discord and run the check again",
                      static_cast<unsigned long>(ReadyTimeoutMs / 1000), ReleasePage);
        SayStep(4, Name, nullptr, found);
    }
    return CheckPresenceFailed;
}

static bool LoadLibraryBeside(const PluginFile& plugin, Library* library) {
    static wchar_t path[32768];
    library->module = nullptr;
    if (LibraryBeside(plugin, path, sizeof path / sizeof path[0]))
        library->module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library->module == nullptr) {
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"discord-rpc.dll does not load (Windows error %lu); get it again from %ls",
                      static_cast<unsigned long>(GetLastError()), ReleasePage);
        SayStep(4, L"Test presence", nullptr, found);
        return false;
    }
    library->initialize = LibraryFunction<InitializeProc>(library->module, "Discord_Initialize");
    library->update = LibraryFunction<UpdateProc>(library->module, "Discord_UpdatePresence");
    library->clear = LibraryFunction<PlainProc>(library->module, "Discord_ClearPresence");
    library->shutdown = LibraryFunction<PlainProc>(library->module, "Discord_Shutdown");
    library->runCallbacks = LibraryFunction<PlainProc>(library->module, "Discord_RunCallbacks");
    if (library->initialize == nullptr || library->update == nullptr || library->clear == nullptr ||
        library->shutdown == nullptr || library->runCallbacks == nullptr) {
        FreeLibrary(library->module);
        SayStep(4, L"Test presence", nullptr,
                L"discord-rpc.dll lacks one of its functions; get it again from the release page");
        return false;
    }
    return true;
}

// Counts the seconds down to the end of the card's clock, a number each
// time the clock's second changes, while listening; returns early on
// trouble.
static Heard CountDown(const Library& library, int64_t end) {
    int64_t shown = 0;
    for (;;) {
        const int64_t left = end - static_cast<int64_t>(std::time(nullptr));
        if (left <= 0) break;
        if (left != shown) {
            wchar_t count[24];
            std::swprintf(count, sizeof count / sizeof count[0], L"%lld ", static_cast<long long>(left));
            SayPrompt(count);
            shown = left;
        }
        const Heard what = Listen(library, CallbackPeriodMs, false);
        if (what != Heard::Nothing) {
            SayLine(L"");
            return what;
        }
    }
    SayLine(L"");
    return Heard::Nothing;
}

// Shows the test presence once the library reached Discord, counts its
// clock down and clears it; each stage listens for the library's events.
static int ShowTestPresence(const Library& library, const char* applicationId) {
    static const wchar_t Name[] = L"Test presence";
    std::memset(&heard, 0, sizeof heard);
    DiscordEventHandlers handlers;
    std::memset(&handlers, 0, sizeof handlers);
    handlers.ready = HeardReady;
    handlers.disconnected = HeardDisconnected;
    handlers.errored = HeardErrored;
    // autoRegister 0: the check writes nothing to the registry.
    library.initialize(applicationId, &handlers, 0, nullptr);
    Heard what = Listen(library, ReadyTimeoutMs, true);
    if (what != Heard::Ready) {
        library.shutdown();
        return SayPresenceTrouble(what);
    }
    DiscordRichPresence presence;
    std::memset(&presence, 0, sizeof presence);
    presence.details = "Nowglow test presence";
    presence.state = "shown by nowglow-appid.exe --check";
    presence.largeImageKey = "icon";
    presence.largeImageText = "XMPlay";
    presence.smallImageKey = "play";
    presence.smallImageText = "Playing";
    const int64_t end = static_cast<int64_t>(std::time(nullptr)) + TestPresenceSeconds;
    presence.endTimestamp = end;
    presence.instance = 1;
    library.update(&presence);
    what = Listen(library, SettleMs, false);
    if (what == Heard::Nothing) {
        std::swprintf(
            found, sizeof found / sizeof found[0],
            L"shown on your Discord profile now, until its clock runs out in %lld seconds. Nothing at "
            L"all there means Discord's activity sharing (Activity Privacy) is off; a card without "
            L"images means the four art assets are missing or still being processed by Discord.",
            static_cast<long long>(end - static_cast<int64_t>(std::time(nullptr))));
        SayStep(4, Name, nullptr, found);
        what = CountDown(library, end);
    }
    library.clear();
    // The library sends the clear from its own thread; shutting it down at
    // once would stop that thread before it does.
    const Heard cleared = Listen(library, SettleMs, false);
    library.shutdown();
    if (what != Heard::Nothing) return SayPresenceTrouble(what);
    if (cleared != Heard::Nothing) return SayPresenceTrouble(cleared);
    SayStep(4, Name, nullptr, L"taken off your profile again. Every step passed.");
    return CheckPassed;
}

static int CheckPresence(const PluginFile& plugin, const char* applicationId) {
    Library library;
    if (!LoadLibraryBeside(plugin, &library)) return CheckPresenceFailed;
    const int status = ShowTestPresence(library, applicationId);
    FreeLibrary(library.module);
    return status;
}

int CheckFromPlugin(const PluginFile& plugin) {
    int status = CheckPlugin(plugin);
    if (status == CheckPassed) status = CheckLibrary(plugin);
    char id[ApplicationIdMaxDigits + 1];
    ReadApplicationId(plugin.bytes, plugin.place, id);
    if (status == CheckPassed) status = CheckDiscord(id);
    if (status == CheckPassed) status = CheckPresence(plugin, id);
    if (discordWatch != INVALID_HANDLE_VALUE) CloseHandle(discordWatch);
    discordWatch = INVALID_HANDLE_VALUE;
    return status;
}

int CheckPathToDiscord(const wchar_t* typedDll) {
    static PluginFile plugin;
    if (!NamePluginFile(&plugin, typedDll) || !ReadPluginFile(&plugin)) {
        SayStep(1, L"The plug-in DLL", nullptr, L"not usable, as said above");
        return CheckPluginFailed;
    }
    return CheckFromPlugin(plugin);
}
