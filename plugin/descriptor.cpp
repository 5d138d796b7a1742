// The descriptor table the player drives the plug-in through, and the export
// that hands it out.
#include "plugin/descriptor.h"

#include "plugin/instance.h"
#include "plugin/plugin_state.h"
#include "settings/config_dialog.h"
#include "settings/settings_block.h"

// Bit 3 of the player's DSP flags; what it means is the player's affair.
static const uint32_t DescriptorFlags = 8;

static const XMPDSP descriptor = {
    DescriptorFlags,  // flags
    PluginName,       // name
    About,            // About
    New,              // New
    Free,             // Free
    GetDescription,   // GetDescription
    Config,           // Config
    GetConfig,        // GetConfig
    SetConfig,        // SetConfig
    NewTrack,         // NewTrack
    SetFormat,        // SetFormat
    Reset,            // Reset
    Process,          // Process
    NewTitle,         // NewTitle
};

extern "C" const XMPDSP* XMP_STDCALL XMPDSP_GetInterface2(uint32_t face, InterfaceProc faceproc) {
    if (face != 1) return nullptr;
    misc = static_cast<const XMPFUNC_MISC*>(faceproc(InterfaceMisc));
    status = static_cast<const XMPFUNC_STATUS*>(faceproc(InterfaceStatus));
    return &descriptor;
}
