// Deep copies of what a stand-in of the presence library receives.
#include "tools/common/recorded_presence.h"

#include <cstring>

// A text longer than this is measured only up to here: a caller's pointer to
// something that is not a terminated text must not send the copy astray.
static const size_t LengthBound = 4096;

void RecordText(RecordedText* out, const char* text) {
    std::memset(out, 0, sizeof *out);
    out->address = AddressOf(text);
    if (text == nullptr) {
        out->isNull = 1;
        return;
    }
    size_t length = strnlen(text, LengthBound);
    bool truncated = length >= RecordedTextSize;
    size_t copied = truncated ? RecordedTextSize - 1 : length;
    std::memcpy(out->text, text, copied);
    out->text[copied] = '\0';
    out->length = static_cast<uint32_t>(length);
    out->truncated = truncated ? 1 : 0;
}

void RecordPresence(RecordedPresence* out, const DiscordRichPresence* in) {
    out->address = AddressOf(in);
    RecordText(&out->state, in->state);
    RecordText(&out->details, in->details);
    out->startTimestamp = in->startTimestamp;
    out->endTimestamp = in->endTimestamp;
    RecordText(&out->largeImageKey, in->largeImageKey);
    RecordText(&out->largeImageText, in->largeImageText);
    RecordText(&out->smallImageKey, in->smallImageKey);
    RecordText(&out->smallImageText, in->smallImageText);
    RecordText(&out->partyId, in->partyId);
    out->partySize = in->partySize;
    out->partyMax = in->partyMax;
    RecordText(&out->matchSecret, in->matchSecret);
    RecordText(&out->joinSecret, in->joinSecret);
    RecordText(&out->spectateSecret, in->spectateSecret);
    out->instance = in->instance;
}
