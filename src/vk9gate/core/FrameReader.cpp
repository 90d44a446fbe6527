#include "vk9gate/core/FrameReader.h"

#include "protocol/Frames.h"

#include <cstdio>

namespace vk9::gate {

FrameReader::Read FrameReader::feed(std::string_view bytes) {
    Read read;
    for (const char c : bytes) {
        if (c == '\r') {
            if (m_partial.size() != 3 && m_partial.size() != kLongest) {
                read.wrong = "not a frame: \"" + m_partial + "\" (" +
                             std::to_string(m_partial.size()) + " characters)";
                return read;
            }
            if (const std::string prefix = m_partial.substr(0, m_partial.size() - 3);
                !protocol::knownPrefix(prefix)) {
                read.wrong = "not a frame: no projector has the address " + prefix;
                return read;
            }
            read.frames.push_back(m_partial + c);
            m_partial.clear();
        } else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
            read.wrong = std::string("not a frame: byte ") + hex;
            return read;
        } else if (m_partial.size() == kLongest) {
            read.wrong = "not a frame: more than " + std::to_string(kLongest) +
                         " characters without a carriage return";
            return read;
        } else {
            m_partial += c;
        }
    }
    return read;
}

} // namespace vk9::gate
