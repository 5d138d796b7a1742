// The modal settings dialog: shows the three settings when it opens, stores
// them on OK, and stores nothing on any other way of closing.
#include <windows.h>

#include "settings/config_dialog.h"

#include "plugin/plugin_state.h"
#include "settings/dialog_choices.h"
#include "settings/resource_ids.h"

// Answers whether a button of the dialog reports BST_CHECKED.
static bool IsControlChecked(HostWindow dialog, int32_t control) {
    return SendDlgItemMessageA(dialog, control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Hands a flag word to its check box unchanged (0 clear, 1 checked).
static void SetCheckBox(HWND dialog, int32_t control, int32_t word) {
    SendDlgItemMessageA(dialog, control, BM_SETCHECK, static_cast<WPARAM>(word), 0);
}

// Puts the stored settings into the controls. A clock mode outside 0 to 2
// leaves every clock button clear.
static void ShowSettings(HWND dialog) {
    SetCheckBox(dialog, IDC_SHOW_ALBUM_DATE, settings.showAlbumDate.load(std::memory_order_relaxed));
    SetCheckBox(dialog, IDC_SHOW_VERSION, settings.showVersion.load(std::memory_order_relaxed));
    const int32_t button = ClockButtonForMode(settings.timeMode.load(std::memory_order_relaxed));
    if (button != 0) CheckRadioButton(dialog, IDC_TIME_REMAINING, IDC_TIME_DISABLED, button);
}

// The dialog procedure. Only the command identifier (the low word) of a
// WM_COMMAND is looked at; the automatic button styles toggle the controls
// themselves, so nothing is stored before OK.
static INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        // Recorded first, so that Free can end the dialog from now on.
        configDialog.store(dialog, std::memory_order_relaxed);
        ShowSettings(dialog);
        return TRUE;  // the platform focuses the default control
    case WM_COMMAND:
        switch (wParam & 0xFFFFu) {
        case IDOK:
            StoreDialogChoices(dialog, IsControlChecked);
            EndDialog(dialog, 0);
            return FALSE;
        case IDCANCEL: EndDialog(dialog, 0); return FALSE;
        default: return FALSE;
        }
    case WM_DESTROY: configDialog.store(nullptr, std::memory_order_relaxed); return FALSE;
    default: return FALSE;
    }
}

// If the dialog cannot be created nothing happens.
void XMP_STDCALL Config(void* inst, HostWindow owner) {
    (void)inst;
    DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_CONFIG), owner, ConfigDialogProc, 0);
}

void EndConfigDialog(HostWindow dialog) { EndDialog(dialog, 0); }
