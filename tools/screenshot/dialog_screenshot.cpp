// Opens the plug-in's settings dialog in the stand-in player and holds it on
// screen for a screenshot. Prints the dialog's window rectangle in screen
// pixels as "left top width height" once the dialog is up, then closes it as
// Cancel would when standard input ends, or after a minute at the latest so
// that an unattended run never hangs.
// Usage: nowglow-dialog-shot XMP-Nowglow.dll
#include <windows.h>

#include <chrono>
#include <cstdio>

#include "tools/standin_player/standin_player.h"

static const char DialogCaption[] = "XMPlay Nowglow Configuration";
static const char DialogClass[] = "#32770";
static const DWORD DialogWaitMs = 10000;
static const DWORD PollMs = 50;
static const DWORD HoldLimitMs = 60000;
// Time for the dialog's first paint after it is found.
static const DWORD SettleMs = 500;

// Reads standard input until it ends or fails; only its end matters.
static DWORD WINAPI DrainInput(LPVOID) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char scratch[64];
    DWORD got = 0;
    while (ReadFile(input, scratch, sizeof scratch, &got, nullptr) != FALSE && got > 0) {
    }
    return 0;
}

// The open settings dialog, or null when it does not appear in time.
static HWND WaitForDialog(void) {
    for (DWORD waited = 0; waited < DialogWaitMs; waited += PollMs) {
        HWND dialog = FindWindowA(DialogClass, DialogCaption);
        if (dialog != nullptr && IsWindowVisible(dialog) != FALSE) return dialog;
        Sleep(PollMs);
    }
    return nullptr;
}

// Reports what went wrong in the stand-in player, if anything.
static void PrintPlayerErrors(void) {
    for (const std::string& error : PlayerErrors())
        std::fprintf(stderr, "nowglow-dialog-shot: %s\n", error.c_str());
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: nowglow-dialog-shot XMP-Nowglow.dll\n");
        return 2;
    }
    if (!StartPlayer() || !LoadPlugin(argv[1])) {
        PrintPlayerErrors();
        return 1;
    }
    // New sets the default settings, which the dialog then shows.
    PluginNew();
    std::shared_future<void> closed = PluginConfig();
    HWND dialog = WaitForDialog();
    int status = 0;
    if (dialog == nullptr) {
        std::fprintf(stderr, "nowglow-dialog-shot: the settings dialog did not open\n");
        status = 1;
    } else {
        // Nothing on the virtual display gives the dialog the focus, and Wine
        // then paints its caption as inactive. The picture shows it active,
        // as the user sees it: activate it from the thread that runs it, the
        // player's window thread, and have the caption repainted so.
        RunOnWindowThread([dialog] {
            SetForegroundWindow(dialog);
            SendMessageA(dialog, WM_NCACTIVATE, TRUE, 0);
        });
        Sleep(SettleMs);
        RECT frame;
        GetWindowRect(dialog, &frame);
        std::printf("%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left,
                    frame.bottom - frame.top);
        std::fflush(stdout);
        HANDLE drain = CreateThread(nullptr, 0, DrainInput, nullptr, 0, nullptr);
        if (drain != nullptr) {
            WaitForSingleObject(drain, HoldLimitMs);
            CloseHandle(drain);
        }
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    if (closed.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        std::fprintf(stderr, "nowglow-dialog-shot: the settings dialog did not close\n");
        return 1;
    }
    PluginFree();
    UnloadPlugin();
    StopPlayer();
    PrintPlayerErrors();
    return status;
}
