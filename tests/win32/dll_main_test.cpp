// The module entry, compiled into this program and called with each reason
// the loader can pass: only process attach stores the handle, and loading
// never fails on the plug-in's account.
#include <windows.h>

#include <gtest/gtest.h>

#include "plugin/plugin_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

TEST(DllMain, ProcessAttachStoresTheModuleHandle) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    module = nullptr;
    EXPECT_EQ(TRUE, DllMain(self, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(self, module);
}

TEST(DllMain, EveryOtherReasonReturnsTrueAndStoresNothing) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    const DWORD reasons[] = {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, 7, 0xFFFFFFFFu};
    for (DWORD reason : reasons) {
        module = nullptr;
        EXPECT_EQ(TRUE, DllMain(self, reason, nullptr)) << "reason " << reason;
        EXPECT_EQ(nullptr, module) << "reason " << reason;
    }
}
