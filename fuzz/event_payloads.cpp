// Panel traffic as each side receives it. Byte 0: bit 0 picks a command event into the protocol
// service (0) or a reply event into the module's transport (1), bit 1 the reply event type.
#include "command/VoRIXSNMPApi.h"
#include "fuzz/FuzzSupport.h"
#include "host/panel/PanelModel.h"
#include "host/protocol/ProtocolService.h"
#include "link/VoPlatformAppSNMP.h"

using namespace kw::panel;
using namespace kw::protocol;
using Bytes = std::vector<uint8_t>;
using Record = nsVoRIXSNMP::_stVoRIXData;

// A panel that answers at once from a model and remembers what it was asked.
struct ModelLink : PanelLink {
    std::optional<Reply> transact(uint8_t cmd, uint8_t id, const Bytes& data,
                                  std::chrono::milliseconds) override
    {
        asked = Command{cmd, id, data};
        return last = model.handle(cmd, data);
    }
    bool connected() const override { return true; }
    std::string describe() const override { return "fuzz"; }
    void shutdown() override {}
    std::optional<Command> asked;
    Reply last;
    PanelModel model;
};

// Made once, never freed. The service replies to nobody; the fuzzer posts its replies itself.
static auto& link = *new std::shared_ptr<ModelLink>(std::make_shared<ModelLink>());
static auto& service = *new ProtocolService{link, {{}, "kw.fuzz", {}}};
static auto& transport = *new VoPlatformAppSNMP();

// Delivers one event and takes every record the transport stored (the values freed).
static std::vector<Record> deliver(int type, const Bytes& payload)
{
    auto* data = new uint8_t[payload.size() + 1];  // never zero-length; the handler owns it
    std::memcpy(data, payload.data(), payload.size());
    PTEvent ev{type, data, static_cast<uint16_t>(payload.size())};
    check((type == kCommandEvent ? service.t_OnUserMessage(&ev) : transport.ProcEvent(&ev)) == 1);
    std::vector<Record> out;
    auto& list = VoSingletonSNMP<VoRIXSNMPApi>::GetInstance()->m_ReplyList;
    for (; !list.empty(); list.pop_front()) {
        out.push_back(*list.front());
        delete[] list.front()->pData;
        delete list.front();
    }
    return out;
}

KW_FUZZ_TARGET(1100)
{
    const uint8_t mode = in.byte();
    Bytes payload(in.bytes(), in.bytes() + in.size());
    if ((mode & 1) == 0) {
        // A well-formed command reaches the panel unchanged and its reply, posted back, arrives
        // in the module's list as the panel gave it; anything else is dropped and counted.
        const auto expected = parseCommandPayload(payload.data(), payload.size());
        const auto malformed = service.stats().malformed;
        link->asked.reset();
        check(deliver(kCommandEvent, payload).empty());
        check(service.stats().malformed == malformed + (expected ? 0 : 1));
        if (!expected) return check(!link->asked);
        check(link->asked == Command{expected->cmd, expected->displayId, expected->data} &&
              link->last.rcmd == expected->cmd);
        payload = buildReplyPayload(expected->displayId, link->last);
    }
    // A reply event leaves at most the one record of 0xFF, ID, L, ack, rcmd, values[L - 2].
    const auto records = deliver((mode & 2) ? kVoEventRIXReplyAlt : kVoEventRIXReply, payload);
    check(records.size() == 1 || (records.empty() && (mode & 1)));
    if (records.empty()) return;
    const Record& got = records[0];
    check(payload.size() >= 5 && payload[0] == 0xFF && payload[2] >= 2 &&
          payload.size() >= payload[2] + 3u && got.nAck == payload[3] && got.nCmd == payload[4] &&
          got.nSize == payload[2] - 2u);
    check((mode & 1) || (got.nAck == link->last.ack && got.nCmd == link->last.rcmd &&
                         got.nSize == link->last.values.size()));
}
