// The fake player: its misc and status tables, a scriptable current track,
// and the accounting of every text GetTag hands out.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fakes/fakes_internal.h"
#include "plugin/descriptor.h"

#if defined(__SANITIZE_ADDRESS__)
#define FAKE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAKE_ASAN 1
#endif
#endif

#if defined(FAKE_ASAN)
#include <sanitizer/asan_interface.h>
#define FAKE_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define FAKE_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define FAKE_POISON(address, size) ((void)(address), (void)(size))
#define FAKE_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace fake {

// ------------------------------------------------------------ the track ----

struct StoredTag {
    bool present;
    char text[MaxTagText + 1];
};

static const int32_t trackTags[] = {TagFormattedTitle, TagLengthSeconds, TagAlbum,
                                    TagDate,           TagFileType,      TagItemTitle};
enum : size_t { TrackTagCount = sizeof trackTags / sizeof trackTags[0] };

static StoredTag sharedTags[TrackTagCount];
static double sharedPosition;
static int32_t playingAnswer;
static uint32_t versionAnswer;
static HostWindow windowAnswer;
// Run inside GetVersion, outside the fake's lock, when set.
static std::atomic<void (*)(void)> getVersionHook{nullptr};
static thread_local const Track* threadTrack;

static HostWindow const defaultWindow = reinterpret_cast<HostWindow>(static_cast<uintptr_t>(0x10010));

HostWindow PlayerWindowHandle(void) { return defaultWindow; }

static int TagIndex(int32_t tag) {
    for (size_t i = 0; i < TrackTagCount; i++) {
        if (trackTags[i] == tag) return static_cast<int>(i);
    }
    return -1;
}

static const char* TrackText(const Track& track, int32_t tag) {
    switch (tag) {
    case TagFormattedTitle: return track.title;
    case TagLengthSeconds: return track.length;
    case TagAlbum: return track.album;
    case TagDate: return track.date;
    case TagFileType: return track.fileType;
    case TagItemTitle: return track.itemTitle;
    default: return nullptr;
    }
}

static void CheckLength(const char* text) {
    if (text && std::strlen(text) > MaxTagText) {
        std::fprintf(stderr, "fake player: a tag text longer than %zu bytes\n",
                     static_cast<size_t>(MaxTagText));
        std::abort();
    }
}

static void StoreTag(int32_t tag, const char* text) {
    int index = TagIndex(tag);
    if (index < 0) {
        std::fprintf(stderr, "fake player: tag %d cannot be set\n", tag);
        std::abort();
    }
    CheckLength(text);
    StoredTag& stored = sharedTags[index];
    stored.present = text != nullptr;
    const char* source = text != nullptr ? text : "";
    std::memcpy(stored.text, source, std::strlen(source) + 1);
}

void SetTrack(const Track& track) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    for (int32_t tag : trackTags) StoreTag(tag, TrackText(track, tag));
    sharedPosition = track.position;
}

void SetTag(int32_t tag, const char* text) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    StoreTag(tag, text);
}

void SetPosition(double seconds) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    sharedPosition = seconds;
}

void SetPlaying(int32_t isPlaying) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    playingAnswer = isPlaying;
}

void SetVersion(uint32_t versionWord) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    versionAnswer = versionWord;
}

void SetWindow(HostWindow window) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    windowAnswer = window;
}

void SetThreadTrack(const Track* track) {
    if (track) {
        for (int32_t tag : trackTags) CheckLength(TrackText(*track, tag));
    }
    threadTrack = track;
}

// ------------------------------------------------------- the text pool ----

// Texts are handed out from fixed slots, reused round-robin so that a
// released slot stays poisoned as long as possible.
enum : size_t { PoolSlots = 256, SlotSize = MaxTagText + 1 };
enum SlotState : uint8_t { SlotUnused, SlotOutstanding, SlotReleased };

alignas(16) static char pool[PoolSlots][SlotSize];
static SlotState slotStates[PoolSlots];
static int32_t slotTags[PoolSlots];
static size_t nextSlot;
static TextAccounting accounting;

static char* HandOut(int32_t tag, const char* text) {
    for (size_t tried = 0; tried < PoolSlots; tried++) {
        size_t slot = (nextSlot + tried) % PoolSlots;
        if (slotStates[slot] == SlotOutstanding) continue;
        nextSlot = (slot + 1) % PoolSlots;
        size_t size = std::strlen(text) + 1;
        // Only the text and its zero are readable; the rest of the slot is poisoned.
        FAKE_POISON(pool[slot], SlotSize);
        FAKE_UNPOISON(pool[slot], size);
        std::memcpy(pool[slot], text, size);
        slotStates[slot] = SlotOutstanding;
        slotTags[slot] = tag;
        return pool[slot];
    }
    std::fprintf(stderr, "fake player: more than %zu texts outstanding (leak)\n",
                 static_cast<size_t>(PoolSlots));
    std::abort();
}

// The slot a pointer starts, or -1 for a pointer the pool never handed out.
static long SlotOf(const void* text) {
    uintptr_t address = reinterpret_cast<uintptr_t>(text);
    uintptr_t start = reinterpret_cast<uintptr_t>(pool);
    if (address < start || address >= start + sizeof pool) return -1;
    uintptr_t offset = address - start;
    if (offset % SlotSize != 0) return -1;
    return static_cast<long>(offset / SlotSize);
}

TextAccounting Texts(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return accounting;
}

bool TextsBalanced(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return accounting.Outstanding() == 0 && accounting.nullReleased == accounting.nullHandedOut &&
           accounting.twiceReleased == 0 && accounting.foreignReleased == 0;
}

// ------------------------------------------------------ player's tables ----

static uint32_t XMP_STDCALL FakeGetVersion(void) {
    uint32_t answer = 0;
    {
        std::lock_guard<std::mutex> hold(FakeMutex());
        AppendCall(Call::GetVersion, 0, nullptr);
        answer = versionAnswer;
    }
    void (*hook)(void) = getVersionHook.load();
    if (hook != nullptr) hook();
    return answer;
}

void SetGetVersionHook(void (*hook)(void)) { getVersionHook.store(hook); }

static HostWindow XMP_STDCALL FakeGetWindow(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::GetWindow, 0, windowAnswer);
    return windowAnswer;
}

static void XMP_STDCALL FakeFree(void* text) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    if (!text) {
        accounting.nullReleased++;
        AppendCall(Call::FreeText, FreedNull, nullptr);
        return;
    }
    long slot = SlotOf(text);
    if (slot < 0 || slotStates[slot] == SlotUnused) {
        accounting.foreignReleased++;
        AppendCall(Call::FreeText, FreedForeign, text);
    } else if (slotStates[slot] == SlotReleased) {
        accounting.twiceReleased++;
        AppendCall(Call::FreeText, FreedTwice, text);
    } else {
        accounting.released++;
        slotStates[slot] = SlotReleased;
        FAKE_POISON(pool[slot], SlotSize);
        AppendCall(Call::FreeText, slotTags[slot], text);
    }
}

static char* XMP_STDCALL FakeGetTag(int32_t tag) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    const char* source = nullptr;
    if (threadTrack) {
        source = TrackText(*threadTrack, tag);
    } else {
        int index = TagIndex(tag);
        if (index >= 0 && sharedTags[index].present) source = sharedTags[index].text;
    }
    char* text = nullptr;
    if (source) {
        text = HandOut(tag, source);
        accounting.handedOut++;
    } else {
        accounting.nullHandedOut++;
    }
    AppendCall(Call::GetTag, tag, text);
    return text;
}

static int32_t XMP_STDCALL FakeIsPlaying(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::IsPlaying, 0, nullptr);
    return playingAnswer;
}

static double XMP_STDCALL FakeGetTime(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::GetTime, 0, nullptr);
    return threadTrack ? threadTrack->position : sharedPosition;
}

static const XMPFUNC_MISC fakeMisc = {
    FakeGetVersion,
    FakeGetWindow,
    {nullptr, nullptr},
    FakeFree,
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    FakeGetTag,
};

static const XMPFUNC_STATUS fakeStatus = {FakeIsPlaying, FakeGetTime};

void* XMP_STDCALL InterfaceGetter(uint32_t face) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::InterfaceRequest, face, nullptr);
    if (face == InterfaceMisc) return const_cast<XMPFUNC_MISC*>(&fakeMisc);
    if (face == InterfaceStatus) return const_cast<XMPFUNC_STATUS*>(&fakeStatus);
    return nullptr;
}

const XMPDSP* BindPlugin(void) { return XMPDSP_GetInterface2(1, InterfaceGetter); }

void ResetPlayer(void) {
    for (StoredTag& stored : sharedTags) {
        stored.present = false;
        stored.text[0] = '\0';
    }
    sharedPosition = 0.0;
    playingAnswer = 0;
    versionAnswer = 0;
    windowAnswer = defaultWindow;
    getVersionHook.store(nullptr);
    threadTrack = nullptr;
    FAKE_UNPOISON(pool, sizeof pool);
    std::memset(pool, 0, sizeof pool);
    std::memset(slotStates, 0, sizeof slotStates);
    std::memset(slotTags, 0, sizeof slotTags);
    nextSlot = 0;
    accounting = TextAccounting{};
}

}  // namespace fake
