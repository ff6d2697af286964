#include "tests/snmp/FakePanel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "snmp/ObjectTable.h"

namespace kw::snmptest {
namespace {

using kw::snmp::Access;
using kw::snmp::DisplayObject;

void printBytes(unsigned char* buf, const std::vector<uint8_t>& bytes, size_t count)
{
    std::string text;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", i < bytes.size() ? bytes[i] : 0);
        if (i != 0) {
            text += ' ';
        }
        text += two;
    }
    std::snprintf(reinterpret_cast<char*>(buf), 256, "%s", text.c_str());
}

}  // namespace

FakePanel& FakePanel::instance()
{
    static FakePanel panel;
    return panel;
}

FakePanel::FakePanel()
{
    reset();
}

void FakePanel::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delay = std::chrono::milliseconds(0);
    m_failing.clear();
    m_rows.clear();
    for (const DisplayObject& object : kw::snmp::displayObjects()) {
        const size_t size =
            std::max<size_t>({object.setBytes[0], object.setBytes[1], object.getBytes});
        m_rows[object.index] = std::vector<uint8_t>(size, static_cast<uint8_t>(object.index));
    }
    m_texts = {{4, "KW-PANEL-55"}, {5, "1.02.003"}, {8, "SN0123456789"}};
    m_holidays = {{1, 12, 25, 0, 0}, {2, 1, 1, 0, 0}, {3, 7, 4, 1, 2}};
    m_calls.clear();
    m_held = false;
    m_inside = 0;
    m_maxInside = 0;
    m_changed.notify_all();
}

void FakePanel::registerCallbacks()
{
    RegisterCallback_STR(&FakePanel::stringCallback);
    RegisterCallback_HOLIDAY(&FakePanel::holidayCallback);
}

void FakePanel::setDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delay = delay;
}

void FakePanel::setFailing(int index, bool failing)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failing[index] = failing;
}

void FakePanel::setHolidays(const std::vector<std::array<uint8_t, 5>>& entries)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holidays = entries;
}

void FakePanel::setBytes(int index, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rows[index] = bytes;
}

std::vector<uint8_t> FakePanel::bytes(int index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rows[index];
}

void FakePanel::setText(int index, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts[index] = text;
}

void FakePanel::hold()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = true;
}

void FakePanel::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = false;
    m_changed.notify_all();
}

bool FakePanel::waitForStarted(size_t count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_calls.size() >= count; });
}

std::vector<PanelCall> FakePanel::calls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

size_t FakePanel::callCount(int index, bool holiday)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::count_if(m_calls.begin(), m_calls.end(), [&](const PanelCall& c) {
        return c.index == index && c.holiday == holiday;
    });
}

int FakePanel::maxConcurrent()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxInside;
}

void FakePanel::begin(PanelCall call)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    call.thread = std::this_thread::get_id();
    m_calls.push_back(std::move(call));
    m_maxInside = std::max(m_maxInside, ++m_inside);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_held; });
    const auto delay = m_delay;
    lock.unlock();
    if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);  // the panel's own pace, in real time
    }
}

int FakePanel::stringCallback(unsigned char* buf, int getset, eFuncType index, int extra)
{
    return instance().serveString(buf, getset, static_cast<int>(index), extra);
}

int FakePanel::holidayCallback(unsigned char* buf, int getset, eFuncType index, int extra)
{
    return instance().serveHoliday(buf, getset, static_cast<int>(index), extra);
}

int FakePanel::serveString(unsigned char* buf, int getset, int index, int extra)
{
    const DisplayObject* object = kw::snmp::objectForIndex(index);
    if (object == nullptr) {
        return 0;
    }
    size_t setCount = object->setBytes[0];
    if (index == 73 && getset == 0) {
        setCount = extra == 6 || extra == 8 ? 3 : extra == 14 || extra == 20 ? 7 : 0;
    }
    PanelCall call{false, index, getset, extra, {}, {}};
    if (getset == 0) {
        call.bytes.assign(buf, buf + setCount);
    }
    begin(call);
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_inside;
    const bool failing = m_failing[index];
    const bool setPath =
        object->access == Access::WriteOnly || (object->access == Access::ReadWrite && getset == 0);
    if ((index == 58 || index == 87) && getset != 0) {
        return 0;
    }
    if (index == 59 && getset != 1) {
        return 0;
    }
    if (setPath) {
        if (setCount == 0 || failing) {
            return 0;
        }
        std::vector<uint8_t>& row = m_rows[index];
        std::copy(buf, buf + setCount, row.begin());
        return 1;
    }
    if (object->getBytes == 0) {
        // The text rows: the reply's characters, without a terminator of their own.
        if (!failing) {
            std::memcpy(buf, m_texts[index].data(), m_texts[index].size());
        }
    } else if (index == 59) {
        printBytes(buf, {static_cast<uint8_t>(failing ? 0 : m_holidays.size())}, 1);
    } else {
        printBytes(buf, failing ? std::vector<uint8_t>{} : m_rows[index], object->getBytes);
    }
    return failing ? 0 : 1;
}

int FakePanel::serveHoliday(unsigned char* buf, int getset, int index, int extra)
{
    begin(PanelCall{true, index, getset, extra, {}, {}});
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_inside;
    if ((index != 59 && index != 60) || getset != 1) {
        return 0;
    }
    const bool failing = m_failing[index];
    if (index == 59) {
        printBytes(buf, {static_cast<uint8_t>(failing ? 0 : m_holidays.size())}, 1);
        return failing ? 0 : 1;
    }
    const uint8_t entry = static_cast<uint8_t>(extra & 0xFF);
    if (failing || entry == 0 || entry > m_holidays.size()) {
        printBytes(buf, {entry}, 5);
        return 0;
    }
    const auto& value = m_holidays[entry - 1];
    printBytes(buf, std::vector<uint8_t>(value.begin(), value.end()), 5);
    return 1;
}

}  // namespace kw::snmptest
