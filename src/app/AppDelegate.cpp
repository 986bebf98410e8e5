#include "app/AppDelegate.h"

#include "model/ShelfFolder.h"
#include "model/ShelfManager.h"
#include "platform/NotificationCenter.h"
#include "platform/SendToIntegration.h"
#include "settings/AppSettings.h"
#include "shelf/ShelfWindow.h"
#include "shelf/WindowPlacement.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

QPointer<AppDelegate> g_delegate;

constexpr int kSecondRestoreDelayMs = 800;

QString idString(const QUuid &id)
{
    return uuidString(id);
}

std::optional<QUuid> idFromInfo(const QVariantMap &info)
{
    const QVariant value = info.value(Notifications::idKey);
    if (value.canConvert<QUuid>() && value.metaType() == QMetaType::fromType<QUuid>())
        return value.toUuid();
    return parseUuid(value.toString());
}

bool isShelfIdentifier(const QString &identifier)
{
    return identifier.size() >= 36 && identifier.contains(QLatin1Char('-'))
        && !identifier.startsWith(QLatin1String("Settings")) && !identifier.startsWith(QLatin1String("Tutorial"));
}

} // namespace

AppDelegate::AppDelegate(ShelfManager &manager, AppSettings &settings, QObject *parent)
    : QObject(parent), m_manager(manager), m_settings(settings)
{
    g_delegate = this;
    NotificationCenter &center = NotificationCenter::instance();
    // "Perchbox.createNewShelf" is observed by the manager itself (createShelf with its throttle).
    center.observe(Notifications::openSpecificShelf, this, [this](const QVariantMap &info) {
        if (const auto id = idFromInfo(info))
            showShelf(*id);
    });
    center.observe(Notifications::restoreShelf, this, [this](const QVariantMap &info) {
        if (const auto id = idFromInfo(info))
            showShelf(*id);
    });
    center.observe(Notifications::restoreAllShelves, this, [this](const QVariantMap &) { restoreAllShelves(); });
    center.observe(Notifications::showAllShelves, this, [this](const QVariantMap &) { showAllShelves(); });

    connect(&m_manager, &ShelfManager::showShelfWindowRequested, this, [this](const QUuid &id) { showShelf(id); });
    connect(&m_manager, &ShelfManager::closeShelfWindowsRequested, this, &AppDelegate::closeWindowsOfShelf);
    connect(&m_settings, &AppSettings::showInDockChanged, this, &AppDelegate::applyTaskbarPresenceToAll);
    connect(&m_settings, &AppSettings::sendToFinderEnabledChanged, this, &AppDelegate::applySendToIntegration);
}

AppDelegate::~AppDelegate()
{
    if (g_delegate == this)
        g_delegate = nullptr;
}

AppDelegate *AppDelegate::instance()
{
    return g_delegate.data();
}

// ---- windows ----------------------------------------------------------------------------

QList<QWidget *> AppDelegate::shelfWindows() const
{
    QList<QWidget *> windows;
    for (const QPointer<QWidget> &window : m_windows)
        if (window)
            windows.append(window);
    return windows;
}

QWidget *AppDelegate::windowForShelf(const QUuid &id) const
{
    QWidget *window = m_windows.value(id);
    // A window that closed its shelf and waits for deletion does not count.
    if (!window || (!window->isVisible() && !m_manager.isShelfOpen(id)))
        return nullptr;
    return window;
}

QUuid AppDelegate::shelfIdOfWindow(const QWidget *window)
{
    const QString identifier = window ? window->objectName() : QString();
    if (identifier.size() < 36)
        return {};
    return parseUuid(identifier.right(36)).value_or(QUuid());
}

void AppDelegate::applyTaskbarPresence(QWidget *window, bool showInTaskbar)
{
    if (!window)
        return;
    const bool isTool = (window->windowFlags() & Qt::WindowType_Mask) == Qt::Tool;
    if (isTool == !showInTaskbar)
        return;
    const bool wasVisible = window->isVisible();
    const QPoint position = window->pos();
    Qt::WindowFlags flags = window->windowFlags() & ~Qt::WindowType_Mask;
    flags |= showInTaskbar ? Qt::Window : Qt::Tool;
    window->setWindowFlags(flags);
    if (wasVisible) {
        window->move(position);
        window->show();
    }
}

void AppDelegate::applyTaskbarPresenceToAll()
{
    for (QWidget *window : shelfWindows())
        applyTaskbarPresence(window, m_settings.showInDock());
}

QWidget *AppDelegate::openWindow(const QUuid &id)
{
    if (!m_factory || !m_manager.shelf(id))
        return nullptr;
    QWidget *window = m_factory(m_manager, id);
    if (window) {
        m_windows.insert(id, window);
        connect(window, &QObject::destroyed, this, [this, id, window] {
            if (const auto it = m_windows.constFind(id); it != m_windows.cend() && (it->isNull() || it->data() == window))
                m_windows.erase(it);
        });
        applyTaskbarPresence(window, m_settings.showInDock());
    }
    return window;
}

void AppDelegate::closeWindowsOfShelf(const QUuid &id)
{
    const QString key = idString(id);
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->objectName().contains(key, Qt::CaseInsensitive))
            widget->close();
}

void AppDelegate::activate()
{
    emit activationRequested();
}

// ---- showing ----------------------------------------------------------------------------

void AppDelegate::showShelf(const QUuid &id, std::optional<QPoint> position)
{
    if (!m_manager.shelf(id))
        return;
    m_manager.unhideShelf(id);
    if (QWidget *window = windowForShelf(id)) {
        if (position)
            window->move(*position);
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    if (position)
        WindowPlacement::setPendingPosition(*position);
    openWindow(id);
}

void AppDelegate::showShelves(const QList<QUuid> &ids)
{
    // Only the last one shown takes the focus (activating each in turn would have the window
    // manager restack every one). None of them takes the focus as it is shown, either: every
    // change of the active window has the toolkit visit every window of the program, which
    // with thousands of shelves made a restore quadratic.
    QWidget *last = nullptr;
    constexpr int kPostedEventsEvery = 32;
    int shown = 0;
    ShelfWindow::setShowingInBatch(true);
    for (const QUuid &id : ids) {
        if (!m_manager.shelf(id))
            continue;
        m_manager.unhideShelf(id);
        if (QWidget *window = windowForShelf(id)) {
            window->setAttribute(Qt::WA_ShowWithoutActivating, true);
            window->show();
            window->setAttribute(Qt::WA_ShowWithoutActivating, false);
            window->raise();
            last = window;
        } else if (QWidget *window = openWindow(id)) {
            last = window;
        }
        // Every window posts its layout and paint requests, and posting one looks through
        // all that are waiting: handed out now and then, they never pile up into thousands.
        if (++shown % kPostedEventsEvery == 0)
            QCoreApplication::sendPostedEvents();
    }
    ShelfWindow::setShowingInBatch(false);
    if (last && last->isVisible())
        last->activateWindow();
}

void AppDelegate::restoreAllShelves()
{
    const QSet<QUuid> &open = m_manager.openShelfIDs();
    // In list order, so windows stack the same way each time.
    QList<QUuid> ids;
    for (const Shelf &shelf : m_manager.shelves())
        if (open.contains(shelf.id))
            ids.append(shelf.id);
    showShelves(ids);
}

void AppDelegate::showAllShelves()
{
    QList<QUuid> ids;
    for (const Shelf &shelf : m_manager.shelves())
        ids.append(shelf.id);
    showShelves(ids);
}

void AppDelegate::restoreOnLaunch()
{
    restoreAllShelves();
    QTimer::singleShot(kSecondRestoreDelayMs, this, &AppDelegate::restoreAllShelves);
}

void AppDelegate::toggleAllShelves()
{
    const QPoint pointer = QCursor::pos();
    WindowPlacement::setPendingPosition(pointer);
    const QList<QWidget *> windows = shelfWindows();
    activate();

    bool anyVisible = false;
    bool anyHidden = false;
    for (QWidget *window : windows) {
        if (window->isVisible())
            anyVisible = true;
        else
            anyHidden = true;
    }

    if (windows.isEmpty() || !anyVisible) {
        NotificationCenter::instance().post(Notifications::showAllShelves);
        return;
    }
    if (anyHidden) {
        for (QWidget *window : windows) {
            const QUuid id = shelfIdOfWindow(window);
            if (!id.isNull())
                m_manager.unhideShelf(id);
            const bool wasVisible = window->isVisible();
            window->show();
            window->raise();
            if (!wasVisible && !window->isVisible()) {
                QScreen *screen = QGuiApplication::screenAt(pointer);
                if (!screen)
                    screen = QGuiApplication::primaryScreen();
                if (screen)
                    window->move(WindowPlacement::placeNextTo(pointer, window->size(), screen->availableGeometry()));
                window->show();
            }
        }
        return;
    }
    // Every shelf window is visible: hide them all and remember them as hidden.
    for (QWidget *window : windows) {
        window->hide();
        const QUuid id = shelfIdOfWindow(window);
        if (!id.isNull())
            m_manager.hideShelf(id);
    }
}

// ---- creating ---------------------------------------------------------------------------

void AppDelegate::newShelfFromHotkey()
{
    const Shelf shelf = Shelf::make(ShelfDefaults::newShelfName, ShelfColorData::systemBlue(), ShelfDefaults::newShelfIcon);
    m_manager.appendShelf(shelf);
    WindowPlacement::setCenterNextWindow(true);
    NotificationCenter::instance().post(Notifications::openSpecificShelf, {{Notifications::idKey, uuidString(shelf.id)}});
}

QUuid AppDelegate::newShelfFromPanel()
{
    const Shelf shelf = Shelf::make(ShelfDefaults::newShelfName, ShelfColorData::systemBlue(), ShelfDefaults::newShelfIcon);
    m_manager.appendShelf(shelf);
    m_manager.openShelf(shelf.id);
    m_manager.unhideShelf(shelf.id);
    WindowPlacement::setCenterNextWindow(true);
    showShelf(shelf.id);
    return shelf.id;
}

QUuid AppDelegate::sendToShelf(const QList<QUrl> &files)
{
    QList<QUrl> urls;
    for (const QUrl &url : files)
        if (url.isLocalFile())
            urls.append(url);
    if (urls.isEmpty())
        return {};
    activate();

    QUuid target;
    const QUuid preferred = m_settings.defaultShelfID();
    if (!preferred.isNull() && m_manager.shelf(preferred)) {
        target = preferred;
    } else {
        for (const Shelf &shelf : m_manager.shelves()) {
            if (shelf.name == ShelfDefaults::inboxName) {
                target = shelf.id;
                break;
            }
        }
    }
    if (target.isNull()) {
        const Shelf inbox = Shelf::make(ShelfDefaults::inboxName, ShelfColorData::systemBlue(), ShelfDefaults::inboxIcon);
        m_manager.appendShelf(inbox);
        target = inbox.id;
    }
    m_manager.addFiles(urls, target);
    NotificationCenter::instance().post(Notifications::openSpecificShelf, {{Notifications::idKey, uuidString(target)}});
    return target;
}

void AppDelegate::reopen()
{
    activate();
    for (QWidget *window : shelfWindows())
        if (window->isVisible())
            return;
    NotificationCenter::instance().post(Notifications::showAllShelves);
}

// ---- lifecycle --------------------------------------------------------------------------

void AppDelegate::prepareToQuit()
{
    if (m_terminating)
        return;
    m_terminating = true;
    if (m_terminatingHook)
        m_terminatingHook();
    // Our other windows close as they would by hand (a customizer keeps the colour picked in
    // it, a tool window stops its work); they are few. The shelf windows are not closed one by
    // one: each unmapped window has the window manager and the compositor redo the screen.
    // They go at once when the program ends.
    const QList<QWidget *> all = QApplication::topLevelWidgets();
    for (QWidget *window : all)
        if (window->isVisible() && !isShelfIdentifier(window->objectName()))
            window->close();
    m_manager.flushPendingSave();
    for (QWidget *window : all)
        if (isShelfIdentifier(window->objectName()))
            window->setUpdatesEnabled(false);
}

void AppDelegate::applySendToIntegration()
{
    QStringList errors;
    if (m_settings.sendToFinderEnabled())
        SendToIntegration::install(QCoreApplication::applicationFilePath(), &errors);
    else
        SendToIntegration::uninstall(&errors);
    for (const QString &error : errors)
        qWarning("perchbox: %s", qPrintable(error));
}
