#include <mutex>
#include <unordered_map>

#include "host/framework/Framework.h"
#include "platform/ORVALE.h"

namespace ORVALE0300 {

CString::CString(const char* text, int /*encoding*/) : m_Text(text != nullptr ? text : "") {}

int ORVALE::GetInstanceID(const CString& appId)
{
    struct Ids {
        std::mutex mutex;
        std::unordered_map<std::string, int> byAppId;
        int next = 1;  // 0 means "no instance" in PTEvent
    };
    static Ids* ids = new Ids();
    std::lock_guard<std::mutex> lock(ids->mutex);
    auto inserted = ids->byAppId.emplace(appId.c_str(), ids->next);
    if (inserted.second) ++ids->next;
    return inserted.first->second;
}

int ORVALE::SendEvent(const PTEvent& ev, const char* targetAppId, bool /*flag*/)
{
    if (targetAppId == nullptr) {
        delete[] static_cast<unsigned char*>(ev.pData);
        return 0;
    }
    return kw::host::Framework::instance().post(targetAppId, ev) ? 1 : 0;
}

}  // namespace ORVALE0300
