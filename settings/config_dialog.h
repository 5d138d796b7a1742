// The settings dialog: the descriptor's Config slot, and its end when the
// instance ends. The Windows dialog implements them; the native tests link
// recording fakes instead.
#pragma once

#include "host/xmp_host.h"

// Runs the dialog modally, owned by the given window; returns when it has ended.
void XMP_STDCALL Config(void* inst, HostWindow owner);

// Ends the open dialog as Cancel does: nothing is stored.
void EndConfigDialog(HostWindow dialog);
