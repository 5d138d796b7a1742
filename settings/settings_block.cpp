// The settings block the player saves between runs and hands back: the
// 12-byte image of the three settings words, with no header or checksum.
#include "settings/settings_slots.h"

#include <algorithm>
#include <cstring>

#include "plugin/plugin_state.h"
#include "presence/publisher.h"

static const uint32_t SettingsBlockSize = 12;
static_assert(sizeof(PresenceSettings) == SettingsBlockSize, "the block is the image of the words");

// Writes the three words, as held, to the player's 12-byte block; returns 12.
uint32_t XMP_STDCALL GetConfig(void* inst, void* config) {
    (void)inst;
    std::memcpy(config, &settings, SettingsBlockSize);
    return SettingsBlockSize;
}

// Copies the first min(size, 12) bytes of the block over the words, byte for
// byte and unvalidated, then rebuilds the large image's text from the
// showVersion word now held. Publishes nothing; returns 1.
int32_t XMP_STDCALL SetConfig(void* inst, const void* config, uint32_t size) {
    (void)inst;
    const uint32_t count = std::min(size, SettingsBlockSize);
    // An empty block may come as a null pointer, which memcpy must not see.
    if (count != 0) std::memcpy(&settings, config, count);
    UpdateVersionText(settings.showVersion);
    return 1;
}
