// The check of nowglow-appid.exe: the plug-in's DLL, discord-rpc.dll beside
// it, Discord over its local pipe, and a test presence through the library.
// It writes no file and no registry key and never changes the DLL.
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

// The four functions the plug-in imports; XMPlay does not even list a
// plug-in whose library lacks one.
static const char* const LibraryFunctions[] = {"Discord_Initialize", "Discord_UpdatePresence",
                                               "Discord_ClearPresence", "Discord_Shutdown"};

// The library's file may be a few hundred kilobytes; a larger one is not it.
static const DWORD LargestLibrary = 16u * 1024u * 1024u;

// How long Discord is given to answer the handshake, in all.
static const DWORD AnswerTimeoutMs = 5000;

// How long the test presence shows, in seconds.
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

static wchar_t line[2048];

// Prints one step's line: its number, its name and what was found.
static void SayStep(int step, const wchar_t* name, const wchar_t* found) {
    std::swprintf(line, sizeof line / sizeof line[0], L"%d. %ls: %ls", step, name, found);
    SayLine(line);
}

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
    static wchar_t found[1024];
    if (bytes == nullptr && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"missing. Without it XMPlay does not even list the plug-in. Get the %d-bit "
                      L"discord-rpc.dll of discord-rpc 3.4.0 from %ls (in discord-rpc-win.zip, "
                      L"win32-dynamic\\bin\\discord-rpc.dll) and put it beside XMP-Nowglow.dll",
                      LibraryBits, ReleasePage);
        SayStep(2, Name, found);
        return CheckLibraryFailed;
    }
    if (bytes == nullptr) {
        SayStep(2, Name, L"cannot be read: it is not the library, or Windows keeps it from this account");
        return CheckLibraryFailed;
    }
    const LibraryJudgement judged = JudgeLibrary(bytes, size, LibraryMachine, LibraryFunctions, 4);
    std::free(bytes);
    switch (judged.verdict) {
    case LibraryVerdict::Good: SayStep(2, Name, L"ok"); return CheckPassed;
    case LibraryVerdict::NotDll:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"not a Windows DLL. Get the %d-bit discord-rpc.dll of discord-rpc 3.4.0 from %ls",
                      LibraryBits, ReleasePage);
        break;
    case LibraryVerdict::OtherMachine:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"the %d-bit DLL. XMPlay is a %d-bit program: get the %d-bit discord-rpc.dll of "
                      L"discord-rpc 3.4.0 from %ls (in discord-rpc-win.zip, win32-dynamic\\bin)",
                      judged.machine == MachineAmd64 ? 64 : 32, LibraryBits, LibraryBits, ReleasePage);
        break;
    case LibraryVerdict::MissingExport:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"it has no %hs, so it is not discord-rpc 3.4.0 and XMPlay does not list the plug-in. "
                      L"Get discord-rpc.dll from %ls",
                      judged.missing, ReleasePage);
        break;
    }
    SayStep(2, Name, found);
    return CheckLibraryFailed;
}

// Reads exactly size bytes from the pipe before the deadline (a tick
// count); false on silence, a cut frame or a closed pipe.
static bool ReadBefore(HANDLE pipe, HANDLE event, uint8_t* into, DWORD size, DWORD deadline) {
    DWORD have = 0;
    while (have < size) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        DWORD got = 0;
        if (ReadFile(pipe, into + have, size - have, &got, &overlapped) == FALSE) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            const DWORD now = GetTickCount();
            const DWORD left = static_cast<DWORD>(deadline - now) > AnswerTimeoutMs ? 0 : deadline - now;
            if (WaitForSingleObject(event, left) != WAIT_OBJECT_0) {
                CancelIo(pipe);
                GetOverlappedResult(pipe, &overlapped, &got, TRUE);
                return false;
            }
            if (GetOverlappedResult(pipe, &overlapped, &got, FALSE) == FALSE) return false;
        }
        if (got == 0) return false;
        have += got;
    }
    return true;
}

// The first of Discord's pipes that opens; INVALID_HANDLE_VALUE when none
// does, with denied set when one exists that this account may not open.
static HANDLE OpenDiscordPipe(bool* denied) {
    *denied = false;
    for (int index = 0; index < 10; index++) {
        wchar_t name[64];
        std::swprintf(name, sizeof name / sizeof name[0], L"\\\\.\\pipe\\discord-ipc-%d", index);
        HANDLE pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        if (GetLastError() == ERROR_ACCESS_DENIED) *denied = true;
    }
    return INVALID_HANDLE_VALUE;
}

// Sends the handshake and judges the answer; the pipe is closed after.
static Answer AskDiscord(HANDLE pipe, const char* applicationId, bool* answered) {
    Answer answer = {};
    *answered = false;
    uint8_t handshake[128];
    const size_t size = BuildHandshake(applicationId, handshake, sizeof handshake);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD put = 0;
    bool sent =
        WriteFile(pipe, handshake, static_cast<DWORD>(size), &put, &overlapped) != FALSE ||
        (GetLastError() == ERROR_IO_PENDING && WaitForSingleObject(event, AnswerTimeoutMs) == WAIT_OBJECT_0 &&
         GetOverlappedResult(pipe, &overlapped, &put, FALSE) != FALSE);
    const DWORD deadline = GetTickCount() + AnswerTimeoutMs;
    uint8_t header[FrameHeaderSize];
    if (sent && ReadBefore(pipe, event, header, sizeof header, deadline)) {
        static uint8_t body[LongestAnswer];
        const FrameHeader frame = ReadFrameHeader(header);
        // A frame of another kind, or one longer than any answer, is judged
        // by its header alone: its body is never read.
        if ((frame.opcode != OpcodeFrame && frame.opcode != OpcodeClose) || frame.length > LongestAnswer) {
            answer = JudgeAnswer(frame, body, 0);
            *answered = true;
        } else if (ReadBefore(pipe, event, body, frame.length, deadline)) {
            answer = JudgeAnswer(frame, body, frame.length);
            *answered = true;
        }
    }
    CancelIo(pipe);
    CloseHandle(event);
    CloseHandle(pipe);
    return answer;
}

static int CheckDiscord(const char* applicationId, char* userName, size_t capacity) {
    static const wchar_t Name[] = L"Discord";
    bool denied = false;
    HANDLE pipe = OpenDiscordPipe(&denied);
    if (pipe == INVALID_HANDLE_VALUE && denied) {
        SayStep(3, Name,
                L"Discord runs, but as administrator or as another Windows user, and this account may not "
                L"reach it. XMPlay must run the same way as Discord: start both normally, as yourself");
        return CheckNoDiscord;
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        SayStep(3, Name,
                L"not running for this Windows user. Start the Discord desktop program and sign in; the "
                L"browser version cannot be reached");
        return CheckNoDiscord;
    }
    bool answered = false;
    const Answer answer = AskDiscord(pipe, applicationId, &answered);
    static wchar_t found[1024];
    if (!answered) {
        SayStep(3, Name, L"gave no whole answer within 5 seconds. Restart Discord, then run the check again");
        return CheckDiscordAnswerFailed;
    }
    switch (answer.verdict) {
    case AnswerVerdict::Ready:
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"ok, it accepts the application ID; signed in as %hs",
                      answer.userName[0] != '\0' ? answer.userName : "(no name given)");
        SayStep(3, Name, found);
        std::snprintf(userName, capacity, "%s", answer.userName);
        return CheckPassed;
    case AnswerVerdict::Closed:
        if (answer.code == 4000) {
            std::swprintf(
                found, sizeof found / sizeof found[0],
                L"refuses the application ID (code 4000: %hs). Register an application in Discord's "
                L"Developer Portal, copy its Application ID and write it into the DLL with "
                L"nowglow-appid.exe",
                answer.message);
            SayStep(3, Name, found);
            return CheckIdRefused;
        }
        std::swprintf(found, sizeof found / sizeof found[0],
                      L"closed the connection (code %lld: %hs). Restart Discord, then run the check again",
                      static_cast<long long>(answer.code), answer.message);
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
    SayStep(3, Name, found);
    return CheckDiscordAnswerFailed;
}

// The library's functions as the check calls them, with the plug-in's own
// declarations of the record and the handlers.
typedef void(DISCORD_CDECL* InitializeProc)(const char*, DiscordEventHandlers*, int, const char*);
typedef void(DISCORD_CDECL* UpdateProc)(const DiscordRichPresence*);
typedef void(DISCORD_CDECL* PlainProc)(void);

// One of the library's functions by name, as its type; null when missing.
template <typename Proc>
static Proc LibraryFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

static int ShowTestPresence(const PluginFile& plugin, const char* applicationId) {
    static const wchar_t Name[] = L"Test presence";
    static wchar_t path[32768];
    HMODULE library = nullptr;
    if (LibraryBeside(plugin, path, sizeof path / sizeof path[0]))
        library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        SayStep(4, Name, L"discord-rpc.dll does not load; get it again from the release page");
        return CheckPresenceFailed;
    }
    const InitializeProc initialize = LibraryFunction<InitializeProc>(library, "Discord_Initialize");
    const UpdateProc update = LibraryFunction<UpdateProc>(library, "Discord_UpdatePresence");
    const PlainProc clear = LibraryFunction<PlainProc>(library, "Discord_ClearPresence");
    const PlainProc shutdown = LibraryFunction<PlainProc>(library, "Discord_Shutdown");
    if (initialize == nullptr || update == nullptr || clear == nullptr || shutdown == nullptr) {
        FreeLibrary(library);
        SayStep(4, Name, L"discord-rpc.dll lacks one of its functions; get it again from the release page");
        return CheckPresenceFailed;
    }
    DiscordEventHandlers handlers;
    std::memset(&handlers, 0, sizeof handlers);
    // autoRegister 0: the check writes nothing to the registry.
    initialize(applicationId, &handlers, 0, nullptr);
    DiscordRichPresence presence;
    std::memset(&presence, 0, sizeof presence);
    presence.details = "Nowglow test presence";
    presence.state = "shown by nowglow-appid.exe --check";
    presence.largeImageKey = "icon";
    presence.largeImageText = "XMPlay";
    presence.smallImageKey = "play";
    presence.smallImageText = "Playing";
    presence.endTimestamp = static_cast<int64_t>(std::time(nullptr)) + TestPresenceSeconds;
    presence.instance = 1;
    update(&presence);
    SayLine(
        L"4. Test presence: shown now on your Discord profile, for 15 seconds. Nothing at all there means "
        L"Discord's activity sharing (Activity Privacy) is off; a card without images means the four art "
        L"assets are missing or still being processed by Discord.");
    for (int left = TestPresenceSeconds; left > 0; left--) {
        wchar_t count[16];
        std::swprintf(count, sizeof count / sizeof count[0], L"%d ", left);
        SayPrompt(count);
        Sleep(1000);
    }
    clear();
    shutdown();
    FreeLibrary(library);
    SayLine(L"");
    SayLine(L"4. Test presence: cleared. Every step passed.");
    return CheckPassed;
}

int CheckFromLibrary(const PluginFile& plugin) {
    int status = CheckLibrary(plugin);
    if (status != CheckPassed) return status;
    char id[ApplicationIdMaxDigits + 1];
    ReadApplicationId(plugin.bytes, plugin.place, id);
    char userName[128] = "";
    status = CheckDiscord(id, userName, sizeof userName);
    if (status != CheckPassed) return status;
    return ShowTestPresence(plugin, id);
}

int CheckPathToDiscord(const wchar_t* typedDll) {
    static PluginFile plugin;
    if (!NamePluginFile(&plugin, typedDll) || !ReadPluginFile(&plugin)) {
        SayStep(1, L"The plug-in DLL", L"not usable, as said above");
        return CheckPluginFailed;
    }
    char id[ApplicationIdMaxDigits + 1];
    ReadApplicationId(plugin.bytes, plugin.place, id);
    static wchar_t found[512];
    std::swprintf(
        found, sizeof found / sizeof found[0], L"ok, it carries the application ID %hs%ls", id,
        std::strcmp(id, NOWGLOW_PLACEHOLDER_APP_ID) == 0
            ? L" (the placeholder: Discord will refuse it; put your own application's ID into the DLL)"
            : L"");
    SayStep(1, L"The plug-in DLL", found);
    return CheckFromLibrary(plugin);
}
