// Fuzzes what nowglow-appid.exe reads from a DLL's bytes: the library's
// judgement (its machine and export names, for --check), and the plug-in's
// application ID field, its checksum and its rewrite. Every input is judged
// without reading outside its own exact buffer, and the answers agree with
// themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "appid/dll_image.h"

static const char* const Wanted[] = {"Discord_Initialize", "Discord_UpdatePresence", "Discord_ClearPresence",
                                     "Discord_Shutdown", "Discord_RunCallbacks"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t* image = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (image == nullptr) return 0;
    if (size != 0) std::memcpy(image, data, size);
    for (uint16_t machine : {static_cast<uint16_t>(MachineI386), static_cast<uint16_t>(MachineAmd64)}) {
        const LibraryJudgement judged = JudgeLibrary(image, size, machine, Wanted, 5);
        if ((judged.verdict == LibraryVerdict::MissingExport) != (judged.missing != nullptr)) std::abort();
    }
    const IdFieldPlace place = LocateApplicationId(image, size);
    if (place.verdict == ImageVerdict::Found) {
        char id[ApplicationIdMaxDigits + 1];
        ReadApplicationId(image, place, id);
        if (!IsApplicationId(id)) std::abort();
        RewriteApplicationId(image, size, place, "12345678901234567890");
        if (LocateApplicationId(image, size).verdict != ImageVerdict::Found) std::abort();
    }
    std::free(image);
    return 0;
}
