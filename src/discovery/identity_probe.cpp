#include "discovery/identity_probe.hpp"

#include "discovery/live_camera_packet.hpp"

namespace velk {

IdentityReplyReader::State IdentityReplyReader::feed(std::string_view bytes) {
    while (m_state == State::needMore && !bytes.empty()) {
        if (!m_length) {
            std::size_t take = std::min<std::size_t>(4 - m_header.size(), bytes.size());
            m_header.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (m_header.size() < 4) break;
            std::uint32_t length = 0;
            for (unsigned char byte : m_header) length = (length << 8) | byte;
            if (length == 0 || length > maximumDatagramBytes) {
                m_state = State::invalid;
                break;
            }
            m_length = length;
            m_body.reserve(length);
            continue;
        }
        std::size_t take = std::min<std::size_t>(*m_length - m_body.size(), bytes.size());
        m_body.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (m_body.size() == *m_length) m_state = State::complete;
    }
    return m_state;
}

std::size_t IdentityReplyReader::wanted() const {
    if (m_state != State::needMore) return 0;
    if (!m_length) return 4 - m_header.size();
    return *m_length - m_body.size();
}

} // namespace velk
