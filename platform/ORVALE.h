#pragma once
// Host framework: application ids, instance ids and event posting.
#include <string>

#include "platform/PTEvent.h"

namespace ORVALE0300 {

// The framework's string. The module builds one from a C string with text encoding 2.
class CString {
public:
    enum { ENCODING_UTF8 = 2 };
    // A null text gives an empty string. Only UTF-8 (2) is used, so the encoding is not kept.
    CString(const char* text, int encoding);
    const char* c_str() const { return m_Text.c_str(); }

private:
    std::string m_Text;
};

class ORVALE {
public:
    // The instance id of the application with this id: stable for the life of the process and
    // distinct per application id, whether or not the application runs yet. Never 0.
    static int GetInstanceID(const CString& appId);
    // Posts ev to the application registered under targetAppId, setting nDstInstanceID to the
    // target's instance id. Ownership of ev.pData (an array-new'd byte array) passes with the
    // call, whatever the outcome: the target owns it once the event is queued, and when there
    // is no such application (or it is stopping) the framework frees it at once, so the caller
    // must never touch the payload again. Returns 1 when the event was queued, 0 otherwise.
    // flag is reserved and false.
    static int SendEvent(const PTEvent& ev, const char* targetAppId, bool flag);
};

}  // namespace ORVALE0300
