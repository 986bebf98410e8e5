#include "input/hotkeys/PortalHotkeyRegistrar.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>

#include <algorithm>

namespace {

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)
Q_DECLARE_METATYPE(PortalShortcutList)

namespace {

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<PortalShortcutList>();
        return true;
    }();
    (void)done;
}

} // namespace

namespace PortalDetail {

// Receives the Response of one portal Request object, then goes away.
class PortalResponse : public QObject
{
    Q_OBJECT
public:
    PortalResponse(QDBusConnection bus, QString path, std::function<void(uint, const QVariantMap &)> handler,
                   QObject *parent)
        : QObject(parent), m_bus(std::move(bus)), m_path(std::move(path)), m_handler(std::move(handler))
    {
        listen(true);
    }

    QString path() const { return m_path; }
    // The portal put the request elsewhere than asked (portals before version 0.9 do).
    void retarget(const QString &path)
    {
        listen(false);
        m_path = path;
        listen(true);
    }

    void fail(uint code)
    {
        finish(code, {});
    }

public slots:
    void onResponse(uint code, const QVariantMap &results) { finish(code, results); }

private:
    void finish(uint code, const QVariantMap &results)
    {
        if (m_done)
            return;
        m_done = true;
        listen(false);
        const auto handler = std::move(m_handler);
        deleteLater();
        handler(code, results);
    }

    void listen(bool on)
    {
        const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
        if (on)
            m_bus.connect(PortalHotkeyRegistrar::service, m_path, requestInterface, QStringLiteral("Response"), this,
                          SLOT(onResponse(uint, QVariantMap)));
        else
            m_bus.disconnect(PortalHotkeyRegistrar::service, m_path, requestInterface, QStringLiteral("Response"), this,
                             SLOT(onResponse(uint, QVariantMap)));
    }

    QDBusConnection m_bus;
    QString m_path;
    std::function<void(uint, const QVariantMap &)> m_handler;
    bool m_done = false;
};

} // namespace PortalDetail

using PortalDetail::PortalResponse;

namespace {

PortalShortcutList shortcutsFrom(const QVariant &value)
{
    PortalShortcutList list;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> list;
    else if (value.canConvert<PortalShortcutList>())
        list = value.value<PortalShortcutList>();
    return list;
}

} // namespace

PortalHotkeyRegistrar::PortalHotkeyRegistrar(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    registerTypes();
    if (!m_bus.isConnected()) {
        m_state = State::unavailable;
        return;
    }
    m_bus.connect(service, path, interface, QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));
    // Is the portal there? Its interface answers the "version" property.
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({interface, QStringLiteral("version")});
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError() || reply.value().variant().toUInt() < 1) {
            setState(State::unavailable);
            return;
        }
        setState(State::idle);
        if (m_committed)
            commit();
    });
}

PortalHotkeyRegistrar::~PortalHotkeyRegistrar()
{
    closeSession();
}

void PortalHotkeyRegistrar::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

std::optional<HotkeyRegistrar::Handle> PortalHotkeyRegistrar::registerHotkey(const Binding &binding)
{
    if (m_state == State::unavailable || !triggerFor(binding.combo))
        return std::nullopt;
    const Handle handle = m_nextHandle++;
    m_bindings.insert(handle, binding);
    return handle;
}

void PortalHotkeyRegistrar::unregisterHotkey(Handle handle)
{
    m_bindings.remove(handle);
}

void PortalHotkeyRegistrar::commit()
{
    m_committed = true;
    QList<Binding> wanted = m_bindings.values();
    std::sort(wanted.begin(), wanted.end(), [](const Binding &a, const Binding &b) { return a.name < b.name; });
    const auto same = [](const QList<Binding> &a, const QList<Binding> &b) {
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i)
            if (a[i].name != b[i].name || a[i].combo != b[i].combo || a[i].description != b[i].description)
                return false;
        return true;
    };
    m_dirty = !same(wanted, m_boundSet) || m_state == State::refused || m_state == State::idle;
    if (m_state == State::probing || m_state == State::unavailable || m_state == State::binding || !m_dirty)
        return;
    // A changed set goes into a new session: not every desktop binds twice in one session.
    closeSession();
    createSession();
}

void PortalHotkeyRegistrar::requestBinding()
{
    if (m_state == State::unavailable || m_state == State::probing || m_state == State::binding)
        return;
    closeSession();
    createSession();
}

QString PortalHotkeyRegistrar::nextToken()
{
    return QStringLiteral("perchbox%1_%2").arg(QCoreApplication::applicationPid()).arg(++m_tokenCounter);
}

QString PortalHotkeyRegistrar::requestPath(const QString &token) const
{
    QString sender = m_bus.baseService();
    sender.remove(0, sender.startsWith(QLatin1Char(':')) ? 1 : 0);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalHotkeyRegistrar::request(const QString &method, QVariantList arguments, int optionsIndex,
                                    std::function<void(uint, const QVariantMap &)> onResponse)
{
    const QString token = nextToken();
    QVariantMap options = arguments.at(optionsIndex).toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments[optionsIndex] = options;
    // Listen before calling: the response may come right after the reply.
    auto *response = new PortalResponse(m_bus, requestPath(token), std::move(onResponse), this);
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [response = QPointer(response)](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (!response)
            return;
        if (reply.isError()) {
            response->fail(2);
            return;
        }
        if (reply.value().path() != response->path())
            response->retarget(reply.value().path());
    });
}

void PortalHotkeyRegistrar::createSession()
{
    setState(State::binding);
    QVariantMap options{{QStringLiteral("session_handle_token"), nextToken()}};
    request(QStringLiteral("CreateSession"), {options}, 0, [this](uint code, const QVariantMap &results) {
        if (code != 0) {
            setState(code == 1 ? State::refused : State::idle);
            return;
        }
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        m_session = handle.canConvert<QDBusObjectPath>() && handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
            ? handle.value<QDBusObjectPath>().path()
            : handle.toString();
        if (m_session.isEmpty()) {
            setState(State::idle);
            return;
        }
        bind();
    });
}

void PortalHotkeyRegistrar::bind()
{
    QList<Binding> wanted = m_bindings.values();
    std::sort(wanted.begin(), wanted.end(), [](const Binding &a, const Binding &b) { return a.name < b.name; });
    PortalShortcutList shortcuts;
    for (const Binding &binding : wanted) {
        QVariantMap properties{{QStringLiteral("description"), binding.description}};
        if (const auto trigger = triggerFor(binding.combo))
            properties.insert(QStringLiteral("preferred_trigger"), *trigger);
        shortcuts.append({binding.name, properties});
    }
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
                                 QString(), QVariantMap()};
    request(QStringLiteral("BindShortcuts"), arguments, 3, [this, wanted](uint code, const QVariantMap &results) {
        if (code != 0) {
            setState(code == 1 ? State::refused : State::idle);
            return;
        }
        m_boundSet = wanted;
        m_triggers.clear();
        for (const PortalShortcut &shortcut : shortcutsFrom(results.value(QStringLiteral("shortcuts"))))
            m_triggers.insert(shortcut.id, shortcut.properties.value(QStringLiteral("trigger_description")).toString());
        setState(State::bound);
        // Registrations changed while the request ran: bind those too.
        commit();
    });
}

void PortalHotkeyRegistrar::closeSession()
{
    if (m_session.isEmpty())
        return;
    m_bus.asyncCall(QDBusMessage::createMethodCall(service, m_session, QStringLiteral("org.freedesktop.portal.Session"),
                                                   QStringLiteral("Close")));
    m_session.clear();
    m_boundSet.clear();
}

void PortalHotkeyRegistrar::onActivated(const QDBusMessage &message)
{
    // Activated (o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || !pressed)
        return;
    const QString session = arguments.at(0).value<QDBusObjectPath>().path();
    const QString shortcutId = arguments.at(1).toString();
    if (session.isEmpty() || session != m_session)
        return;
    for (const Binding &binding : std::as_const(m_bindings)) {
        if (binding.name == shortcutId) {
            pressed(binding.id);
            return;
        }
    }
}

std::optional<QString> PortalHotkeyRegistrar::triggerFor(const KeyCombo &combo)
{
    const int key = combo.qtKey();
    if (key == 0)
        return std::nullopt;
    const bool keypad = combo.qtModifiers() & Qt::KeypadModifier;
    QString name;
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            name = QStringLiteral("KP_%1").arg(key - Qt::Key_0);
        else if (key == Qt::Key_Period)
            name = QStringLiteral("KP_Decimal");
        else if (key == Qt::Key_Asterisk)
            name = QStringLiteral("KP_Multiply");
        else if (key == Qt::Key_Plus)
            name = QStringLiteral("KP_Add");
        else if (key == Qt::Key_Slash)
            name = QStringLiteral("KP_Divide");
        else if (key == Qt::Key_Minus)
            name = QStringLiteral("KP_Subtract");
        else if (key == Qt::Key_Enter)
            name = QStringLiteral("KP_Enter");
        else if (key == Qt::Key_Equal)
            name = QStringLiteral("KP_Equal");
    } else if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        name = QChar(QLatin1Char(char('a' + (key - Qt::Key_A))));
    } else if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        name = QChar(QLatin1Char(char('0' + (key - Qt::Key_0))));
    } else if (key >= Qt::Key_F1 && key <= Qt::Key_F35) {
        name = QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1);
    } else {
        static const QHash<int, QString> names{
            {Qt::Key_Space, QStringLiteral("space")},       {Qt::Key_Return, QStringLiteral("Return")},
            {Qt::Key_Tab, QStringLiteral("Tab")},           {Qt::Key_Backspace, QStringLiteral("BackSpace")},
            {Qt::Key_Escape, QStringLiteral("Escape")},     {Qt::Key_Delete, QStringLiteral("Delete")},
            {Qt::Key_Insert, QStringLiteral("Insert")},     {Qt::Key_Home, QStringLiteral("Home")},
            {Qt::Key_End, QStringLiteral("End")},           {Qt::Key_PageUp, QStringLiteral("Page_Up")},
            {Qt::Key_PageDown, QStringLiteral("Page_Down")}, {Qt::Key_Left, QStringLiteral("Left")},
            {Qt::Key_Right, QStringLiteral("Right")},       {Qt::Key_Up, QStringLiteral("Up")},
            {Qt::Key_Down, QStringLiteral("Down")},         {Qt::Key_Equal, QStringLiteral("equal")},
            {Qt::Key_Minus, QStringLiteral("minus")},       {Qt::Key_BracketLeft, QStringLiteral("bracketleft")},
            {Qt::Key_BracketRight, QStringLiteral("bracketright")}, {Qt::Key_Apostrophe, QStringLiteral("apostrophe")},
            {Qt::Key_Semicolon, QStringLiteral("semicolon")}, {Qt::Key_Backslash, QStringLiteral("backslash")},
            {Qt::Key_Comma, QStringLiteral("comma")},       {Qt::Key_Slash, QStringLiteral("slash")},
            {Qt::Key_Period, QStringLiteral("period")},     {Qt::Key_QuoteLeft, QStringLiteral("grave")},
        };
        name = names.value(key);
    }
    if (name.isEmpty())
        return std::nullopt;
    QStringList parts;
    if (combo.modifierFlags & KeyCombo::Control)
        parts << QStringLiteral("CTRL");
    if (combo.modifierFlags & KeyCombo::Option)
        parts << QStringLiteral("ALT");
    if (combo.modifierFlags & KeyCombo::Shift)
        parts << QStringLiteral("SHIFT");
    if (combo.modifierFlags & KeyCombo::Command)
        parts << QStringLiteral("LOGO");
    parts << name;
    return parts.join(QLatin1Char('+'));
}

#include "PortalHotkeyRegistrar.moc"
