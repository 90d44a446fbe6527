// The Telnet side of a network line, on whatever a server may send: it never crashes, the
// same stream split at every point decodes to the same data and answers, the answers stay
// within a fixed multiple of what arrived, a cut-off subnegotiation gives the stream back
// to data, and data with 255s everywhere comes back as it went out.
#include "transport/Telnet.h"

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
    const vk9::SerialSettings settings;

    vk9::TelnetClient whole;
    (void)whole.chooseSettings(settings);
    std::string wholeReplies = whole.start();
    const std::string wholeData = whole.decode(bytes, wholeReplies);
    // An answer is at most three bytes for three arrived, plus the settings (about 40 bytes)
    // each time the server agrees to the COM port option, which takes three bytes to say.
    check(wholeData.size() <= size && wholeReplies.size() <= 9 + 20 * size);

    vk9::TelnetClient pieces; // one byte at a time: every negotiation cut at every point
    (void)pieces.chooseSettings(settings);
    std::string pieceReplies = pieces.start();
    std::string pieceData;
    for (const char c : bytes) {
        pieceData += pieces.decode(std::string(1, c), pieceReplies);
    }
    check(pieceData == wholeData && pieceReplies == wholeReplies);

    // Whatever came before, 2000 plain bytes come through, less at most one subnegotiation
    // given up and the command byte that began it.
    std::string ignored;
    const std::string after = whole.decode(std::string(2000, 'A'), ignored);
    check(after.size() + vk9::TelnetClient::kMaxSubnegotiation + vk9::TelnetClient::kMaxSkipped +
              2 >=
          2000);

    for (const bool binary : {false, true}) { // the input as data, out and back in
        vk9::TelnetClient out;
        vk9::TelnetClient in;
        if (binary) { // each agrees to the other's request for binary data
            std::string toIn = out.start();
            std::string toOut = in.start();
            std::string more;
            (void)in.decode(toIn, more);
            (void)out.decode(toOut, more);
        }
        std::string replies;
        check(in.decode(out.encode(bytes), replies) == bytes && replies.empty());
    }
    return 0;
}
