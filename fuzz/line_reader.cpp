// Feeds arbitrary bytes to the panel-line readers, as a panel or a host would receive them
// from the wire: in chunks of varying size with varying gaps, so the inter-byte timeout and
// the resynchronisation run too. Every frame handed out must re-encode to a frame that reads
// back the same; every command is then answered by the panel model.
//
// Input: byte 0 picks the dialect and the display-ID filter; then records of
// [chunk length (low 5 bits) + gap (high 3 bits)] followed by that many bytes.
//
// The panel model is made once: building its register table per input cost more than all
// the reading. It keeps its registers from one input to the next; nothing checked here
// depends on them.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "host/panel/Codec.h"
#include "host/panel/PanelModel.h"

using namespace kw::panel;
using kw::fuzz::check;

namespace {

constexpr size_t kMaxFrame = 4 + 255;

void checkCommand(Dialect dialect, const Command& command)
{
    check(command.data.size() <= kMaxCommandData);
    const auto frame = encodeCommand(dialect, command);
    CommandReader again({dialect, std::nullopt, std::chrono::milliseconds(100)});
    again.feed(frame.data(), frame.size(), {});
    const auto back = again.next();
    check(back.has_value() && *back == command && again.pending() == 0);
}

void checkReply(Dialect dialect, uint8_t id, const Reply& reply)
{
    check(reply.ack == kAck || reply.ack == kNak);
    check(reply.values.size() <= kMaxReplyValues);
    const auto frame = encodeReply(dialect, id, reply);
    ReplyReader again({dialect, id, std::chrono::milliseconds(100)});
    again.feed(frame.data(), frame.size(), {});
    const auto back = again.next();
    check(back.has_value() && *back == reply && again.pending() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 1u << 14) return 0;
    const uint8_t config = data[0];
    const Dialect dialect = (config & 1) ? Dialect::Engine : Dialect::Line;
    const std::optional<uint8_t> id =
        (config & 2) ? std::optional<uint8_t>(static_cast<uint8_t>(config >> 2)) : std::nullopt;
    const auto timeout = std::chrono::milliseconds(100);

    CommandReader commands({dialect, id, timeout});
    ReplyReader replies({dialect, id, timeout});
    // A fixed clock, so the clock's answers do not depend on when the fuzzer runs.
    static PanelModel model(PanelModel::Options{
        [] { return std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)); },
        std::chrono::seconds(0)});

    std::chrono::steady_clock::time_point now{};
    size_t at = 1;
    while (at < size) {
        const uint8_t header = data[at++];
        const size_t length = std::min<size_t>(header & 0x1F, size - at);
        now += std::chrono::milliseconds(40 * (header >> 5));  // 0 to 280 ms
        commands.feed(data + at, length, now);
        replies.feed(data + at, length, now);
        at += length;
        check(commands.pending() < kMaxFrame && replies.pending() < kMaxFrame);

        while (auto command = commands.next()) {
            checkCommand(dialect, *command);
            if (id) check(dialect == Dialect::Engine || command->displayId == *id);
            const Reply answer = model.handle(*command);
            check(answer.rcmd == command->cmd);
            checkReply(dialect, command->displayId, answer);
        }
        while (auto reply = replies.next()) checkReply(dialect, id.value_or(0), *reply);
    }
    // Whatever is left stalls out.
    now += std::chrono::seconds(1);
    commands.expire(now);
    replies.expire(now);
    check(commands.pending() == 0 && replies.pending() == 0);
    while (auto command = commands.next()) checkCommand(dialect, *command);
    while (auto reply = replies.next()) checkReply(dialect, id.value_or(0), *reply);
    return 0;
}
