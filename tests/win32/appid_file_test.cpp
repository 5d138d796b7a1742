// The rewrite of the plug-in's DLL where Windows fails it at the last
// moments, which no file on Wine can be made to do: the final move refused
// (as a DLL that a program has loaded since it was read), a write cut short
// by a full disk, and a DLL replaced after it was read. The tool's own
// plugin_file.cpp is built into this program with MoveFileExW and WriteFile
// routed through the seams below; each failure is said with its advice, and
// leaves the DLL as it was and nothing beside it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "appid/plugin_file.h"
#include "harness/harness.h"
#include "harness/tool_runner.h"

// What the seams do to the next call: nothing, or one failure.
enum class Fault { None, MoveRefused, ShortWrite, WriteDiskFull };
static Fault fault = Fault::None;

extern "C" BOOL WINAPI SeamMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (fault == Fault::MoveRefused) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return MoveFileExW(from, to, flags);
}

extern "C" BOOL WINAPI SeamWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD put,
                                     LPOVERLAPPED overlapped) {
    if (fault == Fault::WriteDiskFull) {
        SetLastError(ERROR_HANDLE_DISK_FULL);
        return FALSE;
    }
    // A write the disk had room for half of: Windows reports success and
    // the bytes it took, and leaves the last error as it was.
    if (fault == Fault::ShortWrite) {
        SetLastError(0);
        return WriteFile(file, bytes, size / 2, put, overlapped);
    }
    return WriteFile(file, bytes, size, put, overlapped);
}

class AppIdFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        original = ReadBytes(ShippedDll());
        ASSERT_GT(original.size(), 4096u);
        folder = FreshTestFolder(L"nowglow-appid-file-test");
        ASSERT_FALSE(folder.empty());
        dll = folder + L"\\XMP-Nowglow.dll";
        ASSERT_TRUE(WriteBytes(dll, original));
    }

    void TearDown() override {
        fault = Fault::None;
        RemoveTree(folder);
    }

    // Runs the tool's rewrite of the DLL to a new ID, with the error output
    // caught; whether it wrote, and what it said.
    bool Rewrite(std::string* said) {
        static PluginFile file;
        HANDLE readSaid = nullptr;
        HANDLE writeSaid = nullptr;
        EXPECT_TRUE(CreatePipe(&readSaid, &writeSaid, nullptr, 1 << 16) != FALSE);
        HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        SetStdHandle(STD_ERROR_HANDLE, writeSaid);
        bool written = NamePluginFile(&file, dll.c_str()) && ReadPluginFile(&file);
        if (written && before) before();
        written = written && RewritePluginFile(&file, "1234567890123456789");
        SetStdHandle(STD_ERROR_HANDLE, error);
        CloseHandle(writeSaid);
        char chunk[4096];
        DWORD got = 0;
        said->clear();
        while (ReadFile(readSaid, chunk, sizeof chunk, &got, nullptr) != FALSE && got != 0)
            said->append(chunk, got);
        CloseHandle(readSaid);
        return written;
    }

    std::vector<uint8_t> original;
    std::wstring folder;
    std::wstring dll;
    // Run between the read and the rewrite.
    std::function<void()> before;
};

TEST_F(AppIdFileTest, AFailureAtTheLastMomentIsSaidAndLeavesTheDllAsItWasAndNothingBesideIt) {
    std::vector<uint8_t> replaced = original;
    replaced[replaced.size() - 1] ^= 0x55;
    const struct Case {
        const char* name;
        Fault fault;
        bool replace;
        const char* said;
    } cases[] = {
        {"the final move refused", Fault::MoveRefused, false,
         "it is in use; close XMPlay first, then try again"},
        {"a write cut short", Fault::ShortWrite, false,
         "the disk is full; free some disk space and try again"},
        {"a write refused for a full disk", Fault::WriteDiskFull, false,
         "the disk is full; free some disk space and try again"},
        {"the DLL replaced after it was read", Fault::None, true, "it changed since this tool read it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteBytes(dll, original));
        fault = c.fault;
        before = [&] {
            if (c.replace) WriteBytes(dll, replaced);
        };
        std::string said;
        EXPECT_FALSE(Rewrite(&said)) << said;
        fault = Fault::None;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_TRUE(ReadBytes(dll) == (c.replace ? replaced : original)) << "the DLL changed";
        EXPECT_EQ(FilesIn(folder), std::vector<std::wstring>{L"XMP-Nowglow.dll"})
            << "a file was left beside it";
    }
    // And with no fault, the same rewrite goes through.
    before = nullptr;
    std::string said;
    EXPECT_TRUE(Rewrite(&said)) << said;
    EXPECT_FALSE(ReadBytes(dll) == original);
}
