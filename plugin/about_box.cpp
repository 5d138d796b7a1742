// The about box: what the plug-in does and who made it, in a plain message box.
#include <windows.h>

#include "plugin/instance.h"
#include "plugin/plugin_state.h"

static const char aboutText[] =
    "Shows what XMPlay is playing on your Discord profile.\r\n"
    "Nowglow " NOWGLOW_VERSION " by the Nowglow developers, using Discord's discord-rpc library.";

// Shows the about box owned by the player's window and returns when it closes.
void XMP_STDCALL About(HostWindow owner) {
    MessageBoxA(owner, aboutText, PluginName, MB_OK | MB_ICONINFORMATION);
}
