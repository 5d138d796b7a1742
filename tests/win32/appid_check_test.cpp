// nowglow-appid.exe --check against the stand-in of Discord's pipe and the
// recording stand-in of discord-rpc.dll (speaking to the pipe as Discord's
// library does, or doing nothing at all), and against Discord's own
// discord-rpc.dll 3.4.0 where NOWGLOW_DISCORD_RPC_DLL names it: the right
// line and exit status for each outcome of each step, never a pass that
// the pipe did not see, the file checked named, every broken answer ended
// within its five seconds, and nothing written anywhere.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "harness/harness.h"
#include "harness/tool_runner.h"

// How long the check may take over a broken answer: it gives Discord five
// seconds, and Wine some more to start the programs.
static const DWORD BrokenAnswerMs = 12000;
static const DWORD PipeEndMs = 20000;
// How long the stand-in pipe is given to see a connection end once the
// check has ended.
static const int PipeRecordMs = 10000;

// The ID the tests write into the DLL; the placeholder fails the first step.
static const char UserId[] = "1234567890123456789";

// Exit statuses of the check, as its help lists them.
enum : DWORD {
    Passed = 0,
    PluginStep = 11,
    LibraryStep = 12,
    NoDiscord = 13,
    IdRefused = 14,
    OtherAnswer = 15,
    PresenceStep = 16,
};

// Which discord-rpc.dll lies beside the plug-in.
enum class Library {
    Speaking,  // the recording stand-in, speaking to Discord's pipe as the library does
    Silent,    // the recording stand-in, whose functions reach nothing
    Discords,  // Discord's own 3.4.0, named by NOWGLOW_DISCORD_RPC_DLL
};

// The stand-in of Discord's pipe, running.
struct PipeStandIn {
    HANDLE process;
    std::wstring record;
};

// One line of the pipe stand-in's record.
struct PipeEvent {
    long ms;
    int client;        // 0 for the stand-in itself
    std::string what;  // open, frame, dropped, closed, quit
    std::string body;  // a frame's opcode, length and body
};

// Discord's own library, when the environment names it (a Windows path, or
// a Unix one reached through drive Z:).
static std::wstring DiscordsOwnLibrary(void) {
    wchar_t path[4096];
    const DWORD length = GetEnvironmentVariableW(L"NOWGLOW_DISCORD_RPC_DLL", path, 4096);
    if (length == 0 || length >= 4096) return L"";
    std::wstring named = path;
    if (named[0] == L'/') named = L"Z:" + named;
    return named;
}

class AppIdCheckTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        placeholder = ReadBytes(ShippedDll());
        ASSERT_GT(placeholder.size(), 4096u);
        folder = FreshTestFolder(L"nowglow-check-test");
        ASSERT_FALSE(folder.empty());
        dll = folder + L"\\XMP-Nowglow.dll";
        library = folder + L"\\discord-rpc.dll";
        ASSERT_TRUE(WriteBytes(dll, placeholder));
        ToolRun written = RunTool(Quoted(dll) + L" " + Wide(UserId));
        ASSERT_EQ(written.exitCode, 0u) << written.output;
        original = ReadBytes(dll);
        // The recording stand-in, of the tool's own bitness, so that the
        // check can load it for the test presence.
        standIn = ReadBytes(ProgramFolder() + L"discord-rpc.dll");
        ASSERT_GT(standIn.size(), 1024u);
        ASSERT_TRUE(WriteBytes(library, standIn));
        log = folder + L".log";
        DeleteFileW(log.c_str());
    }

    void TearDown() override {
        StopPipes();
        PluginTest::TearDown();
        RemoveTree(folder);
        DeleteFileW(log.c_str());
    }

    void StopPipes(void) {
        for (PipeStandIn& pipe : pipes) {
            if (WaitForSingleObject(pipe.process, 0) == WAIT_TIMEOUT) TerminateProcess(pipe.process, 9);
            WaitForSingleObject(pipe.process, PipeEndMs);
            CloseHandle(pipe.process);
            DeleteFileW(pipe.record.c_str());
        }
        pipes.clear();
    }

    // Starts the stand-in on pipe discord-ipc-<index> and waits until its
    // pipe exists.
    void StartPipe(int index, const std::wstring& behaviour) {
        std::wstring record = folder + L"-pipe" + std::to_wstring(index) + L".txt";
        HANDLE process = StartDiscordPipe(index, record, behaviour);
        ASSERT_NE(process, nullptr) << "the pipe stand-in never made its pipe";
        pipes.push_back({process, record});
    }

    // Puts the library of the kind beside the plug-in; false when the test
    // is to be skipped.
    bool UseLibrary(Library kind) {
        speaks = kind == Library::Speaking;
        if (kind != Library::Discords) return WriteBytes(library, standIn);
        const std::wstring own = DiscordsOwnLibrary();
        if (own.empty()) return false;
        std::vector<uint8_t> bytes = ReadBytes(own);
        EXPECT_GT(bytes.size(), 1024u) << "cannot read " << Utf8(own);
        return WriteBytes(library, bytes);
    }

    ToolRun Check(const std::wstring& arguments) {
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_LOG", log.c_str());
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_SPEAKS", speaks ? L"1" : nullptr);
        ToolRun run = RunTool(arguments);
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_LOG", nullptr);
        SetEnvironmentVariableW(L"NOWGLOW_RECORDER_SPEAKS", nullptr);
        return run;
    }

    ToolRun Check(void) { return Check(L"--check " + Quoted(dll)); }

    // The pipe stand-in's record, line by line.
    std::vector<PipeEvent> PipeRecord(void) {
        std::vector<PipeEvent> events;
        if (pipes.empty()) return events;
        std::vector<uint8_t> bytes = ReadBytes(pipes.back().record);
        std::istringstream lines(std::string(bytes.begin(), bytes.end()));
        std::string text;
        while (std::getline(lines, text)) {
            std::istringstream fields(text);
            PipeEvent event = {0, 0, "", ""};
            std::string second;
            fields >> event.ms >> second;
            if (second == "quit") {
                event.what = second;
            } else {
                event.client = static_cast<int>(std::strtol(second.c_str(), nullptr, 10));
                fields >> event.what;
                std::getline(fields, event.body);
                if (!event.body.empty()) event.body.erase(0, 1);
            }
            events.push_back(event);
        }
        return events;
    }

    // The record once every client that opened has closed, waiting for the
    // stand-in to see the ends of the connections the check closed.
    std::vector<PipeEvent> SettledPipeRecord(void) {
        std::vector<PipeEvent> events;
        const bool settled = WaitUntil(
            [&] {
                events = PipeRecord();
                int open = 0;
                for (const PipeEvent& event : events) {
                    if (event.what == "open") open++;
                    if (event.what == "closed" || event.what == "dropped") open--;
                }
                return open == 0 || (!events.empty() && events.back().what == "quit");
            },
            PipeRecordMs);
        EXPECT_TRUE(settled) << "waited " << PipeRecordMs
                             << " ms for the pipe stand-in to see every connection end";
        return events;
    }

    // The frames one client sent, in order.
    static std::vector<std::string> FramesOf(const std::vector<PipeEvent>& events, int client) {
        std::vector<std::string> frames;
        for (const PipeEvent& event : events) {
            if (event.client == client && event.what == "frame") frames.push_back(event.body);
        }
        return frames;
    }

    // The first frame: exactly the handshake for the DLL's ID.
    void ExpectHandshakeForTheDllsId(void) {
        const std::vector<std::string> frames = FramesOf(SettledPipeRecord(), 1);
        const std::string body = std::string("{\"v\":1,\"client_id\":\"") + UserId + "\"}";
        ASSERT_FALSE(frames.empty()) << "no frame reached the pipe";
        EXPECT_EQ(frames[0], "0 " + std::to_string(body.size()) + " " + body);
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

    // Discord takes the presence; the check passes only once the pipe had
    // it, and clears it before the library's connection ends.
    void ExpectTheCardShownAndCleared(Library kind) {
        StartPipe(0, L"ready \"J\u00f6rg \u65e5\u672c\"");
        ToolRun run = Check();
        EXPECT_EQ(run.exitCode, Passed) << run.output;
        EXPECT_NE(run.output.find("3. Discord: ok, it accepts the application ID; signed in as J\xC3\xB6rg "
                                  "\xE6\x97\xA5\xE6\x9C\xAC"),
                  std::string::npos)
            << run.output;
        const std::string shownLine =
            "4. Test presence: shown on your Discord profile now, until its clock runs out in ";
        const size_t shown = run.output.find(shownLine);
        ASSERT_NE(shown, std::string::npos) << run.output;
        EXPECT_NE(run.output.find("activity sharing"), std::string::npos);
        EXPECT_NE(run.output.find("art assets are missing or still being processed"), std::string::npos);
        EXPECT_NE(
            run.output.find(" 3 2 1 \r\n4. Test presence: taken off your profile again. Every step passed."),
            std::string::npos)
            << run.output;

        // The library's own connection, the second: its handshake, the
        // presence with the plug-in's asset keys, then the clear, then its end.
        const std::vector<PipeEvent> events = SettledPipeRecord();
        const std::vector<std::string> frames = FramesOf(events, 2);
        ASSERT_EQ(frames.size(), 3u) << "the library's frames";
        EXPECT_EQ(frames[0].find(std::string("0 41 {\"v\":1,\"client_id\":\"") + UserId + "\"}"), 0u)
            << frames[0];
        for (const char* part :
             {"\"cmd\":\"SET_ACTIVITY\"", "\"activity\":{", "\"details\":\"Nowglow test presence\"",
              "\"large_image\":\"icon\"", "\"small_image\":\"play\""})
            EXPECT_NE(frames[1].find(part), std::string::npos) << part << " in " << frames[1];
        EXPECT_NE(frames[2].find("\"cmd\":\"SET_ACTIVITY\""), std::string::npos) << frames[2];
        EXPECT_EQ(frames[2].find("\"activity\""), std::string::npos) << "not a clear: " << frames[2];
        long presenceMs = 0;
        long clearMs = 0;
        for (const PipeEvent& event : events) {
            if (event.client == 2 && event.what == "frame" && event.body == frames[1]) presenceMs = event.ms;
            if (event.client == 2 && event.what == "frame" && event.body == frames[2]) clearMs = event.ms;
        }
        // The seconds the check said the card stays are the seconds the
        // pipe saw it up, give or take the clock's second and the settling.
        const long said = std::strtol(run.output.c_str() + shown + shownLine.size(), nullptr, 10);
        EXPECT_NEAR(static_cast<double>(clearMs - presenceMs) / 1000.0, static_cast<double>(said), 3.0)
            << "the card was up " << clearMs - presenceMs << " ms; the check said " << said << " s";
        if (kind != Library::Discords) {
            std::string calls = LibraryLog();
            size_t initialize = calls.find(std::string("Initialize id=") + UserId + " autoRegister=0\r\n");
            size_t update = calls.find("Update details=Nowglow test presence");
            size_t clear = calls.find("Clear\r\n");
            size_t shutdown = calls.find("Shutdown\r\n");
            EXPECT_TRUE(initialize < update && update < clear && clear < shutdown &&
                        shutdown != std::string::npos)
                << calls;
        }
        ExpectNothingWritten();
    }

    // Each way step 4 must fail: exit 16, one plain line, never a pass.
    void ExpectEveryPresenceFailureSaid(Library kind) {
        const struct Case {
            const char* name;
            bool standInOnly;  // a case for the stand-in alone
            Library library;
            const wchar_t* behaviour;
            const char* said;
            bool shownFirst;  // the card was up before the trouble
        } cases[] = {
            {"a library whose functions do nothing", true, Library::Silent, L"ready tester",
             "4. Test presence: discord-rpc.dll did not get through to Discord within 10 seconds", false},
            {"Discord closes the library's connection", false, kind, L"first-only tester",
             "4. Test presence: discord-rpc.dll did not get through to Discord within 10 seconds", false},
            {"Discord quits during the card", false, kind, L"ready tester --quit-after-presence 3000",
             "4. Test presence: Discord closed its connections during the test", true},
            {"Discord refuses the presence", false, kind, L"refuse 4000 \"Invalid activity: bad \u00e9\"",
             "4. Test presence: Discord refused the test presence (code 4000: Invalid activity: bad "
             "\xC3\xA9)",
             false},
        };
        for (const Case& c : cases) {
            if (c.standInOnly && kind == Library::Discords) continue;
            SCOPED_TRACE(c.name);
            ASSERT_TRUE(UseLibrary(c.library));
            StartPipe(0, c.behaviour);
            ToolRun run = Check();
            EXPECT_EQ(run.exitCode, PresenceStep) << run.output;
            EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
            EXPECT_EQ(run.output.find("Every step passed"), std::string::npos) << run.output;
            EXPECT_EQ(run.output.find("4. Test presence: shown") != std::string::npos, c.shownFirst)
                << run.output;
            StopPipes();
        }
        ExpectNothingWritten();
    }

    std::vector<uint8_t> placeholder;
    std::vector<uint8_t> original;
    std::vector<uint8_t> standIn;
    std::wstring folder;
    std::wstring dll;
    std::wstring library;
    std::wstring log;
    std::vector<PipeStandIn> pipes;
    bool speaks = true;
};

// The stand-in with one byte pattern replaced, the first time it occurs.
static std::vector<uint8_t> Patched(std::vector<uint8_t> bytes, const std::string& from,
                                    const std::string& to) {
    auto found = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    if (found != bytes.end()) std::copy(to.begin(), to.end(), found);
    return bytes;
}

TEST_F(AppIdCheckTest, ThePlugInStepFailsForAFileThatIsNotUsableAndForThePlaceholder) {
    ToolRun missing = RunTool(L"--check " + Quoted(folder + L"\\missing.dll"));
    EXPECT_EQ(missing.exitCode, PluginStep) << missing.output;
    EXPECT_NE(missing.output.find("there is no such file"), std::string::npos) << missing.output;
    EXPECT_NE(missing.output.find("1. The plug-in DLL: not usable"), std::string::npos) << missing.output;

    ASSERT_TRUE(WriteBytes(dll, placeholder));
    ToolRun held = Check();
    EXPECT_EQ(held.exitCode, PluginStep) << held.output;
    EXPECT_NE(
        held.output.find("1. The plug-in DLL (" + Utf8(folder) +
                         "\\XMP-Nowglow.dll): it carries the placeholder application ID 918273645546372819, "
                         "which no Discord application has, so nothing can show. Register"),
        std::string::npos)
        << held.output;
    EXPECT_EQ(held.output.find("2. "), std::string::npos) << "the check went on past the placeholder";
    EXPECT_TRUE(LibraryLog().empty());
}

TEST_F(AppIdCheckTest, TellsAMissingA64BitAWrongAndAGoodLibraryApart) {
    // The other machine's DLL: the stand-in with its machine field changed.
    std::vector<uint8_t> other = standIn;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(other.data());
    IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(other.data() + dos->e_lfanew);
    const bool ownIs64 = sizeof(void*) == 8;
    nt->FileHeader.Machine = ownIs64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
    const std::string named = "2. discord-rpc.dll beside it (" + Utf8(library) + "): ";
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
         named + "missing. Without it XMPlay does not even list the plug-in. Get the "},
        {"other bits", true, other, LibraryStep,
         named + "the " + (ownIs64 ? "32" : "64") + "-bit DLL. XMPlay is a"},
        {"one of the plug-in's functions short", true,
         Patched(standIn, "Discord_Shutdown", "Discord_Shutdowx"), LibraryStep,
         "it has no Discord_Shutdown, so it is not discord-rpc 3.4.0 and XMPlay does not list"},
        {"the check's function short", true, Patched(standIn, "Discord_RunCallbacks", "Discord_RunCallbackx"),
         LibraryStep, "it has no Discord_RunCallbacks, so it is not discord-rpc 3.4.0. Get discord-rpc.dll"},
        {"text", true, std::vector<uint8_t>(3000, 'x'), LibraryStep, "not a Windows DLL"},
        {"good, no Discord", true, standIn, NoDiscord, named + "ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(Long(library).c_str());
        if (c.present) {
            ASSERT_TRUE(WriteBytes(library, c.bytes));
        }
        ToolRun run = Check();
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(run.output.find("1. The plug-in DLL (" + Utf8(dll) +
                                  "): ok, it carries the application ID " + UserId + "\r\n"),
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

// As Discord's library does: a busy pipe is waited for, within the check's
// five seconds, and a pipe busy for longer is said to be held.
TEST_F(AppIdCheckTest, WaitsForABusyPipeWithinItsFiveSeconds) {
    const struct Case {
        const wchar_t* behaviour;
        DWORD exitCode;
        const char* said;
    } cases[] = {
        {L"close 4000 \"Invalid Client ID\" --busy 2000", IdRefused,
         "3. Discord: refuses the application ID"},
        {L"close 4000 \"Invalid Client ID\" --busy 9000", OtherAnswer,
         "3. Discord: its pipe discord-ipc-0 stayed busy for 5 seconds: another program holds Discord's "
         "connection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.behaviour));
        StartPipe(0, c.behaviour);
        ToolRun run = Check();
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
        EXPECT_LT(run.elapsedMs, BrokenAnswerMs) << "the check hung on the busy pipe";
        StopPipes();
    }
}

TEST_F(AppIdCheckTest, EveryBrokenAnswerGetsAClearLineWithinItsFiveSeconds) {
    const struct Case {
        const wchar_t* behaviour;
        const char* said;
    } cases[] = {
        {L"close 1000 \"Going away \u00e9\"", "closed the connection (code 1000: Going away \xC3\xA9)"},
        {L"silent", "gave no whole answer within 5 seconds"},
        // The handshake waits in the check's write for four seconds: the
        // answer may not then get five more.
        {L"late 4000", "gave no whole answer within 5 seconds"},
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
        // The check's connection lasted no longer than its five seconds, as
        // the pipe saw it.
        long opened = -1;
        long closed = -1;
        for (const PipeEvent& event : PipeRecord()) {
            if (event.client == 1 && event.what == "open") opened = event.ms;
            if (event.client == 1 && event.what == "closed") closed = event.ms;
        }
        ASSERT_GE(opened, 0);
        ASSERT_GE(closed, 0);
        EXPECT_LT(closed - opened, 6500) << "the check held Discord's pipe for " << closed - opened << " ms";
        EXPECT_TRUE(LibraryLog().empty());
        StopPipes();
    }
    ExpectNothingWritten();
}

TEST_F(AppIdCheckTest, PassesOnlyOnceDiscordHadThePresenceAndClearsIt) {
    ExpectTheCardShownAndCleared(Library::Speaking);
}

TEST_F(AppIdCheckTest, FailsTheTestPresenceForEveryTroubleOnTheWay) {
    ExpectEveryPresenceFailureSaid(Library::Speaking);
}

TEST_F(AppIdCheckTest, WithDiscordsOwnLibraryPassesOnlyOnceDiscordHadThePresence) {
    if (!UseLibrary(Library::Discords))
        GTEST_SKIP() << "NOWGLOW_DISCORD_RPC_DLL names no discord-rpc.dll 3.4.0";
    ExpectTheCardShownAndCleared(Library::Discords);
}

TEST_F(AppIdCheckTest, WithDiscordsOwnLibraryFailsTheTestPresenceForEveryTrouble) {
    if (!UseLibrary(Library::Discords))
        GTEST_SKIP() << "NOWGLOW_DISCORD_RPC_DLL names no discord-rpc.dll 3.4.0";
    ExpectEveryPresenceFailureSaid(Library::Discords);
}

// Without a path, the check takes XMP-Nowglow.dll in the folder it runs in,
// where a user stands in XMPlay's folder, else the one beside the tool; and
// it names the file it checked.
TEST_F(AppIdCheckTest, TakesTheDllOfTheFolderItRunsInElseTheOneBesideIt) {
    const std::wstring unzipped = folder + L"-unzipped";
    const std::wstring elsewhere = folder + L"-elsewhere";
    RemoveTree(unzipped);
    RemoveTree(elsewhere);
    ASSERT_TRUE(CreateDirectoryW(unzipped.c_str(), nullptr) != FALSE);
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr) != FALSE);
    const std::wstring tool = unzipped + L"\\nowglow-appid.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), tool.c_str(), FALSE) != FALSE);
    ASSERT_TRUE(WriteBytes(unzipped + L"\\XMP-Nowglow.dll", placeholder));

    ToolRun inXmplay = RunProgram(tool, L"--check", "", folder);
    EXPECT_EQ(inXmplay.exitCode, NoDiscord) << inXmplay.output;
    EXPECT_NE(inXmplay.output.find("1. The plug-in DLL (" + Utf8(dll) +
                                   "): ok, it carries the application ID " + UserId),
              std::string::npos)
        << inXmplay.output;
    EXPECT_NE(inXmplay.output.find("2. discord-rpc.dll beside it (" + Utf8(library) + "): ok"),
              std::string::npos)
        << inXmplay.output;

    ToolRun besideIt = RunProgram(tool, L"--check", "", elsewhere);
    EXPECT_EQ(besideIt.exitCode, PluginStep) << besideIt.output;
    EXPECT_NE(besideIt.output.find("1. The plug-in DLL (" + Utf8(unzipped) +
                                   "\\XMP-Nowglow.dll): it carries the placeholder"),
              std::string::npos)
        << besideIt.output;
    RemoveTree(unzipped);
    RemoveTree(elsewhere);
}

TEST_F(AppIdCheckTest, TheDoubleClickOffersTheCheckOnceAnIdIsWritten) {
    ASSERT_TRUE(WriteBytes(dll, placeholder));
    std::wstring tool = folder + L"\\nowglow-appid.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), tool.c_str(), FALSE) != FALSE);
    ToolRun checked = RunProgram(tool, L"", "1234567890123456789\nc\n");
    EXPECT_EQ(checked.exitCode, NoDiscord) << checked.output;
    EXPECT_NE(checked.output.find("changed from 918273645546372819 to 1234567890123456789"),
              std::string::npos);
    EXPECT_NE(checked.output.find("2. discord-rpc.dll beside it ("), std::string::npos) << checked.output;
    EXPECT_NE(checked.output.find("3. Discord: not running"), std::string::npos) << checked.output;

    ASSERT_TRUE(WriteBytes(dll, placeholder));
    ToolRun declined = RunProgram(tool, L"", "1234567890123456789\n\n");
    EXPECT_EQ(declined.exitCode, Passed) << declined.output;
    EXPECT_EQ(declined.output.find("2. discord-rpc.dll"), std::string::npos) << declined.output;
}
