#include "settings/SettingsStore.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/FileModes.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <atomic>
#include <cmath>
#include <limits>

namespace {

constexpr int fileFormat = 1;
constexpr double maxExactInteger = 9007199254740992.0; // 2^53

QString typeName(SettingsStore::Type type)
{
    switch (type) {
    case SettingsStore::Type::boolean: return QStringLiteral("bool");
    case SettingsStore::Type::integer: return QStringLiteral("int");
    case SettingsStore::Type::real: return QStringLiteral("double");
    case SettingsStore::Type::string: return QStringLiteral("string");
    case SettingsStore::Type::data: return QStringLiteral("data");
    }
    return {};
}

std::optional<SettingsStore::Type> typeFromName(const QString &name)
{
    for (auto type : {SettingsStore::Type::boolean, SettingsStore::Type::integer,
                      SettingsStore::Type::real, SettingsStore::Type::string,
                      SettingsStore::Type::data})
        if (typeName(type) == name)
            return type;
    return std::nullopt;
}

// Leading integer of a text, as a classic defaults store reads "42abc" → 42.
qint64 leadingInteger(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'-' || trimmed[end] == u'+'))
        ++end;
    while (end < trimmed.size() && trimmed[end].isDigit() && trimmed[end].unicode() < 128)
        ++end;
    bool ok = false;
    const qint64 value = trimmed.left(end).toLongLong(&ok);
    if (ok)
        return value;
    // Overflowing digits or a decimal number: go through double and saturate.
    const double number = trimmed.toDouble(&ok);
    if (!ok || std::isnan(number))
        return 0;
    if (number >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    if (number <= -9.2e18)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(number);
}

} // namespace

static std::atomic<bool> s_sharedReadOnly{false};

void SettingsStore::makeSharedReadOnly()
{
    s_sharedReadOnly = true;
}

SettingsStore &SettingsStore::shared()
{
    static SettingsStore store(defaultPath(), nullptr, s_sharedReadOnly ? Access::readOnly : Access::readWrite);
    static const bool connected = [] {
        if (QCoreApplication::instance())
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &store,
                             [] { store.flush(); });
        return true;
    }();
    Q_UNUSED(connected);
    return store;
}

QString SettingsStore::defaultPath()
{
    return AppPaths::configDir() + QStringLiteral("/settings.json");
}

SettingsStore::SettingsStore(const QString &filePath, QObject *parent, Access access)
    : QObject(parent), m_path(filePath), m_access(access)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { flush(); });
    load();
}

SettingsStore::~SettingsStore()
{
    flush();
}

void SettingsStore::load()
{
    QByteArray bytes;
    if (!isReadOnly())
        removeLeftoverTemporaries(m_path);
    if (!QFileInfo::exists(m_path))
        return; // a fresh start
    // Presets hold archive passwords: a file left readable by others (an older version, a lax
    // umask) becomes private.
    if (!isReadOnly())
        FileModes::restrictToOwner(QFile::encodeName(m_path));
    if (!readWholeFile(m_path, &bytes)) {
        // Unreadable (permissions, a folder in its place): keep it out of the way of the
        // next save rather than replace it.
        moveAsideDamaged(false);
        return;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    const QJsonObject root = document.object();
    if (parseError.error != QJsonParseError::NoError || !document.isObject()
        || root.value(QStringLiteral("format")).toInt(-1) != fileFormat
        || !root.value(QStringLiteral("values")).isObject()) {
        moveAsideDamaged(false);
        return;
    }

    bool skippedSome = false;
    const QJsonObject values = root.value(QStringLiteral("values")).toObject();
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QJsonObject item = it.value().toObject();
        const auto type = typeFromName(item.value(QStringLiteral("type")).toString());
        const QJsonValue value = item.value(QStringLiteral("value"));
        std::optional<Entry> entry;
        if (type) {
            switch (*type) {
            case Type::boolean:
                if (value.isBool())
                    entry = Entry{*type, value.toBool()};
                break;
            case Type::integer:
                if (value.isDouble()) {
                    const double number = value.toDouble();
                    if (std::floor(number) == number && std::fabs(number) <= maxExactInteger)
                        entry = Entry{*type, QVariant::fromValue(static_cast<qint64>(number))};
                } else if (value.isString()) {
                    bool ok = false;
                    const qint64 number = value.toString().toLongLong(&ok);
                    if (ok)
                        entry = Entry{*type, QVariant::fromValue(number)};
                }
                break;
            case Type::real:
                if (value.isDouble()) {
                    entry = Entry{*type, value.toDouble()};
                } else if (value.isString()) {
                    const QString text = value.toString();
                    if (text == u"nan")
                        entry = Entry{*type, std::numeric_limits<double>::quiet_NaN()};
                    else if (text == u"inf")
                        entry = Entry{*type, std::numeric_limits<double>::infinity()};
                    else if (text == u"-inf")
                        entry = Entry{*type, -std::numeric_limits<double>::infinity()};
                }
                break;
            case Type::string:
                if (value.isString())
                    entry = Entry{*type, value.toString()};
                break;
            case Type::data:
                if (value.isString()) {
                    const auto decoded = QByteArray::fromBase64Encoding(
                        value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
                    if (decoded)
                        entry = Entry{*type, *decoded};
                }
                break;
            }
        }
        if (entry)
            m_values.insert(it.key(), *entry);
        else
            skippedSome = true;
    }
    // Keep a copy of a file with unreadable entries, then write the cleaned file soon so
    // that the next start does not copy it again.
    if (skippedSome && !isReadOnly()) {
        moveAsideDamaged(true);
        m_dirty = true;
        m_saveTimer.start();
    }
}

void SettingsStore::moveAsideDamaged(bool keepOriginal)
{
    if (isReadOnly())
        return;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = m_path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    const bool done = keepOriginal ? QFile::copy(m_path, target) : QFile::rename(m_path, target);
    if (done)
        m_damagedBackup = target;
    else if (!keepOriginal)
        qWarning("Settings file %s is damaged and could not be moved aside; it is left in place",
                 qPrintable(m_path));
    // When the damaged file cannot be moved aside, the next save still replaces it; the
    // warning above is the only trace. Saving is what keeps the program usable.
}

bool SettingsStore::contains(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.contains(key);
}

std::optional<SettingsStore::Type> SettingsStore::type(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return it->type;
}

QStringList SettingsStore::keys() const
{
    QMutexLocker lock(&m_mutex);
    QStringList list = m_values.keys();
    list.sort();
    return list;
}

#define PB_TYPED_READ(Method, ResultType, StoredType, getter)                                  \
    std::optional<ResultType> SettingsStore::Method(const QString &key) const                  \
    {                                                                                          \
        QMutexLocker lock(&m_mutex);                                                           \
        const auto it = m_values.constFind(key);                                               \
        if (it == m_values.cend() || it->type != StoredType)                                   \
            return std::nullopt;                                                               \
        return it->value.getter;                                                               \
    }

PB_TYPED_READ(boolValue, bool, Type::boolean, toBool())
PB_TYPED_READ(intValue, qint64, Type::integer, toLongLong())
PB_TYPED_READ(doubleValue, double, Type::real, toDouble())
PB_TYPED_READ(stringValue, QString, Type::string, toString())
PB_TYPED_READ(dataValue, QByteArray, Type::data, toByteArray())
#undef PB_TYPED_READ

bool SettingsStore::plainBool(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return false;
    switch (it->type) {
    case Type::boolean: return it->value.toBool();
    case Type::integer: return it->value.toLongLong() != 0;
    case Type::real: return it->value.toDouble() != 0.0 && !std::isnan(it->value.toDouble());
    case Type::string: {
        const QString text = it->value.toString().trimmed().toLower();
        if (text == u"yes" || text == u"true" || text.startsWith(u'y') || text.startsWith(u't'))
            return true;
        return leadingInteger(text) != 0;
    }
    case Type::data: return false;
    }
    return false;
}

qint64 SettingsStore::plainInt(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return 0;
    switch (it->type) {
    case Type::boolean: return it->value.toBool() ? 1 : 0;
    case Type::integer: return it->value.toLongLong();
    case Type::real: {
        const double number = it->value.toDouble();
        if (std::isnan(number))
            return 0;
        if (number >= 9.2e18)
            return std::numeric_limits<qint64>::max();
        if (number <= -9.2e18)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(number);
    }
    case Type::string: return leadingInteger(it->value.toString());
    case Type::data: return 0;
    }
    return 0;
}

void SettingsStore::put(const QString &key, Entry entry)
{
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_values.constFind(key);
        // NaN never equals itself; compare doubles bitwise-ish through the variant.
        if (it != m_values.cend() && it->type == entry.type && it->value == entry.value)
            return;
        m_values.insert(key, std::move(entry));
        m_dirty = true;
    }
    emit valueChanged(key);
    scheduleSave();
}

void SettingsStore::setBool(const QString &key, bool value) { put(key, {Type::boolean, value}); }
void SettingsStore::setInt(const QString &key, qint64 value) { put(key, {Type::integer, QVariant::fromValue(value)}); }
void SettingsStore::setDouble(const QString &key, double value) { put(key, {Type::real, value}); }
void SettingsStore::setString(const QString &key, const QString &value) { put(key, {Type::string, value}); }
void SettingsStore::setData(const QString &key, const QByteArray &value) { put(key, {Type::data, value}); }

void SettingsStore::remove(const QString &key)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_values.remove(key))
            return;
        m_dirty = true;
    }
    emit valueChanged(key);
    scheduleSave();
}

void SettingsStore::scheduleSave(int delayMs)
{
    if (isReadOnly())
        return;
    const auto start = [this, delayMs] {
        if (!m_saveTimer.isActive())
            m_saveTimer.start(delayMs);
    };
    if (QThread::currentThread() == thread())
        start();
    else
        QMetaObject::invokeMethod(this, start, Qt::QueuedConnection);
}

bool SettingsStore::isDirty() const
{
    QMutexLocker lock(&m_mutex);
    return m_dirty;
}

QByteArray SettingsStore::serialize() const
{
    QJsonObject values;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        QJsonValue value;
        switch (it->type) {
        case Type::boolean: value = it->value.toBool(); break;
        case Type::integer: {
            const qint64 number = it->value.toLongLong();
            if (std::fabs(double(number)) < maxExactInteger)
                value = double(number);
            else
                value = QString::number(number);
            break;
        }
        case Type::real: {
            const double number = it->value.toDouble();
            if (std::isnan(number))
                value = QStringLiteral("nan");
            else if (std::isinf(number))
                value = number > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
            else
                value = number;
            break;
        }
        case Type::string: value = it->value.toString(); break;
        case Type::data: value = QString::fromLatin1(it->value.toByteArray().toBase64()); break;
        }
        values.insert(it.key(), QJsonObject{{QStringLiteral("type"), typeName(it->type)},
                                            {QStringLiteral("value"), value}});
    }
    const QJsonObject root{{QStringLiteral("format"), fileFormat}, {QStringLiteral("values"), values}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool SettingsStore::flush(QString *error)
{
    if (QThread::currentThread() == thread())
        m_saveTimer.stop();
    if (isReadOnly())
        return true;
    QMutexLocker lock(&m_mutex);
    if (!m_dirty)
        return true;
    FileModes::makePrivatePath(QFile::encodeName(QFileInfo(m_path).absolutePath()));
    QString reason;
    if (!writeFileAtomically(m_path, serialize(), &reason, FileAccess::ownerOnly)) {
        if (error)
            *error = reason;
        const bool report = !m_failureReported;
        m_failureReported = true;
        lock.unlock();
        // Try again later (also when nothing else changes); tell once.
        scheduleSave(retryDelayMs);
        if (report) {
            qWarning("Perchbox cannot save its settings (%s); they are kept and saved again once possible",
                     qPrintable(reason));
            emit saveFailed(reason);
        }
        return false;
    }
    m_dirty = false;
    m_failureReported = false;
    return true;
}
