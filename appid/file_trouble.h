// What a Windows error on the plug-in's DLL means for the user, kept free
// of Windows so that it can be tested natively: the error numbers are
// Windows' own.
#pragma once

#include <cstdint>

enum class FileTrouble {
    Missing,          // no such file or folder, or a name Windows cannot take
    ProtectedFolder,  // this account may not change files there (Program Files for a standard user)
    InUse,            // another program holds the file: XMPlay, which loaded it
    DiskFull,         // no room left on the disk for the rewritten DLL
    Other,            // anything else: said by its number
};

FileTrouble TroubleFor(uint32_t windowsError);
