#include "snmp/RequestServer.h"

#include <cstring>
#include <optional>

#include "snmp/HexText.h"

namespace kw::snmp {
namespace {

constexpr size_t kValueBufferSize = 256;
constexpr int kGet = 1;
constexpr int kSet = 0;

// One callback call with a zeroed buffer. A get's answer is the text up to the first zero
// byte; the buffer keeps one byte more than it hands over, so the text always ends.
std::optional<std::string> call(RIXCallbackFunc fn, int getset, int index, int extra,
                                const std::vector<uint8_t>* setBytes = nullptr)
{
    if (fn == nullptr) {
        return std::nullopt;
    }
    unsigned char buf[kValueBufferSize + 1] = {};
    if (setBytes != nullptr) {
        std::memcpy(buf, setBytes->data(), std::min(setBytes->size(), kValueBufferSize));
    }
    if (fn(buf, getset, static_cast<eFuncType>(index), extra) == 0) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(buf),
                       ::strnlen(reinterpret_cast<const char*>(buf), kValueBufferSize));
}

ItemResult failed()
{
    return {ItemResult::Status::Failed, {}, {}};
}

ItemResult value(Oid oid, std::string text)
{
    return {ItemResult::Status::Value, std::move(oid), std::move(text)};
}

ItemResult readIndex(int index, Oid instance, const Callbacks& callbacks, Readings& readings)
{
    auto it = readings.find(index);
    if (it == readings.end()) {
        it = readings.emplace(index, call(callbacks.string, kGet, index, 0)).first;
    }
    return it->second ? value(std::move(instance), *it->second) : failed();
}

ItemResult getScalar(const DisplayObject& object, const Callbacks& callbacks, Readings& readings)
{
    return readIndex(object.index, scalarInstance(object), callbacks, readings);
}

ItemResult getHolidayEntry(uint32_t entry, const Callbacks& callbacks)
{
    auto text = call(callbacks.holiday, kGet, kHolidayEntryIndex, static_cast<int>(entry));
    return text ? value(holidayValueInstance(entry), std::move(*text)) : failed();
}

// The number of holiday entries the panel holds: the first value of the holiday reply.
std::optional<uint32_t> holidayCount(const Callbacks& callbacks)
{
    auto text = call(callbacks.holiday, kGet, kHolidayCountIndex, 0);
    if (!text) {
        return std::nullopt;
    }
    auto bytes = parseHexText(*text);
    if (!bytes || bytes->empty()) {
        return std::nullopt;
    }
    return (*bytes)[0];
}

ItemResult get(const WorkItem& item, const Callbacks& callbacks, Readings& readings)
{
    const Target target = resolve(item.oid);
    switch (target.kind) {
        case Target::Kind::Scalar:
            return getScalar(*target.object, callbacks, readings);
        case Target::Kind::Number:
            return readIndex(target.numeric->index, item.oid, callbacks, readings);
        case Target::Kind::HolidayEntry:
            return getHolidayEntry(target.entry, callbacks);
        default:
            return failed();  // the agent checks targets before it queues them
    }
}

ItemResult getNext(const WorkItem& item, const Callbacks& callbacks, Readings& readings)
{
    if (walksNumeric(item.oid)) {
        const NumericObject* next = nextNumeric(item.oid);
        if (next == nullptr) {
            return {ItemResult::Status::EndOfSubtree, {}, {}};
        }
        return readIndex(next->index, numericInstance(*next), callbacks, readings);
    }
    WalkStep step = nextStep(item.oid);
    while (step.kind != WalkStep::Kind::End) {
        if (step.kind == WalkStep::Kind::Scalar) {
            return getScalar(*step.object, callbacks, readings);
        }
        auto count = holidayCount(callbacks);
        if (!count) {
            return failed();
        }
        if (step.firstEntry <= *count) {
            return getHolidayEntry(step.firstEntry, callbacks);
        }
        step = stepAfterSlot(step.slot);
    }
    return {ItemResult::Status::EndOfSubtree, {}, {}};
}

ItemResult set(const WorkItem& item, const Callbacks& callbacks)
{
    const Target target = resolve(item.oid);
    if (target.kind != Target::Kind::Scalar) {
        return failed();
    }
    auto done = call(callbacks.string, kSet, target.object->index, item.textLength, &item.bytes);
    return done ? ItemResult{ItemResult::Status::Value, item.oid, {}} : failed();
}

}  // namespace

ItemResult serveItem(JobKind kind, const WorkItem& item, const Callbacks& callbacks,
                     Readings& readings)
{
    switch (kind) {
        case JobKind::Get:
            return get(item, callbacks, readings);
        case JobKind::GetNext:
            return getNext(item, callbacks, readings);
        case JobKind::Set:
            return set(item, callbacks);
    }
    return failed();
}

JobResult serveJob(const WorkJob& job, const Callbacks& callbacks)
{
    JobResult results;
    results.reserve(job.items.size());
    bool setFailed = false;
    Readings readings;
    for (const WorkItem& item : job.items) {
        if (setFailed) {
            results.push_back({ItemResult::Status::NotRun, {}, {}});
            continue;
        }
        results.push_back(serveItem(job.kind, item, callbacks, readings));
        setFailed = job.kind == JobKind::Set && results.back().status != ItemResult::Status::Value;
    }
    return results;
}

}  // namespace kw::snmp
