// The descriptor's settings slots: the 12-byte block the player saves and
// hands back.
#pragma once

#include <cstdint>

#include "host/xmp_host.h"

// Writes the three settings words, as held, to the block; returns 12.
uint32_t XMP_STDCALL GetConfig(void* inst, void* config);

// Copies the first min(size, 12) bytes of the block over the words and
// rebuilds the large image's text; returns 1.
int32_t XMP_STDCALL SetConfig(void* inst, const void* config, uint32_t size);
