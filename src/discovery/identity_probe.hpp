#pragma once
// The TCP identity probe on port 45455: one request byte, then one reply framed by a 32-bit
// big-endian length of 1 to 8192 bytes holding one status packet.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velk {

constexpr std::uint16_t identityProbePort = 45455;
constexpr char identityProbeRequest = '\x03';
constexpr double identityProbeTimeoutMs = 800;
constexpr std::size_t maximumConcurrentProbes = 8;

// Collects the reply as bytes arrive.
class IdentityReplyReader {
public:
    enum class State { needMore, complete, invalid };
    State feed(std::string_view bytes);
    State state() const { return m_state; }
    // The body, once complete.
    const std::string& body() const { return m_body; }
    // How many more bytes are wanted right now (header or body).
    std::size_t wanted() const;

private:
    State m_state = State::needMore;
    std::string m_header;
    std::optional<std::uint32_t> m_length;
    std::string m_body;
};

} // namespace velk
