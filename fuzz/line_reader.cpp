// The panel-line readers fed in chunks with gaps, as a panel or host receives bytes. Input:
// byte 0 picks the dialect and display-ID filter; then [length (bits 0-4), gap (5-7)], bytes.
#include "fuzz/FuzzSupport.h"
#include "host/panel/Codec.h"
#include "host/panel/PanelModel.h"

using namespace kw::panel;

constexpr std::chrono::milliseconds kTimeout(100);

template <typename Reader, typename Frame>
static void roundTrip(Reader again, const std::vector<uint8_t>& wire, const Frame& frame)
{
    again.feed(wire.data(), wire.size(), {});
    const auto back = again.next();
    check(back.has_value() && *back == frame && again.pending() == 0);
}

static void checkReply(Dialect dialect, uint8_t id, const Reply& reply)
{
    check((reply.ack == kAck || reply.ack == kNak) && reply.values.size() <= kMaxReplyValues);
    roundTrip(ReplyReader({dialect, id, kTimeout}), encodeReply(dialect, id, reply), reply);
}

KW_FUZZ_TARGET(1u << 14)
{
    const uint8_t config = in.byte();
    const Dialect dialect = (config & 1) ? Dialect::Engine : Dialect::Line;
    const auto id = (config & 2) ? std::optional<uint8_t>(config >> 2) : std::nullopt;
    CommandReader commands({dialect, id, kTimeout});
    ReplyReader replies({dialect, id, kTimeout});
    // Made once (its register table costs more than the reading), at a fixed time of day.
    static PanelModel model(PanelModel::Options{
        [] { return std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)); },
        std::chrono::seconds(0)});

    std::chrono::steady_clock::time_point now{};
    for (bool done = false; !done;) {
        done = in.size() == 0;  // then whatever is left stalls out
        const uint8_t header = in.byte();
        const std::string_view chunk = in.take(header & 0x1F);
        now += std::chrono::milliseconds(done ? 1000 : 40 * (header >> 5));  // 0 to 280 ms
        for (auto* reader : std::initializer_list<detail::ScanningReader*>{&commands, &replies}) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(chunk.data());
            done ? reader->expire(now) : reader->feed(bytes, chunk.size(), now);
            check(reader->pending() < (done ? 1u : 4 + 255u));
        }
        // Every frame read re-encodes to one that reads back the same; the model answers commands.
        while (auto command = commands.next()) {
            check(command->data.size() <= kMaxCommandData);
            check(!id || dialect == Dialect::Engine || command->displayId == *id);
            roundTrip(CommandReader({dialect, std::nullopt, kTimeout}),
                      encodeCommand(dialect, *command), *command);
            const Reply answer = model.handle(*command);
            check(answer.rcmd == command->cmd);
            checkReply(dialect, command->displayId, answer);
        }
        while (auto reply = replies.next()) checkReply(dialect, id.value_or(0), *reply);
    }
}
