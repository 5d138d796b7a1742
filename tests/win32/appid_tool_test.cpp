// nowglow-appid.exe as a user runs it, on copies of the built DLL in a
// folder of their own: it shows the ID, rewrites it in place with a valid
// checksum and nothing else changed, and the rewritten DLL hands the new ID
// to Discord_Initialize; every bad input is refused in one line with a
// non-zero exit, leaving the file byte for byte as it was and no temporary
// file behind.
#include <windows.h>

#include <imagehlp.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness/harness.h"

static const char DefaultMarker[] = "XMP-Nowglow Discord application ID";
static const char NewId[] = "123456789012345678";
static const DWORD ToolTimeoutMs = 30000;

struct ToolRun {
    DWORD exitCode;
    std::string output;  // standard output and error, as the console shows them
};

static std::string ProgramFolder(void) {
    std::string plugin = PluginPath();
    return plugin.substr(0, plugin.find_last_of("\\/") + 1);
}

// Runs nowglow-appid.exe with the given arguments and waits for it.
static ToolRun RunTool(const std::string& arguments) {
    ToolRun run = {~0u, ""};
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (CreatePipe(&readEnd, &writeEnd, &inherit, 0) == FALSE) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + ProgramFolder() + "nowglow-appid.exe\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (started != FALSE) {
        char chunk[512];
        DWORD got = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) != FALSE && got != 0)
            run.output.append(chunk, got);
        WaitForSingleObject(process.hProcess, ToolTimeoutMs);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return run;
}

static std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

static void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Where the digits of the one field lie, or 0.
static size_t DigitsOffset(const std::vector<uint8_t>& bytes) {
    const uint8_t* marker = reinterpret_cast<const uint8_t*>(DefaultMarker);
    auto found = std::search(bytes.begin(), bytes.end(), marker, marker + sizeof DefaultMarker);
    if (found == bytes.end()) return 0;
    return static_cast<size_t>(found - bytes.begin()) + sizeof DefaultMarker;
}

static std::string IdIn(const std::vector<uint8_t>& bytes) {
    size_t at = DigitsOffset(bytes);
    if (at == 0 || at + 18 > bytes.size()) return "";
    return std::string(reinterpret_cast<const char*>(bytes.data() + at), 18);
}

// The checksum field and the checksum Windows computes for the file.
static bool Checksums(const std::string& path, DWORD* stored, DWORD* computed) {
    return MapFileAndCheckSumA(path.c_str(), stored, computed) == CHECKSUM_SUCCESS;
}

static std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found) != FALSE);
    FindClose(search);
    return names;
}

class AppIdToolTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        original = ReadBytes(PluginPath());
        ASSERT_GT(original.size(), 4096u);
        char temporary[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temporary, temporary), 0u);
        folder = std::string(temporary) + "nowglow-appid-test-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) != FALSE ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        copy = folder + "\\XMP-Nowglow.dll";
        WriteBytes(copy, original);
    }

    void TearDown() override {
        PluginTest::TearDown();
        for (const std::string& name : FilesIn(folder)) {
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        RemoveDirectoryA(folder.c_str());
    }

    // A refusal: a non-zero exit, one line saying why, the file as it was
    // and nothing else left in its folder.
    void ExpectRefused(const std::string& arguments, const std::string& path,
                       const std::vector<uint8_t>& before, const char* because) {
        ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 1u) << arguments << ": " << run.output;
        EXPECT_NE(run.output.find(because), std::string::npos) << arguments << ": " << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "not one line: " << run.output;
        EXPECT_EQ(run.output.rfind("nowglow-appid: ", 0), 0u) << run.output;
        EXPECT_TRUE(ReadBytes(path) == before) << arguments << ": the file changed";
        EXPECT_EQ(FilesIn(folder).size(), 1u) << arguments << ": a file was left beside the DLL";
    }

    std::vector<uint8_t> original;
    std::string folder;
    std::string copy;
};

TEST_F(AppIdToolTest, ShowsTheIdAndRewritesItWithAValidChecksumAndNothingElseChanged) {
    const std::string defaultId = IdIn(original);
    ASSERT_EQ(defaultId.size(), 18u);
    ToolRun shown = RunTool("\"" + copy + "\"");
    EXPECT_EQ(shown.exitCode, 0u) << shown.output;
    EXPECT_EQ(shown.output, "Discord application ID: " + defaultId + "\r\n");
    EXPECT_TRUE(ReadBytes(copy) == original) << "showing the ID changed the file";

    ToolRun changed = RunTool("\"" + copy + "\" " + NewId);
    EXPECT_EQ(changed.exitCode, 0u) << changed.output;
    EXPECT_EQ(changed.output, "Discord application ID changed from " + defaultId + " to " + NewId + "\r\n");
    std::vector<uint8_t> rewritten = ReadBytes(copy);
    ASSERT_EQ(rewritten.size(), original.size());
    EXPECT_EQ(IdIn(rewritten), NewId);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"XMP-Nowglow.dll"}) << "the temporary file was left";

    // Only the digits and the checksum differ, and the checksum holds.
    DWORD stored = 0;
    DWORD computed = 0;
    ASSERT_TRUE(Checksums(copy, &stored, &computed));
    EXPECT_NE(stored, 0u) << "the linker's checksum was dropped";
    EXPECT_EQ(stored, computed) << "the rewritten DLL's checksum does not hold";
    const IMAGE_NT_HEADERS* headers = ImageNtHeader(rewritten.data());
    ASSERT_NE(headers, nullptr);
    size_t checksumAt = static_cast<size_t>(
        reinterpret_cast<const uint8_t*>(&headers->OptionalHeader.CheckSum) - rewritten.data());
    size_t digitsAt = DigitsOffset(rewritten);
    for (size_t i = 0; i < rewritten.size(); ++i) {
        bool mayDiffer = (i >= digitsAt && i < digitsAt + 18) || (i >= checksumAt && i < checksumAt + 4);
        if (!mayDiffer && rewritten[i] != original[i]) {
            ADD_FAILURE() << "byte " << i << " changed";
            break;
        }
    }

    // The same ID again changes nothing; the old one brings back the original.
    ToolRun again = RunTool("\"" + copy + "\" " + NewId);
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_EQ(again.output, std::string("Discord application ID: ") + NewId + " (unchanged)\r\n");
    EXPECT_EQ(RunTool("\"" + copy + "\" " + defaultId).exitCode, 0u);
    EXPECT_TRUE(ReadBytes(copy) == original) << "rewriting the old ID did not give the original back";
}

TEST_F(AppIdToolTest, ARewrittenDllHandsTheNewIdToDiscordInitialize) {
    ASSERT_EQ(RunTool("\"" + copy + "\" " + NewId).exitCode, 0u);
    Unload();
    pluginLoaded = LoadPlugin(copy.c_str());
    ASSERT_TRUE(pluginLoaded) << "the rewritten DLL does not load";
    uint32_t starting = Mark();
    StartInstance();
    std::vector<RecordedCall> opened = DiscordCallsBetween(starting, Mark(), RecordedInitialize);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(Text(opened[0].applicationId), NewId);
    EndInstance();
}

TEST_F(AppIdToolTest, AZeroChecksumStaysZero) {
    std::vector<uint8_t> unchecked = original;
    IMAGE_NT_HEADERS* headers = ImageNtHeader(unchecked.data());
    ASSERT_NE(headers, nullptr);
    headers->OptionalHeader.CheckSum = 0;
    WriteBytes(copy, unchecked);
    ASSERT_EQ(RunTool("\"" + copy + "\" " + NewId).exitCode, 0u);
    DWORD stored = 1;
    DWORD computed = 0;
    ASSERT_TRUE(Checksums(copy, &stored, &computed));
    EXPECT_EQ(stored, 0u);
    EXPECT_EQ(IdIn(ReadBytes(copy)), NewId);
}

TEST_F(AppIdToolTest, RefusesAnIdThatIsNotEighteenDecimalDigits) {
    for (const char* id : {"12345", "1234567890123456789", "12345678901234567", "12345678901234567a",
                           "-12345678901234567", "\"\"", "123456789012345678x"})
        ExpectRefused("\"" + copy + "\" " + id, copy, original, "must be exactly 18 decimal digits");
}

TEST_F(AppIdToolTest, RefusesAMissingOrUnreadableFile) {
    ExpectRefused("\"" + folder + "\\missing.dll\"", copy, original, "cannot read");
    ExpectRefused("\"" + folder + "\\missing.dll\" " + NewId, copy, original, "cannot read");
    ExpectRefused("\"" + folder + "\" " + NewId, copy, original, "cannot read");
}

TEST_F(AppIdToolTest, RefusesFilesThatAreNotThePlugInsDll) {
    // Another DLL (the presence library beside the tests), a program, text,
    // and the plug-in cut short in its headers: none holds one field.
    const struct Case {
        std::vector<uint8_t> bytes;
        const char* because;
    } cases[] = {
        {ReadBytes(ProgramFolder() + "discord-rpc.dll"), "holds no Discord application ID"},
        {ReadBytes(ProgramFolder() + "nowglow-appid.exe"), "not a 32-bit Windows DLL"},
        {std::vector<uint8_t>(original.begin(), original.begin() + 200), "not a 32-bit Windows DLL"},
        {std::vector<uint8_t>{'M', 'Z', 'h', 'i'}, "not a 32-bit Windows DLL"},
        {std::vector<uint8_t>(), "not a 32-bit Windows DLL"},
    };
    for (const Case& c : cases) {
        WriteBytes(copy, c.bytes);
        ExpectRefused("\"" + copy + "\" " + NewId, copy, c.bytes, c.because);
        ExpectRefused("\"" + copy + "\"", copy, c.bytes, c.because);
    }

    // The field twice over: which one is meant cannot be told.
    std::vector<uint8_t> twice = original;
    size_t field = DigitsOffset(original) - sizeof DefaultMarker;
    twice.insert(twice.end(), original.begin() + static_cast<long>(field),
                 original.begin() + static_cast<long>(field + sizeof DefaultMarker + 19));
    WriteBytes(copy, twice);
    ExpectRefused("\"" + copy + "\" " + NewId, copy, twice, "holds 2 Discord application IDs");
}

TEST_F(AppIdToolTest, RefusesADllThatCannotBeReplaced) {
    // Held by another program that lets nobody write it, as Windows holds
    // the DLL of a running player. (Wine does not lock a loaded DLL, so the
    // test holds the file open the same way instead of loading it.)
    HANDLE held = CreateFileA(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    {
        SCOPED_TRACE("held open");
        ExpectRefused("\"" + copy + "\" " + NewId, copy, original, "close XMPlay first");
    }
    CloseHandle(held);

    // Read-only.
    ASSERT_NE(SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_READONLY), FALSE);
    ExpectRefused("\"" + copy + "\" " + NewId, copy, original, "it is read-only");
    SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(RunTool("\"" + copy + "\" " + NewId).exitCode, 0u)
        << "the DLL free again could not be rewritten";
}
