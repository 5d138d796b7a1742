// The plug-in as the player first meets it: loading, binding through its
// one export, the descriptor table, and the instance's start and end as the
// presence library and the window functions see them.
#include <cstring>

#include "harness/harness.h"

// Every slot of the descriptor, by name, for the null check.
TEST_F(PluginTest, BindingGivesTheDescriptorWithEverySlotFilled) {
    const XMPDSP* descriptor = PluginDescriptor();
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->flags, 8u);
    ASSERT_NE(descriptor->name, nullptr);
    EXPECT_STREQ(descriptor->name, "XMPlay Nowglow");
    const void* slots[] = {
        reinterpret_cast<const void*>(descriptor->About),
        reinterpret_cast<const void*>(descriptor->New),
        reinterpret_cast<const void*>(descriptor->Free),
        reinterpret_cast<const void*>(descriptor->GetDescription),
        reinterpret_cast<const void*>(descriptor->Config),
        reinterpret_cast<const void*>(descriptor->GetConfig),
        reinterpret_cast<const void*>(descriptor->SetConfig),
        reinterpret_cast<const void*>(descriptor->NewTrack),
        reinterpret_cast<const void*>(descriptor->SetFormat),
        reinterpret_cast<const void*>(descriptor->Reset),
        reinterpret_cast<const void*>(descriptor->Process),
        reinterpret_cast<const void*>(descriptor->NewTitle),
    };
    for (size_t slot = 0; slot < sizeof slots / sizeof slots[0]; ++slot) {
        EXPECT_NE(slots[slot], nullptr) << "descriptor slot " << slot + 3 << " is null";
        EXPECT_TRUE(PluginImageContains(reinterpret_cast<uintptr_t>(slots[slot])))
            << "descriptor slot " << slot + 3 << " points outside the plug-in";
    }
    // The binding asked for the misc table, then the status table, and nothing else.
    std::vector<PlayerCall> asked = PlayerCallsBetween(0, SequenceEnd, PlayerCallKind::Interface);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].number, 0);
    EXPECT_EQ(asked[1].number, 4);
    // Loading the plug-in started nothing: no library call, no timer.
    EXPECT_TRUE(DiscordCalls().empty());
    EXPECT_TRUE(PlayerCallsBetween(0, SequenceEnd, PlayerCallKind::SetTimer).empty());
}

TEST_F(PluginTest, OnlyInterfaceOneIsAnswered) {
    const XMPDSP* bound = PluginDescriptor();
    for (uint32_t face : {0u, 2u, 3u, 0xFFFFFFFFu}) {
        uint32_t before = Mark();
        EXPECT_EQ(CallGetInterface2(face), nullptr) << "interface " << face;
        EXPECT_TRUE(PlayerCallsBetween(before, SequenceEnd, PlayerCallKind::Interface).empty())
            << "interface " << face << " must not ask the player for anything";
    }
    uint32_t before = Mark();
    EXPECT_EQ(CallGetInterface2(1), bound) << "a second binding returns the same table";
    std::vector<PlayerCall> asked = PlayerCallsBetween(before, SequenceEnd, PlayerCallKind::Interface);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].number, 0);
    EXPECT_EQ(asked[1].number, 4);
}

TEST_F(PluginTest, DescriptionIsTheDescriptorName) {
    const char* first = PluginGetDescription();
    const char* second = PluginGetDescription();
    EXPECT_EQ(first, PluginDescriptor()->name);
    EXPECT_EQ(second, first);
    EXPECT_STREQ(first, "XMPlay Nowglow");
}

TEST_F(PluginTest, NewOpensTheConnectionAndStartsTheTimerWithoutPublishing) {
    uint32_t before = Mark();
    StartInstance();
    uint32_t after = Mark();

    std::vector<RecordedCall> calls = DiscordCallsBetween(before, after);
    ASSERT_EQ(calls.size(), 1u) << "New makes exactly one library call";
    const RecordedCall& init = calls[0];
    EXPECT_EQ(init.kind, RecordedInitialize);
    EXPECT_EQ(init.threadId, PlayerWindowThreadId());
    std::string id = Text(init.applicationId);
    EXPECT_EQ(id.size(), 18u) << id;
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos) << id;
    EXPECT_EQ(init.autoRegister, 1);
    EXPECT_TRUE(init.steamId.isNull);
    ASSERT_FALSE(init.handlersNull);
    for (uint32_t index = 0; index < RecordedHandlerCount; ++index) {
        EXPECT_TRUE(PluginImageContains(init.handlers[index])) << "event handler " << index;
    }

    // The player's window is asked for before the connection is opened.
    std::vector<PlayerCall> windows = PlayerCallsBetween(before, after, PlayerCallKind::GetWindow);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_LT(windows[0].sequence, init.sequence);

    // One two-second timer, identifier 0, on the player's window, set from its thread.
    std::vector<PlayerCall> timers = PlayerCallsBetween(before, after, PlayerCallKind::SetTimer);
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].handle, reinterpret_cast<uintptr_t>(PlayerWindow()));
    EXPECT_EQ(timers[0].number, 0);
    EXPECT_EQ(timers[0].extra, 2000);
    EXPECT_NE(timers[0].result, 0) << "the timer was set";
    EXPECT_EQ(timers[0].threadId, PlayerWindowThreadId());
    EXPECT_GT(timers[0].sequence, init.sequence);
    EXPECT_TRUE(PresencesBetween(before, after).empty()) << "New sends no presence";

    // The event handlers accept what the library would pass and do nothing.
    DiscordUser user = {"1", "someone", "0001", ""};
    typedef void(DISCORD_CDECL * UserEvent)(const DiscordUser*);
    typedef void(DISCORD_CDECL * ErrorEvent)(int, const char*);
    typedef void(DISCORD_CDECL * SecretEvent)(const char*);
    uint32_t eventsBefore = Mark();
    reinterpret_cast<UserEvent>(init.handlers[0])(&user);
    reinterpret_cast<ErrorEvent>(init.handlers[1])(1, "pipe closed");
    reinterpret_cast<ErrorEvent>(init.handlers[2])(2, "error");
    reinterpret_cast<SecretEvent>(init.handlers[3])("join");
    reinterpret_cast<SecretEvent>(init.handlers[4])("spectate");
    reinterpret_cast<UserEvent>(init.handlers[5])(&user);
    EXPECT_TRUE(DiscordCallsBetween(eventsBefore, SequenceEnd).empty());
    EXPECT_TRUE(PluginToPlayerCallsBetween(eventsBefore, SequenceEnd).empty());
}

TEST_F(PluginTest, FreeWithoutDialogStopsTimerThenClearsThenShutsDown) {
    StartInstance();
    uint32_t before = Mark();
    EndInstance();
    uint32_t after = Mark();
    EXPECT_TRUE(PlayerCallsBetween(before, after, PlayerCallKind::EndDialog).empty()) << "no dialog to end";
    std::vector<PlayerCall> kills = PlayerCallsBetween(before, after, PlayerCallKind::KillTimer);
    std::vector<RecordedCall> calls = DiscordCallsBetween(before, after);
    ASSERT_EQ(kills.size(), 1u);
    EXPECT_EQ(kills[0].handle, reinterpret_cast<uintptr_t>(PlayerWindow()));
    EXPECT_EQ(kills[0].number, 0);
    EXPECT_NE(kills[0].result, 0) << "the timer New set was still there to kill";
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, RecordedClearPresence);
    EXPECT_EQ(calls[1].kind, RecordedShutdown);
    EXPECT_LT(kills[0].sequence, calls[0].sequence);
}
