#pragma once
// Frames on a panel line, and incremental readers for them.
//
// Two dialects:
//   line    command  cmd, ID, N, data[N], checksum
//           reply    0xFF, ID, L, ack, rcmd, values[L-2], checksum
//   engine  command  cmd, N, data[N]                      (no ID, no checksum)
//           reply    0xFF, L, ack, rcmd, values[L-2], checksum
// The checksum is the 8-bit sum of every byte before it. L counts ack, rcmd and the values.
//
// The readers take bytes as they arrive, in chunks of any size. They resynchronise on their
// own: bytes that cannot start a frame, frames with a bad checksum and frames addressed to
// another display are skipped; a partial frame that stalls longer than the inter-byte timeout
// is dropped.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kw::panel {

constexpr uint8_t kAck = 0x41;  // 'A'
constexpr uint8_t kNak = 0x4E;  // 'N'
constexpr uint8_t kReplyMarker = 0xFF;
constexpr size_t kMaxCommandData = 255;  // N is one byte
constexpr size_t kMaxReplyValues = 253;  // L = 2 + values is one byte

enum class Dialect { Line, Engine };

std::optional<Dialect> parseDialect(std::string_view text);
const char* dialectName(Dialect dialect);

struct Command {
    uint8_t cmd = 0;
    uint8_t displayId = 0;  // engine dialect: always 0, the frame has no ID
    std::vector<uint8_t> data;

    bool operator==(const Command& other) const
    {
        return cmd == other.cmd && displayId == other.displayId && data == other.data;
    }
};

struct Reply {
    uint8_t ack = kAck;
    uint8_t rcmd = 0;
    std::vector<uint8_t> values;

    bool acked() const { return ack == kAck; }
    bool operator==(const Reply& other) const
    {
        return ack == other.ack && rcmd == other.rcmd && values == other.values;
    }
};

uint8_t checksum(const uint8_t* bytes, size_t count);

// Throw std::length_error when data or values do not fit the one-byte length field.
std::vector<uint8_t> encodeCommand(Dialect dialect, const Command& command);
std::vector<uint8_t> encodeReply(Dialect dialect, uint8_t displayId, const Reply& reply);

struct ReaderStats {
    uint64_t frames = 0;         // frames handed out
    uint64_t skippedBytes = 0;   // bytes dropped while looking for a frame
    uint64_t badChecksums = 0;   // complete frames whose checksum did not match
    uint64_t foreignFrames = 0;  // valid frames for another display ID
    uint64_t timeouts = 0;       // stalled partial frames dropped
};

namespace detail {

// The framing loop shared by both readers. A derived reader says, for the bytes at the
// front, whether they hold a frame, cannot start one, or are still incomplete.
class ScanningReader {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    ScanningReader(bool hasChecksum, std::chrono::milliseconds interByteTimeout);
    virtual ~ScanningReader() = default;

    // Adds bytes received at `now`. A gap longer than the inter-byte timeout since the
    // previous bytes first drops the stalled partial frame.
    void feed(const uint8_t* bytes, size_t count, TimePoint now);
    // Applies the inter-byte timeout without new bytes.
    void expire(TimePoint now);
    // Forgets every buffered byte and parsed frame; the statistics stay.
    void reset();
    // Bytes of an incomplete frame waiting for the rest.
    size_t pending() const { return m_buffer.size(); }
    const ReaderStats& stats() const { return m_stats; }

protected:
    enum class Scan { Frame, Foreign, Incomplete, Invalid, BadChecksum };
    struct ScanResult {
        Scan status;
        size_t length;  // Frame and Foreign: the frame's length in bytes
    };
    // Looks at the bytes at the front only. On Frame it stores the parsed frame for take().
    virtual ScanResult scan(const uint8_t* bytes, size_t count, bool store) = 0;
    virtual void take() = 0;
    virtual void clearFrames() = 0;

private:
    void process();
    bool salvageTail();
    void drain();
    void consume(size_t count);

    bool m_hasChecksum;
    std::chrono::milliseconds m_interByteTimeout;
    std::vector<uint8_t> m_buffer;
    std::optional<TimePoint> m_lastByte;
    ReaderStats m_stats;
};

}  // namespace detail

// The settings of either reader.
struct ReaderOptions {
    Dialect dialect = Dialect::Line;
    std::optional<uint8_t> displayId;
    std::chrono::milliseconds interByteTimeout{200};
};

// Reads commands, as the panel does. With a display ID, line frames for other IDs are
// skipped; without one every ID is taken. Engine frames carry no ID and no checksum, so this
// reader can only frame them and drop stalled partials.
class CommandReader : public detail::ScanningReader {
public:
    using Options = ReaderOptions;

    explicit CommandReader(Options options);
    std::optional<Command> next();

private:
    ScanResult scan(const uint8_t* bytes, size_t count, bool store) override;
    void take() override;
    void clearFrames() override { m_frames.clear(); }

    Options m_options;
    Command m_scanned;
    std::deque<Command> m_frames;
};

// Reads replies, as the host does. With a display ID, line replies from other IDs are
// skipped. The acknowledgement byte must be 'A' or 'N', and L at least 2.
class ReplyReader : public detail::ScanningReader {
public:
    using Options = ReaderOptions;

    explicit ReplyReader(Options options);
    std::optional<Reply> next();
    // Line dialect: from now on take replies from this display only (empty: any).
    void setDisplayId(std::optional<uint8_t> displayId) { m_options.displayId = displayId; }

private:
    ScanResult scan(const uint8_t* bytes, size_t count, bool store) override;
    void take() override;
    void clearFrames() override { m_frames.clear(); }

    Options m_options;
    Reply m_scanned;
    std::deque<Reply> m_frames;
};

// "01 0A FF": for messages and test output.
std::string hexBytes(const uint8_t* bytes, size_t count);
inline std::string hexBytes(const std::vector<uint8_t>& bytes)
{
    return hexBytes(bytes.data(), bytes.size());
}

}  // namespace kw::panel
