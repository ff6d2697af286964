#pragma once
// The display side of the agent: turns checked requests into calls of the module's two
// callbacks. It runs on the thread that called main_snmp, one job at a time, and knows nothing
// of Net-SNMP.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/SnmpAgent.h"
#include "snmp/ObjectTable.h"

namespace kw::snmp {

enum class JobKind { Get, GetNext, Set };

struct WorkItem {
    Oid oid;                     // Get/Set: the instance; GetNext: where the walk stands
    std::vector<uint8_t> bytes;  // Set: the value, already converted from hex text
    int textLength = 0;          // Set: the length of that text, handed over as `extra`
};

// The varbinds of one PDU pass that fall to the display, in PDU order.
struct WorkJob {
    JobKind kind = JobKind::Get;
    std::vector<WorkItem> items;
};

struct ItemResult {
    enum class Status {
        Value,         // text holds the value (and oid the instance, for GetNext); Set: done
        EndOfSubtree,  // GetNext: nothing readable after the item's OID
        Failed,        // the callback reported failure (or none is registered)
        NotRun,        // Set: an earlier item of the same PDU failed
    };
    Status status = Status::Failed;
    Oid oid;
    std::string text;
};
using JobResult = std::vector<ItemResult>;

struct Callbacks {
    RIXCallbackFunc string = nullptr;
    RIXCallbackFunc holiday = nullptr;
};

// Reads of one job by request index: a PDU that names an object and its numeric twin (or
// the same object twice) costs the panel one command.
using Readings = std::map<int, std::optional<std::string>>;

// Runs one item of a job of `kind`; `readings` is that job's.
ItemResult serveItem(JobKind kind, const WorkItem& item, const Callbacks& callbacks,
                     Readings& readings);
// Runs every item of `job` in order. A set stops at its first failure.
JobResult serveJob(const WorkJob& job, const Callbacks& callbacks);

}  // namespace kw::snmp
