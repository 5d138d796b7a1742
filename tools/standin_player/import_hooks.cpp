// Watches the window functions the plug-in imports from USER32 (its timer,
// its dialog and its message box) by replacing their entries in the
// plug-in's import address table with wrappers that log each call and then
// call the real function. The timer's callback is wrapped as well, so that
// each tick is logged, and a tick that arrives once the plug-in has let its
// timer go, or has been unloaded, is reported instead of running code that
// may no longer be there. The plug-in's tick count and its library's
// update and clear are wrapped too, so that a test may let the plug-in's
// clock leap over the waits between its updates.
#include <atomic>
#include <cstring>
#include <mutex>

#include "presence/discord_rpc.h"
#include "tools/standin_player/player_internal.h"

typedef UINT_PTR(WINAPI* SetTimerFunction)(HWND, UINT_PTR, UINT, TIMERPROC);
typedef BOOL(WINAPI* KillTimerFunction)(HWND, UINT_PTR);
typedef BOOL(WINAPI* EndDialogFunction)(HWND, INT_PTR);
typedef INT_PTR(WINAPI* DialogBoxParamFunction)(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM);
typedef int(WINAPI* MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);

static SetTimerFunction realSetTimer = SetTimer;
static KillTimerFunction realKillTimer = KillTimer;
static EndDialogFunction realEndDialog = EndDialog;
static DialogBoxParamFunction realDialogBoxParam = DialogBoxParamA;
static MessageBoxFunction realMessageBox = MessageBoxA;

// The plug-in's live timers: at most a handful, so a small table will do.
enum { TimerSlots = 8 };
struct PluginTimer {
    HWND window;
    UINT_PTR id;
    TIMERPROC proc;
};
static std::mutex timerLock;
static PluginTimer timers[TimerSlots];
static int timerCount;
static std::atomic<uint32_t> ticksStarted;
static std::atomic<uint32_t> ticksEnded;

static uintptr_t Handle(HWND window) { return reinterpret_cast<uintptr_t>(window); }

static void CALLBACK TickTrampoline(HWND window, UINT message, UINT_PTR id, DWORD time) {
    TIMERPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> hold(timerLock);
        for (int index = 0; index < timerCount; ++index)
            if (timers[index].window == window && timers[index].id == id) proc = timers[index].proc;
    }
    if (proc == nullptr) {
        ReportPlayerError("a timer tick arrived after the plug-in killed its timer or was unloaded (timer " +
                          std::to_string(id) + ")");
        realKillTimer(window, id);
        return;
    }
    LogPlayerCall(PlayerCallKind::TickStart, static_cast<int64_t>(id), Handle(window));
    ++ticksStarted;
    BeginTickView();
    proc(window, message, id, time);
    EndTickView();
    ++ticksEnded;
    LogPlayerCall(PlayerCallKind::TickEnd, static_cast<int64_t>(id), Handle(window));
}

static UINT_PTR WINAPI WatchedSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
    UINT_PTR result = realSetTimer(window, id, period, proc != nullptr ? TickTrampoline : nullptr);
    // A timer without a window is known by the identifier the system chose.
    UINT_PTR key = window != nullptr ? id : result;
    if (result != 0 && proc != nullptr) {
        std::lock_guard<std::mutex> hold(timerLock);
        int index = 0;
        while (index < timerCount && !(timers[index].window == window && timers[index].id == key)) ++index;
        if (index < TimerSlots) {
            timers[index] = PluginTimer{window, key, proc};
            if (index == timerCount) ++timerCount;
        }
    }
    LogPlayerCall(PlayerCallKind::SetTimer, static_cast<int64_t>(id), Handle(window), period,
                  static_cast<int64_t>(result));
    return result;
}

static BOOL WINAPI WatchedKillTimer(HWND window, UINT_PTR id) {
    BOOL result = realKillTimer(window, id);
    {
        std::lock_guard<std::mutex> hold(timerLock);
        for (int index = 0; index < timerCount; ++index) {
            if (timers[index].window == window && timers[index].id == id) {
                timers[index] = timers[--timerCount];
                break;
            }
        }
    }
    LogPlayerCall(PlayerCallKind::KillTimer, static_cast<int64_t>(id), Handle(window), 0, result);
    return result;
}

static BOOL WINAPI WatchedEndDialog(HWND dialog, INT_PTR result) {
    LogPlayerCall(PlayerCallKind::EndDialog, static_cast<int64_t>(result), Handle(dialog));
    return realEndDialog(dialog, result);
}

static INT_PTR WINAPI WatchedDialogBoxParam(HINSTANCE module, LPCSTR name, HWND owner, DLGPROC proc,
                                            LPARAM init) {
    int64_t templateId = IS_INTRESOURCE(name) ? static_cast<int64_t>(reinterpret_cast<uintptr_t>(name)) : -1;
    LogPlayerCall(PlayerCallKind::DialogBoxEnter, templateId, Handle(owner), module == PluginModule() ? 1 : 0,
                  static_cast<int64_t>(init));
    INT_PTR result = realDialogBoxParam(module, name, owner, proc, init);
    LogPlayerCall(PlayerCallKind::DialogBoxLeave, templateId, Handle(owner), 0, static_cast<int64_t>(result));
    return result;
}

static int WINAPI WatchedMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    LogPlayerCall(PlayerCallKind::MessageBox, 0, Handle(owner), style, 0, text != nullptr ? text : "(null)",
                  caption != nullptr ? caption : "(null)");
    int result = realMessageBox(owner, text, caption, style);
    LogPlayerCall(PlayerCallKind::MessageBoxLeave, 0, Handle(owner), style, result);
    return result;
}

// The plug-in's clock: the system's tick count plus a skip that only grows.
// While the steps are on, every update and clear the plug-in hands its
// library moves the skip on, so that the next update's wait is over.
static const uint32_t PluginClockStepMs = 20000;
static std::atomic<bool> stepClockAtUpdates{true};
static std::atomic<uint32_t> pluginClockSkipMs;

typedef void(DISCORD_CDECL* UpdatePresenceFunction)(const DiscordRichPresence*);
typedef void(DISCORD_CDECL* ClearPresenceFunction)(void);
static UpdatePresenceFunction realUpdatePresence;
static ClearPresenceFunction realClearPresence;

void StepPluginClockAtUpdates(bool step) { stepClockAtUpdates.store(step); }

static DWORD WINAPI WatchedGetTickCount(void) { return GetTickCount() + pluginClockSkipMs.load(); }

static void StepPluginClock(void) {
    if (stepClockAtUpdates.load()) pluginClockSkipMs.fetch_add(PluginClockStepMs);
}

static void DISCORD_CDECL WatchedUpdatePresence(const DiscordRichPresence* presence) {
    realUpdatePresence(presence);
    StepPluginClock();
}

static void DISCORD_CDECL WatchedClearPresence(void) {
    realClearPresence();
    StepPluginClock();
}

// Replaces one imported function in the module's import address table and
// gives the one it replaced (0 when the module does not import it).
static uintptr_t ReplaceImport(BYTE* base, const IMAGE_IMPORT_DESCRIPTOR* library, const char* name,
                               void* wrapper) {
    uintptr_t replaced = 0;
    const IMAGE_THUNK_DATA* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        base + (library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk : library->FirstThunk));
    IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const IMAGE_IMPORT_BY_NAME* byName =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
        DWORD oldProtection;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &oldProtection);
        replaced = slots->u1.Function;
        slots->u1.Function = reinterpret_cast<uintptr_t>(wrapper);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtection, &oldProtection);
    }
    return replaced;
}

static void* Address(void (*function)(void)) {
    void* address;
    memcpy(&address, &function, sizeof address);
    return address;
}

void WatchPluginImports(HMODULE module) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    const IMAGE_IMPORT_DESCRIPTOR* library =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; library->Name != 0; ++library) {
        const char* libraryName = reinterpret_cast<const char*>(base + library->Name);
        if (_stricmp(libraryName, "kernel32.dll") == 0)
            ReplaceImport(base, library, "GetTickCount",
                          Address(FunctionCast<void (*)(void)>(WatchedGetTickCount)));
        if (_stricmp(libraryName, "discord-rpc.dll") == 0) {
            const uintptr_t update =
                ReplaceImport(base, library, "Discord_UpdatePresence",
                              Address(FunctionCast<void (*)(void)>(WatchedUpdatePresence)));
            const uintptr_t clear =
                ReplaceImport(base, library, "Discord_ClearPresence",
                              Address(FunctionCast<void (*)(void)>(WatchedClearPresence)));
            if (update != 0) realUpdatePresence = reinterpret_cast<UpdatePresenceFunction>(update);
            if (clear != 0) realClearPresence = reinterpret_cast<ClearPresenceFunction>(clear);
        }
        if (_stricmp(libraryName, "user32.dll") != 0) continue;
        ReplaceImport(base, library, "SetTimer", Address(FunctionCast<void (*)(void)>(WatchedSetTimer)));
        ReplaceImport(base, library, "KillTimer", Address(FunctionCast<void (*)(void)>(WatchedKillTimer)));
        ReplaceImport(base, library, "EndDialog", Address(FunctionCast<void (*)(void)>(WatchedEndDialog)));
        ReplaceImport(base, library, "DialogBoxParamA",
                      Address(FunctionCast<void (*)(void)>(WatchedDialogBoxParam)));
        ReplaceImport(base, library, "MessageBoxA", Address(FunctionCast<void (*)(void)>(WatchedMessageBox)));
    }
}

void ForgetPluginTimers(void) {
    std::lock_guard<std::mutex> hold(timerLock);
    timerCount = 0;
}

size_t PluginTimersSet(void) {
    std::lock_guard<std::mutex> hold(timerLock);
    return static_cast<size_t>(timerCount);
}

uint32_t PluginTicksStarted(void) { return ticksStarted; }

uint32_t PluginTicksEnded(void) { return ticksEnded; }
