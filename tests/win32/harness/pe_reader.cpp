// A small reader of 32-bit PE files for the tests; see pe_reader.h. Plain
// byte reads, little-endian, each checked against the end of its buffer.
#include "pe_reader.h"

#include <cstddef>
#include <cstdio>
#include <utility>

// Limits that keep a malformed file from sending the reader far afield.
static const uint32_t MaxTextLength = 4096;
static const uint32_t MaxTableEntries = 65536;

static bool ReadU8(const std::vector<uint8_t>& b, size_t offset, uint8_t* value) {
    if (offset >= b.size()) return false;
    *value = b[offset];
    return true;
}

static bool ReadU16(const std::vector<uint8_t>& b, size_t offset, uint16_t* value) {
    if (b.size() < 2 || offset > b.size() - 2) return false;
    *value = static_cast<uint16_t>(b[offset] | (b[offset + 1] << 8));
    return true;
}

static bool ReadU32(const std::vector<uint8_t>& b, size_t offset, uint32_t* value) {
    if (b.size() < 4 || offset > b.size() - 4) return false;
    *value = static_cast<uint32_t>(b[offset]) | (static_cast<uint32_t>(b[offset + 1]) << 8) |
             (static_cast<uint32_t>(b[offset + 2]) << 16) | (static_cast<uint32_t>(b[offset + 3]) << 24);
    return true;
}

static bool ReadI16(const std::vector<uint8_t>& b, size_t offset, int16_t* value) {
    uint16_t raw;
    if (!ReadU16(b, offset, &raw)) return false;
    *value = static_cast<int16_t>(raw);
    return true;
}

// Maps a relative virtual address to a file offset, provided that size bytes
// from there lie within one section's raw data.
static bool RvaToOffset(const PeImage& image, uint32_t rva, uint32_t size, size_t* offset) {
    for (const PeSection& s : image.sections) {
        if (rva < s.virtualAddress) continue;
        const uint32_t delta = rva - s.virtualAddress;
        if (delta >= s.rawSize || s.rawSize - delta < size) continue;
        const size_t at = static_cast<size_t>(s.rawOffset) + delta;
        if (at > image.bytes.size() || image.bytes.size() - at < size) return false;
        *offset = at;
        return true;
    }
    return false;
}

// Reads a zero-terminated 8-bit text at a relative virtual address.
static bool ReadTextAtRva(const PeImage& image, uint32_t rva, std::string* text) {
    size_t offset;
    if (!RvaToOffset(image, rva, 1, &offset)) return false;
    text->clear();
    for (uint32_t i = 0; i < MaxTextLength; ++i) {
        if (offset + i >= image.bytes.size()) return false;
        const char c = static_cast<char>(image.bytes[offset + i]);
        if (c == '\0') return true;
        text->push_back(c);
    }
    return false;
}

static bool ReadU32AtRva(const PeImage& image, uint32_t rva, uint32_t* value) {
    size_t offset;
    return RvaToOffset(image, rva, 4, &offset) && ReadU32(image.bytes, offset, value);
}

static bool ReadU16AtRva(const PeImage& image, uint32_t rva, uint16_t* value) {
    size_t offset;
    return RvaToOffset(image, rva, 2, &offset) && ReadU16(image.bytes, offset, value);
}

// Reads a whole file into bytes.
static bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    return !readError;
}

// Reads count section headers from the table at the given file offset.
static bool ReadSectionTable(const std::vector<uint8_t>& b, size_t table, uint32_t count,
                             std::vector<PeSection>* sections) {
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = table + 40 * static_cast<size_t>(i);
        if (at + 40 > b.size()) return false;
        PeSection s;
        s.name.assign(reinterpret_cast<const char*>(&b[at]), 8);
        s.name.resize(s.name.find('\0') == std::string::npos ? 8 : s.name.find('\0'));
        if (!ReadU32(b, at + 8, &s.virtualSize) || !ReadU32(b, at + 12, &s.virtualAddress) ||
            !ReadU32(b, at + 16, &s.rawSize) || !ReadU32(b, at + 20, &s.rawOffset) ||
            !ReadU32(b, at + 36, &s.characteristics))
            return false;
        sections->push_back(s);
    }
    return true;
}

bool LoadPeImage(const std::string& path, PeImage* image) {
    *image = PeImage();
    if (!ReadFileBytes(path, &image->bytes)) return false;

    const std::vector<uint8_t>& b = image->bytes;
    uint16_t mz;
    uint32_t peOffset;
    uint32_t signature;
    if (!ReadU16(b, 0, &mz) || mz != 0x5A4D) return false;
    if (!ReadU32(b, 0x3C, &peOffset) || !ReadU32(b, peOffset, &signature) || signature != 0x00004550)
        return false;

    const size_t fileHeader = static_cast<size_t>(peOffset) + 4;
    uint16_t sectionCount;
    uint16_t optionalSize;
    if (!ReadU16(b, fileHeader, &image->machine) || !ReadU16(b, fileHeader + 2, &sectionCount) ||
        !ReadU32(b, fileHeader + 4, &image->timeDateStamp) || !ReadU16(b, fileHeader + 16, &optionalSize) ||
        !ReadU16(b, fileHeader + 18, &image->characteristics))
        return false;

    const size_t optional = fileHeader + 20;
    uint32_t directoryCount;
    if (!ReadU16(b, optional, &image->optionalMagic) || image->optionalMagic != 0x10B) return false;
    if (!ReadU32(b, optional + 16, &image->entryPoint) || !ReadU32(b, optional + 28, &image->imageBase) ||
        !ReadU16(b, optional + 68, &image->subsystem) || !ReadU32(b, optional + 92, &directoryCount))
        return false;
    for (uint32_t i = 0; i < 16; ++i) {
        image->directoryRva[i] = 0;
        image->directorySize[i] = 0;
        if (i >= directoryCount) continue;
        if (!ReadU32(b, optional + 96 + 8 * i, &image->directoryRva[i]) ||
            !ReadU32(b, optional + 100 + 8 * i, &image->directorySize[i]))
            return false;
    }

    return ReadSectionTable(b, optional + optionalSize, sectionCount, &image->sections);
}

bool ReadPeExports(const PeImage& image, PeExports* exports) {
    *exports = PeExports();
    const uint32_t dir = image.directoryRva[PeDirectoryExport];
    uint32_t nameRva;
    uint32_t functionsRva;
    uint32_t namesRva;
    uint32_t ordinalsRva;
    if (dir == 0 || !ReadU32AtRva(image, dir + 12, &nameRva) ||
        !ReadU32AtRva(image, dir + 16, &exports->ordinalBase) ||
        !ReadU32AtRva(image, dir + 20, &exports->functionCount) ||
        !ReadU32AtRva(image, dir + 24, &exports->nameCount) ||
        !ReadU32AtRva(image, dir + 28, &functionsRva) || !ReadU32AtRva(image, dir + 32, &namesRva) ||
        !ReadU32AtRva(image, dir + 36, &ordinalsRva) || !ReadTextAtRva(image, nameRva, &exports->moduleName))
        return false;
    if (exports->functionCount > MaxTableEntries || exports->nameCount > MaxTableEntries) return false;

    for (uint32_t i = 0; i < exports->functionCount; ++i) {
        PeExport entry;
        if (!ReadU32AtRva(image, functionsRva + 4 * i, &entry.rva)) return false;
        if (entry.rva == 0) continue;
        entry.ordinal = exports->ordinalBase + i;
        for (uint32_t j = 0; j < exports->nameCount; ++j) {
            uint16_t index;
            uint32_t entryNameRva;
            if (!ReadU16AtRva(image, ordinalsRva + 2 * j, &index)) return false;
            if (index != i) continue;
            if (!ReadU32AtRva(image, namesRva + 4 * j, &entryNameRva) ||
                !ReadTextAtRva(image, entryNameRva, &entry.name))
                return false;
        }
        exports->entries.push_back(entry);
    }
    return true;
}

// Reads one DLL's zero-terminated thunk table: names and ordinals imported.
static bool ReadImportThunks(const PeImage& image, uint32_t thunks, PeImportedDll* dll) {
    for (uint32_t t = 0;; ++t) {
        uint32_t thunk;
        if (t >= MaxTableEntries || !ReadU32AtRva(image, thunks + 4 * t, &thunk)) return false;
        if (thunk == 0) return true;
        if ((thunk & 0x80000000u) != 0) {
            dll->ordinals.push_back(static_cast<uint16_t>(thunk & 0xFFFFu));
            continue;
        }
        std::string function;
        if (!ReadTextAtRva(image, thunk + 2, &function)) return false;
        dll->functions.push_back(function);
    }
}

bool ReadPeImports(const PeImage& image, std::vector<PeImportedDll>* imports) {
    imports->clear();
    const uint32_t dir = image.directoryRva[PeDirectoryImport];
    if (dir == 0) return true;
    for (uint32_t d = 0; d < MaxTableEntries; ++d) {
        const uint32_t descriptor = dir + 20 * d;
        uint32_t lookupRva;
        uint32_t nameRva;
        uint32_t addressRva;
        if (!ReadU32AtRva(image, descriptor, &lookupRva) || !ReadU32AtRva(image, descriptor + 12, &nameRva) ||
            !ReadU32AtRva(image, descriptor + 16, &addressRva))
            return false;
        if (lookupRva == 0 && nameRva == 0 && addressRva == 0) return true;

        PeImportedDll dll;
        if (!ReadTextAtRva(image, nameRva, &dll.name)) return false;
        // The lookup table, or the address table when the linker left none.
        const uint32_t thunks = lookupRva != 0 ? lookupRva : addressRva;
        if (!ReadImportThunks(image, thunks, &dll)) return false;
        imports->push_back(dll);
    }
    return false;
}

// Reads a resource name: an identifier, or a counted UTF-16 text at an
// offset from the start of the resource section.
static bool ReadResourceName(const PeImage& image, uint32_t base, uint32_t field, PeResourceName* name) {
    name->isInteger = (field & 0x80000000u) == 0;
    name->id = name->isInteger ? field : 0;
    name->text.clear();
    if (name->isInteger) return true;
    const uint32_t at = base + (field & 0x7FFFFFFFu);
    uint16_t length;
    if (!ReadU16AtRva(image, at, &length)) return false;
    for (uint32_t i = 0; i < length; ++i) {
        uint16_t unit;
        if (!ReadU16AtRva(image, at + 2 + 2 * i, &unit)) return false;
        name->text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return true;
}

// One level of the resource tree: the (name field, offset field) pairs of
// the directory at the given offset from the section's start.
static bool ReadResourceDirectory(const PeImage& image, uint32_t base, uint32_t offset,
                                  std::vector<std::pair<uint32_t, uint32_t>>* entries) {
    entries->clear();
    uint16_t named;
    uint16_t numbered;
    if (!ReadU16AtRva(image, base + offset + 12, &named) ||
        !ReadU16AtRva(image, base + offset + 14, &numbered))
        return false;
    const uint32_t count = static_cast<uint32_t>(named) + numbered;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t nameField;
        uint32_t dataField;
        if (!ReadU32AtRva(image, base + offset + 16 + 8 * i, &nameField) ||
            !ReadU32AtRva(image, base + offset + 20 + 8 * i, &dataField))
            return false;
        entries->push_back(std::make_pair(nameField, dataField));
    }
    return true;
}

// Marks a resource directory entry whose offset leads to another directory.
static const uint32_t ResourceSubdirectory = 0x80000000u;

// Reads the data entry at the given offset of the resource section: the
// resource's bytes, under its type, name and language fields.
static bool ReadResourceData(const PeImage& image, uint32_t base, uint32_t typeField, uint32_t nameField,
                             uint32_t languageField, uint32_t entry, PeResource* resource) {
    uint32_t dataRva;
    uint32_t dataSize;
    size_t dataOffset;
    if (!ReadResourceName(image, base, typeField, &resource->type) ||
        !ReadResourceName(image, base, nameField, &resource->name) ||
        (languageField & ResourceSubdirectory) != 0 || !ReadU32AtRva(image, base + entry, &dataRva) ||
        !ReadU32AtRva(image, base + entry + 4, &dataSize) ||
        !RvaToOffset(image, dataRva, dataSize, &dataOffset))
        return false;
    resource->language = languageField;
    resource->data.assign(image.bytes.begin() + static_cast<std::ptrdiff_t>(dataOffset),
                          image.bytes.begin() + static_cast<std::ptrdiff_t>(dataOffset + dataSize));
    return true;
}

// Reads the third level of the tree under one type and name: a data entry
// per language.
static bool ReadResourceLanguages(const PeImage& image, uint32_t base, uint32_t typeField,
                                  const std::pair<uint32_t, uint32_t>& name,
                                  std::vector<PeResource>* resources) {
    if ((name.second & ResourceSubdirectory) == 0) return false;
    std::vector<std::pair<uint32_t, uint32_t>> languages;
    if (!ReadResourceDirectory(image, base, name.second & ~ResourceSubdirectory, &languages)) return false;
    for (const auto& language : languages) {
        if ((language.second & ResourceSubdirectory) != 0) return false;
        PeResource resource;
        if (!ReadResourceData(image, base, typeField, name.first, language.first, language.second, &resource))
            return false;
        resources->push_back(resource);
    }
    return true;
}

bool ReadPeResources(const PeImage& image, std::vector<PeResource>* resources) {
    resources->clear();
    const uint32_t base = image.directoryRva[PeDirectoryResource];
    if (base == 0) return true;

    std::vector<std::pair<uint32_t, uint32_t>> types;
    std::vector<std::pair<uint32_t, uint32_t>> names;
    if (!ReadResourceDirectory(image, base, 0, &types)) return false;
    for (const auto& type : types) {
        if ((type.second & ResourceSubdirectory) == 0) return false;
        if (!ReadResourceDirectory(image, base, type.second & ~ResourceSubdirectory, &names)) return false;
        for (const auto& name : names) {
            if (!ReadResourceLanguages(image, base, type.first, name, resources)) return false;
        }
    }
    return true;
}

// Reads a zero-terminated UTF-16 text; offset moves past the terminator.
static bool ReadWideText(const std::vector<uint8_t>& b, size_t* offset, std::string* text) {
    text->clear();
    for (uint32_t i = 0; i < MaxTextLength; ++i) {
        uint16_t unit;
        if (!ReadU16(b, *offset, &unit)) return false;
        *offset += 2;
        if (unit == 0) return true;
        text->push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return false;
}

static bool ReadNameOrOrdinal(const std::vector<uint8_t>& b, size_t* offset, DialogNameOrOrdinal* field) {
    uint16_t first;
    field->ordinal = 0;
    field->text.clear();
    if (!ReadU16(b, *offset, &first)) return false;
    if (first == 0x0000) {
        field->kind = DialogNameOrOrdinal::Absent;
        *offset += 2;
        return true;
    }
    if (first == 0xFFFF) {
        field->kind = DialogNameOrOrdinal::Ordinal;
        *offset += 2;
        if (!ReadU16(b, *offset, &field->ordinal)) return false;
        *offset += 2;
        return true;
    }
    field->kind = DialogNameOrOrdinal::Text;
    return ReadWideText(b, offset, &field->text);
}

static size_t AlignToWord32(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

static bool ParseDialogItemEx(const std::vector<uint8_t>& b, size_t* offset, DialogItemEx* item) {
    uint32_t id;
    size_t at = AlignToWord32(*offset);
    if (!ReadU32(b, at, &item->helpId) || !ReadU32(b, at + 4, &item->exStyle) ||
        !ReadU32(b, at + 8, &item->style) || !ReadI16(b, at + 12, &item->x) ||
        !ReadI16(b, at + 14, &item->y) || !ReadI16(b, at + 16, &item->cx) ||
        !ReadI16(b, at + 18, &item->cy) || !ReadU32(b, at + 20, &id))
        return false;
    item->id = static_cast<int32_t>(id);
    at += 24;
    if (!ReadNameOrOrdinal(b, &at, &item->windowClass) || !ReadNameOrOrdinal(b, &at, &item->title) ||
        !ReadU16(b, at, &item->extraCount))
        return false;
    at += 2;
    if (b.size() - at < item->extraCount) return false;
    *offset = at + item->extraCount;
    return true;
}

bool ParseDialogTemplateEx(const std::vector<uint8_t>& data, DialogTemplateEx* dialog) {
    *dialog = DialogTemplateEx();
    const std::vector<uint8_t>& b = data;
    if (!ReadU16(b, 0, &dialog->version) || !ReadU16(b, 2, &dialog->signature) ||
        !ReadU32(b, 4, &dialog->helpId) || !ReadU32(b, 8, &dialog->exStyle) ||
        !ReadU32(b, 12, &dialog->style) || !ReadU16(b, 16, &dialog->itemCount) ||
        !ReadI16(b, 18, &dialog->x) || !ReadI16(b, 20, &dialog->y) || !ReadI16(b, 22, &dialog->cx) ||
        !ReadI16(b, 24, &dialog->cy))
        return false;
    if (dialog->version != 1 || dialog->signature != 0xFFFF) return false;

    size_t at = 26;
    if (!ReadNameOrOrdinal(b, &at, &dialog->menu) || !ReadNameOrOrdinal(b, &at, &dialog->windowClass) ||
        !ReadWideText(b, &at, &dialog->title))
        return false;

    // DS_SETFONT (0x40) or DS_SHELLFONT (DS_SETFONT | DS_FIXEDSYS): a font block follows.
    if ((dialog->style & 0x40u) != 0) {
        if (!ReadU16(b, at, &dialog->pointSize) || !ReadU16(b, at + 2, &dialog->weight) ||
            !ReadU8(b, at + 4, &dialog->italic) || !ReadU8(b, at + 5, &dialog->charset))
            return false;
        at += 6;
        if (!ReadWideText(b, &at, &dialog->typeface)) return false;
    }

    for (uint16_t i = 0; i < dialog->itemCount; ++i) {
        DialogItemEx item;
        if (!ParseDialogItemEx(b, &at, &item)) return false;
        dialog->items.push_back(item);
    }
    dialog->bytesUsed = at;
    return true;
}
