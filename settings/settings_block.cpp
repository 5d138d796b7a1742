// The settings block the player saves between runs and hands back: the
// 12-byte image of the three settings words, with no header or checksum.
// The block is assembled and taken apart through a local image, so that each
// shared word is only ever loaded and stored whole.
#include "settings/settings_block.h"

#include <algorithm>
#include <cstring>

#include "plugin/plugin_state.h"
#include "presence/publisher.h"

enum : uint32_t { SettingsWordCount = 3, SettingsBlockSize = 12 };
static_assert(sizeof(PresenceSettings) == SettingsBlockSize, "the block is the image of the words");
static_assert(sizeof(int32_t[SettingsWordCount]) == SettingsBlockSize, "the image is the block");

// The words in block order: offsets 0, 4 and 8.
static SharedWord* const settingsWords[SettingsWordCount] = {
    &settings.showAlbumDate,
    &settings.showVersion,
    &settings.timeMode,
};

// The image of the words as held now.
static void LoadImage(int32_t (&image)[SettingsWordCount]) {
    for (uint32_t word = 0; word < SettingsWordCount; word++)
        image[word] = settingsWords[word]->load(std::memory_order_relaxed);
}

// Writes the three words, as held, to the player's 12-byte block; returns 12.
uint32_t XMP_STDCALL GetConfig(void* inst, void* config) {
    (void)inst;
    int32_t image[SettingsWordCount];
    LoadImage(image);
    std::memcpy(config, image, SettingsBlockSize);
    return SettingsBlockSize;
}

// Copies the first min(size, 12) bytes of the block over the words, byte for
// byte and unvalidated, then rebuilds the large image's text from the
// showVersion word now held. Only the words the copied bytes reach are
// stored; a word the block cuts short keeps its high-order bytes. Publishes
// nothing; returns 1.
int32_t XMP_STDCALL SetConfig(void* inst, const void* config, uint32_t size) {
    (void)inst;
    const uint32_t count = std::min(size, static_cast<uint32_t>(SettingsBlockSize));
    // An empty block may come as a null pointer, which memcpy must not see.
    if (count != 0) {
        int32_t image[SettingsWordCount];
        LoadImage(image);
        std::memcpy(image, config, count);
        for (uint32_t word = 0; word * sizeof(int32_t) < count; word++)
            settingsWords[word]->store(image[word], std::memory_order_relaxed);
    }
    UpdateVersionText();
    return 1;
}
