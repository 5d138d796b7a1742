// The discord-rpc 3.4.0 client library as imported from "discord-rpc.dll":
// the presence record, the event-handler record and the four functions this
// plug-in calls. Every function and callback uses the caller-cleans-up
// convention (cdecl) and is exported undecorated.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define DISCORD_CDECL __attribute__((cdecl))
#else
#define DISCORD_CDECL
#endif

extern "C" {

struct DiscordRichPresence {
    const char* state;       // second line
    const char* details;     // first line
    int64_t startTimestamp;  // Unix seconds, 0 for none
    int64_t endTimestamp;    // Unix seconds, 0 for none
    const char* largeImageKey;
    const char* largeImageText;
    const char* smallImageKey;
    const char* smallImageText;
    const char* partyId;
    int partySize;
    int partyMax;
    const char* matchSecret;
    const char* joinSecret;
    const char* spectateSecret;
    int8_t instance;
};

struct DiscordUser {
    const char* userId;
    const char* username;
    const char* discriminator;
    const char* avatar;
};

struct DiscordEventHandlers {
    void(DISCORD_CDECL* ready)(const DiscordUser* request);
    void(DISCORD_CDECL* disconnected)(int errorCode, const char* message);
    void(DISCORD_CDECL* errored)(int errorCode, const char* message);
    void(DISCORD_CDECL* joinGame)(const char* joinSecret);
    void(DISCORD_CDECL* spectateGame)(const char* spectateSecret);
    void(DISCORD_CDECL* joinRequest)(const DiscordUser* request);
};

void DISCORD_CDECL Discord_Initialize(const char* applicationId, DiscordEventHandlers* handlers,
                                      int autoRegister, const char* optionalSteamId);
void DISCORD_CDECL Discord_UpdatePresence(const DiscordRichPresence* presence);
void DISCORD_CDECL Discord_ClearPresence(void);
void DISCORD_CDECL Discord_Shutdown(void);

}  // extern "C"

// The library reads the record by offset; this is the released 3.4.0 layout.
#if defined(__i386__)
static_assert(offsetof(DiscordRichPresence, state) == 0, "state");
static_assert(offsetof(DiscordRichPresence, details) == 4, "details");
static_assert(offsetof(DiscordRichPresence, startTimestamp) == 8, "startTimestamp");
static_assert(offsetof(DiscordRichPresence, endTimestamp) == 16, "endTimestamp");
static_assert(offsetof(DiscordRichPresence, largeImageKey) == 24, "largeImageKey");
static_assert(offsetof(DiscordRichPresence, largeImageText) == 28, "largeImageText");
static_assert(offsetof(DiscordRichPresence, smallImageKey) == 32, "smallImageKey");
static_assert(offsetof(DiscordRichPresence, smallImageText) == 36, "smallImageText");
static_assert(offsetof(DiscordRichPresence, partyId) == 40, "partyId");
static_assert(offsetof(DiscordRichPresence, partySize) == 44, "partySize");
static_assert(offsetof(DiscordRichPresence, partyMax) == 48, "partyMax");
static_assert(offsetof(DiscordRichPresence, matchSecret) == 52, "matchSecret");
static_assert(offsetof(DiscordRichPresence, joinSecret) == 56, "joinSecret");
static_assert(offsetof(DiscordRichPresence, spectateSecret) == 60, "spectateSecret");
static_assert(offsetof(DiscordRichPresence, instance) == 64, "instance");
static_assert(sizeof(DiscordRichPresence) == 72, "record size");
static_assert(sizeof(DiscordUser) == 16, "user size");
static_assert(sizeof(DiscordEventHandlers) == 24, "handlers size");
#endif
