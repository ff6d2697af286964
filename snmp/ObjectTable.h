#pragma once
// The display MIB as the agent serves it: which request index answers which object, in which
// directions, and how many bytes a set may carry. mibs/KW-DISPLAY-MIB.txt describes the same
// objects; a test holds the two together.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace kw::snmp {

using Oid = std::vector<uint32_t>;

enum class Access {
    ReadWrite,  // get and set
    ReadOnly,   // get only: a set is refused with notWritable
    WriteOnly,  // set only: a get answers noSuchInstance and a walk passes over it
};

struct DisplayObject {
    int index;         // request index handed to the string callback
    const char* name;  // MIB descriptor
    Access access;
    uint8_t setBytes[2];  // byte counts a set accepts (0 = unused slot)
    uint8_t getBytes;     // bytes a get prints as hex; 0 for the text rows
};

// 1.3.6.1.4.1.32473.1: the module's root, also the agent's sysObjectID.
const Oid& rootOid();
// The root followed by `arcs`.
Oid underRoot(std::initializer_list<uint32_t> arcs);
// root.1.1: kwdControl. Request index i lives at kwdControl.(i+1).0.
const Oid& controlOid();

constexpr uint32_t kHolidayTableArc = 61;  // kwdHolidayTable = kwdControl.61
constexpr uint32_t kHolidayEntryArc = 1;
constexpr uint32_t kHolidayIndexColumn = 1;
constexpr uint32_t kHolidayValueColumn = 2;
constexpr uint32_t kHolidayMaxEntry = 255;
constexpr int kHolidayCountIndex = 59;
constexpr int kHolidayEntryIndex = 60;

// Every scalar, ordered by request index (and so by OID).
const std::vector<DisplayObject>& displayObjects();
// The scalar at kwdControl.arc, or null.
const DisplayObject* objectAtArc(uint32_t arc);
const DisplayObject* objectForIndex(int index);
bool acceptsByteCount(const DisplayObject& object, size_t count);
Oid scalarInstance(const DisplayObject& object);
Oid holidayValueInstance(uint32_t entry);

// Numeric twins: a one-byte reading of kwdControl.N also answers as a number at
// kwdNumeric.N, from the same request index (and so the same panel command).
enum class NumberKind {
    Level,  // Gauge32: a setting on a scale (volume, brightness, fan speed...)
    Code,   // Unsigned32: a mode or source code whose meaning is the panel's
    OnOff,  // INTEGER { off(0), on(1) }
};
struct NumericObject {
    int index;         // the hex twin's request index
    const char* name;  // MIB descriptor
    NumberKind kind;
};
// root.1.3: kwdNumeric.
const Oid& numericOid();
const std::vector<NumericObject>& numericObjects();
const NumericObject* numericForIndex(int index);
Oid numericInstance(const NumericObject& object);
// The first twin whose instance lies after `after`; null past the last.
const NumericObject* nextNumeric(const Oid& after);
// Whether a walk that stands at `after` is past kwdControl and so walks the twins. Net-SNMP
// may hand the numeric subtree a name it passed over elsewhere (in kwdHealth, say).
bool walksNumeric(const Oid& after);
// The number a twin answers for its hex twin's text: the first byte. Empty when the text is
// not hex or holds no byte.
std::optional<uint32_t> numberFromText(const std::string& text);

// What an OID names, exactly.
struct Target {
    enum class Kind {
        NoObject,      // nothing of ours is there
        NoInstance,    // an object of ours, but not one of its instances
        Scalar,        // object's .0 instance
        HolidayEntry,  // kwdHolidayValue.entry
        Number,        // a numeric twin's .0 instance
    };
    Kind kind = Kind::NoObject;
    const DisplayObject* object = nullptr;   // for NoInstance of a scalar, and for Scalar
    uint32_t entry = 0;                      // for HolidayEntry
    const NumericObject* numeric = nullptr;  // for Number (object: its hex twin)
    bool holidayTable = false;               // NoObject/NoInstance inside the holiday table
};
Target resolve(const Oid& oid);

// Where a walk that stands at `after` goes next inside kwdControl. A scalar step names the
// next readable scalar; a holiday step names the first entry number (1..255) after `after`,
// which exists only if the panel holds that many entries.
struct WalkStep {
    enum class Kind { End, Scalar, Holiday };
    Kind kind = Kind::End;
    const DisplayObject* object = nullptr;
    uint32_t firstEntry = 0;
    size_t slot = 0;  // position in the walk order, to resume after a skipped holiday table
};
WalkStep nextStep(const Oid& after);
// The step after the one at `slot`, skipping whatever lies between.
WalkStep stepAfterSlot(size_t slot);

int compareOid(const Oid& a, const Oid& b);
std::string oidToString(const Oid& oid);

}  // namespace kw::snmp
