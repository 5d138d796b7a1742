// The recording stand-in's way to Discord's pipe, behaving as discord-rpc
// 3.4.0 does (see discord_speaker.h). The thread that owns the connection
// is the only one that touches the pipe; the caller's threads queue the
// presence under a lock and read the events through flags.
#include <windows.h>

#include "tools/discord_standin/discord_speaker.h"

#include <cstdio>
#include <cstring>
#include <string>

enum : uint32_t { OpHandshake = 0, OpFrame = 1, OpClose = 2, OpPing = 3, OpPong = 4 };
enum : int { PipeClosedCode = 1, ReadCorruptCode = 2 };
enum class Link { Disconnected, SentHandshake, Connected };

// Backoff of the reconnections, as the library's: from half a second,
// growing to a minute; a connection that got READY starts it afresh.
static const DWORD FirstRetryMs = 500;
static const DWORD LastRetryMs = 60000;
// The library's thread runs this often when nothing wakes it.
static const DWORD IoPeriodMs = 500;
// How long a busy pipe is waited for.
static const DWORD BusyWaitMs = 10000;
// The longest frame the library sends or reads.
static const size_t LongestMessage = 16 * 1024;

// Owned by the I/O thread.
static HANDLE pipe = INVALID_HANDLE_VALUE;
static Link link = Link::Disconnected;
static DWORD nextConnect;
static DWORD retryMs = FirstRetryMs;
static char appId[64];
static int lastCode;
static char lastMessage[256];

// Shared with the caller's threads.
static HANDLE ioThread;
static HANDLE wake;
static volatile LONG keepRunning;
static volatile LONG connected;
static volatile LONG justConnected;
static volatile LONG justDisconnected;
static volatile LONG gotError;
static int disconnectCode;
static char disconnectMessage[256];
static int errorCode;
static char errorMessage[256];
static SRWLOCK presenceLock = SRWLOCK_INIT;
static std::string queuedPresence;
static int nonce = 1;
static SRWLOCK handlerLock = SRWLOCK_INIT;
static DiscordEventHandlers queuedHandlers;
static DiscordEventHandlers handlers;

bool SpeakerWanted(void) {
    char value[8];
    const DWORD length = GetEnvironmentVariableA("NOWGLOW_RECORDER_SPEAKS", value, sizeof value);
    return length > 0 && length < sizeof value;
}

static void CopyText(char (&to)[256], const char* from) { std::snprintf(to, sizeof to, "%s", from); }

// ---- frames ----

static bool WriteFrame(uint32_t opcode, const std::string& body) {
    std::string frame(8, '\0');
    for (int i = 0; i < 4; i++) {
        frame[i] = static_cast<char>(opcode >> (8 * i));
        frame[4 + i] = static_cast<char>(body.size() >> (8 * i));
    }
    frame += body;
    DWORD put = 0;
    return WriteFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), &put, nullptr) != FALSE &&
           put == frame.size();
}

// Reads length bytes if that many are waiting, as the library does: never
// blocks; false with broken set when the pipe broke.
static bool ReadWaiting(void* into, DWORD length, bool* broken) {
    DWORD available = 0;
    if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) == FALSE) {
        *broken = true;
        return false;
    }
    if (available < length) return false;
    DWORD got = 0;
    if (ReadFile(pipe, into, length, &got, nullptr) == FALSE || got != length) {
        *broken = true;
        return false;
    }
    return true;
}

// ---- the connection ----

static void Close(void) {
    if (link != Link::Disconnected) {
        disconnectCode = lastCode;
        CopyText(disconnectMessage, lastMessage);
        AcquireSRWLockExclusive(&handlerLock);
        std::memset(&handlers, 0, sizeof handlers);
        ReleaseSRWLockExclusive(&handlerLock);
        InterlockedExchange(&connected, 0);
        InterlockedExchange(&justDisconnected, 1);
        nextConnect = GetTickCount() + retryMs;
    }
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
    link = Link::Disconnected;
}

// The number after "key": in a flat JSON text, or otherwise.
static int NumberMember(const std::string& json, const char* key, int otherwise) {
    const std::string lead = std::string("\"") + key + "\":";
    const size_t at = json.find(lead);
    return at == std::string::npos
               ? otherwise
               : static_cast<int>(std::strtol(json.c_str() + at + lead.size(), nullptr, 10));
}

// The string after "key": in a flat JSON text, or "".
static std::string StringMember(const std::string& json, const char* key) {
    const std::string lead = std::string("\"") + key + "\":\"";
    const size_t at = json.find(lead);
    if (at == std::string::npos) return "";
    const size_t end = json.find('"', at + lead.size());
    return end == std::string::npos ? "" : json.substr(at + lead.size(), end - at - lead.size());
}

// Closes the connection for a close frame, or a frame of no known kind.
static void CloseFor(uint32_t opcode, const std::string& body) {
    lastCode = opcode == OpClose ? NumberMember(body, "code", ReadCorruptCode) : ReadCorruptCode;
    CopyText(lastMessage, opcode == OpClose ? StringMember(body, "message").c_str() : "Bad ipc frame");
    Close();
}

// One frame from Discord when a whole one waits; pings are answered, a
// close or a broken pipe closes the connection.
static bool ReadMessage(std::string* body) {
    for (;;) {
        unsigned char header[8];
        bool broken = false;
        if (!ReadWaiting(header, sizeof header, &broken)) {
            if (broken) {
                lastCode = PipeClosedCode;
                CopyText(lastMessage, "Pipe closed");
                Close();
            }
            return false;
        }
        const uint32_t opcode =
            header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
        const uint32_t length =
            header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24;
        body->assign(length < LongestMessage ? static_cast<size_t>(length) : LongestMessage, '\0');
        if (length > 0 && (length >= LongestMessage || !ReadWaiting(body->data(), length, &broken))) {
            lastCode = ReadCorruptCode;
            CopyText(lastMessage, "Partial data in frame");
            Close();
            return false;
        }
        if (opcode == OpFrame) return true;
        if (opcode == OpPing && WriteFrame(OpPong, *body)) continue;
        if (opcode == OpPong) continue;
        CloseFor(opcode, *body);
        return false;
    }
}

// Opens discord-ipc-0 to -9 as the library does.
static bool OpenPipe(void) {
    for (int index = 0; index < 10;) {
        wchar_t name[64];
        std::swprintf(name, sizeof name / sizeof name[0], L"\\\\.\\pipe\\discord-ipc-%d", index);
        pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return true;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            index++;
        } else if (error != ERROR_PIPE_BUSY || WaitNamedPipeW(name, BusyWaitMs) == FALSE) {
            return false;
        }
    }
    return false;
}

// One attempt to get further towards READY: open and send the handshake,
// or read the answer to it.
static void Connect(void) {
    if (link == Link::Disconnected) {
        if (!OpenPipe()) return;
        const std::string handshake = std::string("{\"v\":1,\"client_id\":\"") + appId + "\"}";
        if (WriteFrame(OpHandshake, handshake)) {
            link = Link::SentHandshake;
        } else {
            Close();
        }
        return;
    }
    std::string message;
    if (!ReadMessage(&message)) return;
    if (message.find("\"cmd\":\"DISPATCH\"") == std::string::npos ||
        message.find("\"evt\":\"READY\"") == std::string::npos)
        return;
    link = Link::Connected;
    retryMs = FirstRetryMs;
    AcquireSRWLockExclusive(&handlerLock);
    handlers = queuedHandlers;
    ReleaseSRWLockExclusive(&handlerLock);
    InterlockedExchange(&connected, 1);
    InterlockedExchange(&justConnected, 1);
}

// Reads Discord's answers (an ERROR is kept for errored) and sends the
// queued presence.
static void Exchange(void) {
    std::string message;
    while (ReadMessage(&message)) {
        if (message.find("\"evt\":\"ERROR\"") == std::string::npos ||
            message.find("\"nonce\":\"") == std::string::npos)
            continue;
        errorCode = NumberMember(message, "code", 0);
        CopyText(errorMessage, StringMember(message, "message").c_str());
        InterlockedExchange(&gotError, 1);
    }
    if (link != Link::Connected) return;
    AcquireSRWLockExclusive(&presenceLock);
    std::string presence;
    presence.swap(queuedPresence);
    ReleaseSRWLockExclusive(&presenceLock);
    if (!presence.empty() && !WriteFrame(OpFrame, presence)) {
        lastCode = PipeClosedCode;
        CopyText(lastMessage, "Pipe closed");
        Close();
        AcquireSRWLockExclusive(&presenceLock);
        if (queuedPresence.empty()) queuedPresence.swap(presence);
        ReleaseSRWLockExclusive(&presenceLock);
    }
}

static DWORD WINAPI IoThreadMain(LPVOID) {
    nextConnect = GetTickCount();
    while (keepRunning != 0) {
        if (link != Link::Connected) {
            if (static_cast<LONG>(GetTickCount() - nextConnect) >= 0) {
                nextConnect = GetTickCount() + retryMs;
                retryMs = retryMs * 2 > LastRetryMs ? LastRetryMs : retryMs * 2;
                Connect();
            }
        } else {
            Exchange();
        }
        WaitForSingleObject(wake, IoPeriodMs);
    }
    return 0;
}

// ---- the library's functions ----

void SpeakerInitialize(const char* applicationId, const DiscordEventHandlers* newHandlers) {
    AcquireSRWLockExclusive(&handlerLock);
    if (newHandlers != nullptr) {
        queuedHandlers = *newHandlers;
    } else {
        std::memset(&queuedHandlers, 0, sizeof queuedHandlers);
    }
    std::memset(&handlers, 0, sizeof handlers);
    ReleaseSRWLockExclusive(&handlerLock);
    if (ioThread != nullptr) return;
    std::snprintf(appId, sizeof appId, "%s", applicationId != nullptr ? applicationId : "");
    link = Link::Disconnected;
    retryMs = FirstRetryMs;
    wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    keepRunning = 1;
    ioThread = CreateThread(nullptr, 0, IoThreadMain, nullptr, 0, nullptr);
}

// Appends "key":"value" with the value's JSON escapes, when value has text.
static void AddString(std::string* json, const char* key, const char* value) {
    if (value == nullptr || value[0] == '\0') return;
    *json += std::string(json->back() == '{' ? "" : ",") + "\"" + key + "\":\"";
    for (const char* c = value; *c != '\0'; c++) {
        if (*c == '"' || *c == '\\') {
            *json += '\\';
            *json += *c;
        } else if (static_cast<unsigned char>(*c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(*c));
            *json += escape;
        } else {
            *json += *c;
        }
    }
    *json += "\"";
}

void SpeakerUpdate(const DiscordRichPresence* presence) {
    if (ioThread == nullptr) return;
    AcquireSRWLockExclusive(&presenceLock);
    std::string json =
        "{\"nonce\":\"" + std::to_string(nonce++) +
        "\",\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":" + std::to_string(GetCurrentProcessId());
    if (presence != nullptr) {
        json += ",\"activity\":{";
        AddString(&json, "state", presence->state);
        AddString(&json, "details", presence->details);
        if (presence->startTimestamp != 0 || presence->endTimestamp != 0) {
            json += std::string(json.back() == '{' ? "" : ",") + "\"timestamps\":{";
            if (presence->startTimestamp != 0)
                json += "\"start\":" + std::to_string(presence->startTimestamp);
            if (presence->endTimestamp != 0)
                json += std::string(json.back() == '{' ? "" : ",") +
                        "\"end\":" + std::to_string(presence->endTimestamp);
            json += "}";
        }
        json += std::string(json.back() == '{' ? "" : ",") + "\"assets\":{";
        AddString(&json, "large_image", presence->largeImageKey);
        AddString(&json, "large_text", presence->largeImageText);
        AddString(&json, "small_image", presence->smallImageKey);
        AddString(&json, "small_text", presence->smallImageText);
        json += std::string("},\"instance\":") + (presence->instance != 0 ? "true" : "false") + "}";
    }
    json += "}}";
    queuedPresence = json;
    ReleaseSRWLockExclusive(&presenceLock);
}

void SpeakerShutdown(void) {
    if (ioThread == nullptr) return;
    AcquireSRWLockExclusive(&handlerLock);
    std::memset(&handlers, 0, sizeof handlers);
    ReleaseSRWLockExclusive(&handlerLock);
    InterlockedExchange(&keepRunning, 0);
    SetEvent(wake);
    WaitForSingleObject(ioThread, INFINITE);
    CloseHandle(ioThread);
    ioThread = nullptr;
    CloseHandle(wake);
    wake = nullptr;
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
    link = Link::Disconnected;
    InterlockedExchange(&connected, 0);
    AcquireSRWLockExclusive(&presenceLock);
    queuedPresence.clear();
    ReleaseSRWLockExclusive(&presenceLock);
}

void SpeakerRunCallbacks(void) {
    if (ioThread == nullptr) return;
    const bool wasDisconnected = InterlockedExchange(&justDisconnected, 0) != 0;
    const bool isConnected = connected != 0;
    AcquireSRWLockExclusive(&handlerLock);
    const DiscordEventHandlers now = handlers;
    ReleaseSRWLockExclusive(&handlerLock);
    if (isConnected && wasDisconnected && now.disconnected != nullptr)
        now.disconnected(disconnectCode, disconnectMessage);
    if (InterlockedExchange(&justConnected, 0) != 0 && now.ready != nullptr) {
        DiscordUser user = {"123456789012345678", "", "0", ""};
        now.ready(&user);
    }
    if (InterlockedExchange(&gotError, 0) != 0 && now.errored != nullptr)
        now.errored(errorCode, errorMessage);
    if (!isConnected && wasDisconnected && now.disconnected != nullptr)
        now.disconnected(disconnectCode, disconnectMessage);
}
