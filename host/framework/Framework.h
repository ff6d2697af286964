#pragma once
// The host side of the framework stand-in: registering, driving and stopping applications.
// Each registered application gets an application thread; its lifecycle calls and its events
// run there, one at a time.
#include <functional>
#include <string>

#include "platform/CApplication.h"
#include "platform/PTEvent.h"

namespace kw::host {

class Framework {
public:
    static Framework& instance();

    // Registers app under appId and starts its application thread. The app is not owned.
    // False when the id is taken or app is null.
    bool registerApp(const std::string& appId, ORVALE0300::CApplication* app);
    // Stops the application thread and forgets the app. Events still queued are dropped and
    // their payloads freed. Does not call t_Destroy.
    void unregisterApp(const std::string& appId);
    bool isRegistered(const std::string& appId);

    // Lifecycle calls, each run on the app's thread; they wait for the result.
    bool create(const std::string& appId);      // t_Create
    bool activate(const std::string& appId);    // t_OnActivate, then t_OnEndActivating
    bool deactivate(const std::string& appId);  // t_OnDeactivate, then t_OnEndDeactivating
    bool destroy(const std::string& appId);     // t_Destroy

    // Queues ev for appId; the payload then belongs to the app (or is freed by the framework
    // when the app leaves the event unhandled or is gone). False when no such app.
    bool post(const std::string& appId, const PTEvent& ev);
    // Offers a framework-wide event to every listener and to every task subscribed to it.
    void publish(const PTEvent& ev);
    // Runs fn on the app's thread and waits for it. False when no such app.
    bool runOnAppThread(const std::string& appId, const std::function<void()>& fn);
    // Waits until the app's queue is empty and no event is being handled.
    void waitIdle(const std::string& appId);

    // Listeners added by applications (CApplicationBase::AddMessageListener).
    bool addListener(ORVALE0300::IMessageListener* listener);
    bool removeListener(ORVALE0300::IMessageListener* listener);
    bool hasListener(ORVALE0300::IMessageListener* listener);
};

}  // namespace kw::host
