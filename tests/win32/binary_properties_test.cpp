// Checks the built XMP-Nowglow.dll as a file, the way the player and the
// Windows loader see it: what it exports, what it imports, and the two
// resources it carries, the settings dialog read back field by field.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "harness/pe_reader.h"

namespace {

const uint32_t ResourceDialog = 5;
const uint32_t ResourceManifest = 24;
const uint32_t DialogId = 101;
const uint32_t ManifestId = 2;
const uint32_t EnglishCanada = 0x1009;
const uint32_t LanguageNeutral = 0x0000;
const uint16_t ButtonClassOrdinal = 0x0080;

// The directory of this test program, where the build writes the DLL too.
std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : 0);
    const size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : directory.substr(0, slash + 1);
}

std::string DllPath() { return ProgramDirectory() + "XMP-Nowglow.dll"; }

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

class BinaryProperties : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadPeImage(DllPath(), &image)) << "cannot read " << DllPath(); }

    // The one resource of the given type and identifier; fails the test when
    // there is not exactly one.
    const PeResource* OneResource(uint32_t type, uint32_t id) {
        std::vector<PeResource> all;
        if (!ReadPeResources(image, &all)) {
            ADD_FAILURE() << "malformed resource directory";
            return nullptr;
        }
        resources = all;
        const PeResource* found = nullptr;
        for (const PeResource& r : resources) {
            if (!r.type.isInteger || r.type.id != type || !r.name.isInteger || r.name.id != id) continue;
            if (found != nullptr) {
                ADD_FAILURE() << "resource " << type << "/" << id << " appears more than once";
                return nullptr;
            }
            found = &r;
        }
        if (found == nullptr) ADD_FAILURE() << "no resource " << type << "/" << id;
        return found;
    }

    bool ReadDialog(DialogTemplateEx* dialog) {
        const PeResource* resource = OneResource(ResourceDialog, DialogId);
        if (resource == nullptr) return false;
        if (!ParseDialogTemplateEx(resource->data, dialog)) {
            ADD_FAILURE() << "dialog 101 is not a well-formed extended template";
            return false;
        }
        return true;
    }

    PeImage image;
    std::vector<PeResource> resources;
};

TEST_F(BinaryProperties, IsA32BitDllLinkedWithoutTimestamp) {
    EXPECT_EQ(image.machine, 0x014C);              // i386
    EXPECT_NE(image.characteristics & 0x2000, 0);  // IMAGE_FILE_DLL
    EXPECT_EQ(image.optionalMagic, 0x10B);         // PE32
    EXPECT_NE(image.entryPoint, 0u);
    EXPECT_EQ(image.timeDateStamp, 0u) << "a link timestamp makes every build differ";
}

TEST_F(BinaryProperties, ExportsOnlyTheInterfaceGetterByNameAtOrdinal1) {
    PeExports exports;
    ASSERT_TRUE(ReadPeExports(image, &exports));
    EXPECT_EQ(exports.moduleName, "XMP-Nowglow.dll");
    EXPECT_EQ(exports.functionCount, 1u);
    EXPECT_EQ(exports.nameCount, 1u);
    ASSERT_EQ(exports.entries.size(), 1u);
    EXPECT_EQ(exports.entries[0].name, "XMPDSP_GetInterface2");
    EXPECT_EQ(exports.entries[0].ordinal, 1u);

    // The export is code, not a forwarder into another DLL.
    const uint32_t exportStart = image.directoryRva[PeDirectoryExport];
    const uint32_t rva = exports.entries[0].rva;
    EXPECT_FALSE(rva >= exportStart && rva < exportStart + image.directorySize[PeDirectoryExport]);
    bool inCode = false;
    for (const PeSection& s : image.sections) {
        const bool executable = (s.characteristics & 0x20000000u) != 0;  // IMAGE_SCN_MEM_EXECUTE
        if (executable && rva >= s.virtualAddress && rva - s.virtualAddress < s.virtualSize) inCode = true;
    }
    EXPECT_TRUE(inCode);
}

TEST_F(BinaryProperties, ImportsOnlyFromTheSystemAndThePresenceLibrary) {
    std::vector<PeImportedDll> imports;
    ASSERT_TRUE(ReadPeImports(image, &imports));

    std::vector<std::string> dlls;
    dlls.reserve(imports.size());
    for (const PeImportedDll& dll : imports) dlls.push_back(Lower(dll.name));
    for (const std::string& name : dlls) {
        EXPECT_TRUE(name == "kernel32.dll" || name == "user32.dll" || name == "msvcrt.dll" ||
                    name == "discord-rpc.dll")
            << "unexpected import from " << name
            << " (a MinGW runtime DLL would have to ship beside the plug-in)";
    }
    EXPECT_EQ(std::count(dlls.begin(), dlls.end(), "discord-rpc.dll"), 1);
    EXPECT_EQ(std::count(dlls.begin(), dlls.end(), "user32.dll"), 1);
    EXPECT_EQ(std::count(dlls.begin(), dlls.end(), "kernel32.dll"), 1);

    for (const PeImportedDll& dll : imports) {
        EXPECT_TRUE(dll.ordinals.empty()) << dll.name << " imported by ordinal";
        if (Lower(dll.name) == "discord-rpc.dll") {
            EXPECT_EQ(Sorted(dll.functions), Sorted({"Discord_Initialize", "Discord_UpdatePresence",
                                                     "Discord_ClearPresence", "Discord_Shutdown"}));
        }
        if (Lower(dll.name) == "user32.dll") {
            EXPECT_EQ(Sorted(dll.functions),
                      Sorted({"SetTimer", "KillTimer", "DialogBoxParamA", "EndDialog", "SendDlgItemMessageA",
                              "CheckRadioButton", "MessageBoxA"}));
        }
    }
}

TEST_F(BinaryProperties, HoldsTheApplicationIdInOneMarkedFieldAndNowhereElse) {
    const std::string bytes(image.bytes.begin(), image.bytes.end());
    const std::string marker("XMP-Nowglow Discord application ID",
                             sizeof "XMP-Nowglow Discord application ID");
    const size_t field = bytes.find(marker);
    ASSERT_NE(field, std::string::npos) << "no application ID field";
    EXPECT_EQ(bytes.find(marker, field + 1), std::string::npos) << "a second field";
    ASSERT_LE(field + marker.size() + 19, bytes.size());
    const std::string id = bytes.substr(field + marker.size(), 18);
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos) << id;
    EXPECT_EQ(bytes[field + marker.size() + 18], '\0');
    EXPECT_EQ(bytes.find(id), field + marker.size());
    EXPECT_EQ(bytes.find(id, field + marker.size() + 1), std::string::npos)
        << "the ID lies somewhere else too";
}

TEST(AppIdTool, IsAConsoleProgramImportingOnlyKernel32AndMsvcrt) {
    PeImage tool;
    const std::string path = ProgramDirectory() + "nowglow-appid.exe";
    ASSERT_TRUE(LoadPeImage(path, &tool)) << "cannot read " << path;
    EXPECT_EQ(tool.machine, 0x014C);
    EXPECT_EQ(tool.characteristics & 0x2000, 0) << "a DLL, not a program";
    EXPECT_EQ(tool.subsystem, 3) << "not a console program";  // IMAGE_SUBSYSTEM_WINDOWS_CUI
    EXPECT_EQ(tool.timeDateStamp, 0u) << "a link timestamp makes every build differ";
    std::vector<PeImportedDll> imports;
    ASSERT_TRUE(ReadPeImports(tool, &imports));
    std::vector<std::string> dlls;
    dlls.reserve(imports.size());
    for (const PeImportedDll& dll : imports) dlls.push_back(Lower(dll.name));
    EXPECT_EQ(Sorted(dlls), Sorted({"kernel32.dll", "msvcrt.dll"}));
}

TEST_F(BinaryProperties, CarriesExactlyTheDialogAndTheManifest) {
    ASSERT_TRUE(ReadPeResources(image, &resources));
    ASSERT_EQ(resources.size(), 2u);
    std::vector<std::string> found;
    for (const PeResource& r : resources) {
        ASSERT_TRUE(r.type.isInteger);
        ASSERT_TRUE(r.name.isInteger);
        found.push_back(std::to_string(r.type.id) + "/" + std::to_string(r.name.id) + "/" +
                        std::to_string(r.language));
    }
    EXPECT_EQ(Sorted(found),
              Sorted({std::to_string(ResourceDialog) + "/101/" + std::to_string(EnglishCanada),
                      std::to_string(ResourceManifest) + "/2/" + std::to_string(LanguageNeutral)}));
}

// The element names of an XML text, in document order; declarations,
// comments and end tags are skipped.
std::vector<std::string> ElementNames(const std::string& xml) {
    std::vector<std::string> names;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        if (at + 1 >= xml.size() || xml[at + 1] == '?' || xml[at + 1] == '!' || xml[at + 1] == '/') continue;
        const size_t end = xml.find_first_of(" \t\r\n/>", at + 1);
        names.push_back(xml.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
    }
    return names;
}

TEST_F(BinaryProperties, ManifestAsksForTheCallersRightsAndNothingElse) {
    const PeResource* manifest = OneResource(ResourceManifest, ManifestId);
    ASSERT_NE(manifest, nullptr);
    const std::string xml(manifest->data.begin(), manifest->data.end());

    EXPECT_EQ(ElementNames(xml), (std::vector<std::string>{"assembly", "trustInfo", "security",
                                                           "requestedPrivileges", "requestedExecutionLevel"}))
        << xml;
    const size_t tag = xml.find("<requestedExecutionLevel");
    ASSERT_NE(tag, std::string::npos);
    const std::string element = xml.substr(tag, xml.find('>', tag) - tag);
    EXPECT_NE(element.find("level=\"asInvoker\""), std::string::npos) << element;
    EXPECT_NE(element.find("uiAccess=\"false\""), std::string::npos) << element;
    EXPECT_EQ(std::count(element.begin(), element.end(), '='), 2) << element;
    EXPECT_EQ(xml.find("Common-Controls"), std::string::npos);
}

TEST_F(BinaryProperties, DialogWindowMatchesItsDesign) {
    DialogTemplateEx dialog;
    ASSERT_TRUE(ReadDialog(&dialog));
    EXPECT_EQ(dialog.version, 1);
    EXPECT_EQ(dialog.signature, 0xFFFF);
    EXPECT_EQ(dialog.helpId, 0u);
    EXPECT_EQ(dialog.exStyle, 0x00020000u);  // WS_EX_STATICEDGE
    EXPECT_EQ(dialog.style, 0x80C800E8u);
    EXPECT_EQ(dialog.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                                  DS_SETFONT | DS_FIXEDSYS | DS_LOCALEDIT));
    EXPECT_EQ(dialog.itemCount, 9);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 198);
    EXPECT_EQ(dialog.cy, 93);
    EXPECT_EQ(dialog.menu.kind, DialogNameOrOrdinal::Absent);
    EXPECT_EQ(dialog.windowClass.kind, DialogNameOrOrdinal::Absent);
    EXPECT_EQ(dialog.title, "XMPlay Nowglow Configuration");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 400);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 1);  // DEFAULT_CHARSET
    EXPECT_EQ(dialog.typeface, "MS Shell Dlg");
}

struct ExpectedControl {
    int32_t id;
    const char* caption;
    uint32_t style;
    int16_t x, y, cx, cy;
};

// Template order, which is also the tab order.
const ExpectedControl DialogControls[] = {
    {IDOK, "OK", 0x50010001, 33, 72, 50, 14},
    {IDCANCEL, "Cancel", 0x50010000, 113, 72, 50, 14},
    {1001, "Time Remaining", 0x50020009, 114, 19, 65, 10},
    {1002, "Time Elapsed", 0x50000009, 114, 33, 57, 10},
    {1003, "Time Disabled", 0x50000009, 114, 47, 59, 10},
    {-1, "Discord Timer", 0x50000007, 107, 7, 84, 57},
    {-1, "Preferences", 0x50000007, 7, 7, 100, 57},
    {1004, "Show Album Date", 0x50010003, 16, 20, 72, 10},
    {1005, "Show XMPlay Version", 0x50010003, 16, 34, 83, 10},
};
const size_t DialogControlCount = sizeof DialogControls / sizeof DialogControls[0];

TEST_F(BinaryProperties, DialogControlsMatchTheirDesignInTabOrder) {
    DialogTemplateEx dialog;
    ASSERT_TRUE(ReadDialog(&dialog));
    ASSERT_EQ(dialog.items.size(), DialogControlCount);
    for (size_t i = 0; i < DialogControlCount; ++i) {
        const ExpectedControl& want = DialogControls[i];
        const DialogItemEx& item = dialog.items[i];
        SCOPED_TRACE(std::string("control ") + std::to_string(i + 1) + " \"" + want.caption + "\"");
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.style, want.style);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.windowClass.kind, DialogNameOrOrdinal::Ordinal);
        EXPECT_EQ(item.windowClass.ordinal, ButtonClassOrdinal);
        EXPECT_EQ(item.title.kind, DialogNameOrOrdinal::Text);
        EXPECT_EQ(item.title.text, want.caption);
        EXPECT_EQ(item.extraCount, 0);
    }
    // Only the first radio button starts a group, so the three form one.
    for (size_t i = 0; i < DialogControlCount; ++i)
        EXPECT_EQ((DialogControls[i].style & WS_GROUP) != 0, DialogControls[i].id == 1001) << i;
}

TEST_F(BinaryProperties, DialogTemplateHoldsNothingAfterItsLastControl) {
    const PeResource* resource = OneResource(ResourceDialog, DialogId);
    ASSERT_NE(resource, nullptr);
    DialogTemplateEx dialog;
    ASSERT_TRUE(ParseDialogTemplateEx(resource->data, &dialog));
    EXPECT_LE(resource->data.size() - dialog.bytesUsed, 3u) << "only alignment may follow the last control";
}

INT_PTR CALLBACK IdleDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Windows itself finds the dialog under its language and builds every
// control from it with the designed class and style.
TEST(DialogTemplate, WindowsBuildsEveryControlFromIt) {
    HMODULE dll = LoadLibraryExA(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    HRSRC found = FindResourceExA(dll, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(DialogId),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_CAN));
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = LoadResource(dll, found);
    ASSERT_NE(loaded, nullptr);
    const DLGTEMPLATE* dialogTemplate = static_cast<const DLGTEMPLATE*>(LockResource(loaded));
    ASSERT_NE(dialogTemplate, nullptr);

    HWND dialog =
        CreateDialogIndirectParamA(GetModuleHandleA(nullptr), dialogTemplate, nullptr, IdleDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    char caption[64] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "XMPlay Nowglow Configuration");
    for (const ExpectedControl& want : DialogControls) {
        if (want.id == -1) continue;
        SCOPED_TRACE(want.caption);
        HWND control = GetDlgItem(dialog, want.id);
        ASSERT_NE(control, nullptr);
        char className[32] = "";
        GetClassNameA(control, className, sizeof className);
        EXPECT_STREQ(Lower(className).c_str(), "button");
        GetWindowTextA(control, caption, sizeof caption);
        EXPECT_STREQ(caption, want.caption);
        EXPECT_EQ(static_cast<uint32_t>(GetWindowLongA(control, GWL_STYLE)) & 0xFFFF000Fu, want.style);
    }
    DestroyWindow(dialog);
    FreeLibrary(dll);
}

}  // namespace
