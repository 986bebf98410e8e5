#pragma once

#include <QDBusConnection>
#include <QObject>

// Tells when the machine goes to sleep and when it wakes up, from logind's PrepareForSleep
// signal (org.freedesktop.login1.Manager on the system bus). Without logind nothing is said.
class SleepWatcher : public QObject
{
    Q_OBJECT
public:
    // Listens on `bus` (the system bus in the program; a private bus in tests).
    explicit SleepWatcher(const QDBusConnection &bus, QObject *parent = nullptr);
    bool isListening() const { return m_listening; }

signals:
    void aboutToSleep();
    void resumed();

private slots:
    void onPrepareForSleep(bool sleeping);

private:
    QDBusConnection m_bus;
    bool m_listening = false;
};
