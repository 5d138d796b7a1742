// Discord's local IPC as nowglow-appid.exe --check speaks it, kept free of
// Windows so that it can be tested and fuzzed natively. A frame is a
// little-endian 32-bit opcode, a 32-bit length and that many bytes of UTF-8
// JSON. The check sends one handshake and reads one answer: a READY
// dispatch carrying the signed-in user, or a close with Discord's code and
// message.
#pragma once

#include <cstddef>
#include <cstdint>

enum : uint32_t { OpcodeHandshake = 0, OpcodeFrame = 1, OpcodeClose = 2 };

// The size of a frame's header, and the longest answer the check reads:
// Discord's READY is a few hundred bytes; a length above this is no answer.
enum : size_t { FrameHeaderSize = 8, LongestAnswer = 16384 };

// Writes the handshake frame for the application ID into frame (capacity
// bytes); returns its size, or 0 when it does not fit.
size_t BuildHandshake(const char* applicationId, uint8_t* frame, size_t capacity);

struct FrameHeader {
    uint32_t opcode;
    uint32_t length;
};

FrameHeader ReadFrameHeader(const uint8_t (&header)[FrameHeaderSize]);

enum class AnswerVerdict {
    Ready,        // a READY dispatch: Discord accepted the ID
    Closed,       // a close frame with a code and a message
    WrongOpcode,  // a frame of another opcode than a dispatch or a close
    TooLong,      // a length above LongestAnswer
    BadJson,      // the body is not a JSON object
    Unexpected,   // valid JSON of a dispatch that is not READY, or a close without a code
};

// What an answer said; the texts are bounded copies, zero-terminated, with
// JSON escapes resolved to UTF-8 (control characters dropped).
struct Answer {
    AnswerVerdict verdict;
    int64_t code;        // a close's code
    char message[256];   // a close's message
    char userName[128];  // READY's user: the global name, or else the username
};

// Judges one answer frame: its header and its body of header.length bytes.
// Never reads beyond the body; any bytes at all give a verdict.
Answer JudgeAnswer(const FrameHeader& header, const uint8_t* body, size_t size);
