// The agent's request path after Net-SNMP has decoded a PDU: the varbinds are checked against
// the object table as the agent does (what may reach the display, and a SET's values), the
// remainder runs through the display-side server, and a made-up panel answers. Every answer
// must name the object asked for (GET), lie after it and be readable (GETNEXT), or keep a
// SET's all-or-nothing order; the panel must only ever be asked what the table allows.
//
// Input: byte 0 picks the PDU type and how many holiday entries the panel holds; byte 1 how
// often the panel fails; then varbinds of [header: arc count (low 3 bits), under kwdControl
// (bit 3), value text length for a SET (high 4 bits)], the arcs, a byte each (0xFF: 2^32-1),
// and the value text.
#include <cstdio>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "snmp/HexText.h"
#include "snmp/ObjectTable.h"
#include "snmp/RequestServer.h"

using namespace kw::snmp;
using kw::fuzz::check;

namespace {

// The made-up panel, reset per input: its holiday count, and every how many calls it fails.
struct Panel {
    uint32_t holidays, failEvery, calls;
    bool fails() { return failEvery != 0 && ++calls % failEvery == 0; }
} g_panel;

int panelString(unsigned char* buf, int getset, eFuncType index, int extra)
{
    const DisplayObject* object = objectForIndex(static_cast<int>(index));
    check(object != nullptr);
    if (getset == 0) {
        check(object->access != Access::ReadOnly && extra > 0 && extra <= 255 * 3);
        return g_panel.fails() ? 0 : 1;
    }
    check(getset == 1 && object->access != Access::WriteOnly);
    if (g_panel.fails()) return 0;
    std::memset(buf, 'x', 256);  // text rows: text that fills the whole buffer
    for (unsigned i = 0; i < object->getBytes; ++i)
        std::snprintf(reinterpret_cast<char*>(buf) + 3 * i, 4, i ? " %02X" : "%02X", i);
    return 1;
}

int panelHoliday(unsigned char* buf, int getset, eFuncType index, int extra)
{
    check(getset == 1);
    if (g_panel.fails()) return 0;
    auto* text = reinterpret_cast<char*>(buf);
    if (index == kHolidayCountIndex) return std::snprintf(text, 256, "%02X", g_panel.holidays);
    check(index == kHolidayEntryIndex && extra >= 0 && extra <= int(kHolidayMaxEntry));
    return std::snprintf(text, 256, "01 01 12 31");
}

// The agent's own checks before a varbind is queued for the display.
bool readable(const Target& target)
{
    return target.kind == Target::Kind::HolidayEntry ||
           (target.kind == Target::Kind::Scalar && target.object->access != Access::WriteOnly);
}

bool writable(const Oid& oid, std::string_view text)
{
    const Target target = resolve(oid);
    if (target.kind != Target::Kind::Scalar || target.object->access == Access::ReadOnly)
        return false;
    const auto bytes = parseHexText(text);
    return bytes && acceptsByteCount(*target.object, bytes->size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 2048) return 0;
    kw::fuzz::Input in{{reinterpret_cast<const char*>(data), size}};
    const uint8_t head = in.byte();
    WorkJob job;
    job.kind = static_cast<JobKind>(head % 3);
    g_panel = Panel{static_cast<uint32_t>(head >> 2), in.byte() % 8u, 0};

    bool refused = false;  // a SET with one bad varbind is refused whole
    while (!in.empty() && job.items.size() < 16) {
        const uint8_t header = in.byte();
        WorkItem item{(header & 8) ? controlOid() : rootOid(), {}, 0};
        for (int arc = 0; arc <= (header & 7); ++arc) {
            const uint8_t b = in.byte();
            item.oid.push_back(b == 0xFF ? UINT32_MAX : b);
        }
        const std::string_view text = in.take(header >> 4);
        switch (job.kind) {
            case JobKind::Get:
                if (!readable(resolve(item.oid))) continue;
                break;
            case JobKind::GetNext:
                if (nextStep(item.oid).kind == WalkStep::Kind::End) continue;
                break;
            case JobKind::Set:
                refused = refused || !writable(item.oid, text);
                item.bytes = parseHexText(text).value_or(std::vector<uint8_t>{});
                item.textLength = static_cast<int>(text.size());
                break;
        }
        job.items.push_back(std::move(item));
    }
    if (refused) return 0;

    const JobResult results = serveJob(job, Callbacks{panelString, panelHoliday});
    check(results.size() == job.items.size());
    bool setFailed = false, scanned = false;
    for (size_t i = 0; i < results.size(); ++i) {
        const ItemResult& result = results[i];
        const Oid& asked = job.items[i].oid;
        check(result.text.size() <= 256);
        if (result.status != ItemResult::Status::Value) {
            check((result.status == ItemResult::Status::NotRun) ==
                  (setFailed && job.kind == JobKind::Set));
            check(result.status != ItemResult::Status::EndOfSubtree ||
                  job.kind == JobKind::GetNext);
            setFailed = true;
            continue;
        }
        check(!setFailed || job.kind != JobKind::Set);
        if (job.kind == JobKind::Get) check(result.oid == asked);
        if (job.kind != JobKind::GetNext) continue;
        const Target target = resolve(result.oid);
        check(compareOid(result.oid, asked) > 0 && readable(target));
        check(target.kind != Target::Kind::HolidayEntry || target.entry <= g_panel.holidays);
        // Nothing readable was stepped over (checked once per input: it builds every OID).
        for (const DisplayObject& object : displayObjects()) {
            if (scanned || object.access == Access::WriteOnly) continue;
            const Oid instance = scalarInstance(object);
            check(compareOid(instance, asked) <= 0 || compareOid(instance, result.oid) >= 0);
        }
        scanned = true;
    }
    return 0;
}
