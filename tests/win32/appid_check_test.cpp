// nowglow-appid.exe --check against the stand-in of Discord's pipe and the
// recording stand-in of discord-rpc.dll: the right line and exit status for
// each outcome of each step, every broken answer ended within its few
// seconds, a handshake carrying exactly the DLL's ID, the test presence
// reaching the library and cleared, and nothing written anywhere.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/harness.h"
#include "harness/tool_runner.h"

// How long the check may take over a broken answer: it gives Discord five
// seconds, and Wine some more to start the programs.
static const DWORD BrokenAnswerMs = 12000;
static const DWORD PipeStartMs = 20000;

// Exit statuses of the check, as its help lists them.
enum : DWORD {
    Passed = 0,
    PluginStep = 11,
    LibraryStep = 12,
    NoDiscord = 13,
    IdRefused = 14,
    OtherAnswer = 15
};

// The stand-in of Discord's pipe, running.
struct PipeStandIn {
    HANDLE process;
    std::wstring record;
};

class AppIdCheckTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        original = ReadBytes(ShippedDll());
        ASSERT_GT(original.size(), 4096u);
        folder = FreshTestFolder(L"nowglow-check-test");
        ASSERT_FALSE(folder.empty());
        dll = folder + L"\\XMP-Nowglow.dll";
        library = folder + L"\\discord-rpc.dll";
        ASSERT_TRUE(WriteBytes(dll, original));
        // The recording stand-in, of the tool's own bitness, so that the
        // check can load it for the test presence.
        standIn = ReadBytes(ProgramFolder() + L"discord-rpc.dll");
        ASSERT_GT(standIn.size(), 1024u);
        ASSERT_TRUE(WriteBytes(library, standIn));
        log = folder + L".log";
        DeleteFileW(log.c_str());
    }

    void TearDown() override {
        for (PipeStandIn& pipe : pipes) {
            if (WaitForSingleObject(pipe.process, 0) == WAIT_TIMEOUT) TerminateProcess(pipe.process, 9);
            CloseHandle(pipe.process);
            DeleteFileW(pipe.record.c_str());
        }
        PluginTest::TearDown();
        RemoveTree(folder);
        DeleteFileW(log.c_str());
    }

    // Starts the stand-in on pipe discord-ipc-<index> and waits until it listens.
    void StartPipe(int index, const std::wstring& behaviour) {
        std::wstring record = folder + L"-pipe" + std::to_wstring(index) + L".bin";
        std::wstring eventName = L"nowglow-discord-pipe-" + std::to_wstring(index);
        HANDLE listening = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
        ASSERT_NE(listening, nullptr);
        std::wstring command = Quoted(ProgramFolder() + L"nowglow-discord-pipe.exe") + L" " +
                               std::to_wstring(index) + L" " + Quoted(record) + L" " + behaviour;
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &startup, &process) != FALSE);
        CloseHandle(process.hThread);
        pipes.push_back({process.hProcess, record});
        EXPECT_EQ(WaitForSingleObject(listening, PipeStartMs), WAIT_OBJECT_0)
            << "the pipe stand-in never listened";
        CloseHandle(listening);
    }

    ToolRun Check(void) {
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_LOG", log.c_str());
        ToolRun run = RunTool(L"--check " + Quoted(dll));
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_LOG", nullptr);
        return run;
    }

    // The frame the stand-in received: exactly the handshake for the DLL's ID.
    void ExpectHandshakeForTheDllsId(void) {
        ASSERT_FALSE(pipes.empty());
        WaitForSingleObject(pipes.back().process, PipeStartMs);
        std::vector<uint8_t> frame = ReadBytes(pipes.back().record);
        const std::string body = "{\"v\":1,\"client_id\":\"918273645546372819\"}";
        ASSERT_EQ(frame.size(), 8 + body.size());
        EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 8),
                  (std::vector<uint8_t>{0, 0, 0, 0, static_cast<uint8_t>(body.size()), 0, 0, 0}));
        EXPECT_EQ(std::string(frame.begin() + 8, frame.end()), body);
    }

    // Nothing written: the folder holds what it held, the DLL is as it was.
    void ExpectNothingWritten(void) {
        EXPECT_EQ(FilesIn(folder), (std::vector<std::wstring>{L"XMP-Nowglow.dll", L"discord-rpc.dll"}));
        EXPECT_TRUE(ReadBytes(dll) == original) << "the check changed the DLL";
    }

    std::string LibraryLog(void) {
        std::vector<uint8_t> bytes = ReadBytes(log);
        return std::string(bytes.begin(), bytes.end());
    }

    std::vector<uint8_t> original;
    std::vector<uint8_t> standIn;
    std::wstring folder;
    std::wstring dll;
    std::wstring library;
    std::wstring log;
    std::vector<PipeStandIn> pipes;
};

// The stand-in with one byte pattern replaced, the first time it occurs.
static std::vector<uint8_t> Patched(std::vector<uint8_t> bytes, const std::string& from,
                                    const std::string& to) {
    auto found = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    if (found != bytes.end()) std::copy(to.begin(), to.end(), found);
    return bytes;
}

TEST_F(AppIdCheckTest, AMissingFileIsThePlugInStep) {
    ToolRun run = RunTool(L"--check " + Quoted(folder + L"\\missing.dll"));
    EXPECT_EQ(run.exitCode, PluginStep) << run.output;
    EXPECT_NE(run.output.find("there is no such file"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1. The plug-in DLL: not usable"), std::string::npos) << run.output;
}

TEST_F(AppIdCheckTest, TellsAMissingA64BitAWrongAndAGoodLibraryApart) {
    // The other machine's DLL: the stand-in with its machine field changed.
    std::vector<uint8_t> other = standIn;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(other.data());
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(other.data() + dos->e_lfanew);
    const bool ownIs64 = sizeof(void*) == 8;
    nt->FileHeader.Machine = ownIs64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
    const struct Case {
        const char* name;
        bool present;
        std::vector<uint8_t> bytes;
        DWORD exitCode;
        std::string said;
    } cases[] = {
        {"missing",
         false,
         {},
         LibraryStep,
         "2. discord-rpc.dll beside it: missing. Without it XMPlay does not"},
        {"other bits", true, other, LibraryStep,
         std::string("2. discord-rpc.dll beside it: the ") + (ownIs64 ? "32" : "64") +
             "-bit DLL. XMPlay is a"},
        {"a function short", true, Patched(standIn, "Discord_Shutdown", "Discord_Shutdowx"), LibraryStep,
         "it has no Discord_Shutdown"},
        {"text", true, std::vector<uint8_t>(3000, 'x'), LibraryStep, "not a Windows DLL"},
        {"good, no Discord", true, standIn, NoDiscord, "2. discord-rpc.dll beside it: ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(Long(library).c_str());
        if (c.present) {
            ASSERT_TRUE(WriteBytes(library, c.bytes));
        }
        ToolRun run = Check();
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(
            run.output.find("1. The plug-in DLL: ok, it carries the application ID 918273645546372819 (the "
                            "placeholder"),
            std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
        if (c.exitCode == LibraryStep) {
            EXPECT_NE(run.output.find("https://github.com/discord/discord-rpc/releases"), std::string::npos);
            EXPECT_EQ(run.output.find("3. Discord"), std::string::npos)
                << "the check went on past a failed step";
        }
        EXPECT_TRUE(LibraryLog().empty()) << "the library was called: " << LibraryLog();
    }
    ToolRun none = Check();
    EXPECT_NE(none.output.find("3. Discord: not running for this Windows user"), std::string::npos)
        << none.output;
    EXPECT_NE(none.output.find("the browser version cannot be reached"), std::string::npos);
    ExpectNothingWritten();
}

TEST_F(AppIdCheckTest, ReportsDiscordsRefusalWithItsCodeAndWhatToDo) {
    StartPipe(0, L"close 4000 \"Invalid Client ID\"");
    ToolRun run = Check();
    EXPECT_EQ(run.exitCode, IdRefused) << run.output;
    EXPECT_NE(
        run.output.find("3. Discord: refuses the application ID (code 4000: Invalid Client ID). Register"),
        std::string::npos)
        << run.output;
    ExpectHandshakeForTheDllsId();
    EXPECT_TRUE(LibraryLog().empty()) << "a test presence after a refusal";
    ExpectNothingWritten();
}

TEST_F(AppIdCheckTest, FindsDiscordOnAnyOfItsTenPipes) {
    StartPipe(3, L"close 4000 \"Invalid Client ID\"");
    ToolRun run = Check();
    EXPECT_EQ(run.exitCode, IdRefused) << run.output;
    ExpectHandshakeForTheDllsId();
}

TEST_F(AppIdCheckTest, EveryBrokenAnswerGetsAClearLineWithinItsFewSeconds) {
    const struct Case {
        const wchar_t* behaviour;
        const char* said;
    } cases[] = {
        {L"close 1000 \"Going away\"", "closed the connection (code 1000: Going away)"},
        {L"silent", "gave no whole answer within 5 seconds"},
        {L"cut", "gave no whole answer within 5 seconds"},
        {L"huge", "announced an answer far too long"},
        {L"badjson", "gave an answer that is not Discord's greeting"},
        {L"opcode", "answered with a frame of an unknown kind"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.behaviour));
        StartPipe(0, c.behaviour);
        ToolRun run = Check();
        EXPECT_EQ(run.exitCode, OtherAnswer) << run.output;
        EXPECT_NE(run.output.find(std::string("3. Discord: ") + c.said), std::string::npos) << run.output;
        EXPECT_LT(run.elapsedMs, BrokenAnswerMs) << "the check hung over the answer";
        ExpectHandshakeForTheDllsId();
        EXPECT_TRUE(LibraryLog().empty());
    }
    ExpectNothingWritten();
}

TEST_F(AppIdCheckTest, ShowsATestPresenceOnceDiscordAcceptsTheIdAndClearsIt) {
    StartPipe(0, L"ready tester");
    ToolRun run = Check();
    EXPECT_EQ(run.exitCode, Passed) << run.output;
    EXPECT_NE(run.output.find("3. Discord: ok, it accepts the application ID; signed in as tester"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("4. Test presence: shown now on your Discord profile, for 15 seconds"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("activity sharing"), std::string::npos);
    EXPECT_NE(run.output.find("art assets are missing or still being processed"), std::string::npos);
    EXPECT_NE(run.output.find("15 14 13"), std::string::npos) << "no countdown: " << run.output;
    EXPECT_NE(run.output.find("cleared. Every step passed."), std::string::npos) << run.output;
    ExpectHandshakeForTheDllsId();

    // The library, loaded from the plug-in's folder, got the DLL's ID with
    // autoRegister 0, a presence with the plug-in's asset keys, its clear
    // and its shutdown, in that order.
    std::string calls = LibraryLog();
    size_t initialize = calls.find("Initialize id=918273645546372819 autoRegister=0\r\n");
    size_t update = calls.find(
        "Update details=Nowglow test presence state=shown by nowglow-appid.exe --check "
        "large=icon small=play end=");
    size_t clear = calls.find("Clear\r\n");
    size_t shutdown = calls.find("Shutdown\r\n");
    ASSERT_NE(initialize, std::string::npos) << calls;
    ASSERT_NE(update, std::string::npos) << calls;
    ASSERT_NE(clear, std::string::npos) << calls;
    ASSERT_NE(shutdown, std::string::npos) << calls;
    EXPECT_TRUE(initialize < update && update < clear && clear < shutdown) << calls;
    ExpectNothingWritten();
}

TEST_F(AppIdCheckTest, TheDoubleClickOffersTheCheckOnceAnIdIsWritten) {
    std::wstring tool = folder + L"\\nowglow-appid.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), tool.c_str(), FALSE) != FALSE);
    ToolRun checked = RunProgram(tool, L"", "1234567890123456789\nc\n");
    EXPECT_EQ(checked.exitCode, NoDiscord) << checked.output;
    EXPECT_NE(checked.output.find("changed from 918273645546372819 to 1234567890123456789"),
              std::string::npos);
    EXPECT_NE(checked.output.find("2. discord-rpc.dll beside it: ok"), std::string::npos) << checked.output;
    EXPECT_NE(checked.output.find("3. Discord: not running"), std::string::npos) << checked.output;

    ASSERT_TRUE(WriteBytes(dll, original));
    ToolRun declined = RunProgram(tool, L"", "1234567890123456789\n\n");
    EXPECT_EQ(declined.exitCode, Passed) << declined.output;
    EXPECT_EQ(declined.output.find("2. discord-rpc.dll"), std::string::npos) << declined.output;

    // Without a path, --check takes the DLL beside the tool.
    ToolRun beside = RunProgram(tool, L"--check");
    EXPECT_EQ(beside.exitCode, NoDiscord) << beside.output;
    EXPECT_NE(beside.output.find("1. The plug-in DLL: ok, it carries the application ID 1234567890123456789"),
              std::string::npos)
        << beside.output;
}
