#include "host/framework/Framework.h"
#include "platform/CApplication.h"

namespace ORVALE0300 {

// A listener that goes away must not be offered further messages.
IMessageListener::~IMessageListener()
{
    kw::host::Framework::instance().removeListener(this);
}

int IMessageListener::IfMessageReceived(const PTEvent* /*ev*/)
{
    return 0;
}

CApplicationBase::CApplicationBase() = default;
CApplicationBase::~CApplicationBase() = default;

bool CApplicationBase::AddMessageListener(IMessageListener* listener)
{
    return kw::host::Framework::instance().addListener(listener);
}

bool CApplicationBase::RemoveMessageListener(IMessageListener* listener)
{
    return kw::host::Framework::instance().removeListener(listener);
}

CApplication::CApplication() = default;

// Normally the host unregisters first; if not, the thread must stop before the queue goes.
CApplication::~CApplication()
{
    kw::host::Framework::instance().unregisterApp(this);
}

bool CApplication::t_Create()
{
    return true;
}
bool CApplication::t_Destroy()
{
    return true;
}
int CApplication::t_OnUserMessage(const PTEvent* /*ev*/)
{
    return 0;
}
bool CApplication::t_OnActivate(DTV_APPLICATION /*app*/, void* /*param*/)
{
    return true;
}
bool CApplication::t_OnDeactivate(DTV_APPLICATION /*app*/, void* /*param*/)
{
    return true;
}
bool CApplication::t_OnEndActivating(unsigned long /*param*/, int /*result*/)
{
    return true;
}
bool CApplication::t_OnEndDeactivating(unsigned long /*param*/, int /*result*/)
{
    return true;
}

}  // namespace ORVALE0300
