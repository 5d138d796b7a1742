// nowglow-appid.exe --check: walks the path from the plug-in's DLL to the
// Discord profile, one line a step, and stops at the first that fails.
#pragma once

#include "appid/plugin_file.h"

// The exit status of the check: 0 when every step passed, else the step
// that failed.
enum : int {
    CheckPassed = 0,
    CheckPluginFailed = 11,         // the plug-in's DLL
    CheckLibraryFailed = 12,        // discord-rpc.dll beside it
    CheckNoDiscord = 13,            // no Discord pipe, or none this account may open
    CheckIdRefused = 14,            // Discord refused the application ID
    CheckDiscordAnswerFailed = 15,  // another close, a broken answer, or none
    CheckPresenceFailed = 16,       // the test presence could not be shown
};

// Runs the check on the DLL named (as the user typed it): reads it, then
// every step from the first.
int CheckPathToDiscord(const wchar_t* typedDll);

// Runs the whole check on a DLL already read.
int CheckFromPlugin(const PluginFile& plugin);
