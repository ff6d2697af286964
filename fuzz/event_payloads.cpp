// Panel traffic between the module and the protocol service, as each side receives it: byte 0
// bit 0 picks a command event into the service (0) or a reply event into the transport (1),
// bit 1 the reply event type; the rest is the payload.
#include <cstring>

#include "command/VoRIXSNMPApi.h"
#include "fuzz/FuzzSupport.h"
#include "host/panel/PanelModel.h"
#include "host/protocol/ProtocolService.h"
#include "link/VoPlatformAppSNMP.h"

using kw::fuzz::check;
using Record = nsVoRIXSNMP::_stVoRIXData;

// A panel that answers at once from a model and remembers what it was asked.
struct ModelLink : kw::panel::PanelLink {
    std::optional<kw::panel::Reply> transact(uint8_t cmd, uint8_t id,
                                             const std::vector<uint8_t>& data,
                                             std::chrono::milliseconds) override
    {
        asked = kw::panel::Command{cmd, id, data};
        return last = model.handle(cmd, data);
    }
    bool connected() const override { return true; }
    std::string describe() const override { return "fuzz"; }
    void shutdown() override {}
    std::optional<kw::panel::Command> asked;
    kw::panel::Reply last;
    kw::panel::PanelModel model;
};

// Made once, never destroyed. The service replies to an application nobody registered (the
// framework frees them); the fuzzer hands its replies to the transport itself.
static auto& link = *new std::shared_ptr<ModelLink>(std::make_shared<ModelLink>());
static auto& service = *new kw::protocol::ProtocolService{link, {{}, "kw.fuzz", {}}};
static auto& transport = *new VoPlatformAppSNMP();

// Delivers one event and takes every record the transport stored (the values freed).
static std::vector<Record> deliver(int type, const uint8_t* bytes, size_t size)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.pData = new uint8_t[size + 1];  // never zero-length; the handler owns it
    std::memcpy(ev.pData, bytes, size);
    ev.nDataSize = static_cast<uint16_t>(size);
    check((type == kw::protocol::kCommandEvent ? service.t_OnUserMessage(&ev)
                                               : transport.ProcEvent(&ev)) == 1);
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
    const int replyType = (mode & 2) ? kVoEventRIXReplyAlt : kVoEventRIXReply;
    const uint8_t* payload = in.bytes();
    const size_t length = in.size();
    if (mode & 1) {  // at most the one record of 0xFF, ID, L, ack, rcmd, values[L - 2]
        const auto records = deliver(replyType, payload, length);
        check(records.size() <= 1);
        if (records.size() == 1)
            check(length >= 5 && payload[0] == 0xFF && payload[2] >= 2 &&
                  length >= payload[2] + 3u && records[0].nAck == payload[3] &&
                  records[0].nCmd == payload[4] && records[0].nSize == payload[2] - 2u);
        return;
    }
    // A well-formed command reaches the panel unchanged and its reply arrives in the module's
    // list as the panel gave it; anything else is dropped and counted.
    const auto expected = kw::protocol::parseCommandPayload(payload, length);
    const auto malformed = service.stats().malformed;
    link->asked.reset();
    check(deliver(kw::protocol::kCommandEvent, payload, length).empty());
    check(service.stats().malformed == malformed + (expected ? 0 : 1));
    check(link->asked.has_value() == expected.has_value());
    if (!expected) return;
    check(*link->asked == kw::panel::Command{expected->cmd, expected->displayId, expected->data});
    const auto reply = kw::protocol::buildReplyPayload(expected->displayId, link->last);
    const auto records = deliver(replyType, reply.data(), reply.size());
    check(records.size() == 1 && records[0].nCmd == link->last.rcmd &&
          records[0].nAck == link->last.ack && records[0].nSize == link->last.values.size());
}
