#pragma once
// A stand-in for the module's two callbacks: a panel that keeps every row's bytes, answers as
// the module formats them, and can be slowed down, made to fail or held.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/SnmpAgent.h"

namespace kw::snmptest {

struct PanelCall {
    bool holiday = false;
    int index = 0;
    int getset = 0;
    int extra = 0;
    std::vector<uint8_t> bytes;  // a set's raw value bytes (as many as the row takes)
    std::thread::id thread;
};

class FakePanel {
public:
    static FakePanel& instance();

    // Back to the default rows, no delays, no failures, nothing recorded, not held.
    void reset();
    void registerCallbacks();

    void setDelay(std::chrono::milliseconds delay);
    void setFailing(int index, bool failing);  // string and holiday index alike
    void setHolidays(const std::vector<std::array<uint8_t, 5>>& entries);
    void setBytes(int index, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> bytes(int index);
    void setText(int index, const std::string& text);

    // While held, every callback waits in the panel until release().
    void hold();
    void release();
    // Waits until `count` callbacks have started (real milliseconds); false on timeout.
    bool waitForStarted(size_t count, int timeoutMs);

    std::vector<PanelCall> calls();
    size_t callCount(int index, bool holiday = false);
    int maxConcurrent();

    static int stringCallback(unsigned char* buf, int getset, eFuncType index, int extra);
    static int holidayCallback(unsigned char* buf, int getset, eFuncType index, int extra);

private:
    FakePanel();
    void begin(PanelCall call);
    int serveString(unsigned char* buf, int getset, int index, int extra);
    int serveHoliday(unsigned char* buf, int getset, int index, int extra);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::chrono::milliseconds m_delay{0};
    std::map<int, bool> m_failing;
    std::map<int, std::vector<uint8_t>> m_rows;
    std::map<int, std::string> m_texts;
    std::vector<std::array<uint8_t, 5>> m_holidays;
    std::vector<PanelCall> m_calls;
    bool m_held = false;
    int m_inside = 0;
    int m_maxInside = 0;
};

}  // namespace kw::snmptest
