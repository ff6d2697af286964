#pragma once
// Host framework: applications. The framework runs each registered application on an
// application thread of its own: t_Create, the activation calls, every event and t_Destroy run
// there, one at a time.
#include <mutex>
#include <vector>

#include "platform/PCTask.h"
#include "platform/PTEvent.h"

namespace ORVALE0300 {

enum DTV_APPLICATION : int {
    DTV_APP_NONE = 0,
    DTV_APP_SIGNAGE = 1,
};

class IMessageListener {
public:
    virtual ~IMessageListener();
    // Offered every framework-wide message; returns non-zero when it handled it.
    virtual int IfMessageReceived(const PTEvent* ev);
};

class CApplicationBase : public PCTask {
public:
    CApplicationBase();
    ~CApplicationBase() override;

    // Adds a listener for framework-wide messages. Returns true when added (false for null or a
    // listener that is there already).
    bool AddMessageListener(IMessageListener* listener);
    // Returns true when the listener was there and is removed.
    bool RemoveMessageListener(IMessageListener* listener);
};

class CApplication : public CApplicationBase {
public:
    CApplication();
    ~CApplication() override;

    virtual bool t_Create();
    virtual bool t_Destroy();
    // Returns non-zero when the event was handled (and its payload taken over).
    virtual int t_OnUserMessage(const PTEvent* ev);
    virtual bool t_OnActivate(DTV_APPLICATION app, void* param);
    virtual bool t_OnDeactivate(DTV_APPLICATION app, void* param);
    virtual bool t_OnEndActivating(unsigned long param, int result);
    virtual bool t_OnEndDeactivating(unsigned long param, int result);
};

}  // namespace ORVALE0300
