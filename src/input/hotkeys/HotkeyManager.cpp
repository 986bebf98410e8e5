#include "input/hotkeys/HotkeyManager.h"

#include "input/tuck/ShelfTuckManager.h"
#include "model/ShelfManager.h"
#include "platform/NotificationCenter.h"
#include "settings/AppSettings.h"

#include <QPointer>
#include <QSet>
#include <QTimer>

#include <memory>

HotkeyManager::HotkeyManager(ShelfManager &shelves, AppSettings &settings, ShelfTuckManager &tuck, QObject *parent)
    : QObject(parent), m_shelves(shelves), m_settings(settings), m_tuck(tuck)
{
}

HotkeyManager::~HotkeyManager()
{
    unregisterEverything();
    if (m_registrar)
        m_registrar->pressed = {};
}

void HotkeyManager::setRegistrar(HotkeyRegistrar *registrar)
{
    if (m_registrar == registrar)
        return;
    unregisterEverything();
    if (m_registrar)
        m_registrar->pressed = {};
    m_registrar = registrar;
    if (m_registrar) {
        // The service calls back from its event handling; the action runs queued on the
        // main loop, after the handler has returned.
        const QPointer<HotkeyManager> self(this);
        m_registrar->pressed = [self](uint32_t id) {
            if (self)
                QMetaObject::invokeMethod(self.data(), [self, id] { if (self) self->dispatch(id); }, Qt::QueuedConnection);
        };
    }
}

void HotkeyManager::unregisterEverything()
{
    if (m_registrar)
        for (const HotkeyRegistrar::Handle handle : std::as_const(m_customRefs))
            m_registrar->unregisterHotkey(handle);
    m_customRefs.clear();
    m_customActions.clear();
    m_customCombos.clear();
}

bool HotkeyManager::registerOne(const KeyCombo &combo, const QString &name, const QString &description,
                                std::function<void()> action)
{
    uint32_t id = firstCustomID;
    while (m_customRefs.contains(id))
        ++id;
    const std::optional<HotkeyRegistrar::Handle> handle =
        m_registrar ? m_registrar->registerHotkey({combo, id, name, description}) : std::nullopt;
    if (!handle) {
        m_refused.append(combo);
        return false;
    }
    m_customRefs.insert(id, *handle);
    m_customActions.insert(id, std::move(action));
    m_customCombos.insert(id, combo);
    return true;
}

void HotkeyManager::registerAll()
{
    unregisterEverything();
    m_refused.clear();
    if (m_suspended || !m_registrar) {
        emit registrationsChanged();
        return;
    }

    QSet<QString> existing;
    for (const Shelf &shelf : m_shelves.shelves())
        existing.insert(uuidString(shelf.id));

    QSet<KeyCombo> used;
    const QPointer<HotkeyManager> self(this);
    struct Global {
        std::optional<KeyCombo> combo;
        QString name;
        QString description;
        std::function<void()> action;
    };
    const Global globals[] = {
        {m_settings.customShowAllCombo(), QStringLiteral("show-all"), QStringLiteral("Show / hide shelves"),
         [self] { if (self && self->onShowApp) self->onShowApp(); }},
        {m_settings.customNewShelfCombo(), QStringLiteral("new-shelf"), QStringLiteral("New shelf"),
         [self] { if (self && self->onNewShelf) self->onNewShelf(); }},
        {m_settings.customTuckLeftCombo(), QStringLiteral("tuck-left"), QStringLiteral("Tuck active shelf left"),
         [self] { if (self) self->tuckActiveShelf(TuckEdge::left); }},
        {m_settings.customTuckRightCombo(), QStringLiteral("tuck-right"), QStringLiteral("Tuck active shelf right"),
         [self] { if (self) self->tuckActiveShelf(TuckEdge::right); }},
    };
    for (const Global &global : globals) {
        if (!global.combo || used.contains(*global.combo))
            continue;
        if (registerOne(*global.combo, global.name, global.description, global.action))
            used.insert(*global.combo);
    }

    // QMap keeps its keys sorted: ascending shelf UUID strings.
    const QMap<QString, KeyCombo> &shelfCombos = m_settings.customShelfCombos();
    for (auto it = shelfCombos.cbegin(); it != shelfCombos.cend(); ++it) {
        const std::optional<QUuid> shelfId = parseUuid(it.key());
        if (!shelfId || !existing.contains(uuidString(*shelfId)) || used.contains(it.value()))
            continue;
        const Shelf *shelf = m_shelves.shelf(*shelfId);
        const QString description = QStringLiteral("Bring \"%1\" to the pointer").arg(shelf ? shelf->name : it.key());
        if (registerOne(it.value(), QStringLiteral("shelf-") + uuidString(*shelfId), description,
                        [self, id = *shelfId] { if (self) self->summonShelf(id); }))
            used.insert(it.value());
    }
    m_registrar->commit();
    emit registrationsChanged();
}

void HotkeyManager::setSuspended(bool suspended)
{
    if (m_suspended == suspended)
        return;
    m_suspended = suspended;
    registerAll();
}

std::optional<KeyCombo> HotkeyManager::comboOf(uint32_t id) const
{
    const auto it = m_customCombos.constFind(id);
    return it == m_customCombos.constEnd() ? std::nullopt : std::optional(*it);
}

std::optional<uint32_t> HotkeyManager::idOfCombo(const KeyCombo &combo) const
{
    for (auto it = m_customCombos.cbegin(); it != m_customCombos.cend(); ++it)
        if (it.value() == combo)
            return it.key();
    return std::nullopt;
}

void HotkeyManager::dispatch(uint32_t id)
{
    switch (id) {
    case sendToShelfID:
        NotificationCenter::instance().post(Notifications::sendToShelfHotkey);
        return;
    case newShelfID:
        if (onNewShelf)
            onNewShelf();
        return;
    case showAppID:
        if (onShowApp)
            onShowApp();
        return;
    default:
        break;
    }
    if (const auto action = m_customActions.constFind(id); action != m_customActions.constEnd()) {
        // Copied: the action may re-register everything while it runs.
        const std::function<void()> run = *action;
        run();
    } else if (const auto shelf = shelfHotkeyIDs.constFind(id); shelf != shelfHotkeyIDs.constEnd()) {
        summonShelf(*shelf);
    }
}

void HotkeyManager::summonShelf(const QUuid &shelfId)
{
    if (!m_shelves.shelf(shelfId))
        return;
    if (m_shelves.isShelfHidden(shelfId)) {
        m_tuck.hideAgainAfterHotkeyCycle(shelfId);
        m_shelves.unhideShelf(shelfId);
        if (TuckWindow *window = m_tuck.window(shelfId))
            window->raise();
    }
    const QVariantMap info{{Notifications::idKey, uuidString(shelfId)}, {Notifications::fromHotkeyKey, true}};
    const auto highlight = [this, shelfId, info] {
        m_tuck.setActiveShelf(shelfId);
        NotificationCenter::instance().post(Notifications::highlightShelf, info);
    };
    if (m_tuck.hasWindow(shelfId)) {
        highlight();
        return;
    }
    NotificationCenter::instance().post(Notifications::openSpecificShelf, info);
    if (m_tuck.hasWindow(shelfId)) {
        highlight();
        return;
    }
    // The window may appear later: look for it every 0.05 s, at most 20 times.
    auto attempts = std::make_shared<int>(0);
    auto *timer = new QTimer(this);
    timer->setInterval(summonRetryMs);
    connect(timer, &QTimer::timeout, this, [this, timer, attempts, shelfId, highlight] {
        if (m_tuck.hasWindow(shelfId) && m_shelves.shelf(shelfId)) {
            timer->deleteLater();
            highlight();
        } else if (++*attempts >= summonRetries || !m_shelves.shelf(shelfId)) {
            timer->deleteLater();
        }
    });
    timer->start();
}

bool HotkeyManager::tuckActiveShelf(TuckEdge edge)
{
    const std::optional<QUuid> active = m_tuck.currentActiveShelfID();
    return active && m_tuck.toggleTuck(edge, *active);
}
