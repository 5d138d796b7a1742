// A stand-in of the Discord client's local pipe, for the tests of
// nowglow-appid.exe --check. It listens on \\.\pipe\discord-ipc-<index>,
// sets the named event "nowglow-discord-pipe-<index>" once it listens,
// takes one client, records the first frame it receives to a file, and
// answers as the test asks:
//   ready NAME            a READY dispatch for the user NAME
//   close CODE MESSAGE    a close frame with Discord's code and message
//   silent                no answer at all
//   cut                   a frame header announcing more bytes than follow
//   huge                  a frame header announcing 2 GB
//   badjson               a whole frame whose body is not JSON
//   opcode                a whole frame of an unknown opcode
// Then it waits until the client closes the pipe, or 30 seconds.
// Usage: nowglow-discord-pipe INDEX RECORD-FILE BEHAVIOUR [ARGUMENTS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static void Put32(unsigned char* at, unsigned value) {
    for (int i = 0; i < 4; i++) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

static bool WriteAll(HANDLE pipe, const void* bytes, size_t size) {
    DWORD put = 0;
    return WriteFile(pipe, bytes, static_cast<DWORD>(size), &put, nullptr) != FALSE && put == size;
}

// Sends a header announcing length bytes, then the body given (which may be shorter).
static void SendFrame(HANDLE pipe, unsigned opcode, unsigned length, const std::string& body) {
    unsigned char header[8];
    Put32(header, opcode);
    Put32(header + 4, length);
    WriteAll(pipe, header, sizeof header);
    if (!body.empty()) WriteAll(pipe, body.data(), body.size());
    FlushFileBuffers(pipe);
}

static void SendWhole(HANDLE pipe, unsigned opcode, const std::string& body) {
    SendFrame(pipe, opcode, static_cast<unsigned>(body.size()), body);
}

// Reads the client's first frame, whole, and writes its bytes to the record.
static bool RecordFirstFrame(HANDLE pipe, const char* record) {
    unsigned char frame[8 + 4096] = {};
    DWORD have = 0;
    DWORD got = 0;
    while (have < 8 && ReadFile(pipe, frame + have, 8 - have, &got, nullptr) != FALSE && got != 0)
        have += got;
    if (have < 8) return false;
    DWORD length = frame[4] | frame[5] << 8 | frame[6] << 16 | static_cast<DWORD>(frame[7]) << 24;
    if (length > 4096) length = 4096;
    while (have < 8 + length && ReadFile(pipe, frame + have, 8 + length - have, &got, nullptr) != FALSE &&
           got != 0)
        have += got;
    FILE* file = std::fopen(record, "wb");
    if (file == nullptr) return false;
    std::fwrite(frame, 1, have, file);
    std::fclose(file);
    return true;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: nowglow-discord-pipe INDEX RECORD-FILE BEHAVIOUR [ARGUMENTS]\n", stderr);
        return 2;
    }
    const std::string name = std::string("\\\\.\\pipe\\discord-ipc-") + argv[1];
    HANDLE pipe =
        CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                         65536, 65536, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 3;
    const std::string eventName = std::string("nowglow-discord-pipe-") + argv[1];
    HANDLE listening = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
    if (listening != nullptr) SetEvent(listening);
    if (ConnectNamedPipe(pipe, nullptr) == FALSE && GetLastError() != ERROR_PIPE_CONNECTED) return 4;
    if (!RecordFirstFrame(pipe, argv[2])) return 5;

    const std::string behaviour = argv[3];
    if (behaviour == "ready" && argc >= 5) {
        SendWhole(
            pipe, 1,
            std::string(
                "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1,\"config\":{\"cdn_host\":\"cdn.discordapp.com\","
                "\"api_endpoint\":\"//discord.com/api\",\"environment\":\"production\"},\"user\":{\"id\":"
                "\"123456789012345678\",\"username\":\"") +
                argv[4] +
                "\",\"discriminator\":\"0\",\"global_name\":null,\"avatar\":null}},\"evt\":\"READY\","
                "\"nonce\":null}");
    } else if (behaviour == "close" && argc >= 6) {
        SendWhole(pipe, 2, std::string("{\"code\":") + argv[4] + ",\"message\":\"" + argv[5] + "\"}");
    } else if (behaviour == "cut") {
        SendFrame(pipe, 1, 200, "{\"cmd\":\"DISPATCH\",\"evt\":");
    } else if (behaviour == "huge") {
        SendFrame(pipe, 1, 0x7FFFFFF0u, "{\"cmd\":\"DISPATCH\"");
    } else if (behaviour == "badjson") {
        SendWhole(pipe, 1, "{\"cmd\":\"DISPATCH\",\"evt\":\"READY\",");
    } else if (behaviour == "opcode") {
        SendWhole(pipe, 3, "{\"cmd\":\"DISPATCH\",\"evt\":\"READY\"}");
    }
    // Waits for the client to close its end, or gives up.
    const DWORD start = GetTickCount();
    char byte = 0;
    DWORD got = 0;
    while (GetTickCount() - start < 30000) {
        DWORD available = 0;
        if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) == FALSE) break;
        if (available > 0 && ReadFile(pipe, &byte, 1, &got, nullptr) == FALSE) break;
        Sleep(20);
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    return 0;
}
