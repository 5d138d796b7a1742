// The handshake and the judging of Discord's answer. The JSON reader is a
// small recursive descent over the body's bytes: every step checks the end
// first, nesting is bounded, and it keeps only the few values the check
// reports.
#include "appid/ipc_answer.h"

#include <algorithm>
#include <cstring>

// JSON nested deeper than this is taken for broken: Discord's READY nests
// four levels.
static const int DeepestNesting = 32;

static void Put32(uint8_t* at, uint32_t value) {
    for (size_t i = 0; i < 4; i++) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

static uint32_t Read32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

size_t BuildHandshake(const char* applicationId, uint8_t* frame, size_t capacity) {
    static const char Before[] = "{\"v\":1,\"client_id\":\"";
    static const char After[] = "\"}";
    const size_t idLength = std::strlen(applicationId);
    const size_t bodyLength = sizeof Before - 1 + idLength + sizeof After - 1;
    if (capacity < FrameHeaderSize || capacity - FrameHeaderSize < bodyLength) return 0;
    Put32(frame, OpcodeHandshake);
    Put32(frame + 4, static_cast<uint32_t>(bodyLength));
    uint8_t* body = frame + FrameHeaderSize;
    // The body is bytes with no terminating zero.
    body = std::copy(Before, Before + sizeof Before - 1, body);
    body = std::copy(applicationId, applicationId + idLength, body);
    std::copy(After, After + sizeof After - 1, body);
    return FrameHeaderSize + bodyLength;
}

FrameHeader ReadFrameHeader(const uint8_t (&header)[FrameHeaderSize]) {
    return FrameHeader{Read32(header), Read32(header + 4)};
}

// Where a value lies: the few places whose values are kept.
enum class Place { Other, Top, Data, User };

// The values kept from a body.
struct Found {
    char cmd[32];
    char evt[32];
    char message[256];
    char userName[128];
    char globalName[128];
    bool hasCode;
    int64_t code;
};

struct Reader {
    const uint8_t* at;
    const uint8_t* end;
    int depth;
    Found found;
};

static void SkipBlanks(Reader* reader) {
    while (reader->at < reader->end &&
           (*reader->at == ' ' || *reader->at == '\t' || *reader->at == '\n' || *reader->at == '\r'))
        reader->at++;
}

// Whether the next byte is c; consumes it when it is.
static bool Take(Reader* reader, uint8_t c) {
    SkipBlanks(reader);
    if (reader->at >= reader->end || *reader->at != c) return false;
    reader->at++;
    return true;
}

// A bounded text being filled: once a character does not fit, the text
// ends before it and takes nothing more, so it is never cut inside a
// character and never skips one to take a later, shorter one.
struct TextSink {
    char* text;  // null when the value is not kept
    size_t capacity;
    size_t length;
    size_t characterStart;  // where the character being copied began
    bool full;
};

static TextSink SinkFor(char* text, size_t capacity) {
    if (text != nullptr && capacity != 0) text[0] = '\0';
    return TextSink{text, capacity, 0, 0, text == nullptr || capacity == 0};
}

// Appends one byte of raw UTF-8; a byte that does not fit takes back the
// part of its character already copied.
static void AppendByte(TextSink* sink, uint8_t byte) {
    if (sink->full) return;
    if ((byte & 0xC0) != 0x80) sink->characterStart = sink->length;
    if (sink->length + 1 >= sink->capacity) {
        sink->length = sink->characterStart;
        sink->text[sink->length] = '\0';
        sink->full = true;
        return;
    }
    sink->text[sink->length++] = static_cast<char>(byte);
    sink->text[sink->length] = '\0';
}

// Appends the code point as UTF-8, whole or not at all; control characters
// are dropped.
static void AppendCodePoint(TextSink* sink, uint32_t point) {
    uint8_t bytes[4];
    size_t count = 0;
    if (point < 0x20) return;
    if (point < 0x80) {
        bytes[count++] = static_cast<uint8_t>(point);
    } else if (point < 0x800) {
        bytes[count++] = static_cast<uint8_t>(0xC0 | (point >> 6));
        bytes[count++] = static_cast<uint8_t>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        bytes[count++] = static_cast<uint8_t>(0xE0 | (point >> 12));
        bytes[count++] = static_cast<uint8_t>(0x80 | ((point >> 6) & 0x3F));
        bytes[count++] = static_cast<uint8_t>(0x80 | (point & 0x3F));
    } else {
        bytes[count++] = static_cast<uint8_t>(0xF0 | (point >> 18));
        bytes[count++] = static_cast<uint8_t>(0x80 | ((point >> 12) & 0x3F));
        bytes[count++] = static_cast<uint8_t>(0x80 | ((point >> 6) & 0x3F));
        bytes[count++] = static_cast<uint8_t>(0x80 | (point & 0x3F));
    }
    for (size_t i = 0; i < count; i++) AppendByte(sink, bytes[i]);
}

// Four hexadecimal digits at *at, before end; false when they are not.
static bool ReadHex4(const uint8_t** at, const uint8_t* end, uint32_t* value) {
    if (end - *at < 4) return false;
    *value = 0;
    for (int i = 0; i < 4; i++) {
        const uint8_t c = *(*at)++;
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        *value = *value << 4 | digit;
    }
    return true;
}

// One escape after its backslash, as a code point.
static bool ReadEscape(Reader* reader, uint32_t* point) {
    if (reader->at >= reader->end) return false;
    const uint8_t c = *reader->at++;
    switch (c) {
    case '"': *point = '"'; return true;
    case '\\': *point = '\\'; return true;
    case '/': *point = '/'; return true;
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't': *point = 0; return true;
    case 'u': break;
    default: return false;
    }
    if (!ReadHex4(&reader->at, reader->end, point)) return false;
    // A high surrogate and its low one make one code point; a lone one is
    // taken as the replacement character, and an escape after it that is
    // not its low surrogate is left to be read as its own character.
    if (*point >= 0xD800 && *point < 0xDC00) {
        const uint8_t* next = reader->at;
        uint32_t low = 0;
        if (reader->end - next >= 6 && next[0] == '\\' && next[1] == 'u') {
            next += 2;
            if (ReadHex4(&next, reader->end, &low) && low >= 0xDC00 && low < 0xE000) {
                reader->at = next;
                *point = 0x10000 + ((*point - 0xD800) << 10) + (low - 0xDC00);
                return true;
            }
        }
        *point = 0xFFFD;
    } else if (*point >= 0xDC00 && *point < 0xE000) {
        *point = 0xFFFD;
    }
    return true;
}

// A string, its opening quote next; its text goes to text (capacity bytes,
// none when capacity is 0).
static bool ReadString(Reader* reader, char* text, size_t capacity) {
    if (!Take(reader, '"')) return false;
    TextSink sink = SinkFor(text, capacity);
    while (reader->at < reader->end) {
        const uint8_t c = *reader->at++;
        if (c == '"') return true;
        if (c < 0x20) return false;
        if (c == '\\') {
            uint32_t point = 0;
            if (!ReadEscape(reader, &point)) return false;
            AppendCodePoint(&sink, point);
        } else {
            AppendByte(&sink, c);
        }
    }
    return false;
}

// A number; an integer that fits goes to value, with integral set.
static bool ReadNumber(Reader* reader, int64_t* value, bool* integral) {
    SkipBlanks(reader);
    const uint8_t* start = reader->at;
    bool negative = false;
    if (reader->at < reader->end && *reader->at == '-') {
        negative = true;
        reader->at++;
    }
    uint64_t magnitude = 0;
    bool fits = true;
    const uint8_t* digits = reader->at;
    while (reader->at < reader->end && *reader->at >= '0' && *reader->at <= '9') {
        const uint64_t digit = *reader->at++ - '0';
        if (magnitude > (UINT64_MAX / 2 - digit) / 10) fits = false;
        if (fits) magnitude = magnitude * 10 + digit;
    }
    if (reader->at == digits) return false;
    *integral = fits;
    while (reader->at < reader->end &&
           (*reader->at == '.' || *reader->at == 'e' || *reader->at == 'E' || *reader->at == '+' ||
            *reader->at == '-' || (*reader->at >= '0' && *reader->at <= '9'))) {
        *integral = false;
        reader->at++;
    }
    if (*integral) *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return reader->at > start;
}

static bool ReadLiteral(Reader* reader, const char* word) {
    const size_t length = std::strlen(word);
    if (static_cast<size_t>(reader->end - reader->at) < length) return false;
    if (std::memcmp(reader->at, word, length) != 0) return false;
    reader->at += length;
    return true;
}

static bool ReadValue(Reader* reader, Place parent, const char* key);

// An object whose members lie at place.
static bool ReadObject(Reader* reader, Place place) {
    if (!Take(reader, '{')) return false;
    if (Take(reader, '}')) return true;
    do {
        char key[32];
        if (!ReadString(reader, key, sizeof key) || !Take(reader, ':')) return false;
        if (!ReadValue(reader, place, key)) return false;
    } while (Take(reader, ','));
    return Take(reader, '}');
}

static bool ReadArray(Reader* reader) {
    if (!Take(reader, '[')) return false;
    if (Take(reader, ']')) return true;
    do {
        if (!ReadValue(reader, Place::Other, "")) return false;
    } while (Take(reader, ','));
    return Take(reader, ']');
}

// Where a member's value lies: "data" at the top, "user" in it.
static Place PlaceOf(Place parent, const char* key) {
    if (parent == Place::Top && std::strcmp(key, "data") == 0) return Place::Data;
    if (parent == Place::Data && std::strcmp(key, "user") == 0) return Place::User;
    return Place::Other;
}

// Where a string member is kept, if it is: its buffer and capacity.
static char* KeptString(Found* found, Place parent, const char* key, size_t* capacity) {
    struct Kept {
        Place parent;
        const char* key;
        char* text;
        size_t capacity;
    } const kept[] = {
        {Place::Top, "cmd", found->cmd, sizeof found->cmd},
        {Place::Top, "evt", found->evt, sizeof found->evt},
        {Place::Top, "message", found->message, sizeof found->message},
        {Place::User, "username", found->userName, sizeof found->userName},
        {Place::User, "global_name", found->globalName, sizeof found->globalName},
    };
    for (const Kept& k : kept) {
        if (k.parent == parent && std::strcmp(k.key, key) == 0) {
            *capacity = k.capacity;
            return k.text;
        }
    }
    *capacity = 0;
    return nullptr;
}

// A member's value (or an array's element, with an empty key) under parent.
static bool ReadValue(Reader* reader, Place parent, const char* key) {
    SkipBlanks(reader);
    if (reader->at >= reader->end) return false;
    if (++reader->depth > DeepestNesting) return false;
    bool read = false;
    switch (*reader->at) {
    case '{': read = ReadObject(reader, PlaceOf(parent, key)); break;
    case '[': read = ReadArray(reader); break;
    case '"': {
        size_t capacity = 0;
        char* text = KeptString(&reader->found, parent, key, &capacity);
        read = ReadString(reader, text, capacity);
        break;
    }
    case 't': read = ReadLiteral(reader, "true"); break;
    case 'f': read = ReadLiteral(reader, "false"); break;
    case 'n': read = ReadLiteral(reader, "null"); break;
    default: {
        int64_t value = 0;
        bool integral = false;
        read = ReadNumber(reader, &value, &integral);
        if (read && integral && parent == Place::Top && std::strcmp(key, "code") == 0) {
            reader->found.hasCode = true;
            reader->found.code = value;
        }
        break;
    }
    }
    reader->depth--;
    return read;
}

static void CopyText(char* to, size_t capacity, const char* from) {
    const size_t length = std::strlen(from);
    const size_t kept = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(to, from, kept);
    to[kept] = '\0';
}

Answer JudgeAnswer(const FrameHeader& header, const uint8_t* body, size_t size) {
    Answer answer = {};
    if (header.opcode != OpcodeFrame && header.opcode != OpcodeClose) {
        answer.verdict = AnswerVerdict::WrongOpcode;
        return answer;
    }
    if (header.length > LongestAnswer) {
        answer.verdict = AnswerVerdict::TooLong;
        return answer;
    }
    Reader reader = {body, body + size, 0, {}};
    reader.found.hasCode = false;
    SkipBlanks(&reader);
    if (reader.at >= reader.end || *reader.at != '{' || !ReadObject(&reader, Place::Top)) {
        answer.verdict = AnswerVerdict::BadJson;
        return answer;
    }
    SkipBlanks(&reader);
    if (reader.at != reader.end) {
        answer.verdict = AnswerVerdict::BadJson;
        return answer;
    }
    const Found& found = reader.found;
    if (header.opcode == OpcodeClose) {
        answer.verdict = found.hasCode ? AnswerVerdict::Closed : AnswerVerdict::Unexpected;
        answer.code = found.code;
        CopyText(answer.message, sizeof answer.message, found.message);
        return answer;
    }
    if (std::strcmp(found.cmd, "DISPATCH") == 0 && std::strcmp(found.evt, "READY") == 0) {
        answer.verdict = AnswerVerdict::Ready;
        CopyText(answer.userName, sizeof answer.userName,
                 found.globalName[0] != '\0' ? found.globalName : found.userName);
        return answer;
    }
    answer.verdict = AnswerVerdict::Unexpected;
    return answer;
}
