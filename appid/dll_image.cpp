// The plug-in DLL's bytes: the checks, the search for the application ID
// field and the rewrite. Every read is bounded by the image's size.
#include "appid/dll_image.h"

#include <cstring>

#include "plugin/application_id.h"

// Offsets of the PE format: the DOS header's pointer to the PE signature,
// the file header that follows the signature, and in the 32-bit optional
// header its magic and its checksum.
enum : size_t {
    PeOffsetField = 0x3C,
    SignatureSize = 4,
    FileHeaderSize = 20,
    MachineOffset = 0,
    CharacteristicsOffset = 18,
    OptionalMagicOffset = 0,
    OptionalChecksumOffset = 64,
};
enum : uint16_t { MachineI386 = 0x014C, CharacteristicDll = 0x2000, OptionalMagicPe32 = 0x010B };

static const char Marker[] = NOWGLOW_APPLICATION_ID_MARKER;

static uint16_t Read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

static uint32_t Read32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsApplicationId(const char* text) {
    if (text == nullptr) return false;
    for (uint32_t i = 0; i < ApplicationIdDigits; i++) {
        if (!IsDigit(text[i])) return false;
    }
    return text[ApplicationIdDigits] == '\0';
}

// The checksum's offset when the image is a 32-bit Windows DLL, else 0.
static size_t DllChecksumOffset(const uint8_t* image, size_t size) {
    if (size < PeOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return 0;
    const size_t pe = Read32(image + PeOffsetField);
    const size_t optional = pe + SignatureSize + FileHeaderSize;
    // The checksum is summed as 16-bit words, so its field must start on one.
    if (pe % 4 != 0 || pe > size || size - pe < SignatureSize + FileHeaderSize + OptionalChecksumOffset + 4)
        return 0;
    if (std::memcmp(image + pe, "PE\0\0", SignatureSize) != 0) return 0;
    const uint8_t* fileHeader = image + pe + SignatureSize;
    if (Read16(fileHeader + MachineOffset) != MachineI386) return 0;
    if ((Read16(fileHeader + CharacteristicsOffset) & CharacteristicDll) == 0) return 0;
    if (Read16(image + optional + OptionalMagicOffset) != OptionalMagicPe32) return 0;
    return optional + OptionalChecksumOffset;
}

// Whether a whole field, marker, digits and zero, starts at offset.
static bool FieldAt(const uint8_t* image, size_t size, size_t offset) {
    if (size - offset < sizeof(ApplicationIdField)) return false;
    if (std::memcmp(image + offset, Marker, sizeof Marker) != 0) return false;
    return IsApplicationId(reinterpret_cast<const char*>(image + offset + sizeof Marker));
}

IdFieldPlace LocateApplicationId(const uint8_t* image, size_t size) {
    IdFieldPlace place = {ImageVerdict::NotDll, 0, 0, DllChecksumOffset(image, size)};
    if (place.checksumOffset == 0) return place;
    for (size_t offset = 0; offset < size; offset++) {
        if (!FieldAt(image, size, offset)) continue;
        if (place.fields++ == 0) place.digitsOffset = offset + sizeof Marker;
    }
    place.verdict = place.fields == 0   ? ImageVerdict::NoField
                    : place.fields == 1 ? ImageVerdict::Found
                                        : ImageVerdict::SeveralFields;
    return place;
}

uint32_t ImageChecksum(const uint8_t* image, size_t size, size_t checksumOffset) {
    uint32_t sum = 0;
    for (size_t offset = 0; offset < size; offset += 2) {
        if (offset >= checksumOffset && offset < checksumOffset + 4) continue;
        const uint32_t word = offset + 1 < size ? Read16(image + offset) : image[offset];
        sum += word;
        sum = (sum & 0xFFFFu) + (sum >> 16);
    }
    sum = (sum & 0xFFFFu) + (sum >> 16);
    return sum + static_cast<uint32_t>(size);
}

void RewriteApplicationId(uint8_t* image, size_t size, const IdFieldPlace& place, const char* id) {
    std::memcpy(image + place.digitsOffset, id, ApplicationIdDigits);
    if (Read32(image + place.checksumOffset) == 0) return;
    const uint32_t checksum = ImageChecksum(image, size, place.checksumOffset);
    for (size_t i = 0; i < 4; i++)
        image[place.checksumOffset + i] = static_cast<uint8_t>(checksum >> (8 * i));
}
