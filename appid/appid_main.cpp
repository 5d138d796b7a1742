// nowglow-appid.exe: shows or changes the Discord application ID built into
// XMP-Nowglow.dll, so that a user with only the release can point the
// plug-in at a Discord application of their own, and checks the way from
// the DLL to the Discord profile.
//   nowglow-appid                                 (a double-click) asks
//   nowglow-appid PATH\XMP-Nowglow.dll           prints the ID
//   nowglow-appid PATH\XMP-Nowglow.dll NEW-ID    writes NEW-ID in its place
//   nowglow-appid --check [PATH\XMP-Nowglow.dll] checks the way to Discord
//   nowglow-appid --help                          says all this
// Bad input gets one line on the error output, a non-zero exit status and
// an untouched file.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "appid/console.h"
#include "appid/discord_check.h"
#include "appid/plugin_file.h"
#include "plugin/application_id.h"

enum : int { ExitDone = 0, ExitRefused = 1, ExitUsage = 2 };

// The ID of a build that was not given one of a registered application.
static const char PlaceholderId[] = NOWGLOW_PLACEHOLDER_APP_ID;

static const wchar_t* const HelpLines[] = {
    L"nowglow-appid shows or changes the Discord application ID inside XMP-Nowglow.dll,",
    L"and checks the way from the DLL to your Discord profile.",
    L"",
    L"Double-click it in the folder of XMP-Nowglow.dll, or run it from a command prompt",
    L"opened in that folder (type cmd in Explorer's address bar, then Enter):",
    L"  nowglow-appid                                  asks for the new ID, then offers the check",
    L"  nowglow-appid PATH\\XMP-Nowglow.dll             shows the ID the DLL carries",
    L"  nowglow-appid PATH\\XMP-Nowglow.dll NEW-ID      writes NEW-ID into the DLL",
    L"  nowglow-appid --check [PATH\\XMP-Nowglow.dll]    checks the way to your Discord profile",
    L"  nowglow-appid --help                           shows this",
    L"",
    L"The check takes XMP-Nowglow.dll in the current folder (else the one beside",
    L"the tool) when no path is given, and names it. It looks at the DLL (the",
    L"placeholder ID fails), discord-rpc.dll beside it and Discord itself, then has",
    L"discord-rpc.dll show a test presence: \"shown\" only once Discord greeted the",
    L"library and did not refuse the card, cleared after 15 seconds. It stops at",
    L"the first step that fails.",
    L"",
    L"Exit status: 0 done (for the check: every step passed); 1 refused (the ID or",
    L"the file, said why); 2 a command line it does not know; the check's steps:",
    L"11 the plug-in DLL, 12 discord-rpc.dll, 13 Discord not reachable, 14 the ID",
    L"refused, 15 another answer or none, 16 the test presence.",
    L"",
    L"An application ID is 17 to 20 digits, such as 1234567890123456789: in Discord's",
    L"Developer Portal, open your application; General Information shows it as",
    L"Application ID. Close XMPlay before you change the DLL.",
};

static const wchar_t Usage[] =
    L"usage: nowglow-appid [PATH\\XMP-Nowglow.dll [NEW-ID]] | --check [PATH\\XMP-Nowglow.dll] | --help";

static const wchar_t WhereTheIdIs[] =
    L"Your application's ID is in Discord's Developer Portal: open the application; General Information "
    L"shows its Application ID.";

// A wide command-line argument as ASCII; false when it holds anything else
// (full-width digits included), which is then never an ID.
static bool AsAscii(const wchar_t* text, char* ascii, size_t capacity) {
    size_t i = 0;
    for (; text[i] != L'\0'; i++) {
        if (i + 1 >= capacity || text[i] > 0x7F) return false;
        ascii[i] = static_cast<char>(text[i]);
    }
    ascii[i] = '\0';
    return true;
}

// Whether the text is twenty digits without a leading zero, above the
// largest ID: the one way a number of the right length is refused.
static bool AboveTheLargest(const char* text) {
    if (std::strlen(text) != ApplicationIdMaxDigits || text[0] == '0') return false;
    for (size_t i = 0; i < ApplicationIdMaxDigits; i++) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return std::strcmp(text, NOWGLOW_LARGEST_APPLICATION_ID) > 0;
}

// The ID typed, if it is one; says why not otherwise.
static bool TakeId(const wchar_t* typed, char (&id)[ApplicationIdMaxDigits + 1]) {
    static char ascii[ApplicationIdMaxDigits + 2];
    const bool isAscii = AsAscii(typed, ascii, sizeof ascii);
    if (isAscii && IsApplicationId(ascii)) {
        std::memcpy(id, ascii, sizeof id);
        return true;
    }
    static wchar_t line[512];
    if (isAscii && AboveTheLargest(ascii)) {
        std::swprintf(line, sizeof line / sizeof line[0],
                      L"'%ls' is not a Discord application ID: it is larger than the largest ID, "
                      L"" NOWGLOW_LARGEST_APPLICATION_ID,
                      ShownName(typed));
    } else {
        std::swprintf(line, sizeof line / sizeof line[0],
                      L"'%ls' is not a Discord application ID: it must be 17 to 20 digits, such as "
                      L"1234567890123456789, with no leading zero",
                      ShownName(typed));
    }
    SayError(line);
    return false;
}

static void SayId(const wchar_t* lead, const char* id) {
    static wchar_t line[256];
    std::swprintf(line, sizeof line / sizeof line[0], L"%ls%hs%ls", lead, id,
                  std::strcmp(id, PlaceholderId) == 0
                      ? L" (the placeholder: no Discord application has it, so nothing shows until you put "
                        L"your own application's ID into the DLL)"
                      : L"");
    SayLine(line);
}

static void SayChanged(const char* from, const char* to) {
    static wchar_t line[256];
    std::swprintf(line, sizeof line / sizeof line[0], L"Discord application ID changed from %hs to %hs", from,
                  to);
    SayLine(line);
}

// Shows the ID, or writes a new one; the command-line forms.
static int ShowOrChange(const wchar_t* typedPath, const wchar_t* typedId) {
    char id[ApplicationIdMaxDigits + 1] = {};
    if (typedId != nullptr && !TakeId(typedId, id)) return ExitRefused;
    static PluginFile file;
    if (!NamePluginFile(&file, typedPath) || !ReadPluginFile(&file)) return ExitRefused;
    char old[ApplicationIdMaxDigits + 1];
    ReadApplicationId(file.bytes, file.place, old);
    if (typedId == nullptr) {
        SayId(L"Discord application ID: ", old);
        return ExitDone;
    }
    if (std::strcmp(old, id) == 0) {
        static wchar_t line[128];
        std::swprintf(line, sizeof line / sizeof line[0], L"Discord application ID: %hs (unchanged)", old);
        SayLine(line);
        return ExitDone;
    }
    if (!RewritePluginFile(&file, id)) return ExitRefused;
    SayChanged(old, id);
    return ExitDone;
}

// The path of XMP-Nowglow.dll in the tool's own folder.
static bool DllBesideTool(wchar_t* dll, size_t capacity) {
    static wchar_t tool[32768];
    const DWORD length = GetModuleFileNameW(nullptr, tool, sizeof tool / sizeof tool[0]);
    if (length == 0 || length >= sizeof tool / sizeof tool[0]) return false;
    return PathBeside(tool, L"XMP-Nowglow.dll", dll, capacity);
}

// Whether a file (not a folder) is at the path, which may be of any length.
static bool FileExists(const wchar_t* path) {
    static wchar_t reachable[32768];
    std::swprintf(reachable, sizeof reachable / sizeof reachable[0], L"%ls%ls",
                  path[0] != L'\\' && path[1] == L':' ? L"\\\\?\\" : L"", path);
    const DWORD attributes = GetFileAttributesW(reachable);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The DLL --check takes when none is named: XMP-Nowglow.dll in the current
// folder, where a user who opened a prompt in XMPlay's folder stands, when
// there is one; else the one beside the tool.
static bool DllToCheck(wchar_t* dll, size_t capacity) {
    static wchar_t folder[32768];
    const DWORD length = GetCurrentDirectoryW(sizeof folder / sizeof folder[0], folder);
    if (length > 0 && length < sizeof folder / sizeof folder[0]) {
        const int made = std::swprintf(dll, capacity, L"%ls%lsXMP-Nowglow.dll", folder,
                                       folder[length - 1] == L'\\' ? L"" : L"\\");
        if (made > 0 && FileExists(dll)) return true;
    }
    return DllBesideTool(dll, capacity);
}

// Drops the blanks around a pasted entry.
static wchar_t* Trimmed(wchar_t* text) {
    while (*text == L' ' || *text == L'\t') text++;
    size_t length = std::wcslen(text);
    while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'\t')) text[--length] = L'\0';
    return text;
}

static bool IsCheckEntry(const wchar_t* typed) {
    return std::wcscmp(typed, L"c") == 0 || std::wcscmp(typed, L"C") == 0;
}

// Offers the check of the way to Discord at the end of a double-click.
static int OfferCheck(const PluginFile& file) {
    static wchar_t entry[256];
    SayPrompt(L"Type c and Enter to check the way to your Discord profile now, or just Enter to finish: ");
    const Entry read = ReadLine(entry, sizeof entry / sizeof entry[0]);
    if (read == Entry::End) SayLine(L"");
    if (read != Entry::Line || !IsCheckEntry(Trimmed(entry))) return ExitDone;
    return CheckFromPlugin(file);
}

// Asks for the new ID until the entry is one, is empty or asks for the
// check, then writes it; the check is offered whenever the DLL stands.
static int AskAndChange(PluginFile* file, const char* old) {
    static wchar_t entry[256];
    for (;;) {
        SayPrompt(
            L"New Application ID (or c and Enter to check the way to Discord now, or just Enter to leave the "
            L"DLL as it is): ");
        const Entry read = ReadLine(entry, sizeof entry / sizeof entry[0]);
        if (read == Entry::End) {
            SayLine(L"");
            SayLine(L"Nothing was changed.");
            return ExitDone;
        }
        if (read == Entry::TooLong) {
            SayError(
                L"that entry is far too long to be a Discord application ID: it is 17 to 20 digits, such as "
                L"1234567890123456789");
            continue;
        }
        wchar_t* typed = Trimmed(entry);
        if (IsCheckEntry(typed)) return CheckFromPlugin(*file);
        char id[ApplicationIdMaxDigits + 1] = {};
        if (typed[0] == L'\0') {
            SayLine(L"Nothing was changed.");
        } else if (!TakeId(typed, id)) {
            continue;
        } else if (std::strcmp(id, old) == 0) {
            SayLine(L"The DLL carries that ID already; nothing was changed.");
        } else if (!RewritePluginFile(file, id)) {
            return ExitRefused;
        } else {
            SayChanged(old, id);
        }
        return OfferCheck(*file);
    }
}

// The double-click: the DLL beside the tool, its ID, and a new one asked.
static int Dialogue(void) {
    static wchar_t path[32768];
    static PluginFile file;
    int status = ExitRefused;
    AdviseForDoubleClick();
    if (!DllBesideTool(path, sizeof path / sizeof path[0])) {
        SayError(L"cannot tell its own folder; run it from a command prompt: nowglow-appid --help says how");
    } else if (NamePluginFile(&file, path) && ReadPluginFile(&file)) {
        char old[ApplicationIdMaxDigits + 1];
        ReadApplicationId(file.bytes, file.place, old);
        SayId(L"XMP-Nowglow.dll in this folder carries the Discord application ID ", old);
        SayLine(WhereTheIdIs);
        status = AskAndChange(&file, old);
    }
    if (OwnsItsConsole()) {
        SayPrompt(L"Press Enter to close this window.");
        static wchar_t ignored[64];
        ReadLine(ignored, sizeof ignored / sizeof ignored[0]);
    }
    return status;
}

static bool AsksForHelp(const wchar_t* argument) {
    return std::wcscmp(argument, L"--help") == 0 || std::wcscmp(argument, L"-h") == 0 ||
           std::wcscmp(argument, L"/?") == 0;
}

// Whether an argument is written as an option rather than a file or an ID.
static bool LooksLikeOption(const wchar_t* argument) { return argument[0] == L'-' || argument[0] == L'/'; }

static int RefuseCommandLine(const wchar_t* why, const wchar_t* argument) {
    static wchar_t line[512];
    std::swprintf(line, sizeof line / sizeof line[0], L"%ls '%ls'", why, ShownName(argument));
    SayError(line);
    SayError(Usage);
    return ExitUsage;
}

// The check's command line: --check, then at most one path.
static int CheckCommand(int argc, wchar_t** argv) {
    if (argc > 3) return RefuseCommandLine(L"--check takes one DLL at most; too many:", argv[3]);
    if (argc == 3 && LooksLikeOption(argv[2])) return RefuseCommandLine(L"unknown option", argv[2]);
    if (argc == 3) return CheckPathToDiscord(argv[2]);
    static wchar_t dll[32768];
    if (!DllToCheck(dll, sizeof dll / sizeof dll[0])) {
        SayError(
            L"cannot tell its own folder; name the plug-in's DLL: nowglow-appid --check "
            L"PATH\\XMP-Nowglow.dll");
        return CheckPluginFailed;
    }
    return CheckPathToDiscord(dll);
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 1) return Dialogue();
    if (AsksForHelp(argv[1])) {
        if (argc > 2) return RefuseCommandLine(L"--help takes nothing after it; not", argv[2]);
        for (const wchar_t* line : HelpLines) SayLine(line);
        return ExitDone;
    }
    if (std::wcscmp(argv[1], L"--check") == 0) return CheckCommand(argc, argv);
    for (int i = 1; i < argc; i++) {
        if (std::wcscmp(argv[i], L"--check") == 0)
            return RefuseCommandLine(L"--check comes first; not after", argv[i - 1]);
        if (LooksLikeOption(argv[i])) return RefuseCommandLine(L"unknown option", argv[i]);
    }
    if (argc > 3) return RefuseCommandLine(L"too many arguments:", argv[3]);
    return ShowOrChange(argv[1], argc == 3 ? argv[2] : nullptr);
}
