// A small reader of 32-bit PE files, enough for the tests to check the
// built DLL from outside: its headers, export and import directories, its
// resources, and the extended dialog templates among them. Every read is
// bounds-checked; a malformed file makes the reading function return false.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeSection {
    std::string name;
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawOffset;
    uint32_t rawSize;
    uint32_t characteristics;
};

struct PeImage {
    std::vector<uint8_t> bytes;
    uint16_t machine;
    uint16_t characteristics;  // of the COFF file header
    uint32_t timeDateStamp;
    uint16_t optionalMagic;  // 0x10B for PE32
    uint32_t entryPoint;
    uint32_t imageBase;
    uint16_t subsystem;
    std::vector<PeSection> sections;
    uint32_t directoryRva[16];
    uint32_t directorySize[16];
};

enum : uint32_t {
    PeDirectoryExport = 0,
    PeDirectoryImport = 1,
    PeDirectoryResource = 2,
};

struct PeExport {
    std::string name;  // empty for an export by ordinal only
    uint32_t ordinal;  // biased by the directory's base
    uint32_t rva;
};

struct PeExports {
    std::string moduleName;
    uint32_t ordinalBase;
    uint32_t functionCount;
    uint32_t nameCount;
    std::vector<PeExport> entries;
};

struct PeImportedDll {
    std::string name;
    std::vector<std::string> functions;  // imported by name
    std::vector<uint16_t> ordinals;      // imported by ordinal
};

// A resource name: an integer identifier, or a text.
struct PeResourceName {
    bool isInteger;
    uint32_t id;
    std::string text;
};

struct PeResource {
    PeResourceName type;
    PeResourceName name;
    uint32_t language;
    std::vector<uint8_t> data;
};

// A dialog template field that is a name or an ordinal (sz_Or_Ord): absent
// (a single zero word), an ordinal (0xFFFF then the value), or a text.
struct DialogNameOrOrdinal {
    enum Kind { Absent, Ordinal, Text } kind;
    uint16_t ordinal;
    std::string text;  // UTF-16 code units below 128 only
};

struct DialogItemEx {
    uint32_t helpId;
    uint32_t exStyle;
    uint32_t style;
    int16_t x, y, cx, cy;
    int32_t id;
    DialogNameOrOrdinal windowClass;
    DialogNameOrOrdinal title;
    uint16_t extraCount;
};

struct DialogTemplateEx {
    uint16_t version;
    uint16_t signature;
    uint32_t helpId;
    uint32_t exStyle;
    uint32_t style;
    uint16_t itemCount;
    int16_t x, y, cx, cy;
    DialogNameOrOrdinal menu;
    DialogNameOrOrdinal windowClass;
    std::string title;
    uint16_t pointSize;  // present only with DS_SETFONT or DS_SHELLFONT
    uint16_t weight;
    uint8_t italic;
    uint8_t charset;
    std::string typeface;
    std::vector<DialogItemEx> items;
    size_t bytesUsed;  // end of the last item, before any padding
};

// Reads the file and its headers.
bool LoadPeImage(const std::string& path, PeImage* image);

// Reads the export directory.
bool ReadPeExports(const PeImage& image, PeExports* exports);

// Reads the import directory, one entry per imported DLL in file order.
bool ReadPeImports(const PeImage& image, std::vector<PeImportedDll>* imports);

// Reads the three-level resource tree: every type, name and language.
bool ReadPeResources(const PeImage& image, std::vector<PeResource>* resources);

// Parses an extended dialog template (DLGTEMPLATEEX with its items).
bool ParseDialogTemplateEx(const std::vector<uint8_t>& data, DialogTemplateEx* dialog);
