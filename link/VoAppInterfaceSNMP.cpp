#include "link/VoAppInterfaceSNMP.h"

VoAppInterfaceSNMP::VoAppInterfaceSNMP() : m_pOwnerApp(nullptr) {}

VoAppInterfaceSNMP::~VoAppInterfaceSNMP() {}

int VoAppInterfaceSNMP::CreateApp()
{
    return 1;
}

void VoAppInterfaceSNMP::DestroyApp() {}

int VoAppInterfaceSNMP::Activate()
{
    return 1;
}

int VoAppInterfaceSNMP::Deactivate()
{
    return 1;
}

int VoAppInterfaceSNMP::Process()
{
    return 1;
}

int VoAppInterfaceSNMP::BeforeEventDispatch(const PTEvent*, const void*)
{
    return 0;
}

int VoAppInterfaceSNMP::AfterEventDispatch(const PTEvent*, const void*)
{
    return 0;
}

int VoAppInterfaceSNMP::ProcEvent(const PTEvent*)
{
    return 0;
}
