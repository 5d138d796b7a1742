// A stand-in of the Discord client's local pipe, for the tests of
// nowglow-appid.exe --check. It listens on \\.\pipe\discord-ipc-<index>
// for any number of clients, as Discord does, sets the named event
// "nowglow-discord-pipe-<index>" once the pipe exists, and writes to the
// record file, one line each as it happens, each after the milliseconds
// since the stand-in started:
//   <ms> <n> open                     client n connected (n counts from 1)
//   <ms> <n> frame <opcode> <length> <body>   a whole frame client n sent
//   <ms> <n> taken                    the SET_ACTIVITY just recorded is what the
//                                     profile shows now (a clear shows nothing)
//   <ms> <n> ignored                  the SET_ACTIVITY just recorded came too
//                                     soon and was thrown away
//   <ms> <n> dropped                  client n's connection closed by the stand-in
//   <ms> <n> closed                   client n's end went
//   <ms> quit                         the stand-in ends itself (--quit-after-presence)
// Each client's handshake is answered as the behaviour says:
//   ready NAME            READY for the user NAME; then every SET_ACTIVITY is
//                         answered as Discord does, and, as Discord does, taken
//                         only when the last one taken (from any client) is
//                         15 s old, else silently ignored; a client whose
//                         connection ends takes its activity with it
//   first-only NAME       READY for the first client, as ready; every later
//                         client's connection is closed once its handshake came
//   refuse CODE MESSAGE   READY; then every SET_ACTIVITY is answered with an
//                         ERROR of that code and message
//   close CODE MESSAGE    a close frame with Discord's code and message
//   silent                no answer at all
//   late MS               nothing read for MS milliseconds (the client's write
//                         waits, the pipe's buffer being one byte), then the
//                         handshake is read and never answered
//   cut                   a frame header announcing more bytes than follow
//   huge                  a frame header announcing 2 GB
//   badjson               a whole frame whose body is not JSON
//   opcode                a whole frame of an unknown opcode
// Options, after the behaviour:
//   --busy MS             for the first MS milliseconds the pipe's only
//                         instance is held by a client of the stand-in's own,
//                         so that the pipe is busy
//   --quit-after-presence MS   ends the stand-in MS milliseconds after it took
//                         the first presence: every connection breaks
//   --lifetime MS         ends the stand-in by itself after MS milliseconds
//                         (two minutes without it)
// Usage: nowglow-discord-pipe INDEX RECORD-FILE BEHAVIOUR [ARGUMENTS] [OPTIONS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum : unsigned { OpHandshake = 0, OpFrame = 1, OpClose = 2, OpPing = 3, OpPong = 4 };

static DWORD lifetimeMs = 120000;
// Discord takes one activity update per this long and ignores the rest.
static const DWORD ActivityWindowMs = 15000;

static std::wstring pipeName;
static std::wstring recordPath;
static std::string behaviour;
static std::vector<std::string> arguments;  // the behaviour's, as UTF-8
static DWORD busyMs;
static DWORD quitAfterPresenceMs;
static bool quitting;
static std::mutex recordLock;
static HANDLE presenceTaken;
static DWORD startMs;
static bool activityTaken;  // any SET_ACTIVITY taken yet; guarded by recordLock
static DWORD activityTakenMs;

// Appends one line to the record, whole, after the time; recordLock held.
static void AppendRecord(const std::string& event) {
    const std::string line = std::to_string(GetTickCount() - startMs) + " " + event;
    HANDLE file = CreateFileW(recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string whole = line + "\n";
    DWORD put = 0;
    WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &put, nullptr);
    CloseHandle(file);
}

static void Record(const std::string& event) {
    std::lock_guard<std::mutex> hold(recordLock);
    AppendRecord(event);
}

static void Put32(unsigned char* at, unsigned value) {
    for (int i = 0; i < 4; i++) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

static unsigned Read32(const unsigned char* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<unsigned>(at[3]) << 24;
}

static bool WriteAll(HANDLE pipe, const void* bytes, size_t size) {
    DWORD put = 0;
    return WriteFile(pipe, bytes, static_cast<DWORD>(size), &put, nullptr) != FALSE && put == size;
}

static bool ReadAll(HANDLE pipe, void* bytes, size_t size) {
    size_t have = 0;
    while (have < size) {
        DWORD got = 0;
        if (ReadFile(pipe, static_cast<char*>(bytes) + have, static_cast<DWORD>(size - have), &got,
                     nullptr) == FALSE ||
            got == 0)
            return false;
        have += got;
    }
    return true;
}

// Takes or ignores client n's SET_ACTIVITY as Discord's rate limit does,
// and records which.
static void RateActivity(int n) {
    std::lock_guard<std::mutex> hold(recordLock);
    const DWORD nowMs = GetTickCount();
    const bool take = !activityTaken || nowMs - activityTakenMs >= ActivityWindowMs;
    if (take) {
        activityTaken = true;
        activityTakenMs = nowMs;
    }
    AppendRecord(std::to_string(n) + (take ? " taken" : " ignored"));
}

// Sends a header announcing length bytes, then the body given (which may be shorter).
static void SendFrame(HANDLE pipe, unsigned opcode, unsigned length, const std::string& body) {
    unsigned char header[8];
    Put32(header, opcode);
    Put32(header + 4, length);
    WriteAll(pipe, header, sizeof header);
    if (!body.empty()) WriteAll(pipe, body.data(), body.size());
}

static void SendWhole(HANDLE pipe, unsigned opcode, const std::string& body) {
    SendFrame(pipe, opcode, static_cast<unsigned>(body.size()), body);
}

struct Frame {
    unsigned opcode;
    std::string body;
};

// Reads one whole frame from client n and records it; false when the
// client's end went (recorded too).
static bool ReadFrame(HANDLE pipe, int n, Frame* frame) {
    unsigned char header[8];
    if (!ReadAll(pipe, header, sizeof header)) {
        Record(std::to_string(n) + " closed");
        return false;
    }
    frame->opcode = Read32(header);
    const unsigned length = Read32(header + 4);
    frame->body.assign(length > 65536 ? 65536 : length, '\0');
    if (!ReadAll(pipe, frame->body.data(), frame->body.size())) {
        Record(std::to_string(n) + " closed");
        return false;
    }
    Record(std::to_string(n) + " frame " + std::to_string(frame->opcode) + " " + std::to_string(length) +
           " " + frame->body);
    return true;
}

// Reads until client n's end goes.
static void WaitForClose(HANDLE pipe, int n) {
    Frame frame;
    while (ReadFrame(pipe, n, &frame)) {
    }
}

// The value of a string member named key in a flat JSON text, or "".
static std::string StringMember(const std::string& json, const std::string& key) {
    const std::string lead = "\"" + key + "\":\"";
    const size_t start = json.find(lead);
    if (start == std::string::npos) return "";
    const size_t from = start + lead.size();
    const size_t end = json.find('"', from);
    return end == std::string::npos ? "" : json.substr(from, end - from);
}

static void SendReady(HANDLE pipe, const std::string& user) {
    SendWhole(pipe, OpFrame,
              "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1,\"config\":{\"cdn_host\":\"cdn.discordapp.com\","
              "\"api_endpoint\":\"//discord.com/api\",\"environment\":\"production\"},\"user\":{\"id\":"
              "\"123456789012345678\",\"username\":\"" +
                  user +
                  "\",\"discriminator\":\"0\",\"global_name\":null,\"avatar\":null}},\"evt\":\"READY\","
                  "\"nonce\":null}");
}

// Takes client n's commands after READY: SET_ACTIVITY answered (or refused,
// when refusal holds a code and a message), pings answered, until its end
// goes or it sends a close.
static void ServeCommands(HANDLE pipe, int n, const std::string* refusal) {
    Frame frame;
    while (ReadFrame(pipe, n, &frame)) {
        if (frame.opcode == OpPing) {
            SendWhole(pipe, OpPong, frame.body);
        } else if (frame.opcode == OpClose) {
            break;
        } else if (frame.opcode == OpFrame && StringMember(frame.body, "cmd") == "SET_ACTIVITY") {
            if (refusal == nullptr) RateActivity(n);
            const std::string nonce = StringMember(frame.body, "nonce");
            if (refusal != nullptr) {
                SendWhole(pipe, OpFrame,
                          "{\"cmd\":\"SET_ACTIVITY\",\"data\":" + *refusal +
                              ",\"evt\":\"ERROR\",\"nonce\":\"" + nonce + "\"}");
            } else {
                SendWhole(
                    pipe, OpFrame,
                    "{\"cmd\":\"SET_ACTIVITY\",\"data\":null,\"evt\":null,\"nonce\":\"" + nonce + "\"}");
                if (frame.body.find("\"activity\"") != std::string::npos) SetEvent(presenceTaken);
            }
        }
    }
}

static std::string Argument(size_t i) { return i < arguments.size() ? arguments[i] : ""; }

// Serves client n on its own instance of the pipe.
static void Serve(HANDLE pipe, int n) {
    Record(std::to_string(n) + " open");
    if (behaviour == "late") Sleep(static_cast<DWORD>(std::strtoul(Argument(0).c_str(), nullptr, 10)));
    Frame handshake;
    if (ReadFrame(pipe, n, &handshake)) {
        const std::string refusal = "{\"code\":" + Argument(0) + ",\"message\":\"" + Argument(1) + "\"}";
        if (behaviour == "ready" || (behaviour == "first-only" && n == 1)) {
            SendReady(pipe, Argument(0));
            ServeCommands(pipe, n, nullptr);
        } else if (behaviour == "first-only") {
            Record(std::to_string(n) + " dropped");
        } else if (behaviour == "refuse") {
            SendReady(pipe, "tester");
            ServeCommands(pipe, n, &refusal);
        } else {
            if (behaviour == "close") {
                SendWhole(pipe, OpClose, refusal);
            } else if (behaviour == "cut") {
                SendFrame(pipe, OpFrame, 200, "{\"cmd\":\"DISPATCH\",\"evt\":");
            } else if (behaviour == "huge") {
                SendFrame(pipe, OpFrame, 0x7FFFFFF0u, "{\"cmd\":\"DISPATCH\"");
            } else if (behaviour == "badjson") {
                SendWhole(pipe, OpFrame, "{\"cmd\":\"DISPATCH\",\"evt\":\"READY\",");
            } else if (behaviour == "opcode") {
                SendWhole(pipe, 3, "{\"cmd\":\"DISPATCH\",\"evt\":\"READY\"}");
            }
            WaitForClose(pipe, n);
        }
    }
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}

static HANDLE NewInstance(void) {
    // A late reader's pipe holds one byte, so that the client's write of its
    // handshake waits until the stand-in reads.
    const DWORD buffer = behaviour == "late" ? 1 : 65536;
    return CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, buffer,
                            buffer, 0, nullptr);
}

// Ends the stand-in the given time after it took its first presence.
static void QuitAfterPresence(void) {
    if (WaitForSingleObject(presenceTaken, lifetimeMs) != WAIT_OBJECT_0) return;
    Sleep(quitAfterPresenceMs);
    Record("quit");
    ExitProcess(0);
}

static std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fputs("usage: nowglow-discord-pipe INDEX RECORD-FILE BEHAVIOUR [ARGUMENTS] [OPTIONS]\n", stderr);
        return 2;
    }
    pipeName = std::wstring(L"\\\\.\\pipe\\discord-ipc-") + argv[1];
    recordPath = argv[2];
    behaviour = Utf8(argv[3]);
    for (int i = 4; i < argc; i++) {
        const std::wstring option = argv[i];
        if (option == L"--busy" && i + 1 < argc) {
            busyMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (option == L"--lifetime" && i + 1 < argc) {
            lifetimeMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (option == L"--quit-after-presence" && i + 1 < argc) {
            quitAfterPresenceMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
            quitting = true;
        } else {
            arguments.push_back(Utf8(argv[i]));
        }
    }
    startMs = GetTickCount();
    presenceTaken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread([] {
        Sleep(lifetimeMs);
        ExitProcess(0);
    }).detach();
    if (quitting) std::thread(QuitAfterPresence).detach();

    HANDLE instance = NewInstance();
    if (instance == INVALID_HANDLE_VALUE) return 3;
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (busyMs > 0) {
        holder = CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        ConnectNamedPipe(instance, nullptr);
    }
    const std::wstring eventName = std::wstring(L"nowglow-discord-pipe-") + argv[1];
    HANDLE listening = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
    if (listening != nullptr) SetEvent(listening);
    if (busyMs > 0) {
        Sleep(busyMs);
        // A free instance first, so that the pipe never vanishes between.
        HANDLE busy = instance;
        instance = NewInstance();
        CloseHandle(holder);
        DisconnectNamedPipe(busy);
        CloseHandle(busy);
        if (instance == INVALID_HANDLE_VALUE) return 3;
    }
    for (int n = 1;; n++) {
        if (ConnectNamedPipe(instance, nullptr) == FALSE && GetLastError() != ERROR_PIPE_CONNECTED) return 4;
        std::thread(Serve, instance, n).detach();
        instance = NewInstance();
        if (instance == INVALID_HANDLE_VALUE) return 3;
    }
}
