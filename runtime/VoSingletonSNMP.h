#pragma once
// Lazily created process-wide instance. No lock: the first call for each T must not race
// with another first call.

template <class T>
class VoSingletonSNMP {
public:
    static T* GetInstance()
    {
        if (m_pObject == nullptr) {
            m_pObject = new T();
        }
        return m_pObject;
    }

    static T* m_pObject;
};

template <class T>
T* VoSingletonSNMP<T>::m_pObject = nullptr;
