// The plug-in DLL's bytes: the checks, the search for the application ID
// field and the rewrite. Every read is bounded by the image's size, and
// every sum of offsets from the file is taken in 64 bits, so that no value
// in a hostile file can wrap a bound.
#include "appid/dll_image.h"

#include <cstring>

// Offsets of the PE format: the DOS header's pointer to the PE signature,
// the file header that follows the signature, the 32-bit optional header's
// magic, checksum, directory count and certificate directory, and a
// section header's place of its raw data.
enum : size_t {
    PeOffsetField = 0x3C,
    SignatureSize = 4,
    FileHeaderSize = 20,
    MachineOffset = 0,
    SectionCountOffset = 2,
    OptionalSizeOffset = 16,
    CharacteristicsOffset = 18,
    OptionalMagicOffset = 0,
    OptionalChecksumOffset = 64,
    DirectoryCountOffset = 92,
    CertificateDirectoryOffset = 96 + 4 * 8,
    CertificateDirectoryIndex = 4,
    SectionHeaderSize = 40,
    RawSizeOffset = 16,
    RawPointerOffset = 20,
};
enum : uint16_t { MachineI386 = 0x014C, CharacteristicDll = 0x2000, OptionalMagicPe32 = 0x010B };

static const char Marker[] = NOWGLOW_APPLICATION_ID_MARKER;

static uint16_t Read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

static uint32_t Read32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The headers of a 32-bit Windows DLL, as far as the checks need them.
struct DllHeaders {
    size_t optional;  // the optional header's offset; 0 when the image is not such a DLL
    uint16_t optionalSize;
    uint16_t sections;
};

static DllHeaders ReadDllHeaders(const uint8_t* image, size_t size) {
    DllHeaders headers = {0, 0, 0};
    if (size < PeOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return headers;
    const uint64_t pe = Read32(image + PeOffsetField);
    // The checksum is summed as 16-bit words, so its field must start on one.
    if (pe % 4 != 0 || pe + SignatureSize + FileHeaderSize + OptionalChecksumOffset + 4 > size)
        return headers;
    if (std::memcmp(image + pe, "PE\0\0", SignatureSize) != 0) return headers;
    const uint8_t* fileHeader = image + pe + SignatureSize;
    if (Read16(fileHeader + MachineOffset) != MachineI386) return headers;
    if ((Read16(fileHeader + CharacteristicsOffset) & CharacteristicDll) == 0) return headers;
    const size_t optional = static_cast<size_t>(pe) + SignatureSize + FileHeaderSize;
    if (Read16(image + optional + OptionalMagicOffset) != OptionalMagicPe32) return headers;
    headers.optional = optional;
    headers.optionalSize = Read16(fileHeader + OptionalSizeOffset);
    headers.sections = Read16(fileHeader + SectionCountOffset);
    return headers;
}

// Whether the file holds its section table, every section's raw data and
// its signature: a download cut short ends before one of them.
static bool IsWhole(const uint8_t* image, size_t size, const DllHeaders& headers) {
    const uint64_t table = static_cast<uint64_t>(headers.optional) + headers.optionalSize;
    const uint64_t tableEnd = table + static_cast<uint64_t>(headers.sections) * SectionHeaderSize;
    if (tableEnd > size) return false;
    for (uint64_t section = table; section < tableEnd; section += SectionHeaderSize) {
        const uint8_t* header = image + section;
        const uint64_t rawEnd =
            static_cast<uint64_t>(Read32(header + RawPointerOffset)) + Read32(header + RawSizeOffset);
        if (rawEnd > size) return false;
    }
    // The certificate directory gives a file offset, not an address.
    const uint64_t directory = static_cast<uint64_t>(headers.optional) + CertificateDirectoryOffset;
    if (headers.optionalSize < CertificateDirectoryOffset + 8 || directory + 8 > size) return true;
    if (Read32(image + headers.optional + DirectoryCountOffset) <= CertificateDirectoryIndex) return true;
    const uint64_t signatureEnd =
        static_cast<uint64_t>(Read32(image + directory)) + Read32(image + directory + 4);
    return signatureEnd <= size;
}

// Whether a whole field starts at offset: the marker, an application ID,
// and zeros to the field's end.
static bool FieldAt(const uint8_t* image, size_t size, size_t offset) {
    if (size - offset < sizeof(ApplicationIdField)) return false;
    if (std::memcmp(image + offset, Marker, sizeof Marker) != 0) return false;
    const char* digits = reinterpret_cast<const char*>(image + offset + sizeof Marker);
    char id[ApplicationIdMaxDigits + 1];
    std::memcpy(id, digits, sizeof id);
    id[ApplicationIdMaxDigits] = '\0';
    if (!IsApplicationId(id) || digits[ApplicationIdMaxDigits] != '\0') return false;
    for (size_t i = std::strlen(id); i < sizeof id; i++) {
        if (digits[i] != '\0') return false;
    }
    return true;
}

IdFieldPlace LocateApplicationId(const uint8_t* image, size_t size) {
    IdFieldPlace place = {ImageVerdict::NotDll, 0, 0, 0};
    const DllHeaders headers = ReadDllHeaders(image, size);
    if (headers.optional == 0) return place;
    place.checksumOffset = headers.optional + OptionalChecksumOffset;
    if (!IsWhole(image, size, headers)) {
        place.verdict = ImageVerdict::CutShort;
        return place;
    }
    for (size_t offset = 0; offset < size; offset++) {
        if (!FieldAt(image, size, offset)) continue;
        if (place.fields++ == 0) place.digitsOffset = offset + sizeof Marker;
    }
    place.verdict = place.fields == 0   ? ImageVerdict::NoField
                    : place.fields == 1 ? ImageVerdict::Found
                                        : ImageVerdict::SeveralFields;
    return place;
}

void ReadApplicationId(const uint8_t* image, const IdFieldPlace& place,
                       char (&id)[ApplicationIdMaxDigits + 1]) {
    std::memcpy(id, image + place.digitsOffset, sizeof id);
    id[ApplicationIdMaxDigits] = '\0';
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
    // In the sum with carries 0xFFFF and 0 are the same number; Windows
    // writes it as 0.
    if (sum == 0xFFFFu) sum = 0;
    return sum + static_cast<uint32_t>(size);
}

void RewriteApplicationId(uint8_t* image, size_t size, const IdFieldPlace& place, const char* id) {
    const size_t length = std::strlen(id);
    std::memset(image + place.digitsOffset, 0, ApplicationIdMaxDigits + 1);
    std::memcpy(image + place.digitsOffset, id, length);
    if (Read32(image + place.checksumOffset) == 0) return;
    const uint32_t checksum = ImageChecksum(image, size, place.checksumOffset);
    for (size_t i = 0; i < 4; i++)
        image[place.checksumOffset + i] = static_cast<uint8_t>(checksum >> (8 * i));
}
