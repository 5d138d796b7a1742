// What nowglow-appid.exe does to a DLL's bytes: which IDs it accepts, which
// files it takes for the plug-in's DLL and where it finds the ID in them,
// the image checksum, and the rewrite.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "appid/dll_image.h"
#include "appid/file_trouble.h"
#include "plugin/application_id.h"

namespace {

const std::string Marker(NOWGLOW_APPLICATION_ID_MARKER, sizeof NOWGLOW_APPLICATION_ID_MARKER);
const size_t PeAt = 0x80;
const size_t ChecksumAt = PeAt + 4 + 20 + 64;

// The one rule of the DLL, the build and the tool, case by case.
TEST(IsApplicationId, TakesSeventeenToTwentyDigitsWithoutALeadingZeroUpToTheLargest64BitNumber) {
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {
        {"1234567890123456", false},       // 16 digits
        {"12345678901234567", true},       // 17
        {"918273645546372819", true},      // 18
        {"1234567890123456789", true},     // 19
        {"12345678901234567890", true},    // 20
        {"123456789012345678901", false},  // 21
        {"01234567890123456", false},      // a leading zero
        {"000000000000000000", false},     // all zeros
        {"18446744073709551615", true},    // the largest 64-bit number
        {"18446744073709551616", false},   // one more
        {"18446744073709551700", false},   // above it from a middle digit on
        {"19999999999999999999", false},   // above it from the second digit on
        {"99999999999999999999", false},   // the largest of 20 digits
        {"17999999999999999999", true},    // below it at the second digit
        {"-12345678901234567", false},     // signs
        {"+12345678901234567", false},
        {" 123456789012345678", false},  // blanks
        {"123456789012345678 ", false},
        {"1234567890 12345678", false},
        {"12345678901234567a", false},  // letters
        {"12345678901234567/", false},  // the bytes beside the digits
        {"12345678901234567:", false},
        {"\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94\xEF\xBC\x95\xEF\xBC\x96",
         false},  // full-width digits, UTF-8
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsApplicationId(c.text), c.accepted) << '"' << c.text << '"';
    EXPECT_FALSE(IsApplicationId(nullptr));
    static_assert(IsApplicationId("18446744073709551615") && !IsApplicationId("18446744073709551616"),
                  "the rule holds at compile time");
}

void Put16(std::vector<uint8_t>& image, size_t at, uint16_t value) {
    image[at] = static_cast<uint8_t>(value);
    image[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; i++) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The headers of a 32-bit DLL, 512 bytes with room for fields after them.
std::vector<uint8_t> DllHeaders(uint16_t machine = 0x014C, uint16_t characteristics = 0x2102,
                                uint16_t magic = 0x010B) {
    std::vector<uint8_t> image(512, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, PeAt);
    std::memcpy(image.data() + PeAt, "PE\0\0", 4);
    Put16(image, PeAt + 4, machine);
    Put16(image, PeAt + 4 + 18, characteristics);
    Put16(image, PeAt + 4 + 20, magic);
    return image;
}

// The field as the DLL holds it: the marker, the digits, zeros to its end.
void AddField(std::vector<uint8_t>& image, size_t at, const std::string& digits) {
    std::string field = Marker + digits;
    field.resize(sizeof(ApplicationIdField), '\0');
    if (image.size() < at + field.size()) image.resize(at + field.size(), 0);
    std::memcpy(image.data() + at, field.data(), field.size());
}

// The image with one section whose raw data lies at rawPointer, rawSize long.
std::vector<uint8_t> WithSection(std::vector<uint8_t> image, uint32_t rawPointer, uint32_t rawSize) {
    const size_t optional = PeAt + 4 + 20;
    Put16(image, PeAt + 4 + 2, 1);
    Put16(image, PeAt + 4 + 16, 224);
    const size_t section = optional + 224;
    Put32(image, section + 16, rawSize);
    Put32(image, section + 20, rawPointer);
    if (image.size() < 0x400) image.resize(0x400, 0);
    return image;
}

// The image with a signature of size bytes at the given file offset.
std::vector<uint8_t> WithSignature(std::vector<uint8_t> image, uint32_t offset, uint32_t size) {
    const size_t optional = PeAt + 4 + 20;
    Put32(image, optional + 92, 16);
    Put32(image, optional + 128, offset);
    Put32(image, optional + 132, size);
    return image;
}

TEST(LocateApplicationId, FindsTheOneFieldOfA32BitDll) {
    std::vector<uint8_t> image = DllHeaders();
    AddField(image, 300, "918273645546372819");
    IdFieldPlace place = LocateApplicationId(image.data(), image.size());
    EXPECT_EQ(place.verdict, ImageVerdict::Found);
    EXPECT_EQ(place.fields, 1u);
    EXPECT_EQ(place.digitsOffset, 300 + Marker.size());
    EXPECT_EQ(place.checksumOffset, ChecksumAt);

    // A field that ends the file exactly is whole.
    std::vector<uint8_t> atEnd = DllHeaders();
    AddField(atEnd, atEnd.size(), "918273645546372819");
    EXPECT_EQ(LocateApplicationId(atEnd.data(), atEnd.size()).verdict, ImageVerdict::Found);
}

TEST(LocateApplicationId, TellsWhyAFileIsNotThePlugInsDll) {
    struct Case {
        const char* name;
        std::vector<uint8_t> image;
        ImageVerdict verdict;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, ImageVerdict::NotDll});
    cases.push_back({"text", std::vector<uint8_t>(600, 'x'), ImageVerdict::NotDll});
    std::vector<uint8_t> noPe = DllHeaders();
    noPe[PeAt] = 'N';
    cases.push_back({"no PE signature", noPe, ImageVerdict::NotDll});
    std::vector<uint8_t> farPe = DllHeaders();
    Put32(farPe, 0x3C, 0xFFFFFFF0u);
    cases.push_back({"PE header beyond the file", farPe, ImageVerdict::NotDll});
    std::vector<uint8_t> oddPe = DllHeaders();
    Put32(oddPe, 0x3C, PeAt + 2);
    cases.push_back({"PE header off its alignment", oddPe, ImageVerdict::NotDll});
    cases.push_back({"64-bit machine", DllHeaders(0x8664), ImageVerdict::NotDll});
    cases.push_back({"a program, not a DLL", DllHeaders(0x014C, 0x0102), ImageVerdict::NotDll});
    cases.push_back({"PE32+ optional header", DllHeaders(0x014C, 0x2102, 0x020B), ImageVerdict::NotDll});
    std::vector<uint8_t> headersCut = DllHeaders();
    headersCut.resize(ChecksumAt + 3);
    cases.push_back({"cut within the checksum field", headersCut, ImageVerdict::NotDll});
    cases.push_back({"a DLL without the field", DllHeaders(), ImageVerdict::NoField});
    std::vector<uint8_t> shortId = DllHeaders();
    AddField(shortId, 300, "9182736455463728");
    cases.push_back({"16 digits", shortId, ImageVerdict::NoField});
    std::vector<uint8_t> leadingZero = DllHeaders();
    AddField(leadingZero, 300, "018273645546372819");
    cases.push_back({"a leading zero", leadingZero, ImageVerdict::NoField});
    std::vector<uint8_t> tooLarge = DllHeaders();
    AddField(tooLarge, 300, "18446744073709551616");
    cases.push_back({"above the largest ID", tooLarge, ImageVerdict::NoField});
    std::vector<uint8_t> notZeroFilled = DllHeaders();
    AddField(notZeroFilled, 300, "918273645546372819");
    notZeroFilled[300 + Marker.size() + 19] = '7';
    cases.push_back({"a byte after the digits' zero", notZeroFilled, ImageVerdict::NoField});
    std::vector<uint8_t> sectionCut = WithSection(DllHeaders(), 0x200, 0x200);
    AddField(sectionCut, 300, "918273645546372819");
    sectionCut.resize(0x3FF);
    cases.push_back({"cut one byte short of its last section", sectionCut, ImageVerdict::CutShort});
    std::vector<uint8_t> tenShort = WithSection(DllHeaders(), 0x200, 0x200);
    AddField(tenShort, 300, "918273645546372819");
    tenShort.resize(0x400 - 10);
    cases.push_back({"cut ten bytes short", tenShort, ImageVerdict::CutShort});
    std::vector<uint8_t> hugeSection = WithSection(DllHeaders(), 0xFFFFFF00u, 0x200);
    AddField(hugeSection, 300, "918273645546372819");
    cases.push_back({"a section whose end wraps 32 bits", hugeSection, ImageVerdict::CutShort});
    std::vector<uint8_t> signatureCut = WithSignature(WithSection(DllHeaders(), 0x200, 0x200), 0x400, 0x80);
    AddField(signatureCut, 300, "918273645546372819");
    signatureCut.resize(0x47F);
    cases.push_back({"cut within its signature", signatureCut, ImageVerdict::CutShort});
    std::vector<uint8_t> letter = DllHeaders();
    AddField(letter, 300, "91827364554637281x");
    cases.push_back({"a letter among the digits", letter, ImageVerdict::NoField});
    std::vector<uint8_t> cut = DllHeaders();
    AddField(cut, cut.size(), "918273645546372819");
    cut.pop_back();
    cases.push_back({"the field cut short by the file's end", cut, ImageVerdict::NoField});
    std::vector<uint8_t> twice = DllHeaders();
    AddField(twice, 300, "918273645546372819");
    AddField(twice, 400, "123456789012345678");
    cases.push_back({"two fields", twice, ImageVerdict::SeveralFields});
    for (const Case& c : cases) {
        EXPECT_EQ(LocateApplicationId(c.image.data(), c.image.size()).verdict, c.verdict) << c.name;
    }
}

TEST(LocateApplicationId, TakesADllThatReachesTheEndOfItsLastSectionAndSignature) {
    std::vector<uint8_t> whole = WithSignature(WithSection(DllHeaders(), 0x200, 0x200), 0x400, 0x80);
    AddField(whole, 300, "918273645546372819");
    whole.resize(0x480);
    EXPECT_EQ(LocateApplicationId(whole.data(), whole.size()).verdict, ImageVerdict::Found);
    for (const char* id : {"12345678901234567", "1234567890123456789", "18446744073709551615"}) {
        std::vector<uint8_t> image = DllHeaders();
        AddField(image, 300, id);
        IdFieldPlace place = LocateApplicationId(image.data(), image.size());
        ASSERT_EQ(place.verdict, ImageVerdict::Found) << id;
        char shown[ApplicationIdMaxDigits + 1];
        ReadApplicationId(image.data(), place, shown);
        EXPECT_STREQ(shown, id);
    }
}

TEST(ImageChecksum, SumsWordsWithCarriesSkipsItsFieldAndAddsTheLength) {
    // 1 + 2 + 3, the checksum field (bytes 4 to 7) left out, plus 10 bytes.
    const uint8_t words[] = {1, 0, 2, 0, 0xAA, 0xBB, 0xCC, 0xDD, 3, 0};
    EXPECT_EQ(ImageChecksum(words, sizeof words, 4), 6u + 10u);
    // 0xFFFF + 2 carries into 0x0001; the field lies beyond the bytes.
    const uint8_t carry[] = {0xFF, 0xFF, 0x02, 0x00};
    EXPECT_EQ(ImageChecksum(carry, sizeof carry, 8), 2u + 4u);
    // An odd last byte counts as a word of its own.
    const uint8_t odd[] = {1, 0, 5};
    EXPECT_EQ(ImageChecksum(odd, sizeof odd, 8), 6u + 3u);
    // Words that sum to 0xFFFF fold to 0, as Windows writes it.
    const uint8_t allOnes[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ImageChecksum(allOnes, sizeof allOnes, 8), 0u + 4u);
    const uint8_t sumToAllOnes[] = {0x00, 0xF0, 0xFF, 0x0F, 0, 0, 0, 0};
    EXPECT_EQ(ImageChecksum(sumToAllOnes, sizeof sumToAllOnes, 4), 0u + 8u);
    const uint8_t oneBelow[] = {0xFE, 0xFF};
    EXPECT_EQ(ImageChecksum(oneBelow, sizeof oneBelow, 8), 0xFFFEu + 2u);
}

uint32_t StoredChecksum(const std::vector<uint8_t>& image) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; i++) value |= static_cast<uint32_t>(image[ChecksumAt + i]) << (8 * i);
    return value;
}

TEST(RewriteApplicationId, WritesTheDigitsAndKeepsTheChecksumValidOrZero) {
    std::vector<uint8_t> image = DllHeaders();
    AddField(image, 300, "918273645546372819");
    const std::vector<uint8_t> before = image;

    // No checksum kept: the field alone changes, and the checksum stays zero.
    IdFieldPlace place = LocateApplicationId(image.data(), image.size());
    RewriteApplicationId(image.data(), image.size(), place, "123456789012345678");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data() + place.digitsOffset)),
              "123456789012345678");
    EXPECT_EQ(StoredChecksum(image), 0u);
    for (size_t i = 0; i < image.size(); i++) {
        if (i < place.digitsOffset || i >= place.digitsOffset + ApplicationIdMaxDigits + 1) {
            ASSERT_EQ(image[i], before[i]) << "byte " << i;
        }
    }

    // Each length leaves the field as a build with that ID makes it: the
    // digits, then zeros to the end, whatever stood there before.
    for (const char* id : {"18446744073709551615", "12345678901234567", "1234567890123456789"}) {
        std::vector<uint8_t> built = DllHeaders();
        AddField(built, 300, id);
        RewriteApplicationId(image.data(), image.size(), place, id);
        EXPECT_TRUE(image == built) << id;
    }
    RewriteApplicationId(image.data(), image.size(), place, "918273645546372819");

    // A checksum kept: it is computed afresh over the new bytes.
    Put32(image, ChecksumAt, 1);
    RewriteApplicationId(image.data(), image.size(), place, "918273645546372819");
    EXPECT_EQ(StoredChecksum(image), ImageChecksum(image.data(), image.size(), ChecksumAt));
    EXPECT_NE(StoredChecksum(image), 1u);
}

// A library as a linker lays it out: headers, then sectionCount sections
// of which the last holds the export directory, its name table and the
// names, each name pointer given (as an address) by the table.
struct LibraryLayout {
    uint16_t machine = 0x014C;
    uint16_t magic = 0x010B;
    uint16_t sectionCount = 1;
    std::vector<std::string> names;
    uint32_t nameCount = 0;  // the count the directory gives; the names' number when 0
};

const uint32_t ExportsAddress = 0x10000;
const size_t ExportsAt = 0x1000;

std::vector<uint8_t> LibraryImage(const LibraryLayout& layout) {
    std::vector<uint8_t> image = DllHeaders(layout.machine, 0x2102, layout.magic);
    const size_t optional = PeAt + 4 + 20;
    const size_t optionalSize = layout.magic == 0x020B ? 240 : 224;
    const size_t shift = layout.magic == 0x020B ? 16 : 0;
    Put16(image, PeAt + 4 + 2, layout.sectionCount);
    Put16(image, PeAt + 4 + 16, static_cast<uint16_t>(optionalSize));
    Put32(image, optional + 96 + shift, ExportsAddress);
    // The directory, the name table, then the names.
    const uint32_t count = static_cast<uint32_t>(layout.names.size());
    std::vector<uint8_t> exports(40 + 4 * count, 0);
    Put32(exports, 24, layout.nameCount != 0 ? layout.nameCount : count);
    Put32(exports, 32, ExportsAddress + 40);
    for (uint32_t i = 0; i < count; i++) {
        Put32(exports, 40 + 4 * i, ExportsAddress + static_cast<uint32_t>(exports.size()));
        exports.insert(exports.end(), layout.names[i].begin(), layout.names[i].end());
        exports.push_back(0);
    }
    const size_t table = optional + optionalSize;
    image.resize(std::max<size_t>(table + static_cast<size_t>(40) * layout.sectionCount, ExportsAt), 0);
    const size_t last = table + static_cast<size_t>(40) * (layout.sectionCount - 1u);
    Put32(image, last + 8, static_cast<uint32_t>(exports.size()));
    Put32(image, last + 12, ExportsAddress);
    Put32(image, last + 16, static_cast<uint32_t>(exports.size()));
    Put32(image, last + 20, static_cast<uint32_t>(image.size()));
    image.insert(image.end(), exports.begin(), exports.end());
    return image;
}

const char* const Wanted[] = {"Discord_Initialize", "Discord_UpdatePresence", "Discord_ClearPresence",
                              "Discord_Shutdown", "Discord_RunCallbacks"};

std::vector<std::string> Exported(void) {
    return {"Discord_ClearPresence", "Discord_Initialize", "Discord_Respond",
            "Discord_RunCallbacks",  "Discord_Shutdown",   "Discord_UpdateHandlers",
            "Discord_UpdatePresence"};
}

// The library's verdict for each shape of file; a name or a table pointed
// outside the file is read nowhere (the sanitizer watches).
TEST(JudgeLibrary, FindsEachWantedNameAndTellsWhatIsWrong) {
    struct Case {
        const char* name;
        std::vector<uint8_t> image;
        uint16_t machine;
        LibraryVerdict verdict;
        const char* missing;
    };
    std::vector<Case> cases;
    LibraryLayout good;
    good.names = Exported();
    cases.push_back({"discord-rpc.dll", LibraryImage(good), 0x014C, LibraryVerdict::Good, nullptr});
    LibraryLayout wide = good;
    wide.machine = 0x8664;
    wide.magic = 0x020B;
    cases.push_back(
        {"the 64-bit library, wanted", LibraryImage(wide), 0x8664, LibraryVerdict::Good, nullptr});
    cases.push_back({"the 64-bit library, not wanted", LibraryImage(wide), 0x014C,
                     LibraryVerdict::OtherMachine, nullptr});
    LibraryLayout short1 = good;
    short1.names.erase(short1.names.begin() + 3);
    cases.push_back({"no Discord_RunCallbacks", LibraryImage(short1), 0x014C, LibraryVerdict::MissingExport,
                     "Discord_RunCallbacks"});
    LibraryLayout lookalike = good;
    lookalike.names[4] = "Discord_Shutdownx";
    cases.push_back({"a longer name is another name", LibraryImage(lookalike), 0x014C,
                     LibraryVerdict::MissingExport, "Discord_Shutdown"});
    LibraryLayout sections = good;
    sections.sectionCount = 96;
    cases.push_back({"96 sections", LibraryImage(sections), 0x014C, LibraryVerdict::Good, nullptr});
    sections.sectionCount = 97;
    cases.push_back({"97 sections", LibraryImage(sections), 0x014C, LibraryVerdict::Unlike, nullptr});
    LibraryLayout overcounted = good;
    overcounted.nameCount = 0xFFFFFFFFu;
    cases.push_back({"a name count beyond the file", LibraryImage(overcounted), 0x014C,
                     LibraryVerdict::MissingExport, "Discord_Initialize"});
    std::vector<uint8_t> cutName = LibraryImage(good);
    cutName.resize(cutName.size() - 1);
    cases.push_back({"the last name cut by the file's end", cutName, 0x014C, LibraryVerdict::MissingExport,
                     "Discord_UpdatePresence"});
    std::vector<uint8_t> cutTable = LibraryImage(good);
    cutTable.resize(ExportsAt + 40 + 8);
    cases.push_back({"the name table cut by the file's end", cutTable, 0x014C, LibraryVerdict::MissingExport,
                     "Discord_Initialize"});
    std::vector<uint8_t> astray = LibraryImage(good);
    Put32(astray, ExportsAt + 40, 0xFFFFFFF0u);
    cases.push_back({"a name pointer outside every section", astray, 0x014C, LibraryVerdict::MissingExport,
                     "Discord_ClearPresence"});
    cases.push_back({"text", std::vector<uint8_t>(600, 'x'), 0x014C, LibraryVerdict::NotDll, nullptr});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each image in a buffer of its own exact size.
        const std::vector<uint8_t> image(c.image.begin(), c.image.end());
        const LibraryJudgement judged = JudgeLibrary(image.data(), image.size(), c.machine, Wanted, 5);
        EXPECT_EQ(judged.verdict, c.verdict);
        if (c.missing != nullptr) {
            ASSERT_NE(judged.missing, nullptr);
            EXPECT_STREQ(judged.missing, c.missing);
        }
    }
}

// A crafted file of the most sections and names there can be is judged in
// a moment, and so is one at the bounds a library may have.
TEST(JudgeLibrary, JudgesAnyFileWithinASecond) {
    LibraryLayout most;
    most.sectionCount = 65535;
    most.names.assign(400000, "Discord_Initializ");
    LibraryLayout bounds;
    bounds.sectionCount = 96;
    bounds.names.assign(16384, "Discord_Initializ");
    for (const LibraryLayout& layout : {most, bounds}) {
        const std::vector<uint8_t> image = LibraryImage(layout);
        const auto start = std::chrono::steady_clock::now();
        const LibraryJudgement judged = JudgeLibrary(image.data(), image.size(), 0x014C, Wanted, 5);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 1.0) << layout.sectionCount << " sections, " << layout.names.size() << " names";
        EXPECT_NE(judged.verdict, LibraryVerdict::Good);
    }
}

// Each way Windows refuses the DLL gets the advice that fits it: a denied
// change is the folder's protection (Program Files for a standard user),
// never a sign that XMPlay holds the file.
TEST(TroubleFor, TellsAProtectedFolderFromAFileInUseAndAFullDisk) {
    const struct {
        uint32_t error;
        FileTrouble trouble;
    } cases[] = {
        {2, FileTrouble::Missing},   {3, FileTrouble::Missing},         {123, FileTrouble::Missing},
        {161, FileTrouble::Missing}, {5, FileTrouble::ProtectedFolder}, {32, FileTrouble::InUse},
        {33, FileTrouble::InUse},    {1224, FileTrouble::InUse},        {112, FileTrouble::DiskFull},
        {39, FileTrouble::DiskFull}, {0, FileTrouble::Other},           {87, FileTrouble::Other},
    };
    for (const auto& c : cases) EXPECT_EQ(TroubleFor(c.error), c.trouble) << "error " << c.error;
}

}  // namespace
