// The module's one export: the player asks it for the descriptor table.
#pragma once

#include <cstdint>

#include "host/xmp_host.h"

// Interface 1 only: fetches the player's misc (0) and status (4) tables and
// returns the descriptor table; any other number returns null.
extern "C" const XMPDSP* XMP_STDCALL XMPDSP_GetInterface2(uint32_t face, InterfaceProc faceproc);
