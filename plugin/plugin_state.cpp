// Definitions of the plug-in-wide state. Nothing here is initialised beyond
// zero: the module entry and New set what needs a value before use.
#include "plugin/plugin_state.h"

const char PluginName[] = "XMPlay Nowglow";

std::atomic<HostWindow> configDialog;
SharedCount processCount;
DiscordRichPresence presence;
SharedWord expectedRemaining;
HostWindow hostWindow;
const XMPFUNC_MISC* misc;
const XMPFUNC_STATUS* status;
PresenceSettings settings;
ModuleHandle module;
SharedState publishedState;
SharedState observedState;
uint32_t lastProcessCount;
std::atomic<bool> republishRequested;
std::atomic<bool> notifiedPositionPending;
SharedWord notifiedPosition;
SharedCount notifiedAtMs;
std::atomic<bool> instanceLive;
char versionText[TextBufferSize];
char detailsBuffer[TextBufferSize];
char largeImageTextBuffer[TextBufferSize];
char stateBuffer[TextBufferSize];
