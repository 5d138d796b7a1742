// The fixture every Wine-run test starts from: a fresh stand-in player with
// the real plug-in loaded, and at the end of the test the checks that hold
// for every test (no error seen by the player, no text kept by the plug-in).
#include <cstdio>

#include "harness/harness.h"

// A crash on any thread ends the program at once with a line saying where,
// rather than leaving Wine's debugger waiting.
static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    uintptr_t address = reinterpret_cast<uintptr_t>(exception->ExceptionRecord->ExceptionAddress);
    uintptr_t base = reinterpret_cast<uintptr_t>(PluginModule());
    fprintf(stderr, "crash: exception %#lx at %#lx%s (plug-in offset %#lx) on thread %lu\n",
            static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
            static_cast<unsigned long>(address), PluginImageContains(address) ? " inside the plug-in" : "",
            static_cast<unsigned long>(address - base), static_cast<unsigned long>(GetCurrentThreadId()));
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Every serious exception as it is raised, on any thread, before any
// handler runs: written raw to the error output, so that it shows even when
// the process then ends without a word (a stack overflow, say, or a fault
// that Wine cannot hand to ReportCrash).
static LONG WINAPI NoteException(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_STACK_OVERFLOW &&
        code != EXCEPTION_ILLEGAL_INSTRUCTION && code != EXCEPTION_INT_DIVIDE_BY_ZERO &&
        code != EXCEPTION_PRIV_INSTRUCTION && code != STATUS_HEAP_CORRUPTION)
        return EXCEPTION_CONTINUE_SEARCH;
    char line[160];
    const int length = std::snprintf(
        line, sizeof line, "exception %#lx at %p on thread %lu\n", static_cast<unsigned long>(code),
        exception->ExceptionRecord->ExceptionAddress, static_cast<unsigned long>(GetCurrentThreadId()));
    DWORD written = 0;
    if (length > 0)
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
    return EXCEPTION_CONTINUE_SEARCH;
}

// The unstripped twin of the shipped DLL, built from the same objects: the
// plug-in the tests load, so that a backtrace names its functions. The
// presence library it imports lies beside the test programs, the first
// place the loader looks.
std::string PluginPath(void) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    size_t slash = directory.find_last_of("\\/");
    directory = slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
    return directory + "\\symbols\\XMP-Nowglow.dll";
}

StandinTrack FullTrack(const char* title, const char* album, const char* date) {
    StandinTrack track;
    track.title = title;
    track.length = "200";
    track.album = album;
    track.date = date;
    track.fileType = "MP3";
    return track;
}

// Prints the call sequence of the test, or only its last lines when asked.
static void PrintTranscript(size_t tailLines) {
    std::string transcript = Transcript();
    // Every line ends with a line end: the (tailLines + 1)-th from the end
    // closes the last line left out.
    size_t cut = 0;
    size_t position = transcript.size();
    size_t ends = 0;
    while (tailLines != 0 && ends <= tailLines && position > 0) {
        position = transcript.rfind('\n', position - 1);
        if (position == std::string::npos) break;
        ++ends;
    }
    if (tailLines != 0 && position != std::string::npos && ends > tailLines) cut = position + 1;
    if (cut == 0) {
        printf("The call sequence of this test:\n%s", transcript.c_str());
    } else {
        printf("The last %zu lines of the call sequence of this test:\n%s", tailLines,
               transcript.c_str() + cut);
    }
}

void PluginTest::SetUp() {
    static const PVOID noting = AddVectoredExceptionHandler(1, NoteException);
    (void)noting;
    SetUnhandledExceptionFilter(ReportCrash);
    Recorder_SetHook(nullptr, nullptr);
    Recorder_StopHolding();
    Recorder_SetPrintMode(0);
    Recorder_Clear();
    SetNotifyThread(NotifyThread::Window);
    ASSERT_TRUE(StartPlayer()) << "the stand-in player did not start";
    pluginLoaded = LoadPlugin(PluginPath().c_str());
    ASSERT_TRUE(pluginLoaded) << "the plug-in did not load from " << PluginPath();
}

void PluginTest::TearDown() {
    Recorder_StopHolding();
    if (instanceLive) EndInstance();
    if (pluginLoaded) Unload();
    Recorder_SetHook(nullptr, nullptr);
    for (const std::string& error : PlayerErrors()) ADD_FAILURE() << "stand-in player: " << error;
    EXPECT_EQ(OutstandingTexts(), 0u) << "texts handed out by GetTag and never released";
    if (HasFailure()) PrintTranscript(transcriptTailLines);
    StopPlayer();
}

void PluginTest::StartInstance(void) {
    void* instance = PluginNew();
    instanceLive = true;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(instance), 1u) << "New returns the instance handle 1";
}

void PluginTest::EndInstance(void) {
    PluginFree();
    instanceLive = false;
}

void PluginTest::Unload(void) {
    EXPECT_TRUE(UnloadPlugin());
    pluginLoaded = false;
}
