// Fuzz target for the whole plug-in as the player drives it. Each input is
// decoded into a sequence of operations: the descriptor's slots (New, Free,
// SetConfig with any bytes and any size, GetConfig, NewTrack with or without
// a file, Reset, NewTitle, bursts of Process, SetFormat, GetDescription),
// ticks of the status timer, and changes to what the fake player answers
// (any tag text or none, any GetTime double, any IsPlaying word, any version
// word) and to the wall clock, and the user's OK in the settings dialog with
// any state of its buttons. After every operation it checks what must hold
// whatever the input:
//  - every record sent points only into the plug-in's buffers or its
//    constant texts, never at a player text;
//  - every sent line is at most 128 UTF-16 units, and at least 2 when not
//    empty: the whole text it came from, byte for byte, when that has at
//    most 128 units, else a prefix ending at a character boundary and an
//    ellipsis (the album cut before its year, which stays whole); a
//    one-unit line carries the zero-width space that makes Discord accept
//    it; every text ends within its buffer;
//  - the badge matches the state and the clock matches the badge: no clock
//    unless playing, never both timestamps, and the timestamps the clock
//    arguments give;
//  - the publications are those the instance, the notifications and the
//    monitor's rules call for (a closed track shown only once it stayed
//    closed for a second), and none outside a live instance;
//  - every text the player handed out was released exactly once;
//  - GetConfig returns exactly the bytes last stored, and the large image's
//    text follows the version flag last stored.
// Memory errors and undefined behaviour are left to ASan and UBSan; the fake
// player poisons released texts and the bytes past each text's zero.
//
// Input encoding, one operation after another; operands missing at the end
// of the input read as zero bytes. The operation letters keep seed files
// readable; any other byte picks an operation by its value.
//   N New            F Free            G GetConfig       D GetDescription, SetFormat
//   S SetConfig: one byte b; b < 0x80: size b & 0x1F, and with b & 0x40 an
//     empty block comes as a null pointer; b >= 0x80: size is the next four
//     bytes (little-endian). Then min(size, 12) bytes of block, handed over
//     in a buffer of exactly that many bytes.
//   T tag text: one byte naming the tag (t title, l length, a album, d date,
//     f file type, p the song inside the item; others by value), then the text up to a zero byte, at most
//     1023 bytes (what the fake player can hold).
//   M tag missing: one byte naming the tag as for T.
//   x GetTime answer: eight bytes, a raw little-endian double (NaN, infinities...)
//   s GetTime answer: a little-endian int16 of seconds and one byte of 1/256ths
//   I IsPlaying answer: four bytes, little-endian
//   V GetVersion answer: four bytes, little-endian
//   L wall clock: five bytes, little-endian seconds since 1970
//   E time passes on the monotonic clock: one byte, in steps of 16 ms
//   P burst of Process: one byte, the number of calls
//   K one tick of the status timer
//   O NewTrack with a file (one byte: even a file name, odd an empty name)
//   C NewTrack with null (the track closed)
//   R Reset
//   W NewTitle: a title up to a zero byte; a first byte 0xFF passes null
//   U the dialog opened and closed with OK: one byte of button states (bit 0
//     album date, 1 version, 2 elapsed, 3 remaining, 4 disabled)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"
#include "settings/dialog_choices.h"
#include "settings/resource_ids.h"

namespace {

// ------------------------------------------------------------ decoding ----

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
};

bool AtEnd(const Reader& reader) { return reader.at >= reader.size; }

uint8_t ReadByte(Reader& reader) { return AtEnd(reader) ? 0 : reader.data[reader.at++]; }

// Little-endian unsigned integer of count bytes.
uint64_t ReadUnsigned(Reader& reader, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; i++) value |= static_cast<uint64_t>(ReadByte(reader)) << (8 * i);
    return value;
}

// Bytes up to a zero byte or the end of the input, at most limit of them.
std::string ReadText(Reader& reader, size_t limit) {
    std::string text;
    while (!AtEnd(reader)) {
        uint8_t byte = ReadByte(reader);
        if (byte == 0) break;
        if (text.size() < limit) text.push_back(static_cast<char>(byte));
    }
    return text;
}

enum Operation {
    OpNew,
    OpFree,
    OpGetConfig,
    OpTrivia,
    OpSetConfig,
    OpSetTag,
    OpMissingTag,
    OpRawTime,
    OpSmallTime,
    OpIsPlaying,
    OpVersion,
    OpClock,
    OpProcess,
    OpTick,
    OpOpenTrack,
    OpCloseTrack,
    OpReset,
    OpNewTitle,
    OpDialogOk,
    OpTimePasses,
    OperationCount
};

const char* const operationNames[OperationCount] = {
    "New",
    "Free",
    "GetConfig",
    "GetDescription+SetFormat",
    "SetConfig",
    "SetTag",
    "MissingTag",
    "GetTime(raw)",
    "GetTime(small)",
    "IsPlaying",
    "GetVersion",
    "WallClock",
    "Process",
    "Tick",
    "NewTrack(file)",
    "NewTrack(null)",
    "Reset",
    "NewTitle",
    "DialogOk",
    "TimePasses",
};

Operation OperationFor(uint8_t byte) {
    switch (byte) {
    case 'N': return OpNew;
    case 'F': return OpFree;
    case 'G': return OpGetConfig;
    case 'D': return OpTrivia;
    case 'S': return OpSetConfig;
    case 'T': return OpSetTag;
    case 'M': return OpMissingTag;
    case 'x': return OpRawTime;
    case 's': return OpSmallTime;
    case 'I': return OpIsPlaying;
    case 'V': return OpVersion;
    case 'L': return OpClock;
    case 'P': return OpProcess;
    case 'K': return OpTick;
    case 'O': return OpOpenTrack;
    case 'C': return OpCloseTrack;
    case 'R': return OpReset;
    case 'W': return OpNewTitle;
    case 'U': return OpDialogOk;
    case 'E': return OpTimePasses;
    default: return static_cast<Operation>(byte % OperationCount);
    }
}

// The six tags the fake player can hold, in the order of the model's array.
const int32_t tagNumbers[] = {TagFormattedTitle, TagLengthSeconds, TagAlbum,
                              TagDate,           TagFileType,      TagItemTitle};
enum { TitleTag, LengthTag, AlbumTag, DateTag, FileTypeTag, ItemTitleTag, TagCount };

int TagIndexFor(uint8_t byte) {
    switch (byte) {
    case 't': return TitleTag;
    case 'l': return LengthTag;
    case 'a': return AlbumTag;
    case 'd': return DateTag;
    case 'f': return FileTypeTag;
    case 'p': return ItemTitleTag;
    default: return byte % TagCount;
    }
}

// --------------------------------------------------------------- model ----

// What the plug-in should hold and do, kept independently of its code.
struct Tag {
    bool present;
    std::string text;
};

struct Model {
    bool live;
    uint8_t settings[12];
    std::string largeImageText;  // what the record's large image text should read
    double position;
    int32_t playingAnswer;
    uint32_t version;
    int64_t now;
    uint32_t processCount;
    uint32_t lastProcessCount;
    int32_t expectedRemaining;
    PlaybackState publishedState;  // what the card shows
    PlaybackState observedState;
    bool republishRequested;
    bool positionNotified;  // a notification published the track playing since the last tick
    int32_t notifiedPosition;
    uint32_t notifiedAtMs;
    uint32_t monotonicMs;
    bool trackClosed;  // closed, and no track opened since
    uint32_t closedAtMs;
    bool cardCleared;       // Discord shows nothing: none sent yet, or cleared
    std::string cardLines;  // the last update sent: its lines, badge and hover text
    int64_t cardStart;      // and its clock
    int64_t cardEnd;
};

Model model;
Tag tags[TagCount];

// The publication an operation should make: a tick or a notification makes
// at most one.
struct Expected {
    int count;
    PlaybackState states[1];
    bool fromStart;  // a track just opened: its clock starts at 0
};

// The input's operations so far, each with the input bytes it consumed,
// printed with any failure.
struct TraceEntry {
    Operation operation;
    size_t start;
    size_t end;
};
std::vector<TraceEntry> trace;
const uint8_t* traceInput;

const Reader* currentReader;

[[noreturn]] void Fail(const std::string& what) {
    if (!trace.empty() && currentReader) trace.back().end = currentReader->at;
    std::fprintf(stderr, "\nnowglow fuzz: %s\nafter the operations:\n", what.c_str());
    for (const TraceEntry& entry : trace) {
        std::fprintf(stderr, "  %s", operationNames[entry.operation]);
        for (size_t i = entry.start + 1; i < entry.end; i++) std::fprintf(stderr, " %02X", traceInput[i]);
        std::fprintf(stderr, "\n");
    }
    std::abort();
}

// Checks a condition; the message is built only when it fails.
#define REQUIRE(condition, message)      \
    do {                                 \
        if (!(condition)) Fail(message); \
    } while (0)

// A text with its unprintable bytes escaped, for failure messages.
std::string Shown(const std::string& text) {
    std::string shown = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            shown.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        }
    }
    return shown + "\"";
}

int32_t Wrap32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

int32_t SettingsWord(size_t index) {
    int32_t word;
    std::memcpy(&word, model.settings + 4 * index, sizeof word);
    return word;
}

// Whole seconds of the player's position: truncated toward zero; NaN and
// anything outside the int32 range is the smallest int32.
int32_t ExpectedPosition(double seconds) {
    if (std::isnan(seconds) || seconds <= -2147483649.0 || seconds >= 2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(std::trunc(seconds));
}

// The length tag as the C library's base-10 parse reads it, clamped to int32.
int32_t ExpectedLength(void) {
    const Tag& tag = tags[LengthTag];
    if (!tag.present) return 0;
    long long value = std::strtoll(tag.text.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::string VersionTextFor(int32_t showVersion) {
    if (showVersion == 0) return "XMPlay";
    char text[32];
    std::snprintf(text, sizeof text, "XMPlay v%u.%u.%u.%u", model.version >> 24,
                  (model.version >> 16) & 0xFFu, (model.version >> 8) & 0xFFu, model.version & 0xFFu);
    return text;
}

// ------------------------------------------------------- lines in units ----

const char Ellipsis[] = "\xE2\x80\xA6";
const uint32_t LineUnits = 128;

// One character as Discord counts it: its bytes and its UTF-16 units. A
// well-formed UTF-8 sequence (shortest form, no surrogate, at most
// U+10FFFF) is one character, two units above U+FFFF; any other byte is a
// character of one unit.
struct UnitCharacter {
    size_t bytes;
    uint32_t units;
};

UnitCharacter CharacterAt(const std::string& text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    uint32_t codePoint = 0;
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        codePoint = lead & 0x07u;
    }
    if (length == 0 || at + length > text.size()) return UnitCharacter{1, 1};
    for (size_t i = 1; i < length; i++) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0u) != 0x80u) return UnitCharacter{1, 1};
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    const uint32_t shortestFrom[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < shortestFrom[length] || (codePoint >= 0xD800 && codePoint <= 0xDFFF) ||
        codePoint > 0x10FFFF)
        return UnitCharacter{1, 1};
    return UnitCharacter{length, codePoint > 0xFFFF ? 2u : 1u};
}

uint32_t Units(const std::string& text) {
    uint32_t units = 0;
    for (size_t at = 0; at < text.size(); at += CharacterAt(text, at).bytes)
        units += CharacterAt(text, at).units;
    return units;
}

// The longest prefix of whole characters within the units.
std::string PrefixWithin(const std::string& text, uint32_t units) {
    uint32_t used = 0;
    size_t at = 0;
    while (at < text.size()) {
        const UnitCharacter next = CharacterAt(text, at);
        if (used + next.units > units) break;
        used += next.units;
        at += next.bytes;
    }
    return text.substr(0, at);
}

// A line as Discord may take it: whole within 128 units, else cut to 127
// and the ellipsis.
std::string CutAtEnd(const std::string& text) {
    if (Units(text) <= LineUnits) return text;
    return PrefixWithin(text, LineUnits - 1) + Ellipsis;
}

// The song inside the item when the player names one (not empty), the
// first line in place of the formatted title.
bool SongNamed(void) { return tags[ItemTitleTag].present && !tags[ItemTitleTag].text.empty(); }

std::string ExpectedFirstLine(void) {
    if (SongNamed()) return tags[ItemTitleTag].text;
    return tags[TitleTag].present ? tags[TitleTag].text : std::string();
}

// The second line as composed from the current tags, before its padding.
std::string ExpectedAlbumLine(void) {
    const Tag& album = tags[AlbumTag];
    const Tag& date = tags[DateTag];
    const Tag& fileType = tags[FileTypeTag];
    const Tag& title = tags[TitleTag];
    const bool station =
        SongNamed() && title.present && !title.text.empty() && title.text != tags[ItemTitleTag].text;
    if (!album.present && station) return CutAtEnd(title.text);
    if (!album.present) return fileType.present ? CutAtEnd(fileType.text + " File") : "";
    if (SettingsWord(0) == 0 || !date.present) return CutAtEnd(album.text);
    const std::string year = " (" + date.text + ")";
    const uint32_t yearUnits = Units(year);
    if (Units(album.text) + yearUnits <= LineUnits || yearUnits >= LineUnits)
        return CutAtEnd(album.text + year);
    return PrefixWithin(album.text, LineUnits - 1 - yearUnits) + Ellipsis + year;
}

void ResetModel(void) {
    model = Model{};
    model.publishedState = Playing;
    model.observedState = Playing;
    model.now = fake::DefaultNow;
    model.monotonicMs = fake::DefaultMonotonicMs;
    model.cardCleared = true;
    for (Tag& tag : tags) tag = Tag{false, std::string()};
}

// ------------------------------------------------------------- checks ----

const char ZeroWidthSpace[] = "\xE2\x80\x8B";

// The range of the player's texts handed out so far; no record may point in it.
uintptr_t playerTextsLow = UINTPTR_MAX;
uintptr_t playerTextsHigh = 0;

void NotePlayerTexts(void) {
    const size_t calls = fake::CallCount();
    for (size_t i = 0; i < calls; i++) {
        fake::LoggedCall call = fake::CallAt(i);
        if (call.call != fake::Call::GetTag || call.pointer == nullptr) continue;
        uintptr_t address = reinterpret_cast<uintptr_t>(call.pointer);
        if (address < playerTextsLow) playerTextsLow = address;
        if (address + fake::MaxTagText + 1 > playerTextsHigh)
            playerTextsHigh = address + fake::MaxTagText + 1;
    }
}

bool InPlayerTexts(const void* pointer) {
    uintptr_t address = reinterpret_cast<uintptr_t>(pointer);
    return address >= playerTextsLow && address < playerTextsHigh;
}

bool InBuffer(const void* pointer, const char* buffer) {
    uintptr_t address = reinterpret_cast<uintptr_t>(pointer);
    uintptr_t start = reinterpret_cast<uintptr_t>(buffer);
    return address >= start && address < start + TextBufferSize;
}

bool InAnyBuffer(const void* pointer) {
    return InBuffer(pointer, detailsBuffer) || InBuffer(pointer, stateBuffer) ||
           InBuffer(pointer, largeImageTextBuffer) || InBuffer(pointer, versionText);
}

// A constant text keeps one address for the whole run, away from every
// buffer and every player text.
std::map<std::string, const void*> constantAddresses;

void CheckConstant(const char* field, const void* pointer, const std::string& text) {
    REQUIRE(pointer != nullptr, std::string(field) + " is null");
    REQUIRE(!InPlayerTexts(pointer), std::string(field) + " points at a player text");
    REQUIRE(!InAnyBuffer(pointer), std::string(field) + " points into a text buffer");
    auto known = constantAddresses.find(text);
    if (known == constantAddresses.end()) {
        constantAddresses.emplace(text, pointer);
    } else {
        REQUIRE(known->second == pointer, std::string(field) + " " + Shown(text) + " moved: not a constant");
    }
}

// Where a sent text field pointed.
const void* Pointer(const fake::RecordedText& sent) { return reinterpret_cast<const void*>(sent.address); }

// A sent text field: ends within a text buffer's 128 bytes.
const char* SentText(const char* field, const fake::RecordedText& sent) {
    REQUIRE(!sent.isNull, std::string(field) + " is null");
    REQUIRE(!sent.truncated && std::strlen(sent.text) < TextBufferSize,
            std::string(field) + " does not end within " + std::to_string(TextBufferSize) + " bytes");
    return sent.text;
}

// A presence line: what the source gives as Discord may take it, a line of
// one unit padded with a zero-width space; and whatever the source, at most
// 128 units, and at least 2 when not empty.
// The line Discord is sent for a source text.
std::string LineFor(const std::string& source) {
    std::string line = CutAtEnd(source);
    if (Units(line) == 1) line += ZeroWidthSpace;
    return line;
}

void CheckLine(const char* field, const fake::RecordedText& sent, const std::string& source) {
    const char* text = SentText(field, sent);
    const std::string expected = LineFor(source);
    const std::string line = text;
    REQUIRE(line == expected, std::string(field) + " " + Shown(line) + " from " + Shown(source) + " where " +
                                  Shown(expected) + " was due");
    const uint32_t units = Units(line);
    REQUIRE(units <= LineUnits && (units == 0 || units >= 2),
            std::string(field) + " " + Shown(line) + " has " + std::to_string(units) + " units");
}

struct Badge {
    const char* key;
    const char* text;
};
const Badge badges[] = {{"play", "Playing"}, {"pause", "Paused"}, {"stopped", "Stopped"}};

// The timestamps a Playing presence carries for the current answers; a
// track just opened starts at 0, whatever the player's position.
void ExpectedClock(int64_t* start, int64_t* end, bool fromStart) {
    *start = 0;
    *end = 0;
    const int32_t mode = SettingsWord(2);
    if (mode == TimeDisabled) return;
    const int32_t position = fromStart ? 0 : ExpectedPosition(model.position);
    const int32_t length = mode == TimeRemaining ? ExpectedLength() : 0;
    if (length > 0 && position != INT32_MIN) {
        *end = model.now + Wrap32(static_cast<int64_t>(length) - position);
    } else if (position >= 0) {
        *start = model.now - position;
    }
}

void CheckRecord(const fake::RecordedPresence& record, PlaybackState state, bool fromStart) {
    const Badge& badge = badges[state];
    REQUIRE(record.address == AddressOf(&presence), "a record other than the plug-in's was sent");
    CheckConstant("smallImageKey", Pointer(record.smallImageKey),
                  SentText("smallImageKey", record.smallImageKey));
    CheckConstant("smallImageText", Pointer(record.smallImageText),
                  SentText("smallImageText", record.smallImageText));
    REQUIRE(std::strcmp(record.smallImageKey.text, badge.key) == 0 &&
                std::strcmp(record.smallImageText.text, badge.text) == 0,
            std::string("badge ") + record.smallImageKey.text + "/" + record.smallImageText.text + " where " +
                badge.key + "/" + badge.text + " was due");
    CheckConstant("largeImageKey", Pointer(record.largeImageKey),
                  SentText("largeImageKey", record.largeImageKey));
    REQUIRE(std::strcmp(record.largeImageKey.text, "icon") == 0, "largeImageKey is not \"icon\"");
    REQUIRE(record.largeImageText.address == AddressOf(largeImageTextBuffer),
            "largeImageText is not the plug-in's buffer");
    REQUIRE(SentText("largeImageText", record.largeImageText) == model.largeImageText,
            "largeImageText " + Shown(record.largeImageText.text) + " where " + Shown(model.largeImageText) +
                " was due");
    REQUIRE(record.details.address == AddressOf(detailsBuffer), "details is not the plug-in's buffer");
    REQUIRE(record.state.address == AddressOf(stateBuffer), "state is not the plug-in's buffer");
    if (state == Stopped) {
        CheckLine("details", record.details, "No tracks playing.");
        CheckLine("state", record.state, "");
    } else {
        CheckLine("details", record.details, ExpectedFirstLine());
        CheckLine("state", record.state, ExpectedAlbumLine());
    }
    CheckLine("largeImageText", record.largeImageText, model.largeImageText);
    REQUIRE(record.partyId.isNull && record.matchSecret.isNull && record.joinSecret.isNull &&
                record.spectateSecret.isNull && record.partySize == 0 && record.partyMax == 0,
            "a party or secret field is set");
    REQUIRE(record.instance == 1, "instance is not 1");

    REQUIRE(record.startTimestamp == 0 || record.endTimestamp == 0, "both timestamps are set");
    int64_t start = 0;
    int64_t end = 0;
    if (state == Playing) ExpectedClock(&start, &end, fromStart);
    REQUIRE(record.startTimestamp == start && record.endTimestamp == end,
            "clock " + std::to_string(record.startTimestamp) + "/" + std::to_string(record.endTimestamp) +
                " where " + std::to_string(start) + "/" + std::to_string(end) + " was due for badge " +
                badge.key);
}

// The record as it stands between publications: only plug-in buffers,
// constants or null, and every buffer terminated within its bounds.
void CheckStandingRecord(void) {
    const char* const buffers[] = {detailsBuffer, stateBuffer, largeImageTextBuffer, versionText};
    for (const char* buffer : buffers) {
        REQUIRE(std::memchr(buffer, '\0', TextBufferSize) != nullptr,
                "a text buffer lost its terminating zero");
    }
    REQUIRE(presence.details == nullptr || presence.details == detailsBuffer, "the record's details moved");
    REQUIRE(presence.state == nullptr || presence.state == stateBuffer, "the record's state moved");
    REQUIRE(presence.largeImageText == nullptr || presence.largeImageText == largeImageTextBuffer,
            "the record's largeImageText moved");
    const char* const constants[] = {presence.largeImageKey, presence.smallImageKey, presence.smallImageText};
    for (const char* text : constants) {
        REQUIRE(text == nullptr || (!InPlayerTexts(text) && !InAnyBuffer(text)),
                "the record points at a text that is neither a buffer nor a constant");
    }
}

void CheckSent(size_t before, const Expected& expected) {
    const size_t sent = fake::PresenceCount() - before;
    REQUIRE(sent == static_cast<size_t>(expected.count),
            std::to_string(sent) + " publications where " + std::to_string(expected.count) + " were due");
    for (int i = 0; i < expected.count; i++) {
        CheckRecord(fake::PresenceAt(before + static_cast<size_t>(i)), expected.states[i],
                    expected.fromStart);
    }
}

void CheckTexts(void) {
    if (fake::TextsBalanced()) return;
    const fake::TextAccounting texts = fake::Texts();
    Fail("player texts not released exactly once: handed out " + std::to_string(texts.handedOut) + " (+" +
         std::to_string(texts.nullHandedOut) + " null), released " + std::to_string(texts.released) + " (+" +
         std::to_string(texts.nullReleased) + " null), twice " + std::to_string(texts.twiceReleased) +
         ", foreign " + std::to_string(texts.foreignReleased));
}

// --------------------------------------------------------- operations ----

const XMPDSP* dsp;

void Expect(Expected& expected, PlaybackState state) {
    REQUIRE(expected.count == 0, "the model has one operation publish twice");
    expected.states[expected.count++] = state;
}

// Two timestamps that show the same clock: both absent, or both present
// and at most 2 s apart.
bool SameStamp(int64_t left, int64_t right) {
    return (left == 0) == (right == 0) && std::llabs(left - right) <= 2;
}

// A publication: the card it is to show becomes what the monitor compares
// with; it goes out unless the last update sent showed the same lines,
// badge, hover text and clock. Every update moves the fake clock on by its
// step, so none is ever held.
void Publish(Expected& expected, PlaybackState state, bool fromStart = false) {
    model.publishedState = state;
    const bool stopped = state == Stopped;
    const std::string lines = LineFor(stopped ? "No tracks playing." : ExpectedFirstLine()) + '\n' +
                              LineFor(stopped ? "" : ExpectedAlbumLine()) + '\n' + badges[state].key + '\n' +
                              LineFor(model.largeImageText);
    int64_t start = 0;
    int64_t end = 0;
    if (state == Playing) ExpectedClock(&start, &end, fromStart);
    if (!model.cardCleared && lines == model.cardLines && SameStamp(start, model.cardStart) &&
        SameStamp(end, model.cardEnd))
        return;
    Expect(expected, state);
    expected.fromStart = fromStart;
    model.cardCleared = false;
    model.cardLines = lines;
    model.cardStart = start;
    model.cardEnd = end;
    model.monotonicMs += fake::ClockStepAtUpdateMs;
}

// A notification's Playing publication: the next tick judges its clock
// against the position published (none without a clock); an opened track's
// is 0.
void PublishPlayingFromNotification(Expected& expected, bool fromStart) {
    Publish(expected, Playing, fromStart);
    model.positionNotified = true;
    model.notifiedAtMs = model.monotonicMs;
    model.notifiedPosition = SettingsWord(2) == TimeDisabled ? -1
                             : fromStart                     ? 0
                                                             : ExpectedPosition(model.position);
}

// The remaining time the tick expects the card to show: within a second of
// a notification's publication nothing is judged yet.
int32_t ModelExpectedRemaining(int32_t length, int32_t remaining) {
    if (!model.positionNotified) return Wrap32(static_cast<int64_t>(model.expectedRemaining) - 2);
    const uint32_t sinceMs = model.monotonicMs - model.notifiedAtMs;
    if (sinceMs < 1000) return remaining;
    model.positionNotified = false;
    if (model.notifiedPosition < 0) return remaining;
    return Wrap32(static_cast<int64_t>(length) - model.notifiedPosition -
                  static_cast<int64_t>(sinceMs / 1000));
}

// One tick of the monitor's rules, on the model.
void ModelTick(Expected& expected) {
    if (!model.live) return;
    if (model.trackClosed) {
        if (model.monotonicMs - model.closedAtMs < 1000) return;
        model.trackClosed = false;
        Publish(expected, Stopped);
        model.observedState = Stopped;
        model.lastProcessCount = model.processCount;
        return;
    }
    PlaybackState observed = Playing;
    if (model.playingAnswer == 0) {
        observed = Stopped;
    } else if (model.processCount == model.lastProcessCount) {
        observed = Paused;
    }
    model.observedState = observed;
    model.lastProcessCount = model.processCount;
    const bool republish = model.republishRequested;
    model.republishRequested = false;
    const bool changed = observed != model.publishedState;
    bool jumped = false;
    if (observed == Playing) {
        const int32_t length = ExpectedLength();
        const int32_t remaining = Wrap32(static_cast<int64_t>(length) - ExpectedPosition(model.position));
        const int32_t expectedNow = ModelExpectedRemaining(length, remaining);
        jumped = std::llabs(Wrap32(static_cast<int64_t>(remaining) - expectedNow)) > 5;
        model.expectedRemaining = jumped || republish || changed ? remaining : expectedNow;
    }
    if (jumped || republish || changed) Publish(expected, observed);
}

// Reset and NewTitle: the track afresh in the state the monitor last saw.
void ModelRepublishAsObserved(Expected& expected) {
    if (!model.live) return;
    if (model.observedState == Playing) {
        PublishPlayingFromNotification(expected, false);
    } else {
        Publish(expected, model.observedState);
    }
}

void RunSetConfig(Reader& reader) {
    const uint8_t form = ReadByte(reader);
    const uint32_t size = form < 0x80 ? form & 0x1Fu : static_cast<uint32_t>(ReadUnsigned(reader, 4));
    const size_t count = std::min<size_t>(size, 12);
    // Exactly the bytes the player promises, so that reading one more is caught.
    uint8_t* block = new uint8_t[count];
    for (size_t i = 0; i < count; i++) block[i] = ReadByte(reader);
    const bool nullBlock = count == 0 && (form & 0x40) != 0;
    REQUIRE(dsp->SetConfig(nullptr, nullBlock ? nullptr : block, size) == 1, "SetConfig did not return 1");
    std::memcpy(model.settings, block, count);
    delete[] block;
    model.largeImageText = VersionTextFor(SettingsWord(1));
    REQUIRE(presence.largeImageText == largeImageTextBuffer && model.largeImageText == largeImageTextBuffer,
            "after SetConfig the large image text reads " + Shown(largeImageTextBuffer) + " where " +
                Shown(model.largeImageText) + " was due");
}

void RunGetConfig(void) {
    // Exactly twelve bytes, so that writing one more is caught.
    uint8_t* block = new uint8_t[12];
    std::memset(block, 0xA5, 12);
    REQUIRE(dsp->GetConfig(nullptr, block) == 12, "GetConfig did not return 12");
    REQUIRE(std::memcmp(block, model.settings, 12) == 0, "GetConfig's bytes differ from those last stored");
    delete[] block;
}

void RunProcess(uint8_t calls) {
    float samples[4] = {0.25f, -0.5f, 0.75f, -1.0f};
    for (uint8_t i = 0; i < calls; i++) {
        // The count is never read: claim far more samples than there are.
        float* data = (i & 1) != 0 ? nullptr : samples;
        REQUIRE(dsp->Process(nullptr, data, i == 0 ? 0u : 0xFFFFFFFFu - i) == 0, "Process did not return 0");
    }
    REQUIRE(samples[0] == 0.25f && samples[1] == -0.5f && samples[2] == 0.75f && samples[3] == -1.0f,
            "Process changed the samples");
    model.processCount += calls;
}

// The dialog's buttons, one bit each, as the user left them.
uint8_t dialogButtons;

bool DialogButtonChecked(HostWindow dialog, int32_t control) {
    REQUIRE(dialog == reinterpret_cast<HostWindow>(0x20020), "a button of another window was asked about");
    switch (control) {
    case IDC_SHOW_ALBUM_DATE: return (dialogButtons & 1) != 0;
    case IDC_SHOW_VERSION: return (dialogButtons & 2) != 0;
    case IDC_TIME_ELAPSED: return (dialogButtons & 4) != 0;
    case IDC_TIME_REMAINING: return (dialogButtons & 8) != 0;
    case IDC_TIME_DISABLED: return (dialogButtons & 16) != 0;
    default: Fail("the dialog has no button " + std::to_string(control));
    }
}

// The dialog shows the stored clock mode, then OK stores what the buttons say.
void RunDialogOk(uint8_t buttons) {
    const int32_t mode = SettingsWord(2);
    const int32_t shown = mode == TimeRemaining  ? IDC_TIME_REMAINING
                          : mode == TimeElapsed  ? IDC_TIME_ELAPSED
                          : mode == TimeDisabled ? IDC_TIME_DISABLED
                                                 : 0;
    REQUIRE(ClockButtonForMode(mode) == shown,
            "the dialog shows clock mode " + std::to_string(mode) + " wrongly");
    dialogButtons = buttons;
    StoreDialogChoices(reinterpret_cast<HostWindow>(0x20020), DialogButtonChecked);
    const int32_t words[3] = {
        (buttons & 1) != 0 ? 1 : 0,
        (buttons & 2) != 0 ? 1 : 0,
        (buttons & 4) != 0   ? TimeElapsed
        : (buttons & 8) != 0 ? TimeRemaining
                             : TimeDisabled,
    };
    if (words[1] != SettingsWord(1)) model.largeImageText = VersionTextFor(words[1]);
    std::memcpy(model.settings, words, sizeof words);
    model.republishRequested = true;
    REQUIRE(presence.largeImageText == nullptr || model.largeImageText == presence.largeImageText,
            "after the dialog's OK the large image text reads " + Shown(largeImageTextBuffer) + " where " +
                Shown(model.largeImageText) + " was due");
}

void SetTag(int index, bool present, const std::string& text) {
    tags[index] = Tag{present, text};
    fake::SetTag(tagNumbers[index], present ? text.c_str() : nullptr);
}

// Runs one decoded operation and fills in the publications it should make.
void Run(Operation operation, Reader& reader, Expected& expected) {
    switch (operation) {
    case OpNew:
        REQUIRE(dsp->New() == reinterpret_cast<void*>(1), "New did not return 1");
        model.live = true;
        {
            const uint8_t defaults[12] = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
            std::memcpy(model.settings, defaults, sizeof defaults);
        }
        model.largeImageText = VersionTextFor(1);
        model.republishRequested = true;  // the new connection shows nothing yet
        REQUIRE(fake::TimerRunning(), "New left the status timer stopped");
        break;
    case OpFree:
        dsp->Free(reinterpret_cast<void*>(1));
        model.live = false;
        model.trackClosed = false;
        model.cardCleared = true;
        model.monotonicMs += fake::ClockStepAtUpdateMs;  // the clear's step
        REQUIRE(!fake::TimerRunning(), "Free left the status timer running");
        break;
    case OpGetConfig: RunGetConfig(); break;
    case OpTrivia:
        REQUIRE(std::strcmp(dsp->GetDescription(nullptr), "XMPlay Nowglow") == 0 &&
                    dsp->GetDescription(nullptr) == dsp->name,
                "GetDescription is not the descriptor's name");
        dsp->SetFormat(nullptr, nullptr);
        break;
    case OpSetConfig: RunSetConfig(reader); break;
    case OpSetTag: {
        const int index = TagIndexFor(ReadByte(reader));
        const std::string text = ReadText(reader, fake::MaxTagText);
        SetTag(index, true, text);
        break;
    }
    case OpMissingTag: {
        const int index = TagIndexFor(ReadByte(reader));
        SetTag(index, false, std::string());
        break;
    }
    case OpRawTime: {
        const uint64_t bits = ReadUnsigned(reader, 8);
        std::memcpy(&model.position, &bits, sizeof bits);
        fake::SetPosition(model.position);
        break;
    }
    case OpSmallTime: {
        const int16_t seconds = static_cast<int16_t>(ReadUnsigned(reader, 2));
        model.position = seconds + ReadByte(reader) / 256.0;
        fake::SetPosition(model.position);
        break;
    }
    case OpIsPlaying:
        model.playingAnswer = static_cast<int32_t>(ReadUnsigned(reader, 4));
        fake::SetPlaying(model.playingAnswer);
        break;
    case OpVersion:
        model.version = static_cast<uint32_t>(ReadUnsigned(reader, 4));
        fake::SetVersion(model.version);
        break;
    case OpClock:
        model.now = static_cast<int64_t>(ReadUnsigned(reader, 5));
        fake::SetWallClock(model.now);
        break;
    case OpProcess: {
        const uint8_t calls = ReadByte(reader);
        RunProcess(calls);
        break;
    }
    case OpTick:
        ModelTick(expected);
        RunMonitorTick();
        break;
    case OpOpenTrack:
        if (model.live) {
            model.trackClosed = false;
            model.observedState = Playing;
            PublishPlayingFromNotification(expected, true);
        }
        dsp->NewTrack(nullptr, (ReadByte(reader) & 1) != 0 ? "" : "C:\\Music\\track.mp3");
        break;
    case OpCloseTrack:
        if (model.live) {
            model.trackClosed = true;
            model.closedAtMs = model.monotonicMs;
        }
        dsp->NewTrack(nullptr, nullptr);
        break;
    case OpReset:
        ModelRepublishAsObserved(expected);
        dsp->Reset(nullptr);
        break;
    case OpNewTitle: {
        ModelRepublishAsObserved(expected);
        const bool nullTitle = !AtEnd(reader) && reader.data[reader.at] == 0xFF;
        if (nullTitle) reader.at++;
        const std::string title = nullTitle ? std::string() : ReadText(reader, SIZE_MAX);
        dsp->NewTitle(nullptr, nullTitle ? nullptr : title.c_str());
        break;
    }
    case OpDialogOk: RunDialogOk(ReadByte(reader)); break;
    case OpTimePasses: {
        const uint32_t ms = 16u * ReadByte(reader);
        model.monotonicMs += ms;
        fake::AdvanceMonotonicMs(ms);
        break;
    }
    case OperationCount: break;
    }
}

// Whether the operation is one the player or the timer sends to the instance.
bool IsNotification(Operation operation) {
    return operation == OpTick || operation == OpOpenTrack || operation == OpCloseTrack ||
           operation == OpReset || operation == OpNewTitle || operation == OpProcess;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fake::Reset();
    dsp = fake::BindPlugin();
    ResetModel();
    trace.clear();
    traceInput = data;
    Reader reader = {data, size, 0};
    currentReader = &reader;
    while (!AtEnd(reader)) {
        trace.push_back(TraceEntry{OpNew, reader.at, reader.at});
        const Operation operation = OperationFor(ReadByte(reader));
        trace.back().operation = operation;
        fake::ClearCalls();
        const size_t before = fake::PresenceCount();
        Expected expected = {0, {Playing}, false};
        const bool wasLive = model.live;
        Run(operation, reader, expected);
        trace.back().end = reader.at;
        NotePlayerTexts();
        if (!wasLive && IsNotification(operation)) {
            REQUIRE(fake::CallCount() == 0,
                    "a notification outside a live instance called the player or the library");
        }
        CheckSent(before, expected);
        CheckTexts();
        CheckStandingRecord();
    }
    currentReader = nullptr;
    return 0;
}
