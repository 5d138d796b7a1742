// Finding and working the plug-in's dialogs from the test thread while they
// run their modal loops on the player's window thread.
#include "harness/harness.h"

struct WindowSearch {
    const char* caption;
    const char* windowClass;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    char className[64];
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpiA(className, search->windowClass) != 0) return TRUE;
    if (WindowText(window) != search->caption) return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitForThreadWindow(DWORD threadId, const char* caption, const char* windowClass, int timeoutMs) {
    WindowSearch search = {caption, windowClass, nullptr};
    WaitUntil(
        [&] {
            EnumThreadWindows(threadId, MatchWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr && IsWindowVisible(search.found) != FALSE;
        },
        timeoutMs);
    return search.found;
}

bool WaitForWindowGone(HWND window, int timeoutMs) {
    return WaitUntil([&] { return IsWindow(window) == FALSE; }, timeoutMs);
}

// Sends a message to a window of the player's window thread and returns its
// answer; a thread that does not answer within PlayerHangMs is a hang.
static LRESULT SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char* what) {
    DWORD_PTR answer = 0;
    const DWORD start = GetTickCount();
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, PlayerHangMs, &answer) == 0 &&
        GetTickCount() - start >= PlayerHangMs)
        ReportHang("SendMessageTimeout", what);
    return static_cast<LRESULT>(answer);
}

std::string WindowText(HWND window) {
    char text[1024];
    const LRESULT length = SendWithin(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                      "the window's thread to answer WM_GETTEXT");
    return std::string(text, static_cast<size_t>(length > 0 ? length : 0));
}

LRESULT CheckState(HWND dialog, int control) {
    return SendWithin(GetDlgItem(dialog, control), BM_GETCHECK, 0, 0,
                      "the dialog's thread to answer BM_GETCHECK");
}

void Click(HWND dialog, int control) {
    SendWithin(GetDlgItem(dialog, control), BM_CLICK, 0, 0, "the dialog's thread to take a click");
}
