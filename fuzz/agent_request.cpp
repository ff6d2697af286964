// A decoded varbind list through the agent's table checks and the display-side server, against
// a panel failing every few calls. Input: PDU type and holiday count, failure rate, then per
// varbind [arcs - 1 (bits 0-2), under kwdControl (3), SET text length (4-7)], arcs, text.
#include "fuzz/FuzzSupport.h"
#include "snmp/HexText.h"
#include "snmp/ObjectTable.h"
#include "snmp/RequestServer.h"

using namespace kw::snmp;
using Status = ItemResult::Status;

static struct Panel {
    uint32_t holidays, failEvery, calls;
    bool fails() { return failEvery != 0 && ++calls % failEvery == 0; }
} g_panel;

// The panel is only ever asked what the table allows.
static int panelString(unsigned char* buf, int getset, eFuncType index, int extra)
{
    const DisplayObject* object = objectForIndex(static_cast<int>(index));
    check(object != nullptr && (getset == 0 || getset == 1));
    check(getset == 1 ? object->access != Access::WriteOnly
                      : object->access != Access::ReadOnly && extra > 0 && extra <= 255 * 3);
    if (g_panel.fails()) return 0;
    if (getset == 0) return 1;
    std::memset(buf, 'x', 256);  // a text row fills the whole buffer
    for (unsigned i = 0; i < object->getBytes; ++i)
        std::snprintf(reinterpret_cast<char*>(buf) + 3 * i, 4, i ? " %02X" : "%02X", i);
    return 1;
}

static int panelHoliday(unsigned char* buf, int getset, eFuncType index, int extra)
{
    const bool entry = index == kHolidayEntryIndex && extra >= 0 && extra <= int(kHolidayMaxEntry);
    check(getset == 1 && (index == kHolidayCountIndex || entry));
    if (g_panel.fails()) return 0;
    const char* format = index == kHolidayCountIndex ? "%02X" : "01 01 12 31";
    return std::snprintf(reinterpret_cast<char*>(buf), 256, format, g_panel.holidays);
}

static bool readable(const Target& target)
{
    return target.kind == Target::Kind::HolidayEntry ||
           (target.kind == Target::Kind::Scalar && target.object->access != Access::WriteOnly);
}

KW_FUZZ_TARGET(2048)
{
    const uint8_t head = in.byte();
    WorkJob job{static_cast<JobKind>(head % 3), {}};
    g_panel = Panel{static_cast<uint32_t>(head >> 2), in.byte() % 8u, 0};
    while (in.size() > 0 && job.items.size() < 16) {
        const uint8_t header = in.byte();
        WorkItem item{(header & 8) ? controlOid() : rootOid(), {}, 0};
        for (int arc = 0; arc <= (header & 7); ++arc)  // 0xFF: 2^32-1, the rest as they are
            item.oid.push_back(static_cast<uint32_t>((in.byte() + 1) % 256 - 1));
        const std::string_view text = in.take(header >> 4);
        if (job.kind == JobKind::Set) {
            const Target target = resolve(item.oid);
            const auto bytes = parseHexText(text);
            if (!bytes || target.kind != Target::Kind::Scalar ||
                target.object->access == Access::ReadOnly ||
                !acceptsByteCount(*target.object, bytes->size()))
                return;  // the agent refuses the whole SET
            item.bytes = *bytes;
            item.textLength = static_cast<int>(text.size());
        } else if (job.kind == JobKind::Get ? !readable(resolve(item.oid))
                                            : nextStep(item.oid).kind == WalkStep::Kind::End) {
            continue;  // the agent answers these itself
        }
        job.items.push_back(std::move(item));
    }

    // GET answers name the object asked; GETNEXT answers lie after it, are readable, and step
    // over nothing readable; a SET stops at its first failure and runs nothing after it.
    const JobResult results = serveJob(job, Callbacks{panelString, panelHoliday});
    check(results.size() == job.items.size());
    bool failed = false, scanned = false;
    for (size_t i = 0; i < results.size(); ++i) {
        const ItemResult& result = results[i];
        const Oid& asked = job.items[i].oid;
        check(result.text.size() <= 256 &&
              (result.status == Status::NotRun) == (failed && job.kind == JobKind::Set) &&
              (result.status != Status::EndOfSubtree || job.kind == JobKind::GetNext));
        failed = failed || result.status != Status::Value;
        if (result.status != Status::Value) continue;
        check(job.kind != JobKind::Get || result.oid == asked);
        if (job.kind != JobKind::GetNext) continue;
        const Target target = resolve(result.oid);
        check(compareOid(result.oid, asked) > 0 && readable(target));
        check(target.kind != Target::Kind::HolidayEntry || target.entry <= g_panel.holidays);
        for (const DisplayObject& object : displayObjects()) {  // once: it builds every OID
            if (scanned || object.access == Access::WriteOnly) continue;
            const Oid instance = scalarInstance(object);
            check(compareOid(instance, asked) <= 0 || compareOid(instance, result.oid) >= 0);
        }
        scanned = true;
    }
}
