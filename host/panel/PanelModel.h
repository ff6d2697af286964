#pragma once
// The simulated panel's state: one entry per command of the display-control catalogue, with
// plausible starting values. handle() answers one command the way the panel does:
//   - a get (no data) answers the current value(s) with 'A';
//   - a set stores the value(s) and echoes what was stored with 'A';
//   - a value out of range, a wrong field count, a get of an action, a set of a read-only
//     value or an unknown command answers 'N' with one value, a NakReason.
// Thread-safe: every call takes the model's lock.
//
// Single values (set and get unless marked): power 0x11 (0 off, 1 on); input source 0x14
// and PIP source 0x40 (0x04 0x08 0x0C 0x14 0x18 0x1E 0x1F 0x20 0x21 0x22 0x23 0x24 0x25 0x30
// 0x40 0x60); picture size 0x15 and screen mode 0x18 (0x01 0x04 0x05 0x06 0x0B 0x0C 0x31);
// color tone 0x3E and PC color tone 0x75 (0-4, 0x50); contrast, brightness, sharpness, color,
// tint, RGB contrast/brightness, manual lamp, volume and fan speed 0-100; EQ bands 0x51-0x55
// 0-20; picture mode 0x71 0-6; color temperature 0x3F 0-10; max temperature 0x85 75-124 (C);
// PIP location 0x43 0-7; noise reduction, gamma, sound mode, PIP size, safety screen run
// 0-4; energy saving 0x92 0-3; film mode and standby 0-2; every other switch 0-1. Set only:
// channel up/down 0x61 (0 up, 1 down), auto adjustment 0x3D (0 = run), reset 0x9F (below),
// virtual remote key 0xB0 (any). Read only: screen size 0x19 (inches).
//
// Layouts of the multi-field commands (field 1 first):
//   0x0B serial number, 0x0E software version, 0x8A model name: text bytes, read-only.
//   0x10 model number: family, size in inches, variant. Read-only.
//   0x19 screen size: inches. Read-only.
//   0x0D display status: lamp error, temperature error, brightness-sensor error, no-sync
//        error, current temperature (degrees C), fan error. Read-only.
//   0x83 panel on-time: hours powered, high byte then low byte. Read-only; counts while the
//        power (0x11) is on.
//   0xA7 clock: day (1-31), hour (1-12), minute (0-59), month (1-12), year high byte, year
//        low byte (2000-2099), AM/PM (0 AM, 1 PM). It runs with the time source; a set
//        starts it from the given minute.
//   0xA4-0xA6, 0xAB-0xAE timers 1-7: on hour (1-12), on minute, on AM/PM, on enabled (0/1),
//        off hour (1-12), off minute, off AM/PM, off enabled, on repeat (0 once, 1 every day,
//        2 Mon-Fri, 3 Mon-Sat, 4 Sat-Sun, 5 manual), on days (bit 0 Sunday .. bit 6
//        Saturday), off repeat, off days, volume (0-100), input source, holidays apply
//        (0 none, 1 on timer, 2 off timer, 3 both).
//   0xA8 holiday add/delete: action (0 add, 1 delete), start month, start day, end month,
//        end day. Adding an entry already held answers 'A' and keeps one copy; deleting an
//        entry not held answers 'N'. At most kMaxHolidays entries, kept in date order.
//   0xA9 holiday get: no data answers the count (one value); with one parameter n
//        (1 = first) it answers entry n: n, start month, start day, end month, end day.
//   0x5B safety screen, 7 fields: type (0 off, 1 scroll, 2 bar, 3 eraser), period (hours
//        between runs, 1-24), time (minutes per run, 1-60), start hour (0-23), start
//        minute, end hour (0-23), end minute. Period and time may be 0 only when off.
//        3-field set: type, period, time; type 0 or 4 switches off and clears period and
//        time (the host sends 4, 0, 0 for off). The echo is the stored type, period, time.
//   0x0F auto motion plus: mode (0-4), blur (0-10), judder (0-10).
//   0x17 direct channel: tuner (0-3), channel high byte, channel low byte, minor high,
//        minor low, three reserved bytes. Channel up/down (0x61: 0 up, 1 down) steps it.
//   0x4B video picture position/size (set only): item (0 H position, 1 V position, 2 H
//        size, 3 V size), value (0-100).
//   0x57 auto lamp: max hour (1-12), max minute, max AM/PM, max lamp (0-100), min hour,
//        min minute, min AM/PM, min lamp (0-100).
//   0x89 video wall user: wall size (columns in the high nibble, rows in the low, 1-15
//        each), position (1 to columns x rows).
//   0xA1 ambient brightness sensor: enabled (0/1), minimum (0-100), maximum (min-100).
//   0x4C pixel shift: enabled (0/1), horizontal (0-4), vertical (0-4), time (1-4).
//   0xA3 OSD display type: type (0-4), on (0/1).
//   0x9F reset (set only): 0 picture, 1 sound, 2 picture, sound and system settings.
//        Power, input source, clock, timers, holidays and identity are kept.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/panel/Codec.h"

namespace kw::panel {

// The one value of an 'N' reply.
enum class NakReason : uint8_t {
    UnknownCommand = 0x01,
    WrongLength = 0x02,
    OutOfRange = 0x03,
    NotSupported = 0x04,  // get of a set-only command, set of a read-only one
    NotFound = 0x05,      // holiday entry
    ListFull = 0x06,
    Injected = 0x10,  // a NAK from fault injection
};

Reply makeNak(uint8_t cmd, NakReason reason);

class PanelModel {
public:
    using TimeSource = std::function<std::chrono::system_clock::time_point()>;
    static constexpr size_t kMaxHolidays = 20;

    struct Options {
        // Wall time for the clock and the on-time; the system clock when empty.
        TimeSource now;
        // The panel clock shows now() + offset, read as UTC. Empty: the local time zone's
        // offset, so the panel starts on local wall time.
        std::optional<std::chrono::seconds> clockOffset;
    };

    PanelModel();
    explicit PanelModel(Options options);

    Reply handle(uint8_t cmd, const std::vector<uint8_t>& data);
    Reply handle(const Command& command) { return handle(command.cmd, command.data); }

private:
    enum class Access { ReadWrite, ReadOnly, SetOnly };
    enum class Group { Picture, Sound, System, Schedule, Identity };
    struct Field {
        uint8_t lo;
        uint8_t hi;
        uint8_t init;
        const std::vector<uint8_t>* allowed;  // when set, the only valid values
    };
    struct Entry {
        Access access;
        Group group;
        std::vector<Field> fields;
        std::vector<uint8_t> value;
    };
    using Holiday = std::array<uint8_t, 4>;  // start month, start day, end month, end day

    void build();
    void add(uint8_t cmd, Access access, Group group, std::vector<Field> fields);
    void resetGroup(Group group);

    Reply handleLocked(uint8_t cmd, const std::vector<uint8_t>& data);
    Reply handleClock(uint8_t cmd, const std::vector<uint8_t>& data);
    Reply handleHolidaySet(uint8_t cmd, const std::vector<uint8_t>& data);
    Reply handleHolidayGet(uint8_t cmd, const std::vector<uint8_t>& data);
    Reply handleSafetyScreen(uint8_t cmd, const std::vector<uint8_t>& data);
    Reply handleChannelStep(uint8_t cmd, const std::vector<uint8_t>& data);
    Reply handleReset(uint8_t cmd, const std::vector<uint8_t>& data);
    std::optional<NakReason> checkCrossFields(uint8_t cmd, const std::vector<uint8_t>& v) const;
    std::vector<uint8_t> dynamicValue(uint8_t cmd);
    void setPower(bool on);
    int64_t onTimeSeconds();
    std::chrono::system_clock::time_point now() const;

    mutable std::mutex m_mutex;
    Options m_options;
    std::chrono::seconds m_clockOffset{0};
    std::map<uint8_t, Entry> m_entries;
    std::map<uint8_t, std::string> m_texts;
    std::vector<Holiday> m_holidays;
    int64_t m_onTimeBase = 0;  // seconds counted before m_poweredSince
    std::optional<std::chrono::system_clock::time_point> m_poweredSince;
};

}  // namespace kw::panel
