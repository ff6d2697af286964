// The two events that carry panel traffic between the module and the protocol service, as
// either side receives them from the other: a command event (0x2807) into the service's event
// handler, and a reply event (0x2808/0x2809) into the module's transport. A well-formed
// command must reach the panel unchanged and its reply, posted back, must arrive in the
// module's reply list as the panel gave it; anything else is dropped without a trace. A raw
// reply event leaves at most the one record its header describes.
//
// Input: byte 0 bit 0 picks the side (0: service, 1: transport), bit 1 the reply event type;
// the rest is the payload.
#include <cstring>

#include "command/VoRIXSNMPApi.h"
#include "fuzz/FuzzSupport.h"
#include "host/panel/PanelModel.h"
#include "host/protocol/ProtocolService.h"
#include "link/VoPlatformAppSNMP.h"

using kw::fuzz::check;
using kw::panel::Reply;

namespace {

// A panel that answers at once, and remembers what it was asked.
class ModelLink : public kw::panel::PanelLink {
public:
    std::optional<Reply> transact(uint8_t cmd, uint8_t displayId, const std::vector<uint8_t>& data,
                                  std::chrono::milliseconds) override
    {
        asked = kw::protocol::CommandPayload{cmd, displayId, data};
        last = m_model.handle(cmd, data);
        return last;
    }
    bool connected() const override { return true; }
    std::string describe() const override { return "fuzz"; }
    void shutdown() override {}

    std::optional<kw::protocol::CommandPayload> asked;
    Reply last;

private:
    kw::panel::PanelModel m_model;  // made once; its registers carry over between inputs
};

// Made once, kept for the process. The service's replies go to an application nobody
// registered (the framework frees them); the test hands them to the transport itself.
struct Sides {
    std::shared_ptr<ModelLink> link = std::make_shared<ModelLink>();
    kw::protocol::ProtocolService service{link, {std::chrono::milliseconds(0), "kw.fuzz.none", {}}};
    VoPlatformAppSNMP* transport = new VoPlatformAppSNMP();
    VoRIXSNMPApi* api = VoSingletonSNMP<VoRIXSNMPApi>::GetInstance();
};

// Takes every record the transport delivered (their headers; the values are freed).
std::vector<nsVoRIXSNMP::_stVoRIXData> drain(VoRIXSNMPApi* api)
{
    std::vector<nsVoRIXSNMP::_stVoRIXData> out;
    for (nsVoRIXSNMP::_stVoRIXData* record : api->m_ReplyList) {
        out.push_back(*record);
        delete[] record->pData;
        delete record;
    }
    api->m_ReplyList.clear();
    return out;
}

int deliver(Sides& s, int type, const uint8_t* bytes, size_t size)
{
    PTEvent ev;
    ev.nEventType = type;
    ev.pData = new uint8_t[size + 1];  // never a zero-length array; the handler owns it
    std::memcpy(ev.pData, bytes, size);
    ev.nDataSize = static_cast<uint16_t>(size);
    return type == kw::protocol::kCommandEvent ? s.service.t_OnUserMessage(&ev)
                                               : s.transport->ProcEvent(&ev);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 1100) return 0;
    static Sides& s = *new Sides();
    const uint8_t mode = data[0];
    const uint8_t* payload = data + 1;
    const size_t length = size - 1;
    const int replyType = (mode & 2) ? kVoEventRIXReplyAlt : kVoEventRIXReply;

    if ((mode & 1) == 0) {
        const auto expected = kw::protocol::parseCommandPayload(payload, length);
        const auto before = s.service.stats();
        s.link->asked.reset();
        check(deliver(s, kw::protocol::kCommandEvent, payload, length) == 1);
        const auto after = s.service.stats();
        check(after.malformed == before.malformed + (expected ? 0 : 1));
        check(s.link->asked.has_value() == expected.has_value());
        if (!expected) return 0;
        check(s.link->asked->cmd == expected->cmd && s.link->asked->data == expected->data &&
              s.link->asked->displayId == expected->displayId);
        // The service's reply, as the module's transport receives it.
        const auto reply = kw::protocol::buildReplyPayload(expected->displayId, s.link->last);
        check(deliver(s, replyType, reply.data(), reply.size()) == 1);
        const auto records = drain(s.api);
        check(records.size() == 1 && records[0].nCmd == s.link->last.rcmd &&
              records[0].nAck == s.link->last.ack &&
              records[0].nSize == s.link->last.values.size());
        return 0;
    }

    check(deliver(s, replyType, payload, length) == 1);
    const auto records = drain(s.api);
    check(records.size() <= 1);
    if (records.size() == 1) {
        // 0xFF, ID, L, ack, rcmd, values[L - 2]: the ID is dropped, the rest is the record.
        check(length >= 5 && payload[0] == 0xFF && payload[2] >= 2 && length >= payload[2] + 3u);
        check(records[0].nAck == payload[3] && records[0].nCmd == payload[4] &&
              records[0].nSize == payload[2] - 2u);
    }
    return 0;
}
