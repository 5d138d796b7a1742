// Fuzzes the judging of Discord's answer as nowglow-appid.exe --check reads
// it: the input's first eight bytes are a frame header, the rest its body,
// handed over at the length the header gives when the bytes reach it. Every
// input must give a verdict, without reading beyond the body, and keep the
// texts terminated within their buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "appid/ipc_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < FrameHeaderSize) return 0;
    uint8_t bytes[FrameHeaderSize];
    std::memcpy(bytes, data, FrameHeaderSize);
    const FrameHeader header = ReadFrameHeader(bytes);
    size_t bodySize = size - FrameHeaderSize;
    if (header.length < bodySize) bodySize = header.length;
    // The body in a buffer of its own exact size, so that the sanitizer
    // sees any read beyond it.
    uint8_t* body = static_cast<uint8_t*>(std::malloc(bodySize == 0 ? 1 : bodySize));
    if (body == nullptr) return 0;
    if (bodySize != 0) std::memcpy(body, data + FrameHeaderSize, bodySize);
    const Answer answer = JudgeAnswer(header, body, bodySize);
    std::free(body);
    if (std::memchr(answer.message, 0, sizeof answer.message) == nullptr) std::abort();
    if (std::memchr(answer.userName, 0, sizeof answer.userName) == nullptr) std::abort();
    return 0;
}
