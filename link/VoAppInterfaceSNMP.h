#pragma once
// The abstract form of an application-like component: the owning application forwards its
// framework callbacks here. The thread part is available but no derived class here starts it.
#include "platform/PTEvent.h"
#include "runtime/VoThreadSNMP.h"

class CSnmpAppBase;

class VoAppInterfaceSNMP : public VoThreadSNMP {
public:
    VoAppInterfaceSNMP();
    ~VoAppInterfaceSNMP() override;

    // The component's message-service application id.
    virtual int GetVoAppID() = 0;
    // Ends the object's life.
    virtual void Release() = 0;
    virtual int CreateApp();
    virtual void DestroyApp();
    virtual int Activate();
    virtual int Deactivate();
    virtual int Process();
    virtual int BeforeEventDispatch(const PTEvent* pEvent, const void* pParam);
    virtual int AfterEventDispatch(const PTEvent* pEvent, const void* pParam);
    // 1 when the event was handled, 0 otherwise.
    virtual int ProcEvent(const PTEvent* pEvent);

    // The application that owns the component; written by that application, never read here.
    CSnmpAppBase* m_pOwnerApp;
};
