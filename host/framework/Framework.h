#pragma once
// The host side of the framework stand-in: registering, driving and stopping applications.
// Each registered application gets an application thread that drains its PCQueue; its
// lifecycle calls and its events run there, one at a time, in the order they were queued.
#include <functional>
#include <string>

#include "platform/CApplication.h"
#include "platform/PTEvent.h"

namespace kw::host {

class Framework {
public:
    static Framework& instance();

    // Registers app under appId and starts its application thread. The app is not owned and
    // must outlive its registration. False when the id is taken, the app is registered under
    // another id already or its previous thread has not ended yet, or app is null.
    bool registerApp(const std::string& appId, ORVALE0300::CApplication* app);
    // Stops the application thread and forgets the app and its subscriptions. Events still
    // queued are dropped and their payloads freed; lifecycle calls still waiting fail. The
    // app's t_OnExit runs last on its thread. Does not call t_Destroy. Waits for the thread to
    // end, unless called from that thread (it then ends once the current call returns).
    void unregisterApp(const std::string& appId);
    // The same for app under whatever id it has; nothing when it is not registered. An
    // application's destructor calls it, so an idle app destroyed while still registered does
    // not leave its thread draining a queue that is gone.
    void unregisterApp(ORVALE0300::CApplication* app);
    bool isRegistered(const std::string& appId);

    // Lifecycle calls, each run on the app's thread; they wait for the result. False when
    // the app returns false or is not registered.
    bool create(const std::string& appId);      // t_Create
    bool activate(const std::string& appId);    // t_OnActivate, then t_OnEndActivating
    bool deactivate(const std::string& appId);  // t_OnDeactivate, then t_OnEndDeactivating
    bool destroy(const std::string& appId);     // t_Destroy

    // Queues ev for appId, with nDstInstanceID set to the app's instance id. The payload then
    // belongs to the app; the framework frees it (array delete) when the app leaves the event
    // unhandled (t_OnUserMessage returns 0), when the app is gone, or when the app is
    // unregistered before the event is delivered. False when no such app.
    bool post(const std::string& appId, const PTEvent& ev);
    // Offers a framework-wide event to every listener (on the calling thread) and queues it
    // for every registered application subscribed to its type. Each subscriber gets its own
    // copy of the payload (nDataSize bytes); the caller keeps ev.pData.
    void publish(const PTEvent& ev);
    // Runs fn on the app's thread and waits for it; runs it at once when called on that
    // thread. False when no such app or it is being unregistered (fn then does not run).
    bool runOnAppThread(const std::string& appId, const std::function<void()>& fn);
    // Waits until the app's queue is empty and no event is being handled. Returns at once on
    // the app's own thread or for an unknown app.
    void waitIdle(const std::string& appId);

    // Listeners added by applications (CApplicationBase::AddMessageListener). Once
    // removeListener returns, no other thread is offering that listener a message.
    bool addListener(ORVALE0300::IMessageListener* listener);
    bool removeListener(ORVALE0300::IMessageListener* listener);
    bool hasListener(ORVALE0300::IMessageListener* listener);
};

}  // namespace kw::host
