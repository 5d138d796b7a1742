// What nowglow-appid.exe does to the bytes of a plug-in DLL, kept free of
// Windows so that it can be tested natively: it checks that the file is a
// whole 32-bit Windows DLL, finds the one application ID field in it, and
// rewrites the ID's digits and the image's checksum in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/application_id.h"

enum : uint16_t { MachineI386 = 0x014C, MachineAmd64 = 0x8664 };

enum class ImageVerdict {
    Found,          // one application ID field: the plug-in's DLL
    NotDll,         // not a 32-bit Windows DLL
    CutShort,       // a 32-bit DLL whose file ends before its last section or its signature
    NoField,        // a DLL, but no application ID field in it
    SeveralFields,  // more than one field: which one is meant cannot be told
};

// Where the ID and the checksum lie in a DLL image.
struct IdFieldPlace {
    ImageVerdict verdict;
    uint32_t fields;        // application ID fields found
    size_t digitsOffset;    // the field's digits, when found
    size_t checksumOffset;  // the optional header's checksum, for any DLL
};

// Looks the image over: a whole 32-bit DLL, and in it, exactly once, the
// marker of the field followed by an application ID zero-filled to the
// field's end.
IdFieldPlace LocateApplicationId(const uint8_t* image, size_t size);

// The ID of the field found, as text: its digits and a zero.
void ReadApplicationId(const uint8_t* image, const IdFieldPlace& place,
                       char (&id)[ApplicationIdMaxDigits + 1]);

// The image's checksum as Windows computes it: the 16-bit sum with carries
// of every word of the file but the checksum field itself, a sum of 0xFFFF
// folded to 0, plus the file's length.
uint32_t ImageChecksum(const uint8_t* image, size_t size, size_t checksumOffset);

// Writes id (an application ID) over the field found, zero-filled to the
// field's end, and a fresh checksum over the old one unless that was zero
// (no checksum kept).
void RewriteApplicationId(uint8_t* image, size_t size, const IdFieldPlace& place, const char* id);

enum class LibraryVerdict {
    Good,           // a DLL of the wanted machine exporting every wanted name
    NotDll,         // not a Windows DLL at all
    OtherMachine,   // a DLL for another machine (machine tells which)
    MissingExport,  // a DLL of the machine without one of the names (missing tells which)
    Unlike,         // a DLL of the machine with far more sections or names than the library has
};

struct LibraryJudgement {
    LibraryVerdict verdict;
    uint16_t machine;     // the DLL's machine, when it is a DLL
    const char* missing;  // the first wanted name it does not export
};

// Judges a library as the loader would see it, from its bytes alone: a DLL
// of the wanted machine whose export table names each of the count (at
// most 16) names. Any file is judged in a moment: the sections and names
// it reads are bounded by what a real library has.
LibraryJudgement JudgeLibrary(const uint8_t* image, size_t size, uint16_t machine, const char* const* names,
                              size_t count);
