#include "host/panel/Codec.h"

#include <cstdio>
#include <stdexcept>

namespace kw::panel {

std::optional<Dialect> parseDialect(std::string_view text)
{
    if (text == "line") return Dialect::Line;
    if (text == "engine") return Dialect::Engine;
    return std::nullopt;
}

const char* dialectName(Dialect dialect)
{
    return dialect == Dialect::Line ? "line" : "engine";
}

uint8_t checksum(const uint8_t* bytes, size_t count)
{
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

std::vector<uint8_t> encodeCommand(Dialect dialect, const Command& command)
{
    if (command.data.size() > kMaxCommandData)
        throw std::length_error("command data longer than 255 bytes");
    std::vector<uint8_t> frame;
    frame.reserve(command.data.size() + 4);
    frame.push_back(command.cmd);
    if (dialect == Dialect::Line) frame.push_back(command.displayId);
    frame.push_back(static_cast<uint8_t>(command.data.size()));
    frame.insert(frame.end(), command.data.begin(), command.data.end());
    if (dialect == Dialect::Line) frame.push_back(checksum(frame.data(), frame.size()));
    return frame;
}

std::vector<uint8_t> encodeReply(Dialect dialect, uint8_t displayId, const Reply& reply)
{
    if (reply.values.size() > kMaxReplyValues)
        throw std::length_error("reply values longer than 253 bytes");
    std::vector<uint8_t> frame;
    frame.reserve(reply.values.size() + 6);
    frame.push_back(kReplyMarker);
    if (dialect == Dialect::Line) frame.push_back(displayId);
    frame.push_back(static_cast<uint8_t>(reply.values.size() + 2));
    frame.push_back(reply.ack);
    frame.push_back(reply.rcmd);
    frame.insert(frame.end(), reply.values.begin(), reply.values.end());
    frame.push_back(checksum(frame.data(), frame.size()));
    return frame;
}

std::string hexBytes(const uint8_t* bytes, size_t count)
{
    std::string text;
    char cell[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, i ? " %02X" : "%02X", bytes[i]);
        text += cell;
    }
    return text;
}

namespace detail {

ScanningReader::ScanningReader(bool hasChecksum, std::chrono::milliseconds interByteTimeout)
    : m_hasChecksum(hasChecksum), m_interByteTimeout(interByteTimeout)
{
}

void ScanningReader::feed(const uint8_t* bytes, size_t count, TimePoint now)
{
    expire(now);
    if (count == 0) return;
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
    m_lastByte = now;
    process();
}

void ScanningReader::expire(TimePoint now)
{
    if (m_buffer.empty() || !m_lastByte) return;
    if (now - *m_lastByte <= m_interByteTimeout) return;
    ++m_stats.timeouts;
    drain();
}

void ScanningReader::reset()
{
    m_buffer.clear();
    m_lastByte.reset();
    clearFrames();
}

void ScanningReader::consume(size_t count)
{
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(count));
}

void ScanningReader::process()
{
    while (!m_buffer.empty()) {
        const ScanResult r = scan(m_buffer.data(), m_buffer.size(), true);
        switch (r.status) {
            case Scan::Frame:
                take();
                ++m_stats.frames;
                consume(r.length);
                break;
            case Scan::Foreign:
                ++m_stats.foreignFrames;
                consume(r.length);
                break;
            case Scan::BadChecksum:
                ++m_stats.badChecksums;
                ++m_stats.skippedBytes;
                consume(1);
                break;
            case Scan::Invalid:
                ++m_stats.skippedBytes;
                consume(1);
                break;
            case Scan::Incomplete:
                if (!salvageTail()) return;
                break;
        }
    }
}

// Garbage in front of a frame can look like the start of a long frame, which would hold the
// real frame back until the inter-byte timeout. A complete, valid frame that ends exactly
// where the received bytes end is taken at once instead. Needs a checksum to be safe.
bool ScanningReader::salvageTail()
{
    if (!m_hasChecksum) return false;
    const size_t size = m_buffer.size();
    for (size_t offset = 1; offset + 1 < size; ++offset) {
        const ScanResult r = scan(m_buffer.data() + offset, size - offset, false);
        if ((r.status == Scan::Frame || r.status == Scan::Foreign) && r.length == size - offset) {
            m_stats.skippedBytes += offset;
            consume(offset);
            return true;
        }
    }
    return false;
}

// The stalled bytes are dropped; complete frames inside them are still taken. Without a
// checksum nothing inside can be trusted, so everything goes.
void ScanningReader::drain()
{
    if (!m_hasChecksum) {
        m_stats.skippedBytes += m_buffer.size();
        m_buffer.clear();
        return;
    }
    while (!m_buffer.empty()) {
        const ScanResult r = scan(m_buffer.data(), m_buffer.size(), true);
        if (r.status == Scan::Frame) {
            take();
            ++m_stats.frames;
            consume(r.length);
        } else if (r.status == Scan::Foreign) {
            ++m_stats.foreignFrames;
            consume(r.length);
        } else {
            if (r.status == Scan::BadChecksum) ++m_stats.badChecksums;
            ++m_stats.skippedBytes;
            consume(1);
        }
    }
}

}  // namespace detail

CommandReader::CommandReader(Options options)
    : ScanningReader(options.dialect == Dialect::Line, options.interByteTimeout), m_options(options)
{
}

std::optional<Command> CommandReader::next()
{
    if (m_frames.empty()) return std::nullopt;
    Command command = std::move(m_frames.front());
    m_frames.pop_front();
    return command;
}

void CommandReader::take()
{
    m_frames.push_back(std::move(m_scanned));
    m_scanned = Command{};
}

// `store` false is a probe from salvageTail: only a frame of exactly `count` bytes counts.
CommandReader::ScanResult CommandReader::scan(const uint8_t* bytes, size_t count, bool store)
{
    if (m_options.dialect == Dialect::Engine) {
        if (count < 2) return {Scan::Incomplete, 0};
        const size_t need = 2u + bytes[1];
        if (count < need) return {Scan::Incomplete, 0};
        if (store) {
            m_scanned.cmd = bytes[0];
            m_scanned.displayId = 0;
            m_scanned.data.assign(bytes + 2, bytes + need);
        }
        return {Scan::Frame, need};
    }
    if (count < 3) return {Scan::Incomplete, 0};
    const size_t need = 4u + bytes[2];
    if (!store && need != count) return {Scan::Invalid, 0};
    if (count < need) return {Scan::Incomplete, 0};
    if (checksum(bytes, need - 1) != bytes[need - 1]) return {Scan::BadChecksum, 0};
    if (m_options.displayId && bytes[1] != *m_options.displayId) return {Scan::Foreign, need};
    if (store) {
        m_scanned.cmd = bytes[0];
        m_scanned.displayId = bytes[1];
        m_scanned.data.assign(bytes + 3, bytes + need - 1);
    }
    return {Scan::Frame, need};
}

ReplyReader::ReplyReader(Options options)
    : ScanningReader(true, options.interByteTimeout), m_options(options)
{
}

std::optional<Reply> ReplyReader::next()
{
    if (m_frames.empty()) return std::nullopt;
    Reply reply = std::move(m_frames.front());
    m_frames.pop_front();
    return reply;
}

void ReplyReader::take()
{
    m_frames.push_back(std::move(m_scanned));
    m_scanned = Reply{};
}

ReplyReader::ScanResult ReplyReader::scan(const uint8_t* bytes, size_t count, bool store)
{
    if (count == 0) return {Scan::Incomplete, 0};
    if (bytes[0] != kReplyMarker) return {Scan::Invalid, 0};
    // Offset of L; the acknowledgement follows it.
    const size_t at = m_options.dialect == Dialect::Line ? 2 : 1;
    if (count <= at) return {Scan::Incomplete, 0};
    const size_t length = bytes[at];
    if (length < 2) return {Scan::Invalid, 0};
    if (count > at + 1 && bytes[at + 1] != kAck && bytes[at + 1] != kNak) return {Scan::Invalid, 0};
    const size_t need = at + 1 + length + 1;
    if (!store && need != count) return {Scan::Invalid, 0};
    if (count < need) return {Scan::Incomplete, 0};
    if (checksum(bytes, need - 1) != bytes[need - 1]) return {Scan::BadChecksum, 0};
    if (m_options.dialect == Dialect::Line && m_options.displayId &&
        bytes[1] != *m_options.displayId)
        return {Scan::Foreign, need};
    if (store) {
        m_scanned.ack = bytes[at + 1];
        m_scanned.rcmd = bytes[at + 2];
        m_scanned.values.assign(bytes + at + 3, bytes + need - 1);
    }
    return {Scan::Frame, need};
}

}  // namespace kw::panel
