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
    // PE32+ moves both by the 16 more bytes of its 64-bit fields.
    Pe32PlusShift = 16,
    CertificateDirectoryIndex = 4,
    SectionHeaderSize = 40,
    RawSizeOffset = 16,
    RawPointerOffset = 20,
};
enum : uint16_t { CharacteristicDll = 0x2000, OptionalMagicPe32 = 0x010B, OptionalMagicPe32Plus = 0x020B };

static const char Marker[] = NOWGLOW_APPLICATION_ID_MARKER;

static uint16_t Read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

static uint32_t Read32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The headers of any PE DLL: its machine, optional header and sections.
struct AnyDll {
    bool isDll;
    uint16_t machine;
    uint64_t optional;
    uint64_t sections;  // the section table's offset
    uint16_t sectionCount;
    uint16_t magic;
};

static AnyDll ReadAnyDll(const uint8_t* image, size_t size) {
    AnyDll dll = {false, 0, 0, 0, 0, 0};
    if (size < PeOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return dll;
    const uint64_t pe = Read32(image + PeOffsetField);
    if (pe + SignatureSize + FileHeaderSize + 2 > size) return dll;
    if (std::memcmp(image + pe, "PE\0\0", SignatureSize) != 0) return dll;
    const uint8_t* fileHeader = image + pe + SignatureSize;
    if ((Read16(fileHeader + CharacteristicsOffset) & CharacteristicDll) == 0) return dll;
    dll.isDll = true;
    dll.machine = Read16(fileHeader + MachineOffset);
    dll.optional = pe + SignatureSize + FileHeaderSize;
    dll.magic = Read16(image + dll.optional);
    dll.sections = dll.optional + Read16(fileHeader + OptionalSizeOffset);
    dll.sectionCount = Read16(fileHeader + SectionCountOffset);
    return dll;
}

// How much further a PE32+ optional header puts its directories.
static size_t DirectoryShift(const AnyDll& dll) {
    return dll.magic == OptionalMagicPe32Plus ? static_cast<size_t>(Pe32PlusShift) : 0;
}

// Whether a DLL of this machine and optional header is the plug-in's kind:
// 32-bit, as XMPlay is. The 64-bit build of the tool, which only the tests
// of a machine without 32-bit programs use, takes the 64-bit build of the
// plug-in too, so that those tests can load what it rewrote.
static bool IsPluginKind(uint16_t machine, uint16_t magic) {
    const bool i386 = machine == MachineI386 && magic == OptionalMagicPe32;
#ifdef NOWGLOW_APPID_TAKES_AMD64
    return i386 || (machine == MachineAmd64 && magic == OptionalMagicPe32Plus);
#else
    return i386;
#endif
}

// Whether the DLL is the plug-in's kind and holds its checksum field whole.
static bool IsPluginDll(const AnyDll& dll, size_t size) {
    // The checksum is summed as 16-bit words, so its field must start on one.
    if (!dll.isDll || dll.optional % 4 != 0 || dll.optional + OptionalChecksumOffset + 4 > size) return false;
    return IsPluginKind(dll.machine, dll.magic);
}

// Whether the file holds its section table, every section's raw data and
// its signature: a download cut short ends before one of them.
static bool IsWhole(const uint8_t* image, size_t size, const AnyDll& dll) {
    const uint64_t table = dll.sections;
    const uint64_t tableEnd = table + static_cast<uint64_t>(dll.sectionCount) * SectionHeaderSize;
    if (tableEnd > size) return false;
    for (uint64_t section = table; section < tableEnd; section += SectionHeaderSize) {
        const uint8_t* header = image + section;
        const uint64_t rawEnd =
            static_cast<uint64_t>(Read32(header + RawPointerOffset)) + Read32(header + RawSizeOffset);
        if (rawEnd > size) return false;
    }
    // The certificate directory gives a file offset, not an address.
    const uint64_t optionalSize = dll.sections - dll.optional;
    const size_t entry = CertificateDirectoryOffset + DirectoryShift(dll);
    const uint64_t directory = dll.optional + entry;
    if (optionalSize < entry + 8 || directory + 8 > size) return true;
    if (Read32(image + dll.optional + DirectoryCountOffset + DirectoryShift(dll)) <=
        CertificateDirectoryIndex)
        return true;
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
    const AnyDll dll = ReadAnyDll(image, size);
    if (!IsPluginDll(dll, size)) return place;
    place.checksumOffset = static_cast<size_t>(dll.optional) + OptionalChecksumOffset;
    if (!IsWhole(image, size, dll)) {
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

// ---- a library's exports ----

// Offsets of the export directory's entry in the 32-bit optional header, of
// a section header's address, and of the export directory's name table.
enum : size_t {
    ExportDirectoryOffset = 96,
    VirtualAddressOffset = 12,
    NameCountOffset = 24,
    NameTableOffset = 32,
    ExportDirectorySize = 40,
};

// discord-rpc.dll has a handful of sections and exports a dozen names; a
// file with far more is not it, and is judged without reading them all, so
// that any file is judged in a moment.
enum : uint32_t { MostLibrarySections = 96, MostLibraryNames = 16384 };

// The file offset of an address of the image, or 0 when no section's raw
// data holds length bytes there.
static uint64_t FileOffsetOf(const uint8_t* image, size_t size, const AnyDll& dll, uint64_t address,
                             uint64_t length) {
    for (uint16_t i = 0; i < dll.sectionCount; i++) {
        const uint64_t header = dll.sections + static_cast<uint64_t>(i) * SectionHeaderSize;
        if (header + SectionHeaderSize > size) return 0;
        const uint64_t start = Read32(image + header + VirtualAddressOffset);
        const uint64_t rawSize = Read32(image + header + RawSizeOffset);
        const uint64_t raw = Read32(image + header + RawPointerOffset);
        if (address < start || address + length > start + rawSize) continue;
        const uint64_t offset = raw + (address - start);
        if (offset + length > size) return 0;
        return offset;
    }
    return 0;
}

// The export table's name pointers: where they lie in the file and how many
// there are; false when the DLL has no readable table.
static bool NameTable(const uint8_t* image, size_t size, const AnyDll& dll, uint64_t* table,
                      uint64_t* count) {
    const uint64_t entry = dll.optional + ExportDirectoryOffset + DirectoryShift(dll);
    if (entry + 8 > size) return false;
    const uint64_t directory = FileOffsetOf(image, size, dll, Read32(image + entry), ExportDirectorySize);
    if (directory == 0) return false;
    *count = Read32(image + directory + NameCountOffset);
    if (*count == 0) return false;
    *table = FileOffsetOf(image, size, dll, Read32(image + directory + NameTableOffset), *count * 4);
    return *table != 0;
}

// Marks in exported which of the count names the export table names,
// reading each of its names once.
static void FindExports(const uint8_t* image, size_t size, const AnyDll& dll, const char* const* names,
                        size_t count, bool* exported) {
    uint64_t table = 0;
    uint64_t exports = 0;
    if (!NameTable(image, size, dll, &table, &exports)) return;
    for (uint64_t i = 0; i < exports; i++) {
        const uint64_t at = FileOffsetOf(image, size, dll, Read32(image + table + i * 4), 1);
        if (at == 0) continue;
        const uint8_t* name = image + at;
        const size_t room = size - static_cast<size_t>(at);
        for (size_t wanted = 0; wanted < count; wanted++) {
            const size_t length = std::strlen(names[wanted]) + 1;
            if (!exported[wanted] && room >= length && std::memcmp(name, names[wanted], length) == 0)
                exported[wanted] = true;
        }
    }
}

LibraryJudgement JudgeLibrary(const uint8_t* image, size_t size, uint16_t machine, const char* const* names,
                              size_t count) {
    LibraryJudgement judgement = {LibraryVerdict::NotDll, 0, nullptr};
    const AnyDll dll = ReadAnyDll(image, size);
    if (!dll.isDll) return judgement;
    judgement.machine = dll.machine;
    if (dll.machine != machine) {
        judgement.verdict = LibraryVerdict::OtherMachine;
        return judgement;
    }
    uint64_t table = 0;
    uint64_t exports = 0;
    if (dll.sectionCount > MostLibrarySections ||
        (NameTable(image, size, dll, &table, &exports) && exports > MostLibraryNames)) {
        judgement.verdict = LibraryVerdict::Unlike;
        return judgement;
    }
    bool exported[16] = {};
    if (count > sizeof exported / sizeof exported[0]) count = sizeof exported / sizeof exported[0];
    FindExports(image, size, dll, names, count, exported);
    for (size_t i = 0; i < count; i++) {
        if (!exported[i]) {
            judgement.verdict = LibraryVerdict::MissingExport;
            judgement.missing = names[i];
            return judgement;
        }
    }
    judgement.verdict = LibraryVerdict::Good;
    return judgement;
}
