// The stand-in player's two threads: the window thread, which owns the
// player's main window and runs its message loop (the plug-in's timer ticks
// there, and its dialogs run their modal loops there), and the audio thread,
// which feeds Process every 20 ms while a track plays. As in the real
// player, the audio moves to a new thread after a seek, a new track or a
// play, and that thread starts with a burst of blocks. Other threads hand
// work to either one and, for the window thread, may wait for it or not.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "tools/standin_player/player_internal.h"

// Private messages of the player's window.
enum : UINT {
    RunWorkMessage = WM_APP + 1,     // lParam: std::shared_ptr<SentWork>*, run, mark done, delete the holder
    PostedWorkMessage = WM_APP + 2,  // lParam: PostedWork*, run, mark done, delete
};

// Work sent to the window thread, shared by the sender and the window
// thread, so that it stays whole when the sender gives up on it.
struct SentWork {
    std::function<void()> work;
    volatile LONG done = 0;
};

// One block every 20 ms, as a player feeding 20 ms buffers would.
static const DWORD BlockPeriodMs = 20;
// Blocks a new audio thread feeds at once, to fill the output's buffer
// (the real player's bursts are 3 to 7 blocks).
static const int BurstBlocks = 5;
// How long StopPlayer waits for a thread before it gives up on it.
static const DWORD ThreadStopTimeoutMs = 5000;

struct PostedWork {
    std::function<void()> work;
    std::promise<void> done;
};

static const char WindowClassName[] = "NowglowStandinPlayer";

static HANDLE windowThread;
static DWORD windowThreadId;
static HWND window;
static HANDLE windowReady;

static HANDLE audioThread;
static std::atomic<DWORD> audioThreadId;
// Held while the audio moves to a new thread.
static std::mutex audioMoveLock;
static std::mutex audioLock;
static std::condition_variable audioWake;
// Work handed to the audio thread; shared so that neither side outlives it.
struct AudioWork {
    std::function<void()> work;
    std::mutex doneLock;
    std::condition_variable doneWake;
    bool done = false;
};
static std::deque<std::shared_ptr<AudioWork>> audioWork;
static bool audioQuit;

static LRESULT CALLBACK PlayerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case RunWorkMessage: {
        std::unique_ptr<std::shared_ptr<SentWork>> sent(reinterpret_cast<std::shared_ptr<SentWork>*>(lParam));
        (*sent)->work();
        InterlockedExchange(&(*sent)->done, 1);
        return 0;
    }
    case PostedWorkMessage: {
        PostedWork* posted = reinterpret_cast<PostedWork*>(lParam);
        posted->work();
        posted->done.set_value();
        delete posted;
        return 0;
    }
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

static DWORD WINAPI WindowThreadMain(LPVOID) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PlayerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    windowClass.lpszClassName = WindowClassName;
    RegisterClassA(&windowClass);  // fails harmlessly when a previous session registered it
    window = CreateWindowExA(0, WindowClassName, "XMPlay (stand-in)", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, 480, 320, nullptr, nullptr, instance, nullptr);
    if (window != nullptr) ShowWindow(window, SW_SHOWNOACTIVATE);
    SetEvent(windowReady);
    if (window == nullptr) return 1;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

static DWORD WINAPI AudioThreadMain(LPVOID) {
    for (int block = 0; block < BurstBlocks; ++block) FeedPluginBlock();
    std::unique_lock<std::mutex> hold(audioLock);
    while (!audioQuit) {
        while (!audioWork.empty()) {
            std::shared_ptr<AudioWork> next = audioWork.front();
            audioWork.pop_front();
            hold.unlock();
            next->work();
            {
                std::lock_guard<std::mutex> doneHold(next->doneLock);
                next->done = true;
            }
            next->doneWake.notify_all();
            hold.lock();
        }
        hold.unlock();
        FeedPluginBlock();
        hold.lock();
        audioWake.wait_for(hold, std::chrono::milliseconds(BlockPeriodMs),
                           [] { return audioQuit || !audioWork.empty(); });
    }
    return 0;
}

// Waits for a thread to end, and lets it go when it does not.
static void EndThread(HANDLE* thread, const char* name) {
    if (*thread == nullptr) return;
    if (WaitForSingleObject(*thread, ThreadStopTimeoutMs) != WAIT_OBJECT_0)
        ReportPlayerError(std::string("the ") + name + " thread did not end");
    CloseHandle(*thread);
    *thread = nullptr;
}

bool StartPlayer(void) {
    ResetPlayerLog();
    ResetPlayerTexts();
    ResetTrack();
    ForgetSavedConfig();
    BindSharedSequence();
    audioQuit = false;
    windowReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    windowThread = CreateThread(nullptr, 0, WindowThreadMain, nullptr, 0, &windowThreadId);
    DWORD audioId = 0;
    audioThread = CreateThread(nullptr, 0, AudioThreadMain, nullptr, 0, &audioId);
    audioThreadId = audioId;
    if (windowThread == nullptr || audioThread == nullptr) {
        ReportPlayerError("could not start the player's threads");
        return false;
    }
    if (WaitForSingleObject(windowReady, PlayerHangMs) != WAIT_OBJECT_0)
        ReportHang("StartPlayer", "the window thread to make the player's window");
    CloseHandle(windowReady);
    if (window == nullptr) {
        ReportPlayerError("could not create the player's window");
        return false;
    }
    return true;
}

// Ends the audio thread; work still queued for it waits for the next one.
static void EndAudioThread(void) {
    {
        std::lock_guard<std::mutex> hold(audioLock);
        audioQuit = true;
    }
    audioWake.notify_all();
    EndThread(&audioThread, "audio");
}

void StopPlayer(void) {
    if (window != nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
    EndThread(&windowThread, "window");
    window = nullptr;
    std::lock_guard<std::mutex> moving(audioMoveLock);
    EndAudioThread();
}

void MoveAudioToNewThread(void) {
    // Work run on the audio thread that opens a track keeps its thread.
    if (GetCurrentThreadId() == audioThreadId) return;
    std::lock_guard<std::mutex> moving(audioMoveLock);
    if (audioThread == nullptr) return;
    EndAudioThread();
    {
        std::lock_guard<std::mutex> hold(audioLock);
        audioQuit = false;
    }
    DWORD audioId = 0;
    audioThread = CreateThread(nullptr, 0, AudioThreadMain, nullptr, 0, &audioId);
    if (audioThread == nullptr) {
        ReportPlayerError("could not start a new audio thread");
        return;
    }
    audioThreadId = audioId;
}

HWND PlayerWindow(void) { return window; }

DWORD PlayerWindowThreadId(void) { return windowThreadId; }

DWORD PlayerAudioThreadId(void) { return audioThreadId; }

void RunOnWindowThread(const std::function<void()>& work) {
    if (GetCurrentThreadId() == windowThreadId) {
        work();
        return;
    }
    std::shared_ptr<SentWork> sent = std::make_shared<SentWork>();
    sent->work = work;
    // The window thread frees this holder once it has run the work.
    auto* travelling = new std::shared_ptr<SentWork>(sent);
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(window, RunWorkMessage, 0, reinterpret_cast<LPARAM>(travelling), SMTO_NORMAL,
                            PlayerHangMs, &result) != 0 ||
        sent->done != 0)
        return;  // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks): travelling belongs to the window thread
                 // now
    if (GetTickCount() - start >= PlayerHangMs)
        ReportHang("RunOnWindowThread", "the window thread to run the work sent to it");
    // Not delivered at all: the window is gone, and the holder never travelled.
    delete travelling;
    ReportPlayerError("work sent to the window thread found no window");
}

void AwaitPosted(const std::shared_future<void>& posted, const char* what) {
    if (posted.wait_for(std::chrono::milliseconds(PlayerHangMs)) != std::future_status::ready)
        ReportHang("AwaitPosted", what);
}

std::shared_future<void> PostToWindowThread(std::function<void()> work) {
    // The window thread deletes the work once it has run it.
    PostedWork* posted = new PostedWork;
    posted->work = std::move(work);
    std::shared_future<void> done = posted->done.get_future().share();
    if (PostMessageA(window, PostedWorkMessage, 0, reinterpret_cast<LPARAM>(posted)) == FALSE) {
        ReportPlayerError("could not post work to the window thread");
        delete posted;
    }
    return done;  // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks): posted belongs to the window thread now
}

void RunOnAudioThread(const std::function<void()>& work) {
    if (GetCurrentThreadId() == audioThreadId) {
        work();
        return;
    }
    std::shared_ptr<AudioWork> queued = std::make_shared<AudioWork>();
    queued->work = work;
    {
        std::lock_guard<std::mutex> hold(audioLock);
        audioWork.push_back(queued);
    }
    audioWake.notify_all();
    std::unique_lock<std::mutex> hold(queued->doneLock);
    if (!queued->doneWake.wait_for(hold, std::chrono::milliseconds(PlayerHangMs),
                                   [&queued] { return queued->done; }))
        ReportHang("RunOnAudioThread", "the audio thread to run the work handed to it");
}
