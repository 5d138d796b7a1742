// Discord's IPC as the check speaks it: the handshake's bytes, and the
// verdict and values of every kind of answer, well-formed or hostile.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "appid/ipc_answer.h"

namespace {

std::string Repeated(const std::string& part, int times) {
    std::string text;
    for (int i = 0; i < times; i++) text += part;
    return text;
}

Answer Judge(uint32_t opcode, const std::string& body) {
    FrameHeader header = {opcode, static_cast<uint32_t>(body.size())};
    return JudgeAnswer(header, reinterpret_cast<const uint8_t*>(body.data()), body.size());
}

TEST(BuildHandshake, IsOpcodeZeroTheLengthAndTheJsonWithTheId) {
    uint8_t frame[128];
    const size_t size = BuildHandshake("1234567890123456789", frame, sizeof frame);
    const std::string body = "{\"v\":1,\"client_id\":\"1234567890123456789\"}";
    ASSERT_EQ(size, 8 + body.size());
    const uint8_t header[8] = {0, 0, 0, 0, static_cast<uint8_t>(body.size()), 0, 0, 0};
    EXPECT_EQ(std::memcmp(frame, header, 8), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(frame) + 8, body.size()), body);
    EXPECT_EQ(BuildHandshake("1234567890123456789", frame, size - 1), 0u) << "a frame that does not fit";
    EXPECT_EQ(BuildHandshake("1234567890123456789", frame, 4), 0u);
}

TEST(ReadFrameHeader, IsLittleEndian) {
    const uint8_t header[8] = {2, 0, 0, 0, 0x10, 0x27, 0, 0x80};
    FrameHeader read = ReadFrameHeader(header);
    EXPECT_EQ(read.opcode, 2u);
    EXPECT_EQ(read.length, 0x80002710u);
}

TEST(JudgeAnswer, TellsEveryAnswerApart) {
    const std::string ready =
        "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1,\"config\":{\"cdn_host\":\"cdn.discordapp.com\"},"
        "\"user\":{\"id\":\"1\",\"username\":\"tester\",\"discriminator\":\"0\",\"global_name\":null}},"
        "\"evt\":\"READY\",\"nonce\":null}";
    const struct Case {
        const char* name;
        uint32_t opcode;
        std::string body;
        AnswerVerdict verdict;
        int64_t code;
        const char* text;  // the message of a close, the user of a READY
    } cases[] = {
        {"READY", 1, ready, AnswerVerdict::Ready, 0, "tester"},
        {"READY with a global name", 1,
         "{\"evt\":\"READY\",\"cmd\":\"DISPATCH\",\"data\":{\"user\":{\"username\":\"a\",\"global_name\":"
         "\"Ren\\u00e9e \\ud83c\\udfb5\"}}}",
         AnswerVerdict::Ready, 0,
         "Ren\xC3\xA9"
         "e \xF0\x9F\x8E\xB5"},
        {"a user name elsewhere is not the user's", 1,
         "{\"cmd\":\"DISPATCH\",\"evt\":\"READY\",\"data\":{\"other\":{\"username\":\"x\"}},\"username\":"
         "\"y\"}",
         AnswerVerdict::Ready, 0, ""},
        {"an invalid client ID", 2, "{\"code\":4000,\"message\":\"Invalid Client ID\"}",
         AnswerVerdict::Closed, 4000, "Invalid Client ID"},
        {"another close", 2, " { \"message\" : \"Going \\\"away\\\"\" , \"code\" : 1000 } ",
         AnswerVerdict::Closed, 1000, "Going \"away\""},
        {"a lone high surrogate keeps the escape after it", 2,
         "{\"code\":1,\"message\":\"x\\uD800\\u0041y\\udc00z\"}", AnswerVerdict::Closed, 1,
         "x\xEF\xBF\xBD"
         "Ay\xEF\xBF\xBDz"},
        {"a close without a code", 2, "{\"message\":\"bye\"}", AnswerVerdict::Unexpected, 0, "bye"},
        {"a dispatch that is not READY", 1, "{\"cmd\":\"DISPATCH\",\"evt\":\"ERROR\"}",
         AnswerVerdict::Unexpected, 0, ""},
        {"a handshake sent back", 0, ready, AnswerVerdict::WrongOpcode, 0, ""},
        {"opcode 3", 3, ready, AnswerVerdict::WrongOpcode, 0, ""},
        {"opcode 0x80000001", 0x80000001u, ready, AnswerVerdict::WrongOpcode, 0, ""},
        {"cut short", 1, ready.substr(0, ready.size() - 1), AnswerVerdict::BadJson, 0, ""},
        {"trailing bytes", 1, ready + "x", AnswerVerdict::BadJson, 0, ""},
        {"an array", 1, "[1,2]", AnswerVerdict::BadJson, 0, ""},
        {"empty", 1, "", AnswerVerdict::BadJson, 0, ""},
        {"a bad escape", 1, "{\"cmd\":\"\\q\"}", AnswerVerdict::BadJson, 0, ""},
        {"a control character in a string", 1, "{\"cmd\":\"a\nb\"}", AnswerVerdict::BadJson, 0, ""},
        {"a short unicode escape", 1, "{\"cmd\":\"\\u12\"}", AnswerVerdict::BadJson, 0, ""},
        {"a missing value", 1, "{\"cmd\":}", AnswerVerdict::BadJson, 0, ""},
        {"a bare word", 1, "{\"cmd\":nope}", AnswerVerdict::BadJson, 0, ""},
        {"nesting too deep", 1, "{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}",
         AnswerVerdict::BadJson, 0, ""},
        {"a zero byte", 1, std::string("{\"cmd\":\"DISPATCH\"}\0", 19), AnswerVerdict::BadJson, 0, ""},
        {"a code too large for 64 bits is no code", 2, "{\"code\":99999999999999999999999}",
         AnswerVerdict::Unexpected, 0, ""},
        {"a fractional code is no code", 2, "{\"code\":4000.5}", AnswerVerdict::Unexpected, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answer answer = Judge(c.opcode, c.body);
        EXPECT_EQ(answer.verdict, c.verdict);
        if (c.verdict == AnswerVerdict::Closed) {
            EXPECT_EQ(answer.code, c.code);
        }
        if (c.opcode == 2 && (c.verdict == AnswerVerdict::Closed || c.verdict == AnswerVerdict::Unexpected)) {
            EXPECT_STREQ(answer.message, c.text);
        }
        if (c.verdict == AnswerVerdict::Ready) {
            EXPECT_STREQ(answer.userName, c.text);
        }
    }
}

TEST(JudgeAnswer, JudgesALengthAboveTheBoundByItsHeaderAlone) {
    const FrameHeader huge = {1, LongestAnswer + 1};
    EXPECT_EQ(JudgeAnswer(huge, nullptr, 0).verdict, AnswerVerdict::TooLong);
    const FrameHeader largest = {1, 0xFFFFFFFFu};
    EXPECT_EQ(JudgeAnswer(largest, nullptr, 0).verdict, AnswerVerdict::TooLong);
    const FrameHeader wrong = {5, 0xFFFFFFFFu};
    EXPECT_EQ(JudgeAnswer(wrong, nullptr, 0).verdict, AnswerVerdict::WrongOpcode);
}

TEST(JudgeAnswer, KeepsOnlyWhatFitsOfALongTextEndingAtACharacter) {
    const struct Case {
        const char* name;
        std::string text;  // a user name, raw or escaped
        std::string kept;
    } cases[] = {
        {"ASCII", std::string(500, 'n'), std::string(127, 'n')},
        // 63 two-byte characters fill 126 bytes; the 64th does not fit whole.
        {"raw two-byte characters", Repeated("\xC3\xA9", 100), Repeated("\xC3\xA9", 63)},
        {"escaped two-byte characters", Repeated("\\u00e9", 100), Repeated("\xC3\xA9", 63)},
        // 125 bytes, then a four-byte character that does not fit, then one
        // that would: the text ends before the first.
        {"a character that does not fit ends the text", std::string(125, 'n') + "\xF0\x9F\x8E\xB5" + "x",
         std::string(125, 'n')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answer answer =
            Judge(1, "{\"cmd\":\"DISPATCH\",\"evt\":\"READY\",\"data\":{\"user\":{\"username\":\"" + c.text +
                         "\"}}}");
        ASSERT_EQ(answer.verdict, AnswerVerdict::Ready);
        EXPECT_EQ(std::string(answer.userName), c.kept);
    }
}

}  // namespace
