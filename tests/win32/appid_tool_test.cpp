// nowglow-appid.exe as a user runs it, on copies of the shipped 32-bit DLL
// in folders of their own: it shows the ID and rewrites it for every length
// with a valid checksum and nothing else changed; it takes names in every
// script and folders of any length; double-clicked, it asks on its standard
// input; and every bad input is refused in one line with a non-zero exit,
// leaving the file byte for byte as it was and nothing beside it.
#include <windows.h>

#include <imagehlp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/harness.h"
#include "harness/tool_runner.h"

static const char Marker[] = "XMP-Nowglow Discord application ID";
static const size_t FieldDigits = 21;  // 20 digits and a zero

// Where the digits of the first field lie, or 0.
static size_t DigitsOffset(const std::vector<uint8_t>& bytes) {
    const uint8_t* marker = reinterpret_cast<const uint8_t*>(Marker);
    auto found = std::search(bytes.begin(), bytes.end(), marker, marker + sizeof Marker);
    if (found == bytes.end()) return 0;
    return static_cast<size_t>(found - bytes.begin()) + sizeof Marker;
}

static std::string IdIn(const std::vector<uint8_t>& bytes) {
    size_t at = DigitsOffset(bytes);
    if (at == 0 || at + FieldDigits > bytes.size()) return "";
    return std::string(reinterpret_cast<const char*>(bytes.data() + at));
}

static size_t ChecksumOffset(const std::vector<uint8_t>& bytes) {
    const IMAGE_NT_HEADERS* headers = ImageNtHeader(const_cast<uint8_t*>(bytes.data()));
    if (headers == nullptr) return 0;
    return static_cast<size_t>(reinterpret_cast<const uint8_t*>(&headers->OptionalHeader.CheckSum) -
                               bytes.data());
}

// The checksum field, and the checksum Windows computes for the bytes.
static void Checksums(std::vector<uint8_t> bytes, DWORD* stored, DWORD* computed) {
    CheckSumMappedFile(bytes.data(), static_cast<DWORD>(bytes.size()), stored, computed);
}

class AppIdToolTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        original = ReadBytes(ShippedDll());
        ASSERT_GT(original.size(), 4096u) << "no shipped DLL at " << Utf8(ShippedDll());
        defaultId = IdIn(original);
        ASSERT_GE(defaultId.size(), 17u);
        folder = FreshTestFolder(L"nowglow-appid-test");
        ASSERT_FALSE(folder.empty());
        copy = folder + L"\\XMP-Nowglow.dll";
        ASSERT_TRUE(WriteBytes(copy, original));
    }

    void TearDown() override {
        PluginTest::TearDown();
        RemoveTree(folder);
    }

    // A refusal: exit status 1, one line saying why, the file as it was and
    // nothing else left in its folder.
    void ExpectRefused(const std::wstring& arguments, const std::wstring& path,
                       const std::vector<uint8_t>& before, const char* because) {
        SCOPED_TRACE(Utf8(arguments));
        std::vector<std::wstring> filesBefore = FilesIn(folder);
        ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 1u) << run.output;
        EXPECT_NE(run.output.find(because), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "not one line: " << run.output;
        EXPECT_EQ(run.output.rfind("nowglow-appid: ", 0), 0u) << run.output;
        EXPECT_TRUE(ReadBytes(path) == before) << "the file changed";
        EXPECT_EQ(FilesIn(folder), filesBefore) << "a file was left beside the DLL";
    }

    // The rewrite of the copy to id: the output, the ID, the checksum that
    // Windows computes, and no byte changed but the field's and the checksum's.
    void ExpectRewritten(const std::wstring& dll, const std::string& from, const std::string& id) {
        SCOPED_TRACE(id);
        ToolRun changed = RunTool(Quoted(dll) + L" " + Wide(id));
        ASSERT_EQ(changed.exitCode, 0u) << changed.output;
        EXPECT_EQ(changed.output, "Discord application ID changed from " + from + " to " + id + "\r\n");
        std::vector<uint8_t> rewritten = ReadBytes(dll);
        ASSERT_EQ(rewritten.size(), original.size());
        EXPECT_EQ(IdIn(rewritten), id);
        DWORD stored = 0;
        DWORD computed = 0;
        Checksums(rewritten, &stored, &computed);
        EXPECT_NE(stored, 0u) << "the linker's checksum was dropped";
        EXPECT_EQ(stored, computed) << "the rewritten DLL's checksum does not hold";
        size_t digitsAt = DigitsOffset(rewritten);
        size_t checksumAt = ChecksumOffset(rewritten);
        for (size_t i = 0; i < rewritten.size(); ++i) {
            bool inField = i >= digitsAt && i < digitsAt + FieldDigits;
            bool inChecksum = i >= checksumAt && i < checksumAt + 4;
            if (inField && i >= digitsAt + id.size()) {
                ASSERT_EQ(rewritten[i], 0) << "the field is not zero-filled after the digits, at byte " << i;
            } else if (!inField && !inChecksum) {
                ASSERT_EQ(rewritten[i], original[i]) << "byte " << i << " changed";
            }
        }
    }

    std::vector<uint8_t> original;
    std::string defaultId;
    std::wstring folder;
    std::wstring copy;
};

TEST_F(AppIdToolTest, ShowsTheIdAndRewritesItForEveryLengthWithAValidChecksumAndNothingElseChanged) {
    ToolRun shown = RunTool(Quoted(copy));
    EXPECT_EQ(shown.exitCode, 0u) << shown.output;
    EXPECT_EQ(shown.output.rfind("Discord application ID: " + defaultId, 0), 0u) << shown.output;
    EXPECT_TRUE(ReadBytes(copy) == original) << "showing the ID changed the file";

    std::string from = defaultId;
    for (const char* id : {"12345678901234567", "123456789012345678", "1234567890123456789",
                           "18446744073709551615", "98765432109876543"}) {
        ASSERT_NO_FATAL_FAILURE(ExpectRewritten(copy, from, id));
        EXPECT_EQ(FilesIn(folder), std::vector<std::wstring>{L"XMP-Nowglow.dll"}) << "a file was left";
        from = id;
    }
    ToolRun again = RunTool(Quoted(copy) + L" " + Wide(from));
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_EQ(again.output, "Discord application ID: " + from + " (unchanged)\r\n");
    EXPECT_EQ(RunTool(Quoted(copy) + L" " + Wide(defaultId)).exitCode, 0u);
    EXPECT_TRUE(ReadBytes(copy) == original) << "rewriting the old ID did not give the original back";
}

// The words of the image, but for the checksum field, summed modulo 0xFFFF:
// the sum with carries, where 0 and 0xFFFF are the same number.
static uint32_t WordSumModulo(const std::vector<uint8_t>& bytes, size_t checksumAt) {
    uint64_t sum = 0;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        if (at >= checksumAt && at < checksumAt + 4) continue;
        sum += static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8);
    }
    if (bytes.size() % 2 != 0) sum += bytes.back();
    return static_cast<uint32_t>(sum % 0xFFFF);
}

// A DLL whose words, once the tool has written the new ID, sum to 0xFFFF
// with carries (one image in 65,536): Windows writes that sum as 0, and the
// tool's checksum must be Windows' own.
TEST_F(AppIdToolTest, TheChecksumFoldsASumOf0xFFFFAsWindowsDoes) {
    const std::string id = "1234567890123456789";
    std::vector<uint8_t> crafted = original;
    const size_t checksumAt = ChecksumOffset(crafted);
    const size_t digitsAt = DigitsOffset(crafted);
    ASSERT_NE(checksumAt, 0u);
    // The ID as the tool will write it, to reckon the sum it will find.
    std::vector<uint8_t> rewritten = crafted;
    std::fill(rewritten.begin() + static_cast<long>(digitsAt),
              rewritten.begin() + static_cast<long>(digitsAt + FieldDigits), 0);
    std::copy(id.begin(), id.end(), rewritten.begin() + static_cast<long>(digitsAt));
    // One word of the DOS stub's message, which no loader reads, takes the
    // value that brings the sum to 0 modulo 0xFFFF.
    const size_t stubWord = 0x50;
    const uint32_t word = static_cast<uint32_t>(crafted[stubWord] | crafted[stubWord + 1] << 8);
    const uint32_t adjusted = (word + 0xFFFF - WordSumModulo(rewritten, checksumAt)) % 0xFFFF;
    crafted[stubWord] = static_cast<uint8_t>(adjusted);
    crafted[stubWord + 1] = static_cast<uint8_t>(adjusted >> 8);
    ASSERT_TRUE(WriteBytes(copy, crafted));

    ToolRun changed = RunTool(Quoted(copy) + L" " + Wide(id));
    ASSERT_EQ(changed.exitCode, 0u) << changed.output;
    std::vector<uint8_t> result = ReadBytes(copy);
    ASSERT_EQ(WordSumModulo(result, checksumAt), 0u) << "the crafted image does not reach the case";
    DWORD stored = 0;
    DWORD computed = 0;
    Checksums(result, &stored, &computed);
    EXPECT_EQ(stored, computed) << "the tool's checksum is not Windows' own";
    EXPECT_EQ(stored, static_cast<DWORD>(result.size()))
        << "a sum of 0xFFFF is written as 0, plus the length";
}

TEST_F(AppIdToolTest, AZeroChecksumStaysZero) {
    std::vector<uint8_t> unchecked = original;
    size_t checksumAt = ChecksumOffset(unchecked);
    ASSERT_NE(checksumAt, 0u);
    std::fill(unchecked.begin() + static_cast<long>(checksumAt),
              unchecked.begin() + static_cast<long>(checksumAt) + 4, 0);
    ASSERT_TRUE(WriteBytes(copy, unchecked));
    ASSERT_EQ(RunTool(Quoted(copy) + L" 1234567890123456789").exitCode, 0u);
    std::vector<uint8_t> rewritten = ReadBytes(copy);
    DWORD stored = 1;
    DWORD computed = 0;
    Checksums(rewritten, &stored, &computed);
    EXPECT_EQ(stored, 0u);
    EXPECT_EQ(IdIn(rewritten), "1234567890123456789");
}

// 1234567890123456789 in full-width digits, which an ANSI conversion would
// turn into ASCII ones.
static const wchar_t FullWidthId[] =
    L"\xFF11\xFF12\xFF13\xFF14\xFF15\xFF16\xFF17\xFF18\xFF19\xFF10"
    L"\xFF11\xFF12\xFF13\xFF14\xFF15\xFF16\xFF17\xFF18\xFF19";

TEST_F(AppIdToolTest, RefusesWhatIsNotAnApplicationId) {
    for (const wchar_t* id :
         {L"1234567890123456", L"123456789012345678901", L"01234567890123456", L"000000000000000000",
          L"12345678901234567a", L"\"\"", L"\"1234567890 123456789\"", FullWidthId})
        ExpectRefused(Quoted(copy) + L" " + id, copy, original,
                      "is not a Discord application ID: it must be 17 to 20");
    // Twenty digits, but more than the largest ID: said as that.
    for (const wchar_t* id : {L"18446744073709551616", L"99999999999999999999"})
        ExpectRefused(
            Quoted(copy) + L" " + id, copy, original,
            "is not a Discord application ID: it is larger than the largest ID, 18446744073709551615");
}

TEST_F(AppIdToolTest, RefusesAMissingFileAndAFolder) {
    ExpectRefused(Quoted(folder + L"\\missing.dll"), copy, original, "there is no such file");
    ExpectRefused(Quoted(folder + L"\\missing.dll") + L" 1234567890123456789", copy, original,
                  "there is no such file");
    ExpectRefused(Quoted(folder) + L" 1234567890123456789", copy, original,
                  "is a folder, not the plug-in's DLL");
}

TEST_F(AppIdToolTest, RefusesFilesThatAreNotThePlugInsWholeDll) {
    // Another DLL (the presence library beside the tests), a program, text,
    // the plug-in cut short in its headers, by 1 and by 10 bytes.
    std::vector<uint8_t> twice = original;
    size_t field = DigitsOffset(original) - sizeof Marker;
    twice.insert(twice.end(), original.begin() + static_cast<long>(field),
                 original.begin() + static_cast<long>(field + sizeof Marker + FieldDigits));
    const struct Case {
        std::vector<uint8_t> bytes;
        const char* because;
    } cases[] = {
        {ReadBytes(ProgramFolder() + L"discord-rpc.dll"), "holds no Discord application ID"},
        {ReadBytes(ToolPath()), "not a 32-bit Windows DLL"},
        {std::vector<uint8_t>(original.begin(), original.begin() + 200), "not a 32-bit Windows DLL"},
        {std::vector<uint8_t>{'M', 'Z', 'h', 'i'}, "not a 32-bit Windows DLL"},
        {std::vector<uint8_t>(), "not a 32-bit Windows DLL"},
        {std::vector<uint8_t>(original.begin(), original.end() - 1), "is cut short"},
        {std::vector<uint8_t>(original.begin(), original.end() - 10), "is cut short"},
        {twice, "holds 2 Discord application IDs"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(copy, c.bytes));
        ExpectRefused(Quoted(copy) + L" 1234567890123456789", copy, c.bytes, c.because);
        ExpectRefused(Quoted(copy), copy, c.bytes, c.because);
    }
}

TEST_F(AppIdToolTest, RefusesADllHeldOpenOrReadOnlyAndSaysWhatToDo) {
    HANDLE held =
        CreateFileW(Long(copy).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ExpectRefused(Quoted(copy) + L" 1234567890123456789", copy, original, "close XMPlay first");
    CloseHandle(held);

    ASSERT_TRUE(SetFileAttributesW(Long(copy).c_str(), FILE_ATTRIBUTE_READONLY) != FALSE);
    ExpectRefused(Quoted(copy) + L" 1234567890123456789", copy, original, "it is read-only");
    SetFileAttributesW(Long(copy).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(AppIdToolTest, TakesNamesInEveryScriptAndFoldersOfAnyLength) {
    std::wstring deep = folder;
    for (wchar_t letter = L'a'; letter <= L'f'; ++letter) deep += L"\\" + std::wstring(50, letter);
    for (const std::wstring& name : {std::wstring(L"\x041F\x043B\x0430\x0433\x0438\x043D"),  // Плагин
                                     std::wstring(L"\x97F3\x4E50"),                          // 音乐
                                     std::wstring(L"Music \xD83C\xDFB5"),                    // an emoji
                                     deep.substr(folder.size() + 1)}) {
        std::wstring place = folder + L"\\" + name;
        for (size_t at = folder.size() + 1; at <= place.size(); ++at) {
            if (at == place.size() || place[at] == L'\\') {
                std::wstring made = place.substr(0, at);
                ASSERT_TRUE(CreateDirectoryW(Long(made).c_str(), nullptr) != FALSE ||
                            GetLastError() == ERROR_ALREADY_EXISTS)
                    << Utf8(made);
            }
        }
        std::wstring dll = place + L"\\XMP-Nowglow.dll";
        ASSERT_TRUE(WriteBytes(dll, original));
        ASSERT_TRUE(ReadBytes(dll) == original) << "the copy in " << Utf8(place) << " cannot be read back";
        SCOPED_TRACE(Utf8(place));
        ToolRun shown = RunTool(Quoted(dll));
        EXPECT_EQ(shown.exitCode, 0u) << shown.output;
        ASSERT_NO_FATAL_FAILURE(ExpectRewritten(dll, defaultId, "1234567890123456789"));
        EXPECT_EQ(FilesIn(place), std::vector<std::wstring>{L"XMP-Nowglow.dll"});

        // A refusal names the file as it was typed; a long one is cut short.
        std::wstring missing = place + L"\\missing.dll";
        ToolRun refused = RunTool(Quoted(missing));
        EXPECT_EQ(refused.exitCode, 1u);
        if (missing.size() <= 160) {
            EXPECT_NE(refused.output.find(Utf8(missing)), std::string::npos) << refused.output;
        } else {
            EXPECT_LT(refused.output.size(), 400u) << refused.output;
            EXPECT_NE(refused.output.find("missing.dll"), std::string::npos) << refused.output;
        }
    }
}

TEST_F(AppIdToolTest, HelpSaysWhatTheToolDoesBothFormsAndWhatAnIdLooksLike) {
    for (const wchar_t* asked : {L"--help", L"-h", L"/?"}) {
        ToolRun help = RunTool(asked);
        EXPECT_EQ(help.exitCode, 0u) << Utf8(asked);
        for (const char* said :
             {"shows or changes the Discord application ID", "PATH\\XMP-Nowglow.dll NEW-ID",
              "PATH\\XMP-Nowglow.dll ", "17 to 20 digits", "Double-click"})
            EXPECT_NE(help.output.find(said), std::string::npos) << Utf8(asked) << ": " << help.output;
    }
    ToolRun help = RunTool(L"--help");
    for (const char* said :
         {"--check [PATH\\XMP-Nowglow.dll]", "1 refused", "2 a command line", "16 the test presence"})
        EXPECT_NE(help.output.find(said), std::string::npos) << help.output;

    // What the tool does not know is refused with the usage, which lists
    // every form, and nothing is read or written.
    for (const wchar_t* wrong :
         {L"a b c", L"--bogus", L"--version", L"/check", L"--HELP", L"--help extra",
          L"XMP-Nowglow.dll --check", L"--check a b", L"--check --bogus", L"-x 1234567890123456789"}) {
        SCOPED_TRACE(Utf8(wrong));
        ToolRun run = RunTool(wrong);
        EXPECT_EQ(run.exitCode, 2u) << run.output;
        EXPECT_NE(run.output.find("usage: nowglow-appid [PATH\\XMP-Nowglow.dll [NEW-ID]] | --check "
                                  "[PATH\\XMP-Nowglow.dll] | --help"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("no such file"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("is not a Discord application ID"), std::string::npos) << run.output;
    }
}

TEST_F(AppIdToolTest, DoubleClickedItAsksForTheIdAndWritesItAsksAgainOrLeavesTheDll) {
    std::wstring tool = folder + L"\\nowglow-appid.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), tool.c_str(), FALSE) != FALSE);
    const std::string nulInside("12345678901234567\0garbage\n", 26);
    const struct Case {
        std::string typed;
        const char* id;  // what the DLL carries afterwards
        const char* said;
        DWORD exitCode;
    } cases[] = {
        {"1234567890123456789\r\n", "1234567890123456789", "changed from", 0},
        {"  12345678901234567890 \n", "12345678901234567890", "changed from", 0},
        {"12345\n01234567890123456789\n18446744073709551615\n", "18446744073709551615", "changed from", 0},
        {"\r\n", nullptr, "Nothing was changed.", 0},
        {"", nullptr, "Nothing was changed.", 0},
        // A long line is refused as that, and its rest is no entry of its own.
        {std::string(300, '1') + "\n1234567890123456789\n", "1234567890123456789",
         "far too long to be a Discord application ID", 0},
        {std::string(100000, '2') + "\n\n", nullptr, "far too long to be a Discord application ID", 0},
        // A NUL cannot cut an entry down to an ID.
        {nulInside, nullptr, "is not a Discord application ID", 0},
        // A byte-order mark before a pasted ID is dropped.
        {"\xEF\xBB\xBF"
         "1234567890123456789\n",
         "1234567890123456789", "changed from", 0},
        // c at the ID prompt checks at once, from the first step.
        {"c\n", nullptr, "1. The plug-in DLL (", 11},
        // The check is offered at the end of every run, changed or not.
        {"\n", nullptr, "Type c and Enter to check the way to your Discord profile now", 0},
        {"1234567890123456789\n\n", "1234567890123456789",
         "Type c and Enter to check the way to your Discord profile now", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.substr(0, 80));
        ASSERT_TRUE(WriteBytes(copy, original));
        ToolRun run = RunProgram(tool, L"", c.typed);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(run.output.find("carries the Discord application ID " + defaultId), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("the placeholder"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("Developer Portal"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("Press Enter"), std::string::npos) << "waited without a window of its own";
        EXPECT_EQ(IdIn(ReadBytes(copy)), c.id != nullptr ? c.id : defaultId);
        if (c.id == nullptr) {
            EXPECT_TRUE(ReadBytes(copy) == original);
        }
        EXPECT_EQ(FilesIn(folder), (std::vector<std::wstring>{L"XMP-Nowglow.dll", L"nowglow-appid.exe"}));
    }
    // Each wrong entry is explained, and asked again.
    ASSERT_TRUE(WriteBytes(copy, original));
    ToolRun retried = RunProgram(tool, L"", "12345\n01234567890123456789\n1234567890123456789\n");
    size_t explained = 0;
    for (size_t at = retried.output.find("is not a Discord application ID"); at != std::string::npos;
         at = retried.output.find("is not a Discord application ID", at + 1))
        ++explained;
    EXPECT_EQ(explained, 2u) << retried.output;

    // The ID already there is no change, and the check is still offered.
    ToolRun same = RunProgram(tool, L"", "1234567890123456789\nc\n");
    EXPECT_NE(same.output.find("The DLL carries that ID already; nothing was changed."), std::string::npos)
        << same.output;
    EXPECT_NE(same.output.find("1. The plug-in DLL ("), std::string::npos) << same.output;

    // A damaged DLL beside it is said to be damaged, and a missing one to be
    // missing from the tool's folder, each with a double-click's advice.
    ASSERT_TRUE(WriteBytes(copy, std::vector<uint8_t>(original.begin(), original.end() - 10)));
    ToolRun damaged = RunProgram(tool, L"", "1234567890123456789\n");
    EXPECT_EQ(damaged.exitCode, 1u);
    EXPECT_NE(damaged.output.find("is cut short"), std::string::npos) << damaged.output;
    EXPECT_EQ(damaged.output.find("Put nowglow-appid.exe in the folder"), std::string::npos)
        << damaged.output;
    DeleteFileW(Long(copy).c_str());
    ToolRun alone = RunProgram(tool, L"", "1234567890123456789\n");
    EXPECT_EQ(alone.exitCode, 1u);
    EXPECT_NE(
        alone.output.find("put nowglow-appid.exe in the folder of XMP-Nowglow.dll (XMPlay's folder), then "
                          "double-click it again"),
        std::string::npos)
        << alone.output;
    EXPECT_EQ(alone.output.find("with its folder"), std::string::npos)
        << "a command line's advice: " << alone.output;
}

TEST_F(AppIdToolTest, ItsManifestAsksToRunAsInvokerOnEverySupportedWindows) {
    HMODULE tool = LoadLibraryExW(ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(tool, nullptr);
    HRSRC found = FindResourceW(tool, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no manifest in nowglow-appid.exe";
    const char* text = static_cast<const char*>(LockResource(LoadResource(tool, found)));
    std::string manifest(text, SizeofResource(tool, found));
    FreeLibrary(tool);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << manifest;
    size_t systems = 0;
    for (size_t at = manifest.find("<supportedOS Id="); at != std::string::npos;
         at = manifest.find("<supportedOS Id=", at + 1))
        ++systems;
    EXPECT_EQ(systems, 5u) << "Vista, 7, 8, 8.1 and 10 (11 too)";
}

// The rewritten DLL, loaded in the stand-in player, hands exactly the new
// digits to Discord_Initialize, for the lengths that differ from the
// default's. The player loads the plug-in of its own build: the shipped
// DLL, or where the tests are the 64-bit build, the 64-bit plug-in, which
// that build of the tool takes too.
class RewrittenPluginTest : public AppIdToolTest {};

TEST_F(RewrittenPluginTest, HandsExactlyTheNewDigitsToDiscordInitialize) {
    const std::vector<uint8_t> loadable = ReadBytes(Wide(PluginPath()));
    for (const char* id : {"12345678901234567", "1234567890123456789", "18446744073709551615"}) {
        ASSERT_TRUE(WriteBytes(copy, loadable));
        ASSERT_EQ(RunTool(Quoted(copy) + L" " + Wide(id)).exitCode, 0u);
        if (pluginLoaded) Unload();
        pluginLoaded = LoadPlugin(Utf8(copy).c_str());
        ASSERT_TRUE(pluginLoaded) << "the rewritten DLL does not load";
        uint32_t starting = Mark();
        StartInstance();
        std::vector<RecordedCall> opened = DiscordCallsBetween(starting, Mark(), RecordedInitialize);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(Text(opened[0].applicationId), id);
        EndInstance();
        Unload();
        ASSERT_TRUE(WriteBytes(copy, loadable)) << "the DLL is still held after its unload";
    }
}
