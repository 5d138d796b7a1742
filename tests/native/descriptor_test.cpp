// The module's export and its descriptor table, as the player first meets them.
#include <gtest/gtest.h>

#include <vector>

#include "fakes/fakes.h"
#include "plugin/descriptor.h"
#include "plugin/plugin_state.h"

namespace {

std::vector<uint32_t> requestedInterfaces;
XMPFUNC_MISC miscTable;
XMPFUNC_STATUS statusTable;

void* XMP_STDCALL RecordingGetter(uint32_t face) {
    requestedInterfaces.push_back(face);
    if (face == 0) return &miscTable;
    if (face == 4) return &statusTable;
    return nullptr;
}

class DescriptorTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        requestedInterfaces.clear();
    }
};

TEST_F(DescriptorTest, AnyInterfaceButOneIsRefusedWithoutAskingThePlayer) {
    const XMPFUNC_MISC* earlierMisc = &miscTable;
    const XMPFUNC_STATUS* earlierStatus = &statusTable;
    for (uint32_t face : {0u, 2u, 3u, 4u, 0x80000001u, 0xFFFFFFFFu}) {
        misc = earlierMisc;
        status = earlierStatus;
        EXPECT_EQ(nullptr, XMPDSP_GetInterface2(face, RecordingGetter)) << "interface " << face;
        EXPECT_EQ(earlierMisc, misc) << "interface " << face;
        EXPECT_EQ(earlierStatus, status) << "interface " << face;
    }
    EXPECT_TRUE(requestedInterfaces.empty());
}

TEST_F(DescriptorTest, InterfaceOneFetchesMiscThenStatusEveryTimeAndReturnsOneTable) {
    const XMPDSP* first = XMPDSP_GetInterface2(1, RecordingGetter);
    const XMPDSP* second = XMPDSP_GetInterface2(1, RecordingGetter);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ((std::vector<uint32_t>{0, 4, 0, 4}), requestedInterfaces);
    EXPECT_EQ(&miscTable, misc);
    EXPECT_EQ(&statusTable, status);
}

TEST_F(DescriptorTest, TableCarriesTheFlagsTheNameAndEverySlot) {
    const XMPDSP* dsp = fake::BindPlugin();
    ASSERT_NE(nullptr, dsp);
    EXPECT_EQ(8u, dsp->flags);
    EXPECT_STREQ("XMPlay Nowglow", dsp->name);
    EXPECT_EQ(dsp->name, dsp->GetDescription(nullptr));
    EXPECT_EQ(dsp->GetDescription(nullptr), dsp->GetDescription(reinterpret_cast<void*>(7)));
    const void* slots[] = {
        reinterpret_cast<const void*>(dsp->About),     reinterpret_cast<const void*>(dsp->New),
        reinterpret_cast<const void*>(dsp->Free),      reinterpret_cast<const void*>(dsp->GetDescription),
        reinterpret_cast<const void*>(dsp->Config),    reinterpret_cast<const void*>(dsp->GetConfig),
        reinterpret_cast<const void*>(dsp->SetConfig), reinterpret_cast<const void*>(dsp->NewTrack),
        reinterpret_cast<const void*>(dsp->SetFormat), reinterpret_cast<const void*>(dsp->Reset),
        reinterpret_cast<const void*>(dsp->Process),   reinterpret_cast<const void*>(dsp->NewTitle),
    };
    for (const void* slot : slots) EXPECT_NE(nullptr, slot);
}

}  // namespace
