// What Windows itself shows of nowglow-appid.exe, much of which Wine hides:
// a DLL that a running program has loaded is locked; a folder's ACL and a
// pipe's DACL apply to this account; read-only is enforced; the manifest
// keeps a denied write out of the VirtualStore; and a console is a real
// one. Under Wine each test that it hides is skipped, by name, with what
// Wine does instead; Wine is told apart by its ntdll, not by a setting.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "harness/harness.h"
#include "harness/tool_runner.h"

static const char UserId[] = "1234567890123456789";
static const DWORD ConsoleWaitMs = 20000;

// Under Wine, why a test is skipped: what Wine does instead; on Windows, "".
static std::string WineHides(const char* whatWineDoes) {
    const std::string wine = WineVersion();
    return wine.empty() ? "" : "Windows only: Wine " + wine + " " + whatWineDoes;
}

// This account's SID, for the deny entries.
static std::vector<uint8_t> UserSid(void) {
    HANDLE token = nullptr;
    std::vector<uint8_t> sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) return sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<uint8_t> user(size);
    if (GetTokenInformation(token, TokenUser, user.data(), size, &size) != FALSE) {
        PSID owned = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        sid.assign(static_cast<uint8_t*>(owned), static_cast<uint8_t*>(owned) + GetLengthSid(owned));
    }
    CloseHandle(token);
    return sid;
}

// An ACL that denies this account the rights given, and allows it and
// everyone else everything else.
static std::vector<uint8_t> DenyingAcl(std::vector<uint8_t>& sid, DWORD denied, DWORD inheritance) {
    std::vector<uint8_t> everyone(SECURITY_MAX_SID_SIZE);
    DWORD everyoneSize = static_cast<DWORD>(everyone.size());
    CreateWellKnownSid(WinWorldSid, nullptr, everyone.data(), &everyoneSize);
    std::vector<uint8_t> acl(1024);
    InitializeAcl(reinterpret_cast<ACL*>(acl.data()), static_cast<DWORD>(acl.size()), ACL_REVISION);
    AddAccessDeniedAceEx(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION, inheritance, denied, sid.data());
    AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION, inheritance, GENERIC_ALL,
                          sid.data());
    AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION, inheritance, GENERIC_ALL,
                          everyone.data());
    return acl;
}

class WindowsOnlyTest : public ::testing::Test {
protected:
    void SetUp() override {
        shipped = ReadBytes(ShippedDll());
        ASSERT_GT(shipped.size(), 4096u);
        folder = FreshTestFolder(L"nowglow-windows-only");
        ASSERT_FALSE(folder.empty());
        dll = folder + L"\\XMP-Nowglow.dll";
        ASSERT_TRUE(WriteBytes(dll, shipped));
    }

    void TearDown() override { RemoveTree(folder); }

    std::vector<uint8_t> shipped;
    std::wstring folder;
    std::wstring dll;
};

// The shipped DLL loaded as XMPlay loads it. A 64-bit test program cannot
// run a 32-bit DLL; it maps it as an image instead, which holds the file
// against a change just the same.
static HMODULE LoadShippedDll(const std::wstring& path) {
    if (sizeof(void*) == 4) return LoadLibraryW(Long(path).c_str());
    return LoadLibraryExW(Long(path).c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

// Wine 8 keeps a loaded DLL from being opened for a change as Windows does,
// so this one runs everywhere.
TEST_F(WindowsOnlyTest, ADllThatARunningProgramLoadedIsLeftAsItWasAndTheToolSaysCloseXMPlayFirst) {
    ASSERT_TRUE(WriteBytes(folder + L"\\discord-rpc.dll", ReadBytes(ProgramFolder() + L"discord-rpc.dll")));
    HMODULE loaded = LoadShippedDll(dll);
    ASSERT_NE(loaded, nullptr) << "the copy does not load: error " << GetLastError();
    ToolRun run = RunTool(Quoted(dll) + L" " + Wide(UserId));
    FreeLibrary(loaded);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("it is in use; close XMPlay first"), std::string::npos) << run.output;
    EXPECT_TRUE(ReadBytes(dll) == shipped) << "the loaded DLL changed";
    EXPECT_EQ(FilesIn(folder), (std::vector<std::wstring>{L"XMP-Nowglow.dll", L"discord-rpc.dll"}));
}

TEST_F(WindowsOnlyTest, AFolderThisAccountMayNotChangeGetsItsAdviceAndNothingInTheVirtualStore) {
    const std::string hidden = WineHides("applies no folder ACL to this account, and virtualises nothing");
    if (!hidden.empty()) GTEST_SKIP() << hidden;
    std::vector<uint8_t> sid = UserSid();
    ASSERT_FALSE(sid.empty());
    const DWORD changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE;
    std::vector<uint8_t> acl = DenyingAcl(sid, changes, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    for (const std::wstring& path : {folder, dll}) {
        ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, reinterpret_cast<ACL*>(acl.data()), nullptr),
                  static_cast<DWORD>(ERROR_SUCCESS))
            << Utf8(path);
    }
    ToolRun run = RunTool(Quoted(dll) + L" " + Wide(UserId));
    // The folder's own DACL back, so that the folder can go.
    for (const std::wstring& path : {dll, folder})
        SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("Windows does not let this account change files in that folder"),
              std::string::npos)
        << run.output;
    EXPECT_TRUE(ReadBytes(dll) == shipped) << "the DLL changed";
    // A program without the manifest's asInvoker would have its refused
    // write redirected under the user's VirtualStore.
    wchar_t local[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH), 0u);
    const std::wstring virtualised = std::wstring(local) + L"\\VirtualStore" + dll.substr(2);
    EXPECT_EQ(GetFileAttributesW(virtualised.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a copy was virtualised to " << Utf8(virtualised);
}

TEST_F(WindowsOnlyTest, AReadOnlyDllIsKeptByWindowsItselfAndRefusedWithItsAdvice) {
    const std::string hidden = WineHides("lets root write a read-only file");
    if (!hidden.empty()) GTEST_SKIP() << hidden;
    ASSERT_TRUE(SetFileAttributesW(Long(dll).c_str(), FILE_ATTRIBUTE_READONLY) != FALSE);
    HANDLE writer = CreateFileW(Long(dll).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = GetLastError();
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "Windows let a read-only file be opened for writing";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ToolRun run = RunTool(Quoted(dll) + L" " + Wide(UserId));
    SetFileAttributesW(Long(dll).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("it is read-only; clear Read-only"), std::string::npos) << run.output;
    EXPECT_TRUE(ReadBytes(dll) == shipped);
}

TEST_F(WindowsOnlyTest, TheCheckSaysWhenDiscordsPipeMayNotBeOpenedByThisAccount) {
    const std::string hidden = WineHides("applies no pipe DACL to this account");
    if (!hidden.empty()) GTEST_SKIP() << hidden;
    ASSERT_EQ(RunTool(Quoted(dll) + L" " + Wide(UserId)).exitCode, 0u);
    ASSERT_TRUE(WriteBytes(folder + L"\\discord-rpc.dll", ReadBytes(ProgramFolder() + L"discord-rpc.dll")));
    std::vector<uint8_t> sid = UserSid();
    ASSERT_FALSE(sid.empty());
    std::vector<uint8_t> acl = DenyingAcl(sid, GENERIC_READ | GENERIC_WRITE, 0);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL*>(acl.data()), FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    HANDLE pipe =
        CreateNamedPipeW(L"\\\\.\\pipe\\discord-ipc-0", PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, &attributes);
    if (pipe == INVALID_HANDLE_VALUE) GTEST_SKIP() << "Discord's first pipe is in use on this machine";
    ToolRun run = RunTool(L"--check " + Quoted(dll));
    CloseHandle(pipe);
    EXPECT_EQ(run.exitCode, 13u) << run.output;
    EXPECT_NE(
        run.output.find("3. Discord: Discord runs, but as administrator or as another Windows user, and this "
                        "account may not open its pipe discord-ipc-0"),
        std::string::npos)
        << run.output;
}

// ---- a real console ----

// The tool, started in a console of its own as a double-click starts it: a
// pseudo console, whose screen reaches the test as text and whose keyboard
// is the test's, so that no other program joins the tool's console.
class ConsoleRun {
public:
    explicit ConsoleRun(const std::wstring& tool, const std::wstring& arguments = L"") {
        typedef HRESULT(WINAPI * CreateFunction)(COORD, HANDLE, HANDLE, DWORD, void**);
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const CreateFunction create = reinterpret_cast<CreateFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "CreatePseudoConsole")));
        HANDLE inputRead = nullptr;
        HANDLE outputWrite = nullptr;
        if (create == nullptr || CreatePipe(&inputRead, &input, nullptr, 0) == FALSE ||
            CreatePipe(&output, &outputWrite, nullptr, 0) == FALSE)
            return;
        // Wide enough that no line of the tool wraps.
        if (create(COORD{1000, 50}, inputRead, outputWrite, 0, &console) != S_OK) return;
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
        reader = CreateThread(nullptr, 0, ReadScreen, this, 0, nullptr);
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<uint8_t> attributes(size);
        STARTUPINFOEXW startup = {};
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
        UpdateProcThreadAttribute(startup.lpAttributeList, 0, PseudoConsoleAttribute, console, sizeof console,
                                  nullptr, nullptr);
        std::wstring command = Quoted(tool) + L" " + arguments;
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, EXTENDED_STARTUPINFO_PRESENT,
                                 nullptr, nullptr, &startup.StartupInfo, &process) != FALSE;
        DeleteProcThreadAttributeList(startup.lpAttributeList);
    }

    ~ConsoleRun() {
        typedef void(WINAPI * CloseFunction)(void*);
        const CloseFunction close = reinterpret_cast<CloseFunction>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ClosePseudoConsole")));
        if (started && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 9);
        if (console != nullptr && close != nullptr) close(console);
        if (reader != nullptr && WaitForSingleObject(reader, ConsoleWaitMs) != WAIT_OBJECT_0)
            ADD_FAILURE() << "waited " << ConsoleWaitMs << " ms for the pseudo console's screen to close";
        for (HANDLE handle : {input, output, reader, process.hProcess, process.hThread})
            if (handle != nullptr) CloseHandle(handle);
    }

    // The screen's text, escape sequences left out, once it holds the text
    // looked for, waiting up to ConsoleWaitMs; what it holds then otherwise.
    std::wstring WaitForText(const std::wstring& wanted) {
        std::wstring text;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ConsoleWaitMs) {
            text = ScreenText();
            if (text.find(wanted) != std::wstring::npos) break;
            Sleep(50);
        }
        return text;
    }

    // Types the text on the console's keyboard, then Enter.
    void Type(const std::wstring& typed) {
        const std::string bytes = Utf8(typed) + "\r";
        DWORD put = 0;
        WriteFile(input, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    }

    // The exit status once the tool ended within ConsoleWaitMs, else ~0.
    DWORD Ended(void) const {
        DWORD code = ~0u;
        if (WaitForSingleObject(process.hProcess, ConsoleWaitMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        return code;
    }

    bool started = false;

private:
    static const DWORD_PTR PseudoConsoleAttribute = 0x00020016;  // PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE

    static DWORD WINAPI ReadScreen(LPVOID context) {
        ConsoleRun* run = static_cast<ConsoleRun*>(context);
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(run->output, chunk, sizeof chunk, &got, nullptr) != FALSE && got != 0) {
            AcquireSRWLockExclusive(&run->screenLock);
            run->screen.append(chunk, got);
            ReleaseSRWLockExclusive(&run->screenLock);
        }
        return 0;
    }

    std::wstring ScreenText(void) {
        AcquireSRWLockShared(&screenLock);
        const std::string bytes = screen;
        ReleaseSRWLockShared(&screenLock);
        // Drops the terminal's escape sequences: ESC [ ... final byte, and
        // ESC ] ... BEL.
        std::string plain;
        for (size_t i = 0; i < bytes.size(); i++) {
            if (bytes[i] != '\x1B' || i + 1 >= bytes.size()) {
                plain += bytes[i];
            } else if (bytes[i + 1] == '[') {
                for (i += 2; i < bytes.size() && (bytes[i] < 0x40 || bytes[i] > 0x7E); i++) {
                }
            } else if (bytes[i + 1] == ']') {
                for (i += 2; i < bytes.size() && bytes[i] != '\x07'; i++) {
                }
            } else {
                i++;
            }
        }
        return Wide(plain);
    }

    void* console = nullptr;
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE reader = nullptr;
    PROCESS_INFORMATION process = {};
    SRWLOCK screenLock = SRWLOCK_INIT;
    std::string screen;
};

TEST_F(WindowsOnlyTest, OnARealConsoleEveryScriptShowsAndOnlyAConsoleOfItsOwnWaitsForEnter) {
    const std::string hidden = WineHides("runs the tests without a real console to read back");
    if (!hidden.empty()) GTEST_SKIP() << hidden;
    // A folder named in three scripts, with the tool and no DLL: the
    // refusal names it, then the window waits for Enter.
    const std::wstring named = folder + L"\\\x041F\x043B\x0430\x0433\x0438\x043D \x97F3\x4E50 \x266A";
    ASSERT_TRUE(CreateDirectoryW(Long(named).c_str(), nullptr) != FALSE);
    const std::wstring tool = named + L"\\nowglow-appid.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), Long(tool).c_str(), FALSE) != FALSE);
    {
        ConsoleRun run(tool);
        ASSERT_TRUE(run.started);
        const std::wstring shown = run.WaitForText(L"Press Enter to close this window.");
        EXPECT_NE(shown.find(L"\x041F\x043B\x0430\x0433\x0438\x043D \x97F3\x4E50 \x266A\\XMP-Nowglow.dll"),
                  std::wstring::npos)
            << Utf8(shown);
        EXPECT_NE(shown.find(L"Press Enter to close this window."), std::wstring::npos) << Utf8(shown);
        run.Type(L"");
        EXPECT_EQ(run.Ended(), 1u) << "the tool did not end after Enter";
    }
    // Discord's name for the user, in UTF-8 from its pipe, as it is.
    ASSERT_EQ(RunTool(Quoted(dll) + L" " + Wide(UserId)).exitCode, 0u);
    ASSERT_TRUE(WriteBytes(folder + L"\\discord-rpc.dll", ReadBytes(ProgramFolder() + L"discord-rpc.dll")));
    HANDLE pipe = StartDiscordPipe(0, folder + L"-pipe.txt", L"ready \"J\u00f6rg \u65e5\u672c\"");
    ASSERT_NE(pipe, nullptr);
    {
        ConsoleRun run(ToolPath(), L"--check " + Quoted(dll));
        const std::wstring shown = run.WaitForText(L"4. Test presence");
        EXPECT_NE(shown.find(L"signed in as J\u00f6rg \u65e5\u672c"), std::wstring::npos) << Utf8(shown);
        EXPECT_EQ(run.Ended(), 16u) << "the stand-in library reaches nothing";
    }
    TerminateProcess(pipe, 9);
    WaitForSingleObject(pipe, ConsoleWaitMs);
    CloseHandle(pipe);
    DeleteFileW((folder + L"-pipe.txt").c_str());

    // Sharing a console with this program, it does not wait.
    if (GetConsoleWindow() == nullptr) AllocConsole();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION shared = {};
    std::wstring command = Quoted(tool);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &shared) != FALSE);
    EXPECT_EQ(WaitForSingleObject(shared.hProcess, ConsoleWaitMs), WAIT_OBJECT_0)
        << "the tool waited for Enter in a console it shares";
    TerminateProcess(shared.hProcess, 9);
    CloseHandle(shared.hProcess);
    CloseHandle(shared.hThread);
}

TEST_F(WindowsOnlyTest, OnARealConsoleALongLineIsRefusedWholeAndTheNextLineIsTheNextEntry) {
    const std::string hidden = WineHides("runs the tests without a real console to type into");
    if (!hidden.empty()) GTEST_SKIP() << hidden;
    const std::wstring tool = folder + L"\\nowglow-appid.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), Long(tool).c_str(), FALSE) != FALSE);
    ConsoleRun run(tool);
    ASSERT_TRUE(run.started);
    run.WaitForText(L"New Application ID");
    run.Type(std::wstring(300, L'7'));
    const std::wstring refused = run.WaitForText(L"far too long");
    EXPECT_NE(refused.find(L"far too long"), std::wstring::npos) << Utf8(refused);
    run.Type(Wide(UserId));
    const std::wstring changed = run.WaitForText(L"changed from");
    EXPECT_NE(changed.find(L"changed from"), std::wstring::npos) << Utf8(changed);
    EXPECT_EQ(changed.find(L"is not a Discord application ID"), std::wstring::npos)
        << "the rest of the long line was taken for an entry: " << Utf8(changed);
    run.Type(L"");
    run.WaitForText(L"Press Enter to close this window.");
    run.Type(L"");
    EXPECT_EQ(run.Ended(), 0u);
    const std::vector<uint8_t> written = ReadBytes(dll);
    EXPECT_FALSE(written == shipped) << "the ID was not written";
}
