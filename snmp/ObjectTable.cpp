#include "snmp/ObjectTable.h"

#include <algorithm>
#include <optional>

#include "snmp/HexText.h"

namespace kw::snmp {
namespace {

constexpr Access RW = Access::ReadWrite;
constexpr Access RO = Access::ReadOnly;
constexpr Access WO = Access::WriteOnly;

// index, descriptor, access, set byte counts, bytes a get prints (0: characters).
// Indexes 1, 2 and 60 have no scalar; 60 is the holiday table.
const std::vector<DisplayObject> kObjects = {
    {0, "kwdInputSource", RW, {1, 0}, 1},
    {3, "kwdPower", RW, {1, 0}, 1},
    {4, "kwdModelName", RO, {0, 0}, 0},
    {5, "kwdSwVersion", RO, {0, 0}, 0},
    {6, "kwdModelNumber", RO, {0, 0}, 3},
    {7, "kwdScreenSize", RO, {0, 0}, 1},
    {8, "kwdSerialNumber", RO, {0, 0}, 0},
    {9, "kwdPanelOnTime", RO, {0, 0}, 2},
    {10, "kwdDisplayStatus", RO, {0, 0}, 6},
    {11, "kwdDirectChannel", RW, {8, 0}, 8},
    {12, "kwdChannelUpDown", WO, {1, 0}, 0},
    {13, "kwdPMode", RW, {1, 0}, 1},
    {14, "kwdPictureSize", RW, {1, 0}, 1},
    {15, "kwdManualLamp", RW, {1, 0}, 1},
    {16, "kwdContrast", RW, {1, 0}, 1},
    {17, "kwdBrightness", RW, {1, 0}, 1},
    {18, "kwdSharpness", RW, {1, 0}, 1},
    {19, "kwdColor", RW, {1, 0}, 1},
    {20, "kwdTint", RW, {1, 0}, 1},
    {21, "kwdColorTone", RW, {1, 0}, 1},
    {22, "kwdVideoPicturePositionSize", WO, {2, 0}, 0},
    {23, "kwdNrMode", RW, {1, 0}, 1},
    {24, "kwdFilmMode", RW, {1, 0}, 1},
    {25, "kwdEdgeEnhancement", RW, {1, 0}, 1},
    {26, "kwdColorSpace", RW, {1, 0}, 1},
    {27, "kwdXvYcc", RW, {1, 0}, 1},
    {28, "kwdScreenMode", RW, {1, 0}, 1},
    {29, "kwdRgbContrast", RW, {1, 0}, 1},
    {30, "kwdRgbBrightness", RW, {1, 0}, 1},
    {31, "kwdPcColorTone", RW, {1, 0}, 1},
    {32, "kwdGamma", RW, {1, 0}, 1},
    {33, "kwdAutoAdjustmentControl", WO, {1, 0}, 0},
    {34, "kwdAutoAdjustment", RW, {1, 0}, 1},
    {35, "kwdColorTemperature", RW, {1, 0}, 1},
    {36, "kwdDynamicContrast", RW, {1, 0}, 1},
    {37, "kwdHdmiBlackLevel", RW, {1, 0}, 1},
    {38, "kwdAutoMotionPlus", RW, {3, 0}, 3},
    {39, "kwdVolume", RW, {1, 0}, 1},
    {40, "kwdMute", RW, {1, 0}, 1},
    {41, "kwdSMode", RW, {1, 0}, 1},
    {42, "kwdSrsTsxt", RW, {1, 0}, 1},
    {43, "kwdEq100Hz", RW, {1, 0}, 1},
    {44, "kwdEq300Hz", RW, {1, 0}, 1},
    {45, "kwdEq1kHz", RW, {1, 0}, 1},
    {46, "kwdEq3kHz", RW, {1, 0}, 1},
    {47, "kwdEq10kHz", RW, {1, 0}, 1},
    {48, "kwdAutoVolume", RW, {1, 0}, 1},
    {49, "kwdSoundSelect", RW, {1, 0}, 1},
    {50, "kwdClock", RW, {7, 0}, 7},
    {51, "kwdTimer1", RW, {15, 0}, 15},
    {52, "kwdTimer2", RW, {15, 0}, 15},
    {53, "kwdTimer3", RW, {15, 0}, 15},
    {54, "kwdTimer4", RW, {15, 0}, 15},
    {55, "kwdTimer5", RW, {15, 0}, 15},
    {56, "kwdTimer6", RW, {15, 0}, 15},
    {57, "kwdTimer7", RW, {15, 0}, 15},
    {58, "kwdHolidayAddDelete", WO, {5, 0}, 0},
    {59, "kwdHolidayCount", RO, {0, 0}, 1},
    {61, "kwdEnergySaving", RW, {1, 0}, 1},
    {62, "kwdBrightnessSensor", RW, {1, 0}, 1},
    {63, "kwdAmbientBrightnessSensor", RW, {3, 0}, 2},
    {64, "kwdSafetyLock", RW, {1, 0}, 1},
    {65, "kwdPanelLock", RW, {1, 0}, 1},
    {66, "kwdRemoteControl", RW, {1, 0}, 1},
    {67, "kwdAllKeysLock", RW, {1, 0}, 1},
    {68, "kwdPipOnOff", RW, {1, 0}, 1},
    {69, "kwdPipSource", RW, {1, 0}, 1},
    {70, "kwdPipSize", RW, {1, 0}, 1},
    {71, "kwdPipLocate", RW, {1, 0}, 1},
    {72, "kwdPixelShift", RW, {4, 0}, 4},
    {73, "kwdSafetyScreen", RW, {3, 7}, 7},
    {74, "kwdSafetyScreenRun", RW, {1, 0}, 1},
    {75, "kwdVideoWallOn", RW, {1, 0}, 1},
    {76, "kwdVideoWallMode", RW, {1, 0}, 1},
    {77, "kwdVideoWallUser", RW, {2, 0}, 2},
    {78, "kwdAutoPower", RW, {1, 0}, 1},
    {79, "kwdStandby", RW, {1, 0}, 1},
    {80, "kwdAutoLamp", RW, {8, 0}, 8},
    {81, "kwdTemperature", RW, {1, 0}, 1},
    {82, "kwdFan", RW, {1, 0}, 1},
    {83, "kwdFanSpeed", RW, {1, 0}, 1},
    {84, "kwdOsdOnOff", RW, {1, 0}, 1},
    {85, "kwdOsdDisplayType", RW, {2, 0}, 1},
    {86, "kwdPanelOnOff", RW, {1, 0}, 1},
    {87, "kwdReset", WO, {1, 0}, 0},
};

constexpr NumberKind Level = NumberKind::Level;
constexpr NumberKind Code = NumberKind::Code;
constexpr NumberKind OnOff = NumberKind::OnOff;

// Every readable object whose value is one byte, by request index.
const std::vector<NumericObject> kNumeric = {
    {0, "kwdInputSourceValue", Code},
    {3, "kwdPowerValue", OnOff},
    {7, "kwdScreenSizeValue", Level},
    {13, "kwdPModeValue", Code},
    {14, "kwdPictureSizeValue", Code},
    {15, "kwdManualLampValue", Level},
    {16, "kwdContrastValue", Level},
    {17, "kwdBrightnessValue", Level},
    {18, "kwdSharpnessValue", Level},
    {19, "kwdColorValue", Level},
    {20, "kwdTintValue", Level},
    {21, "kwdColorToneValue", Code},
    {23, "kwdNrModeValue", Code},
    {24, "kwdFilmModeValue", Code},
    {25, "kwdEdgeEnhancementValue", Code},
    {26, "kwdColorSpaceValue", Code},
    {27, "kwdXvYccValue", Code},
    {28, "kwdScreenModeValue", Code},
    {29, "kwdRgbContrastValue", Level},
    {30, "kwdRgbBrightnessValue", Level},
    {31, "kwdPcColorToneValue", Code},
    {32, "kwdGammaValue", Code},
    {34, "kwdAutoAdjustmentValue", Code},
    {35, "kwdColorTemperatureValue", Level},
    {36, "kwdDynamicContrastValue", Code},
    {37, "kwdHdmiBlackLevelValue", Code},
    {39, "kwdVolumeValue", Level},
    {40, "kwdMuteValue", OnOff},
    {41, "kwdSModeValue", Code},
    {42, "kwdSrsTsxtValue", Code},
    {43, "kwdEq100HzValue", Level},
    {44, "kwdEq300HzValue", Level},
    {45, "kwdEq1kHzValue", Level},
    {46, "kwdEq3kHzValue", Level},
    {47, "kwdEq10kHzValue", Level},
    {48, "kwdAutoVolumeValue", OnOff},
    {49, "kwdSoundSelectValue", Code},
    {59, "kwdHolidayCountValue", Level},
    {61, "kwdEnergySavingValue", Code},
    {62, "kwdBrightnessSensorValue", OnOff},
    {64, "kwdSafetyLockValue", OnOff},
    {65, "kwdPanelLockValue", OnOff},
    {66, "kwdRemoteControlValue", OnOff},
    {67, "kwdAllKeysLockValue", OnOff},
    {68, "kwdPipOnOffValue", OnOff},
    {69, "kwdPipSourceValue", Code},
    {70, "kwdPipSizeValue", Code},
    {71, "kwdPipLocateValue", Code},
    {74, "kwdSafetyScreenRunValue", Code},
    {75, "kwdVideoWallOnValue", OnOff},
    {76, "kwdVideoWallModeValue", Code},
    {78, "kwdAutoPowerValue", OnOff},
    {79, "kwdStandbyValue", Code},
    {81, "kwdTemperatureValue", Level},
    {82, "kwdFanValue", Code},
    {83, "kwdFanSpeedValue", Level},
    {84, "kwdOsdOnOffValue", OnOff},
    {85, "kwdOsdDisplayTypeValue", Code},
    {86, "kwdPanelOnOffValue", OnOff},
};

// The walk visits the readable scalars and the holiday table in OID order. A slot holds an
// object, or null for the holiday table.
std::vector<const DisplayObject*> buildWalkOrder()
{
    std::vector<const DisplayObject*> order;
    bool holidayPlaced = false;
    for (const DisplayObject& object : kObjects) {
        if (!holidayPlaced && static_cast<uint32_t>(object.index + 1) > kHolidayTableArc) {
            order.push_back(nullptr);
            holidayPlaced = true;
        }
        if (object.access != Access::WriteOnly) {
            order.push_back(&object);
        }
    }
    if (!holidayPlaced) {
        order.push_back(nullptr);
    }
    return order;
}

const std::vector<const DisplayObject*>& walkOrder()
{
    static const std::vector<const DisplayObject*> order = buildWalkOrder();
    return order;
}

bool hasPrefix(const Oid& oid, const Oid& prefix)
{
    return oid.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

const Oid& holidayColumnOid()
{
    static const Oid column = [] {
        Oid oid = controlOid();
        oid.push_back(kHolidayTableArc);
        oid.push_back(kHolidayEntryArc);
        oid.push_back(kHolidayValueColumn);
        return oid;
    }();
    return column;
}

// The first holiday entry number whose instance lies after `after`; 0 when none does.
uint32_t firstEntryAfter(const Oid& after)
{
    const Oid& column = holidayColumnOid();
    if (hasPrefix(after, column)) {
        if (after.size() == column.size()) {
            return 1;
        }
        const uint32_t n = after[column.size()];
        return n >= kHolidayMaxEntry ? 0 : n + 1;
    }
    return compareOid(after, column) < 0 ? 1 : 0;
}

// compareOid(scalarInstance(object), after) for each object in turn, at the cost of one
// comparison of kwdControl's arcs and without building the instances: a walk step compares
// every object, on every GETNEXT varbind.
class InstanceOrder {
public:
    explicit InstanceOrder(const Oid& after) : m_after(after)
    {
        const Oid& prefix = controlOid();
        const size_t n = std::min(prefix.size(), after.size());
        for (size_t i = 0; i < n && m_prefix == 0; ++i) {
            if (prefix[i] != after[i]) m_prefix = prefix[i] < after[i] ? -1 : 1;
        }
        if (m_prefix == 0 && after.size() < prefix.size()) m_prefix = 1;  // above kwdControl
    }

    int compare(const DisplayObject& object) const
    {
        if (m_prefix != 0) return m_prefix;
        const size_t at = controlOid().size();
        const uint32_t own[] = {static_cast<uint32_t>(object.index + 1), 0};
        for (size_t i = 0; i < 2 && at + i < m_after.size(); ++i) {
            if (own[i] != m_after[at + i]) return own[i] < m_after[at + i] ? -1 : 1;
        }
        const size_t rest = m_after.size() - at;
        return rest == 2 ? 0 : (rest < 2 ? 1 : -1);
    }

private:
    const Oid& m_after;
    int m_prefix = 0;
};

WalkStep stepAt(size_t slot, const Oid* after)
{
    const auto& order = walkOrder();
    const std::optional<InstanceOrder> instances =
        after ? std::optional<InstanceOrder>(*after) : std::nullopt;
    for (size_t i = slot; i < order.size(); ++i) {
        const DisplayObject* object = order[i];
        if (object != nullptr) {
            if (!instances || instances->compare(*object) > 0) {
                return {WalkStep::Kind::Scalar, object, 0, i};
            }
            continue;
        }
        const uint32_t entry = after == nullptr ? 1 : firstEntryAfter(*after);
        if (entry != 0) {
            return {WalkStep::Kind::Holiday, nullptr, entry, i};
        }
    }
    return {};
}

}  // namespace

const Oid& rootOid()
{
    static const Oid oid = {1, 3, 6, 1, 4, 1, 32473, 1};
    return oid;
}

Oid underRoot(std::initializer_list<uint32_t> arcs)
{
    Oid oid = rootOid();
    oid.insert(oid.end(), arcs);
    return oid;
}

const Oid& controlOid()
{
    static const Oid oid = underRoot({1, 1});
    return oid;
}

const Oid& numericOid()
{
    static const Oid oid = underRoot({1, 3});
    return oid;
}

const std::vector<NumericObject>& numericObjects()
{
    return kNumeric;
}

const NumericObject* numericForIndex(int index)
{
    auto it = std::lower_bound(kNumeric.begin(), kNumeric.end(), index,
                               [](const NumericObject& o, int i) { return o.index < i; });
    return it != kNumeric.end() && it->index == index ? &*it : nullptr;
}

Oid numericInstance(const NumericObject& object)
{
    Oid oid = numericOid();
    oid.push_back(static_cast<uint32_t>(object.index + 1));
    oid.push_back(0);
    return oid;
}

const NumericObject* nextNumeric(const Oid& after)
{
    for (const NumericObject& object : kNumeric) {
        if (compareOid(numericInstance(object), after) > 0) {
            return &object;
        }
    }
    return nullptr;
}

bool walksNumeric(const Oid& after)
{
    Oid controlEnd = controlOid();
    controlEnd.back() += 1;
    return compareOid(after, controlEnd) >= 0;
}

std::optional<uint32_t> numberFromText(const std::string& text)
{
    auto bytes = parseHexText(text);
    if (!bytes || bytes->empty()) {
        return std::nullopt;
    }
    return (*bytes)[0];
}

const std::vector<DisplayObject>& displayObjects()
{
    return kObjects;
}

const DisplayObject* objectAtArc(uint32_t arc)
{
    if (arc == 0) {
        return nullptr;
    }
    return objectForIndex(static_cast<int>(arc - 1));
}

const DisplayObject* objectForIndex(int index)
{
    auto it = std::lower_bound(kObjects.begin(), kObjects.end(), index,
                               [](const DisplayObject& o, int i) { return o.index < i; });
    return it != kObjects.end() && it->index == index ? &*it : nullptr;
}

bool acceptsByteCount(const DisplayObject& object, size_t count)
{
    return count != 0 && (count == object.setBytes[0] || count == object.setBytes[1]);
}

Oid scalarInstance(const DisplayObject& object)
{
    Oid oid = controlOid();
    oid.push_back(static_cast<uint32_t>(object.index + 1));
    oid.push_back(0);
    return oid;
}

Oid holidayValueInstance(uint32_t entry)
{
    Oid oid = holidayColumnOid();
    oid.push_back(entry);
    return oid;
}

Target resolve(const Oid& oid)
{
    const Oid& control = controlOid();
    Target target;
    const Oid& numeric = numericOid();
    if (hasPrefix(oid, numeric) && oid.size() > numeric.size()) {
        const uint32_t arc = oid[numeric.size()];
        target.numeric = arc == 0 ? nullptr : numericForIndex(static_cast<int>(arc - 1));
        if (target.numeric != nullptr) {
            const bool instance = oid.size() == numeric.size() + 2 && oid.back() == 0;
            target.kind = instance ? Target::Kind::Number : Target::Kind::NoInstance;
            target.object = instance ? objectForIndex(target.numeric->index) : nullptr;
        }
        return target;
    }
    if (!hasPrefix(oid, control) || oid.size() == control.size()) {
        return target;
    }
    const uint32_t arc = oid[control.size()];
    const size_t rest = oid.size() - control.size() - 1;  // sub-identifiers after the arc
    if (arc == kHolidayTableArc) {
        target.holidayTable = true;
        // Only the value column holds instances; table, entry and index column do not.
        const bool valueColumn = rest >= 2 && oid[control.size() + 1] == kHolidayEntryArc &&
                                 oid[control.size() + 2] == kHolidayValueColumn;
        if (!valueColumn) {
            return target;
        }
        if (rest == 3 && oid.back() <= kHolidayMaxEntry) {
            target.kind = Target::Kind::HolidayEntry;
            target.entry = oid.back();
        } else {
            target.kind = Target::Kind::NoInstance;
        }
        return target;
    }
    const DisplayObject* object = objectAtArc(arc);
    if (object == nullptr) {
        return target;
    }
    target.object = object;
    target.kind = rest == 1 && oid.back() == 0 ? Target::Kind::Scalar : Target::Kind::NoInstance;
    return target;
}

WalkStep nextStep(const Oid& after)
{
    return stepAt(0, &after);
}

WalkStep stepAfterSlot(size_t slot)
{
    return stepAt(slot + 1, nullptr);
}

int compareOid(const Oid& a, const Oid& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

std::string oidToString(const Oid& oid)
{
    std::string text;
    for (uint32_t arc : oid) {
        text += '.';
        text += std::to_string(arc);
    }
    return text;
}

}  // namespace kw::snmp
