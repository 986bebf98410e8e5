#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <optional>

// A typed key-value store kept in one JSON file ("settings.json" in the config folder).
//
// Every value keeps its type (bool, 64-bit int, double, string, data) so that a reader can
// tell a missing key from a present one and a value of the wrong type from a right one.
// Typed reads return a value only when the key is present *and* holds that type.
//
// Writes are cheap: they change memory, mark the store dirty and schedule a save a short
// moment later; flush() saves at once, and the destructor saves what is pending. The file
// is replaced atomically and is private (0600: presets hold archive passwords). A save that
// fails (a full disk) leaves the old file as it was, keeps the changes, is reported once
// through saveFailed() and is tried again every few seconds. A file that cannot be read as a
// settings file (also an empty one) is moved aside as "settings.json.damaged-<time>" and the
// store starts empty, so nothing the user had is lost.
//
// A read-only store (the command line's listings and tool runs) never touches the file: it
// neither saves nor sets a damaged file aside; changes stay in memory.
//
// File format:
//   {"format": 1, "values": {"key": {"type": "int", "value": 42}, …}}
// with "type" one of "bool", "int", "double", "string", "data" (data in Base64). Integers
// outside ±2^53 are written as decimal strings; non-finite doubles as "nan", "inf", "-inf".
//
// Reads and writes may come from any thread; the file is written on the store's thread.
class SettingsStore : public QObject
{
    Q_OBJECT
public:
    enum class Type { boolean, integer, real, string, data };
    enum class Access { readWrite, readOnly };

    // The process-wide store at defaultPath().
    static SettingsStore &shared();
    // Makes shared() read-only; call before its first use (the command line does).
    static void makeSharedReadOnly();
    // <config dir>/settings.json
    static QString defaultPath();

    explicit SettingsStore(const QString &filePath, QObject *parent = nullptr, Access access = Access::readWrite);
    ~SettingsStore() override;

    QString filePath() const { return m_path; }
    // Where a damaged file was moved at load; empty when the file was fine or missing.
    QString damagedFileBackup() const { return m_damagedBackup; }

    bool contains(const QString &key) const;
    std::optional<Type> type(const QString &key) const;
    QStringList keys() const;

    std::optional<bool> boolValue(const QString &key) const;
    std::optional<qint64> intValue(const QString &key) const;
    std::optional<double> doubleValue(const QString &key) const;
    std::optional<QString> stringValue(const QString &key) const;
    std::optional<QByteArray> dataValue(const QString &key) const;

    // Lenient readers in the manner of a classic defaults store: a number or a number-like
    // string is converted, anything else (and a missing key) gives false / 0.
    bool plainBool(const QString &key) const;
    qint64 plainInt(const QString &key) const;

    void setBool(const QString &key, bool value);
    void setInt(const QString &key, qint64 value);
    void setDouble(const QString &key, double value);
    void setString(const QString &key, const QString &value);
    void setData(const QString &key, const QByteArray &value);
    void remove(const QString &key);

    // Writes pending changes now. Returns false (with a reason) when the file cannot be
    // written; the changes stay pending and are tried again a few seconds later. A read-only
    // store writes nothing and returns true.
    bool flush(QString *error = nullptr);
    bool isDirty() const;
    bool isReadOnly() const { return m_access == Access::readOnly; }

    // Delay between a write and the automatic save; and before a failed save is retried.
    static constexpr int saveDelayMs = 300;
    static constexpr int retryDelayMs = 5000;

signals:
    // A value was set or removed (emitted on the thread that made the change).
    void valueChanged(const QString &key);
    // The file could not be written (the first failure after a success).
    void saveFailed(const QString &message);

private:
    struct Entry {
        Type type;
        QVariant value; // bool, qint64, double, QString or QByteArray
        friend bool operator==(const Entry &, const Entry &) = default;
    };

    void load();
    void put(const QString &key, Entry entry);
    void scheduleSave(int delayMs = saveDelayMs);
    QByteArray serialize() const; // caller holds m_mutex
    void moveAsideDamaged(bool keepOriginal);

    QString m_path;
    Access m_access = Access::readWrite;
    QString m_damagedBackup;
    bool m_failureReported = false;
    mutable QMutex m_mutex;
    QHash<QString, Entry> m_values;
    bool m_dirty = false;
    QTimer m_saveTimer;
};
