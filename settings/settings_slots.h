// The descriptor's settings slots: the persisted 12-byte block and the dialog.
#pragma once

#include <cstdint>

#include "host/xmp_host.h"

uint32_t XMP_STDCALL GetConfig(void* inst, void* config);
int32_t XMP_STDCALL SetConfig(void* inst, const void* config, uint32_t size);
void XMP_STDCALL Config(void* inst, HostWindow owner);
