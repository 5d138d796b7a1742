// Loading, binding and driving the plug-in: LoadLibrary, XMPDSP_GetInterface2
// with interface 1, the descriptor's slots called as the player calls them
// (each logged between SlotEnter and SlotLeave), the notifications sent on a
// chosen thread, and the blocks of samples fed to Process.
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "tools/standin_player/player_internal.h"

typedef const XMPDSP*(XMP_STDCALL* GetInterfaceFunction)(uint32_t face, InterfaceProc faceproc);

// 20 ms of stereo audio at 44100 Hz.
enum : uint32_t { BlockFrames = 882, BlockChannels = 2 };

// The player's sample-format record as it hands it to SetFormat.
struct StandinFormat {
    uint32_t rate;
    uint32_t channels;
    uint32_t bytesPerSample;
};

static std::atomic<HMODULE> pluginModule;
static std::atomic<const XMPDSP*> descriptor;
static std::atomic<GetInterfaceFunction> getInterface;
static std::atomic<void*> instance;
static std::atomic<NotifyThread> notifyThread{NotifyThread::Window};
static std::atomic<uint32_t> processCalls;
static uintptr_t imageStart;
static uintptr_t imageEnd;
// The settings block the player saved when it closed with the plug-in
// active, guarded by savedConfigLock; the next New gets it back.
static std::mutex savedConfigLock;
static std::vector<uint8_t> savedConfig;

// The block fed to Process and a pristine copy: Process must not touch the samples.
static float samples[BlockFrames * BlockChannels];
static float pristine[BlockFrames * BlockChannels];
static bool samplesChangedReported;
static bool processResultReported;

// Whether Process left every sample as it was.
static bool SamplesUntouched(void) {
    for (uint32_t index = 0; index < BlockFrames * BlockChannels; ++index)
        if (samples[index] != pristine[index]) return false;
    return true;
}

static void FillSamples(void) {
    for (uint32_t frame = 0; frame < BlockFrames; ++frame) {
        float value = static_cast<float>(0.25 * std::sin(2.0 * 3.14159265358979 * 440.0 * frame / 44100.0));
        for (uint32_t channel = 0; channel < BlockChannels; ++channel)
            samples[frame * BlockChannels + channel] = value;
    }
    memcpy(pristine, samples, sizeof samples);
}

// The descriptor, or null with an error logged when none is bound.
static const XMPDSP* BoundDescriptor(const char* slot) {
    const XMPDSP* bound = descriptor;
    if (bound == nullptr) ReportPlayerError(std::string("no plug-in bound for ") + slot);
    return bound;
}

static void EnterSlot(const char* slot, const char* argument = nullptr) {
    LogPlayerCall(PlayerCallKind::SlotEnter, 0, 0, 0, 0, slot, argument != nullptr ? argument : "");
}

static void LeaveSlot(const char* slot, int64_t result = 0) {
    LogPlayerCall(PlayerCallKind::SlotLeave, 0, 0, 0, result, slot);
}

bool LoadPlugin(const char* path) {
    if (pluginModule != nullptr) {
        ReportPlayerError("a plug-in is already loaded");
        return false;
    }
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        ReportPlayerError(std::string("LoadLibrary(") + path + ") failed with error " +
                          std::to_string(GetLastError()));
        return false;
    }
    BindSharedSequence();
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
    imageStart = reinterpret_cast<uintptr_t>(module);
    imageEnd = imageStart + nt->OptionalHeader.SizeOfImage;
    pluginModule = module;
    WatchPluginImports(module);
    FARPROC exported = GetProcAddress(module, "XMPDSP_GetInterface2");
    if (exported == nullptr) {
        ReportPlayerError("the plug-in does not export XMPDSP_GetInterface2");
        return false;
    }
    getInterface = FunctionCast<GetInterfaceFunction>(exported);
    EnterSlot("XMPDSP_GetInterface2", "1");
    const XMPDSP* bound = getInterface.load()(1, PlayerInterface);
    LeaveSlot("XMPDSP_GetInterface2", static_cast<int64_t>(reinterpret_cast<uintptr_t>(bound)));
    if (bound == nullptr) {
        ReportPlayerError("XMPDSP_GetInterface2(1) returned null");
        return false;
    }
    FillSamples();
    samplesChangedReported = false;
    processResultReported = false;
    instance = nullptr;
    descriptor = bound;
    return true;
}

bool UnloadPlugin(void) {
    HMODULE module = pluginModule;
    if (module == nullptr) return false;
    descriptor = nullptr;
    instance = nullptr;
    getInterface = nullptr;
    // The audio thread finishes the block it may be feeding before the code goes away.
    RunOnAudioThread([] {});
    ForgetPluginTimers();
    LogPlayerCall(PlayerCallKind::Action, 0, 0, 0, 0, "FreeLibrary");
    pluginModule = nullptr;
    imageStart = imageEnd = 0;
    if (FreeLibrary(module) == FALSE) {
        ReportPlayerError("FreeLibrary failed with error " + std::to_string(GetLastError()));
        return false;
    }
    return true;
}

HMODULE PluginModule(void) { return pluginModule; }

const XMPDSP* PluginDescriptor(void) { return descriptor; }

bool PluginImageContains(uintptr_t address) { return address >= imageStart && address < imageEnd; }

const XMPDSP* CallGetInterface2(uint32_t face) {
    GetInterfaceFunction function = getInterface;
    if (function == nullptr) {
        ReportPlayerError("no plug-in loaded for XMPDSP_GetInterface2");
        return nullptr;
    }
    std::string argument = std::to_string(face);
    EnterSlot("XMPDSP_GetInterface2", argument.c_str());
    const XMPDSP* result = function(face, PlayerInterface);
    LeaveSlot("XMPDSP_GetInterface2", static_cast<int64_t>(reinterpret_cast<uintptr_t>(result)));
    return result;
}

void* PluginNew(void) {
    const XMPDSP* bound = BoundDescriptor("New");
    if (bound == nullptr) return nullptr;
    void* created = nullptr;
    RunOnWindowThread([&] {
        EnterSlot("New");
        created = bound->New();
        LeaveSlot("New", static_cast<int64_t>(reinterpret_cast<uintptr_t>(created)));
    });
    instance = created;
    std::vector<uint8_t> saved;
    {
        std::lock_guard<std::mutex> hold(savedConfigLock);
        saved = savedConfig;
    }
    if (!saved.empty()) PluginSetConfig(saved.data(), static_cast<uint32_t>(saved.size()));
    return created;
}

void ClosePlayer(void) {
    RunOnWindowThread([] {
        PluginSetFormat(false);
        NotifyNewTrack(nullptr);
        uint8_t block[64];
        const uint32_t size = PluginGetConfig(block);
        std::lock_guard<std::mutex> hold(savedConfigLock);
        savedConfig.assign(block, block + (size <= sizeof block ? size : 0));
    });
    PluginFree();
}

void ForgetSavedConfig(void) {
    std::lock_guard<std::mutex> hold(savedConfigLock);
    savedConfig.clear();
}

void PluginFree(void) {
    const XMPDSP* bound = BoundDescriptor("Free");
    if (bound == nullptr) return;
    void* ended = instance;
    RunOnWindowThread([&] {
        EnterSlot("Free");
        bound->Free(ended);
        LeaveSlot("Free");
    });
}

std::shared_future<void> PluginConfig(void) {
    const XMPDSP* bound = BoundDescriptor("Config");
    void* current = instance;
    return PostToWindowThread([bound, current] {
        if (bound == nullptr) return;
        EnterSlot("Config");
        bound->Config(current, reinterpret_cast<HostWindow>(PlayerWindow()));
        LeaveSlot("Config");
    });
}

std::shared_future<void> PluginAbout(void) {
    const XMPDSP* bound = BoundDescriptor("About");
    return PostToWindowThread([bound] {
        if (bound == nullptr) return;
        EnterSlot("About");
        bound->About(reinterpret_cast<HostWindow>(PlayerWindow()));
        LeaveSlot("About");
    });
}

const char* PluginGetDescription(void) {
    const XMPDSP* bound = BoundDescriptor("GetDescription");
    if (bound == nullptr) return nullptr;
    EnterSlot("GetDescription");
    const char* description = bound->GetDescription(instance);
    LeaveSlot("GetDescription", static_cast<int64_t>(reinterpret_cast<uintptr_t>(description)));
    return description;
}

uint32_t PluginGetConfig(void* block) {
    const XMPDSP* bound = BoundDescriptor("GetConfig");
    if (bound == nullptr) return 0;
    EnterSlot("GetConfig");
    uint32_t size = bound->GetConfig(instance, block);
    LeaveSlot("GetConfig", size);
    return size;
}

int32_t PluginSetConfig(const void* block, uint32_t size) {
    const XMPDSP* bound = BoundDescriptor("SetConfig");
    if (bound == nullptr) return 0;
    std::string argument = std::to_string(size) + " bytes";
    EnterSlot("SetConfig", argument.c_str());
    int32_t result = bound->SetConfig(instance, block, size);
    LeaveSlot("SetConfig", result);
    return result;
}

void PluginSetFormat(bool opened) {
    const XMPDSP* bound = BoundDescriptor("SetFormat");
    if (bound == nullptr) return;
    static const StandinFormat format = {44100, BlockChannels, 4};
    EnterSlot("SetFormat", opened ? "44100 Hz" : "(null)");
    bound->SetFormat(instance, opened ? reinterpret_cast<const XMPFORMAT*>(&format) : nullptr);
    LeaveSlot("SetFormat");
}

void SetNotifyThread(NotifyThread thread) { notifyThread = thread; }

// Whether this thread is a worker running one of the player's own sequences.
static thread_local bool onPlayerWorker;

// The sequence a worker runs; shared, so that it stays whole for a worker
// that outlives a waiter who gave up on it.
struct WorkerSequence {
    std::function<void()> sequence;
};

static DWORD WINAPI PlayerWorkerMain(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<WorkerSequence>> held(
        static_cast<std::shared_ptr<WorkerSequence>*>(parameter));
    onPlayerWorker = true;
    (*held)->sequence();
    return 0;
}

void RunOnPlayerWorker(const std::function<void()>& sequence) {
    std::shared_ptr<WorkerSequence> shared = std::make_shared<WorkerSequence>();
    shared->sequence = sequence;
    auto* travelling = new std::shared_ptr<WorkerSequence>(shared);
    HANDLE worker = CreateThread(nullptr, 0, PlayerWorkerMain, travelling, 0, nullptr);
    if (worker == nullptr) {
        delete travelling;
        ReportPlayerError("could not start a worker thread");
        return;
    }
    // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks): travelling belongs to the worker now
    if (WaitForSingleObject(worker, PlayerHangMs) != WAIT_OBJECT_0)
        ReportHang("RunOnPlayerWorker", "a worker thread of the player to finish its sequence");
    CloseHandle(worker);
}

// Runs a notification on the chosen thread and waits for it. By default a
// notification comes on the window thread, or on the worker that sends it.
static void Deliver(const std::function<void()>& notification) {
    switch (notifyThread.load()) {
    case NotifyThread::Window:
        if (onPlayerWorker) {
            notification();
        } else {
            RunOnWindowThread(notification);
        }
        break;
    case NotifyThread::Audio: RunOnAudioThread(notification); break;
    case NotifyThread::Caller: notification(); break;
    }
}

void NotifyNewTrack(const char* file) {
    const XMPDSP* bound = BoundDescriptor("NewTrack");
    if (bound == nullptr) return;
    Deliver([&] {
        EnterSlot("NewTrack", file != nullptr ? file : "(null)");
        bound->NewTrack(instance, file);
        LeaveSlot("NewTrack");
    });
}

void NotifyNewTitle(const char* title) {
    const XMPDSP* bound = BoundDescriptor("NewTitle");
    if (bound == nullptr) return;
    Deliver([&] {
        EnterSlot("NewTitle", title != nullptr ? title : "(null)");
        bound->NewTitle(instance, title);
        LeaveSlot("NewTitle");
    });
}

void NotifyReset(void) {
    const XMPDSP* bound = BoundDescriptor("Reset");
    if (bound == nullptr) return;
    Deliver([&] {
        EnterSlot("Reset");
        bound->Reset(instance);
        LeaveSlot("Reset");
    });
}

void FeedPluginBlock(void) {
    const XMPDSP* bound = descriptor;
    if (bound == nullptr || TrackMode() != PlaybackMode::Playing) return;
    uint32_t result = bound->Process(instance, samples, BlockFrames);
    ++processCalls;
    if (result != 0 && !processResultReported)
        ReportPlayerError("Process returned " + std::to_string(result) + " instead of 0");
    if (result != 0) processResultReported = true;
    if (!SamplesUntouched()) {
        if (!samplesChangedReported) ReportPlayerError("Process changed the samples");
        samplesChangedReported = true;
        memcpy(samples, pristine, sizeof samples);
    }
}

uint32_t ProcessCallCount(void) { return processCalls; }
