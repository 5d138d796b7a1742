// What the stand-in player does when one of its waits outlives its deadline:
// it says which wait, on which thread, for what, shows the last lines of its
// log (what the plug-in was doing), prints where every thread of the
// program stands, and ends the program, so that a hang fails its test at
// once instead of standing still until an outer timeout.
#include <cstdio>

#include "tools/standin_player/player_internal.h"

// The log's lines shown with a hang: enough to see the plug-in's last slots.
static const size_t ShownLogLines = 25;
// How long the backtrace is given.
static const DWORD BacktraceMs = 30000;

// The player's name for a thread.
static std::string ThreadName(DWORD threadId) {
    if (threadId == PlayerWindowThreadId()) return "the window thread";
    if (threadId == PlayerAudioThreadId()) return "the audio thread";
    return "thread " + std::to_string(threadId);
}

void PrintBacktraces(DWORD processId) {
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string tool(program, length);
    tool.erase(tool.find_last_of("\\/") + 1);
    tool += "nowglow-backtrace.exe";
    std::string command = "\"" + tool + "\" " + std::to_string(processId);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::fflush(stdout);
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process) == FALSE) {
        std::printf("no backtrace: %s does not start (error %lu)\n", tool.c_str(),
                    static_cast<unsigned long>(GetLastError()));
        return;
    }
    if (WaitForSingleObject(process.hProcess, BacktraceMs) != WAIT_OBJECT_0) {
        std::printf("the backtrace did not end within %lu s\n",
                    static_cast<unsigned long>(BacktraceMs / 1000));
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

void ReportHang(const char* wait, const char* what) {
    std::fflush(stdout);
    std::printf("\nHANG: %s on %s waited %lu s for %s\n", wait, ThreadName(GetCurrentThreadId()).c_str(),
                static_cast<unsigned long>(PlayerHangMs / 1000), what);
    const std::vector<PlayerCall> calls = PlayerCalls();
    std::printf("The player's last %zu log lines:\n",
                calls.size() < ShownLogLines ? calls.size() : ShownLogLines);
    for (size_t i = calls.size() > ShownLogLines ? calls.size() - ShownLogLines : 0; i < calls.size(); i++) {
        const PlayerCall& call = calls[i];
        std::printf("  #%lu %s on %s: number %lld, handle %#lx, result %lld %s\n",
                    static_cast<unsigned long>(call.sequence), PlayerCallKindName(call.kind),
                    ThreadName(call.threadId).c_str(), static_cast<long long>(call.number),
                    static_cast<unsigned long>(call.handle), static_cast<long long>(call.result),
                    call.text.c_str());
    }
    PrintBacktraces(GetCurrentProcessId());
    std::printf("HANG: the program ends here; the test failed at the wait above.\n");
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), PlayerHangExitCode);
    ExitProcess(PlayerHangExitCode);
}
