// The descriptor's slots that create and free the instance, describe the
// plug-in and take the player's notifications.
#pragma once

#include <cstdint>

#include "host/xmp_host.h"

void XMP_STDCALL About(HostWindow owner);
void* XMP_STDCALL New(void);
void XMP_STDCALL Free(void* inst);
const char* XMP_STDCALL GetDescription(void* inst);
void XMP_STDCALL NewTrack(void* inst, const char* file);
void XMP_STDCALL SetFormat(void* inst, const XMPFORMAT* form);
void XMP_STDCALL Reset(void* inst);
uint32_t XMP_STDCALL Process(void* inst, float* data, uint32_t count);
void XMP_STDCALL NewTitle(void* inst, const char* title);
