#include "platform/namedmutex.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

NamedMutex::NamedMutex(const QString &name)
{
#ifdef Q_OS_WIN
    // Whether it existed already is deliberately not examined.
    m_handle = CreateMutexW(nullptr, TRUE, reinterpret_cast<LPCWSTR>(name.utf16()));
#else
    Q_UNUSED(name);
#endif
}

NamedMutex::~NamedMutex()
{
#ifdef Q_OS_WIN
    if (m_handle)
        CloseHandle(m_handle);
#endif
}
