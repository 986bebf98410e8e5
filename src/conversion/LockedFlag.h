#pragma once

#include <QMutex>
#include <QMutexLocker>

#include <memory>

// A lock-guarded boolean shared between threads: the cancellation or failure flag of a
// running job. The user interface sets it; the job reads it before each file and when each
// converter returns. Shared by reference (std::shared_ptr<LockedFlag>).
class LockedFlag
{
public:
    explicit LockedFlag(bool initial = false) : m_value(initial) {}

    bool value() const
    {
        QMutexLocker lock(&m_mutex);
        return m_value;
    }
    void set(bool value)
    {
        QMutexLocker lock(&m_mutex);
        m_value = value;
    }

private:
    mutable QMutex m_mutex;
    bool m_value;
};

using LockedFlagPtr = std::shared_ptr<LockedFlag>;
