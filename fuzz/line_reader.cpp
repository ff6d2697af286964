// The panel-line readers fed in chunks with gaps, as a panel or host receives bytes. Input:
// byte 0 picks the dialect and display-ID filter; then [length (bits 0-4), gap (5-7)], bytes.
#include "fuzz/FuzzSupport.h"
#include "host/panel/Codec.h"

using namespace kw::panel;

constexpr std::chrono::milliseconds kTimeout(100);

template <typename Reader, typename Frame>
static void roundTrip(Reader again, const std::vector<uint8_t>& wire, const Frame& frame)
{
    again.feed(wire.data(), wire.size(), {});
    const auto back = again.next();
    check(back.has_value() && *back == frame && again.pending() == 0);
}

KW_FUZZ_TARGET(1u << 14)
{
    const uint8_t config = in.byte();
    const Dialect dialect = (config & 1) ? Dialect::Engine : Dialect::Line;
    const auto id = (config & 2) ? std::optional<uint8_t>(config >> 2) : std::nullopt;
    CommandReader commands({dialect, id, kTimeout});
    ReplyReader replies({dialect, id, kTimeout});

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
        // Every frame read re-encodes to one that reads back the same.
        while (auto command = commands.next()) {
            check(command->data.size() <= kMaxCommandData);
            check(!id || dialect == Dialect::Engine || command->displayId == *id);
            roundTrip(CommandReader({dialect, std::nullopt, kTimeout}),
                      encodeCommand(dialect, *command), *command);
        }
        while (auto reply = replies.next()) {
            check((reply->ack == kAck || reply->ack == kNak) &&
                  reply->values.size() <= kMaxReplyValues);
            roundTrip(ReplyReader({dialect, id, kTimeout}),
                      encodeReply(dialect, id.value_or(0), *reply), *reply);
        }
    }
}
