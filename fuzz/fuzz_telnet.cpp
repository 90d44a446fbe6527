// The Telnet side of a network line, on whatever a server may send: it never crashes, the
// same stream split at every point decodes to the same data and answers, the answers never
// outgrow what arrived, and data with 255s everywhere comes back as it went out.
#include "line/Telnet.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const vk9::LineSettings settings;

    vk9::TelnetCodec whole;
    (void)whole.greeting(settings);
    std::string wholeReplies;
    const std::string wholeData = whole.decode(bytes, wholeReplies);
    check(wholeData.size() <= size && wholeReplies.size() <= size);

    vk9::TelnetCodec pieces; // one byte at a time: every negotiation cut at every point
    (void)pieces.greeting(settings);
    std::string pieceReplies;
    std::string pieceData;
    for (const char c : bytes) {
        pieceData += pieces.decode(std::string(1, c), pieceReplies);
    }
    check(pieceData == wholeData && pieceReplies == wholeReplies);

    for (const bool binary : {false, true}) { // the input as data, out and back in
        vk9::TelnetCodec out;
        vk9::TelnetCodec in;
        if (binary) {
            (void)out.greeting(settings);
            (void)in.greeting(settings);
        }
        std::string replies;
        check(in.decode(out.encode(bytes), replies) == bytes && replies.empty());
    }
    return 0;
}
