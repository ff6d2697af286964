#include "host/panel/PanelModel.h"

#include <algorithm>
#include <ctime>

namespace kw::panel {
namespace {

// Commands whose answer is computed or whose handling is not a plain register.
constexpr uint8_t kPower = 0x11;
constexpr uint8_t kSerialNumber = 0x0B;
constexpr uint8_t kDisplayStatus = 0x0D;
constexpr uint8_t kSoftwareVersion = 0x0E;
constexpr uint8_t kDirectChannel = 0x17;
constexpr uint8_t kSafetyScreen = 0x5B;
constexpr uint8_t kChannelUpDown = 0x61;
constexpr uint8_t kPanelOnTime = 0x83;
constexpr uint8_t kTemperature = 0x85;
constexpr uint8_t kVideoWallUser = 0x89;
constexpr uint8_t kModelName = 0x8A;
constexpr uint8_t kReset = 0x9F;
constexpr uint8_t kAmbientSensor = 0xA1;
constexpr uint8_t kClock = 0xA7;
constexpr uint8_t kHolidaySet = 0xA8;
constexpr uint8_t kHolidayGet = 0xA9;

constexpr int kMinYear = 2000;
constexpr int kMaxYear = 2099;
constexpr int64_t kInitialOnTimeHours = 1234;

const std::vector<uint8_t> kSources = {0x04, 0x08, 0x0C, 0x14, 0x18, 0x1E, 0x1F, 0x20,
                                       0x21, 0x22, 0x23, 0x24, 0x25, 0x30, 0x40, 0x60};
const std::vector<uint8_t> kPictureSizes = {0x01, 0x04, 0x05, 0x06, 0x0B, 0x0C, 0x31};
const std::vector<uint8_t> kColorTones = {0x00, 0x01, 0x02, 0x03, 0x04, 0x50};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
    int64_t year;
    unsigned month;
    unsigned day;
};

Civil civilFromDays(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

bool leapYear(int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(int64_t year, unsigned month)
{
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && leapYear(year)) return 29;
    return kDays[month - 1];
}

// A holiday has no year: February 29 is allowed.
bool validMonthDay(uint8_t month, uint8_t day)
{
    return month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(2000, month);
}

int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

int64_t epochSeconds(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    return floorDiv(duration_cast<milliseconds>(t.time_since_epoch()).count(), 1000);
}

std::chrono::seconds localZoneOffset()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&t, &local)) return std::chrono::seconds(0);
    return std::chrono::seconds(local.tm_gmtoff);
}

Reply ack(uint8_t cmd, std::vector<uint8_t> values)
{
    return Reply{kAck, cmd, std::move(values)};
}

}  // namespace

Reply makeNak(uint8_t cmd, NakReason reason)
{
    return Reply{kNak, cmd, {static_cast<uint8_t>(reason)}};
}

PanelModel::PanelModel() : PanelModel(Options{}) {}

PanelModel::PanelModel(Options options) : m_options(std::move(options))
{
    m_clockOffset = m_options.clockOffset ? *m_options.clockOffset : localZoneOffset();
    build();
    m_onTimeBase = kInitialOnTimeHours * 3600;
    m_poweredSince = now();
}

std::chrono::system_clock::time_point PanelModel::now() const
{
    return m_options.now ? m_options.now() : std::chrono::system_clock::now();
}

void PanelModel::add(uint8_t cmd, Access access, Group group, std::vector<Field> fields)
{
    Entry entry{access, group, std::move(fields), {}};
    for (const Field& f : entry.fields) entry.value.push_back(f.init);
    m_entries[cmd] = std::move(entry);
}

void PanelModel::build()
{
    using A = Access;
    using G = Group;
    auto r = [](uint8_t lo, uint8_t hi, uint8_t init) { return Field{lo, hi, init, nullptr}; };
    auto s = [](const std::vector<uint8_t>& set, uint8_t init) {
        return Field{0, 0xFF, init, &set};
    };
    auto one = [&](uint8_t cmd, G group, uint8_t lo, uint8_t hi, uint8_t init) {
        add(cmd, A::ReadWrite, group, {r(lo, hi, init)});
    };

    // Single-value settings.
    add(0x14, A::ReadWrite, G::System, {s(kSources, 0x21)});  // input source
    one(kPower, G::System, 0, 1, 1);
    add(0x19, A::ReadOnly, G::Identity, {r(0, 0xFF, 55)});  // screen size, inches
    add(kChannelUpDown, A::SetOnly, G::System, {r(0, 1, 0)});
    one(0x71, G::Picture, 0, 6, 1);  // picture mode
    add(0x15, A::ReadWrite, G::Picture, {s(kPictureSizes, 0x01)});
    one(0x58, G::Picture, 0, 100, 80);  // manual lamp
    one(0x24, G::Picture, 0, 100, 50);  // contrast
    one(0x25, G::Picture, 0, 100, 45);  // brightness
    one(0x26, G::Picture, 0, 100, 50);  // sharpness
    one(0x27, G::Picture, 0, 100, 50);  // color
    one(0x28, G::Picture, 0, 100, 50);  // tint
    add(0x3E, A::ReadWrite, G::Picture, {s(kColorTones, 0x01)});
    one(0x73, G::Picture, 0, 4, 0);                                 // noise reduction
    one(0x79, G::Picture, 0, 2, 0);                                 // film mode
    one(0x9C, G::Picture, 0, 1, 0);                                 // edge enhancement
    one(0x9D, G::Picture, 0, 1, 0);                                 // color space
    one(0x9E, G::Picture, 0, 1, 0);                                 // xvYCC
    add(0x18, A::ReadWrite, G::Picture, {s(kPictureSizes, 0x01)});  // screen mode
    one(0x37, G::Picture, 0, 100, 50);                              // RGB contrast
    one(0x38, G::Picture, 0, 100, 45);                              // RGB brightness
    add(0x75, A::ReadWrite, G::Picture, {s(kColorTones, 0x01)});    // PC color tone
    one(0x96, G::Picture, 0, 4, 0);                                 // gamma
    add(0x3D, A::SetOnly, G::Picture, {r(0, 0, 0)});                // run auto adjustment
    one(0x76, G::Picture, 0, 1, 0);                                 // auto adjustment
    one(0x3F, G::Picture, 0, 10, 5);                                // color temperature
    one(0x87, G::Picture, 0, 1, 0);                                 // dynamic contrast
    one(0x94, G::Picture, 0, 1, 0);                                 // HDMI black level
    one(0x12, G::Sound, 0, 100, 15);                                // volume
    one(0x13, G::Sound, 0, 1, 0);                                   // mute
    one(0x72, G::Sound, 0, 4, 0);                                   // sound mode
    one(0x78, G::Sound, 0, 1, 0);                                   // surround
    for (uint8_t band = 0x51; band <= 0x55; ++band) one(band, G::Sound, 0, 20, 10);
    one(0x48, G::Sound, 0, 1, 0);                              // auto volume
    one(0x47, G::Sound, 0, 1, 0);                              // sound select
    one(0x92, G::System, 0, 3, 0);                             // energy saving
    one(0x86, G::System, 0, 1, 0);                             // brightness sensor
    one(0x5D, G::System, 0, 1, 0);                             // safety lock
    one(0x5F, G::System, 0, 1, 0);                             // panel (key) lock
    one(0x36, G::System, 0, 1, 1);                             // remote control enabled
    one(0x77, G::System, 0, 1, 0);                             // all keys lock
    one(0x3C, G::Picture, 0, 1, 0);                            // PIP on/off
    add(0x40, A::ReadWrite, G::Picture, {s(kSources, 0x14)});  // PIP source
    one(0x42, G::Picture, 0, 4, 0);                            // PIP size
    one(0x43, G::Picture, 0, 7, 0);                            // PIP location
    one(0x59, G::System, 0, 4, 0);                             // safety screen run
    one(0x84, G::System, 0, 1, 0);                             // video wall on
    one(0x5C, G::System, 0, 1, 0);                             // video wall mode
    one(0x33, G::System, 0, 1, 0);                             // auto power
    one(0x4A, G::System, 0, 2, 0);                             // standby
    one(kTemperature, G::System, 75, 124, 77);                 // max temperature, C
    one(0x8F, G::System, 0, 1, 0);                             // fan control
    one(0x44, G::System, 0, 100, 50);                          // fan speed
    one(0x70, G::System, 0, 1, 1);                             // OSD on/off
    one(0xF9, G::System, 0, 1, 1);                             // panel on/off
    add(kReset, A::SetOnly, G::System, {r(0, 2, 0)});
    add(0xB0, A::SetOnly, G::System, {r(0, 0xFF, 0)});  // virtual remote key

    // Identity and status.
    add(kSerialNumber, A::ReadOnly, G::Identity, {});
    add(kSoftwareVersion, A::ReadOnly, G::Identity, {});
    add(kModelName, A::ReadOnly, G::Identity, {});
    m_texts[kSerialNumber] = "KW55D24A0012345";
    m_texts[kSoftwareVersion] = "KWD-1042.3";
    m_texts[kModelName] = "KW-55D";
    add(0x10, A::ReadOnly, G::Identity, {r(0, 0xFF, 0x01), r(0, 0xFF, 55), r(0, 0xFF, 0x10)});
    add(kDisplayStatus, A::ReadOnly, G::Identity, {});
    add(kPanelOnTime, A::ReadOnly, G::Identity, {});

    // Multi-field settings.
    add(0x0F, A::ReadWrite, G::Picture, {r(0, 4, 0), r(0, 10, 5), r(0, 10, 5)});
    add(0x4B, A::SetOnly, G::Picture, {r(0, 3, 0), r(0, 100, 50)});
    add(kDirectChannel, A::ReadWrite, G::System,
        {r(0, 3, 0), r(0, 3, 0), r(0, 0xFF, 7), r(0, 0xFF, 0), r(0, 0xFF, 1), r(0, 0xFF, 0),
         r(0, 0xFF, 0), r(0, 0xFF, 0)});
    const std::vector<Field> timer = {
        r(1, 12, 8),   r(0, 59, 0),       r(0, 1, 0), r(0, 1, 0),  // on 8:00 AM, disabled
        r(1, 12, 6),   r(0, 59, 0),       r(0, 1, 1), r(0, 1, 0),  // off 6:00 PM, disabled
        r(0, 5, 1),    r(0, 0x7F, 0),     r(0, 5, 1), r(0, 0x7F, 0),
        r(0, 100, 15), s(kSources, 0x21), r(0, 3, 0)};
    for (uint8_t cmd : {0xA4, 0xA5, 0xA6, 0xAB, 0xAC, 0xAD, 0xAE})
        add(cmd, A::ReadWrite, G::Schedule, timer);
    add(kClock, A::ReadWrite, G::Schedule,
        {r(1, 31, 1), r(1, 12, 12), r(0, 59, 0), r(1, 12, 1), r(0, 0xFF, 0), r(0, 0xFF, 0),
         r(0, 1, 0)});
    add(kHolidaySet, A::SetOnly, G::Schedule, {});
    add(kHolidayGet, A::ReadOnly, G::Schedule, {});
    add(kAmbientSensor, A::ReadWrite, G::Picture, {r(0, 1, 0), r(0, 100, 20), r(0, 100, 100)});
    add(0x57, A::ReadWrite, G::Picture,
        {r(1, 12, 9), r(0, 59, 0), r(0, 1, 0), r(0, 100, 100), r(1, 12, 6), r(0, 59, 0), r(0, 1, 1),
         r(0, 100, 30)});
    add(kVideoWallUser, A::ReadWrite, G::System, {r(0x11, 0xFF, 0x11), r(1, 0xFF, 1)});
    add(kSafetyScreen, A::ReadWrite, G::System,
        {r(0, 4, 0), r(0, 24, 0), r(0, 60, 0), r(0, 23, 0), r(0, 59, 0), r(0, 23, 0), r(0, 59, 0)});
    add(0x4C, A::ReadWrite, G::System, {r(0, 1, 0), r(0, 4, 2), r(0, 4, 2), r(1, 4, 2)});
    add(0xA3, A::ReadWrite, G::System, {r(0, 4, 0), r(0, 1, 1)});

    for (const auto& [cmd, text] : m_texts) m_entries[cmd].value.assign(text.begin(), text.end());
}

Reply PanelModel::handle(uint8_t cmd, const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return handleLocked(cmd, data);
}

Reply PanelModel::handleLocked(uint8_t cmd, const std::vector<uint8_t>& data)
{
    auto it = m_entries.find(cmd);
    if (it == m_entries.end()) return makeNak(cmd, NakReason::UnknownCommand);
    switch (cmd) {
        case kClock:
            return handleClock(cmd, data);
        case kHolidaySet:
            return handleHolidaySet(cmd, data);
        case kHolidayGet:
            return handleHolidayGet(cmd, data);
        case kSafetyScreen:
            return handleSafetyScreen(cmd, data);
        case kChannelUpDown:
            return handleChannelStep(cmd, data);
        case kReset:
            return handleReset(cmd, data);
        default:
            break;
    }
    Entry& entry = it->second;
    if (data.empty()) {
        if (entry.access == Access::SetOnly) return makeNak(cmd, NakReason::NotSupported);
        if (cmd == kDisplayStatus || cmd == kPanelOnTime) return ack(cmd, dynamicValue(cmd));
        return ack(cmd, entry.value);
    }
    if (entry.access == Access::ReadOnly) return makeNak(cmd, NakReason::NotSupported);
    if (data.size() != entry.fields.size()) return makeNak(cmd, NakReason::WrongLength);
    for (size_t i = 0; i < data.size(); ++i) {
        const Field& f = entry.fields[i];
        const bool ok =
            f.allowed ? std::find(f.allowed->begin(), f.allowed->end(), data[i]) != f.allowed->end()
                      : data[i] >= f.lo && data[i] <= f.hi;
        if (!ok) return makeNak(cmd, NakReason::OutOfRange);
    }
    if (auto reason = checkCrossFields(cmd, data)) return makeNak(cmd, *reason);
    entry.value = data;
    if (cmd == kPower) setPower(data[0] == 1);
    return ack(cmd, entry.value);
}

std::optional<NakReason> PanelModel::checkCrossFields(uint8_t cmd,
                                                      const std::vector<uint8_t>& v) const
{
    if (cmd == kDirectChannel) {
        const unsigned channel = (v[1] << 8) | v[2];
        if (channel < 1 || channel > 999) return NakReason::OutOfRange;
    } else if (cmd == kVideoWallUser) {
        const unsigned columns = v[0] >> 4, rows = v[0] & 0x0F;
        if (columns < 1 || rows < 1 || v[1] > columns * rows) return NakReason::OutOfRange;
    } else if (cmd == kAmbientSensor) {
        if (v[1] > v[2]) return NakReason::OutOfRange;
    }
    return std::nullopt;
}

std::vector<uint8_t> PanelModel::dynamicValue(uint8_t cmd)
{
    if (cmd == kPanelOnTime) {
        const int64_t hours = std::min<int64_t>(onTimeSeconds() / 3600, 0xFFFF);
        return {static_cast<uint8_t>(hours >> 8), static_cast<uint8_t>(hours & 0xFF)};
    }
    // Display status: no errors; the inside warms up while the power is on.
    const uint8_t temperature = m_poweredSince ? 41 : 24;
    const uint8_t limit = m_entries[kTemperature].value[0];
    return {0, static_cast<uint8_t>(temperature > limit ? 1 : 0), 0, 0, temperature, 0};
}

void PanelModel::setPower(bool on)
{
    if (on && !m_poweredSince) {
        m_poweredSince = now();
    } else if (!on && m_poweredSince) {
        m_onTimeBase = onTimeSeconds();
        m_poweredSince.reset();
    }
}

int64_t PanelModel::onTimeSeconds()
{
    if (!m_poweredSince) return m_onTimeBase;
    const int64_t elapsed = epochSeconds(now()) - epochSeconds(*m_poweredSince);
    return m_onTimeBase + std::max<int64_t>(elapsed, 0);
}

Reply PanelModel::handleClock(uint8_t cmd, const std::vector<uint8_t>& data)
{
    const int64_t nowSeconds = epochSeconds(now());
    if (!data.empty()) {
        if (data.size() != 7) return makeNak(cmd, NakReason::WrongLength);
        const unsigned day = data[0], hour = data[1], minute = data[2], month = data[3];
        const int year = (data[4] << 8) | data[5];
        const unsigned pm = data[6];
        if (hour < 1 || hour > 12 || minute > 59 || month < 1 || month > 12 || pm > 1 ||
            year < kMinYear || year > kMaxYear || day < 1 || day > daysInMonth(year, month))
            return makeNak(cmd, NakReason::OutOfRange);
        const int64_t hour24 = hour % 12 + (pm ? 12 : 0);
        const int64_t target = daysFromCivil(year, month, day) * 86400 + hour24 * 3600 +
                               static_cast<int64_t>(minute) * 60;
        m_clockOffset = std::chrono::seconds(target - nowSeconds);
    }
    const int64_t t = nowSeconds + m_clockOffset.count();
    const int64_t days = floorDiv(t, 86400);
    const int64_t secondOfDay = t - days * 86400;
    const Civil date = civilFromDays(days);
    const auto hour24 = static_cast<unsigned>(secondOfDay / 3600);
    const auto minute = static_cast<uint8_t>(secondOfDay % 3600 / 60);
    const auto hour12 = static_cast<uint8_t>(hour24 % 12 == 0 ? 12 : hour24 % 12);
    const auto year = static_cast<unsigned>(std::clamp<int64_t>(date.year, 0, 0xFFFF));
    return ack(cmd, {static_cast<uint8_t>(date.day), hour12, minute,
                     static_cast<uint8_t>(date.month), static_cast<uint8_t>(year >> 8),
                     static_cast<uint8_t>(year & 0xFF), static_cast<uint8_t>(hour24 >= 12)});
}

Reply PanelModel::handleHolidaySet(uint8_t cmd, const std::vector<uint8_t>& data)
{
    if (data.empty()) return makeNak(cmd, NakReason::NotSupported);
    if (data.size() != 5) return makeNak(cmd, NakReason::WrongLength);
    if (data[0] > 1 || !validMonthDay(data[1], data[2]) || !validMonthDay(data[3], data[4]))
        return makeNak(cmd, NakReason::OutOfRange);
    const Holiday holiday = {data[1], data[2], data[3], data[4]};
    auto it = std::find(m_holidays.begin(), m_holidays.end(), holiday);
    if (data[0] == 0) {
        if (it == m_holidays.end()) {
            if (m_holidays.size() >= kMaxHolidays) return makeNak(cmd, NakReason::ListFull);
            m_holidays.insert(std::upper_bound(m_holidays.begin(), m_holidays.end(), holiday),
                              holiday);
        }
    } else {
        if (it == m_holidays.end()) return makeNak(cmd, NakReason::NotFound);
        m_holidays.erase(it);
    }
    return ack(cmd, data);
}

Reply PanelModel::handleHolidayGet(uint8_t cmd, const std::vector<uint8_t>& data)
{
    if (data.empty()) return ack(cmd, {static_cast<uint8_t>(m_holidays.size())});
    if (data.size() != 1) return makeNak(cmd, NakReason::WrongLength);
    const size_t n = data[0];
    if (n < 1 || n > m_holidays.size()) return makeNak(cmd, NakReason::NotFound);
    const Holiday& h = m_holidays[n - 1];
    return ack(cmd, {data[0], h[0], h[1], h[2], h[3]});
}

Reply PanelModel::handleSafetyScreen(uint8_t cmd, const std::vector<uint8_t>& data)
{
    Entry& entry = m_entries[cmd];
    std::vector<uint8_t>& v = entry.value;
    if (data.empty()) return ack(cmd, v);
    if (data.size() != 3 && data.size() != 7) return makeNak(cmd, NakReason::WrongLength);
    uint8_t type = data[0];
    if (type > 4) return makeNak(cmd, NakReason::OutOfRange);
    const bool off = type == 0 || type == 4;
    // The host shows a short reply with a zero period or time as "off", so an active
    // screen needs both.
    const bool timingOk = off ? data[1] <= 24 && data[2] <= 60
                              : data[1] >= 1 && data[1] <= 24 && data[2] >= 1 && data[2] <= 60;
    if (!timingOk) return makeNak(cmd, NakReason::OutOfRange);
    if (data.size() == 7 && (data[3] > 23 || data[4] > 59 || data[5] > 23 || data[6] > 59))
        return makeNak(cmd, NakReason::OutOfRange);
    if (off) type = 0;
    if (data.size() == 7) {
        v = data;
        v[0] = type;
        return ack(cmd, v);
    }
    v[0] = type;
    v[1] = off ? 0 : data[1];
    v[2] = off ? 0 : data[2];
    return ack(cmd, {v[0], v[1], v[2]});
}

Reply PanelModel::handleChannelStep(uint8_t cmd, const std::vector<uint8_t>& data)
{
    if (data.empty()) return makeNak(cmd, NakReason::NotSupported);
    if (data.size() != 1) return makeNak(cmd, NakReason::WrongLength);
    if (data[0] > 1) return makeNak(cmd, NakReason::OutOfRange);
    std::vector<uint8_t>& channel = m_entries[kDirectChannel].value;
    unsigned number = (channel[1] << 8) | channel[2];
    if (data[0] == 0)
        number = number >= 999 ? 1 : number + 1;
    else
        number = number <= 1 ? 999 : number - 1;
    channel[1] = static_cast<uint8_t>(number >> 8);
    channel[2] = static_cast<uint8_t>(number & 0xFF);
    m_entries[cmd].value = data;
    return ack(cmd, data);
}

Reply PanelModel::handleReset(uint8_t cmd, const std::vector<uint8_t>& data)
{
    if (data.empty()) return makeNak(cmd, NakReason::NotSupported);
    if (data.size() != 1) return makeNak(cmd, NakReason::WrongLength);
    if (data[0] > 2) return makeNak(cmd, NakReason::OutOfRange);
    if (data[0] == 0 || data[0] == 2) resetGroup(Group::Picture);
    if (data[0] == 1 || data[0] == 2) resetGroup(Group::Sound);
    if (data[0] == 2) resetGroup(Group::System);
    return ack(cmd, data);
}

void PanelModel::resetGroup(Group group)
{
    for (auto& [cmd, entry] : m_entries) {
        if (entry.group != group || cmd == kPower || cmd == 0x14) continue;
        if (entry.fields.empty()) continue;
        entry.value.clear();
        for (const Field& f : entry.fields) entry.value.push_back(f.init);
    }
}

}  // namespace kw::panel
