#pragma once

#include <QString>

// A system-wide named object held while the program runs (Windows only; elsewhere nothing).
class NamedMutex
{
public:
    explicit NamedMutex(const QString &name);
    ~NamedMutex();
    NamedMutex(const NamedMutex &) = delete;
    NamedMutex &operator=(const NamedMutex &) = delete;

    bool isNull() const { return m_handle == nullptr; }

private:
    void *m_handle = nullptr;
};
