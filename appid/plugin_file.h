// The plug-in's DLL as a file: read whole, found to be the plug-in, and
// replaced in one step by a rewritten copy written beside it. Every failure
// is said in one line that tells the user what to do, and leaves the DLL as
// it was and nothing beside it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "appid/dll_image.h"

// A DLL named by the user: the name as typed (for messages) and the full
// path in its \\?\ form, which reaches folders of any length.
struct PluginFile {
    const wchar_t* typed;
    wchar_t path[32768];
    uint8_t* bytes;
    size_t size;
    IdFieldPlace place;
};

// From now on, refusals give the advice of a double-click (run as
// administrator, put the tool beside the DLL) rather than a command line's.
void AdviseForDoubleClick(void);

// Makes the full path of the name typed; false (said) when it has none.
bool NamePluginFile(PluginFile* file, const wchar_t* typed);

// Reads the file and finds its one application ID field; false when the
// file cannot be read or is not the plug-in's whole DLL (said).
bool ReadPluginFile(PluginFile* file);

// Writes id over the field and replaces the DLL with the result; false
// (said) when it could not, the DLL then unchanged. A DLL that is no longer
// the one read (replaced meanwhile) is refused, never reverted.
bool RewritePluginFile(PluginFile* file, const char* id);

// The name as typed, cut in the middle when it is too long for one line.
const wchar_t* ShownName(const wchar_t* typed);

// A full path in its \\?\ form as a user knows it (C:\..., \\server\...),
// cut in the middle like ShownName.
const wchar_t* ShownPath(const wchar_t* path);

// Writes into beside (capacity characters) the path of the file called name
// in the folder of path; false when path names no folder or it does not fit.
bool PathBeside(const wchar_t* path, const wchar_t* name, wchar_t* beside, size_t capacity);

// The Windows error that ReadWholeFile gives for a file above its limit.
enum : uint32_t { FileAboveLimit = 223 };

// Reads a whole file of at most largest bytes into a buffer of malloc's,
// which the caller frees; null, with Windows' error, when it cannot.
uint8_t* ReadWholeFile(const wchar_t* path, uint32_t largest, size_t* size, uint32_t* error);
