#include "host/framework/Tv.h"

#include <atomic>

#include "platform/TvControl.h"

namespace kw::host::tv {
namespace {

std::atomic<uint8_t> g_displayId{1};
std::atomic<bool> g_available{true};

class Tv : public ITvInterface {
public:
    int GetDisplayID(unsigned char* id) override
    {
        if (id == nullptr || !g_available.load()) return 0;
        *id = g_displayId.load();
        return 1;
    }
};

}  // namespace

void setDisplayId(uint8_t id)
{
    g_displayId.store(id);
}
uint8_t displayId()
{
    return g_displayId.load();
}
void setAvailable(bool available)
{
    g_available.store(available);
}
bool available()
{
    return g_available.load();
}

}  // namespace kw::host::tv

ITvInterface* TvControl::GetTv()
{
    static kw::host::tv::Tv* tv = new kw::host::tv::Tv();
    return tv;
}
