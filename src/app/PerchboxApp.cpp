#include "app/PerchboxApp.h"

#include "app/SettingsWindow.h"
#include "app/TrayPanel.h"
#include "app/TutorialWindow.h"
#include "conversion/StagingFolder.h"
#include "input/hotkeys/HotkeyRecorder.h"
#include "model/ShelfManager.h"
#include "platform/AppBus.h"
#include "platform/DesktopNotifications.h"
#include "platform/Icons.h"
#include "platform/TrayHost.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "shelf/WindowPlacement.h"
#include "shelf/WindowRules.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {
const QString kHasSeenTutorial = QStringLiteral("hasSeenTutorial");

QIcon trayIcon(bool warning)
{
    // "tray.fill" with, while global shortcuts cannot work, a small orange warning badge.
    QIcon icon;
    const QColor tint = QApplication::palette().color(QPalette::WindowText);
    for (int size : {16, 22, 24, 32, 48}) {
        QPixmap pixmap = tintedSymbolIcon(QStringLiteral("tray.fill"), tint).pixmap(size, size);
        if (warning) {
            QPainter painter(&pixmap);
            const int badge = std::max(8, size / 2);
            tintedSymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), QColor(0xff, 0x95, 0x00))
                .paint(&painter, QRect(size - badge, size - badge, badge, badge));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}
} // namespace

PerchboxApp::PerchboxApp(ShelfManager &manager, AppSettings &settings, Options options, QObject *parent)
    : QObject(parent), m_manager(manager), m_settings(settings), m_options(std::move(options))
{
    // The manager's needs from the settings. Hot keys are registered by the hot-key layer
    // through AppSettings::hotkeysRegistrationRequested.
    ShelfManager::Hooks hooks;
    hooks.maxFilesPerShelf = [&settings] { return settings.maxFilesPerShelf(); };
    hooks.pruneShelfHotkeys = [&settings](const QSet<QUuid> &ids) { settings.pruneShelfHotkeys(ids); };
    hooks.removeShelfHotkeys = [&settings](const QUuid &id) { settings.removeShelfHotkeys(id); };
    hooks.registerHotkeys = [&settings] { emit settings.hotkeysRegistrationRequested(); };
    m_manager.setHooks(hooks);

    // Dialogs above shelves, windows inside their screen, no wheel changes to unfocused boxes.
    WindowRules::install();

    m_delegate = std::make_unique<AppDelegate>(m_manager, m_settings);
    m_delegate->setWindowFactory(m_options.windowFactory);
    m_delegate->setTerminatingHook(m_options.terminatingHook);

    m_panel = new TrayPanel(*m_delegate);
    m_tray = std::make_unique<TrayHost>(m_panel);
    m_tray->setToolTip(QStringLiteral("Perchbox"));
    updateTrayIcon();

    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->addAction(symbolIcon(QStringLiteral("tray")), QStringLiteral("Show Shelf List"), m_tray.get(), &TrayHost::showPanel);
    m_trayMenu->addAction(symbolIcon(QStringLiteral("plus")), QStringLiteral("New shelf"), this,
                          [this] { m_delegate->newShelfFromPanel(); });
    m_trayMenu->addAction(QStringLiteral("Show All Shelves"), m_delegate.get(), &AppDelegate::showAllShelves);
    m_trayMenu->addAction(symbolIcon(QStringLiteral("gearshape")), QStringLiteral("Open Settings"), this,
                          [this] { openSettings(); });
    m_trayMenu->addSeparator();
    QAction *quitAction = m_trayMenu->addAction(symbolIcon(QStringLiteral("power")), QStringLiteral("Quit Perchbox"),
                                                this, &PerchboxApp::quit);
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Q));
    m_tray->setContextMenu(m_trayMenu.get());

    connect(m_panel, &TrayPanel::openSettingsRequested, this, [this] { openSettings(); });
    connect(m_panel, &TrayPanel::checkForUpdatesRequested, this, &PerchboxApp::checkForUpdates);
    connect(m_panel, &TrayPanel::tutorialRequested, this, &PerchboxApp::showTutorial);
    connect(m_panel, &TrayPanel::quitRequested, this, &PerchboxApp::quit);
    connect(m_panel, &TrayPanel::dismissRequested, m_tray.get(), &TrayHost::hidePanel);
    connect(m_panel, &TrayPanel::inputMonitoringRequested, this, [this] {
        if (m_inputMonitoring)
            m_inputMonitoring();
        else
            openSettings(QStringLiteral("Shortcuts"));
    });
    connect(m_tray.get(), &TrayHost::itemAppeared, this, &PerchboxApp::onTrayAppeared);
    connect(m_delegate.get(), &AppDelegate::activationRequested, this, [this] {
        if (!m_tray->usesTray())
            m_tray->showPanel();
    });
    connect(&m_settings, &AppSettings::inputMonitoringGrantedChanged, this, &PerchboxApp::updateTrayIcon);
    // A state file that cannot be written (a full disk): said once; the state is kept in
    // memory and written as soon as it can be.
    connect(&m_manager, &ShelfManager::saveFailed, this, [](const QString &reason) {
        DesktopNotifications::notify(QStringLiteral("Shelves Not Saved"),
                                     QStringLiteral("Perchbox cannot save your shelves: %1. They are kept while "
                                                    "Perchbox runs and saved as soon as there is room.").arg(reason));
    });
    connect(&m_settings.store(), &SettingsStore::saveFailed, this, [](const QString &reason) {
        DesktopNotifications::notify(QStringLiteral("Settings Not Saved"),
                                     QStringLiteral("Perchbox cannot save your settings and presets: %1. They are "
                                                    "kept while Perchbox runs and saved as soon as there is room.")
                                         .arg(reason));
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        m_delegate->prepareToQuit();
        m_manager.flushPendingSave();
        m_settings.store().flush();
    });
    qApp->installEventFilter(this);
}

PerchboxApp::~PerchboxApp()
{
    qApp->removeEventFilter(this);
    delete m_settingsWindow.data();
    delete m_tutorial.data();
}

void PerchboxApp::attachBus(AppBusService *bus)
{
    // Each request is answered at once and done right after: the asking process never waits
    // for windows to be shown (taking files onto a shelf happens in the background anyway).
    connect(bus, &AppBusService::activateRequested, m_delegate.get(), &AppDelegate::reopen, Qt::QueuedConnection);
    connect(bus, &AppBusService::filesReceived, m_delegate.get(), &AppDelegate::sendToShelf, Qt::QueuedConnection);
    connect(bus, &AppBusService::quitRequested, this, &PerchboxApp::quit, Qt::QueuedConnection);
    connect(bus, &AppBusService::newShelfRequested, m_delegate.get(), [this] { m_delegate->newShelfFromPanel(); },
            Qt::QueuedConnection);
}

bool PerchboxApp::hasSeenTutorial() const
{
    return m_settings.store().boolValue(kHasSeenTutorial).value_or(false);
}

void PerchboxApp::start()
{
    if (m_started)
        return;
    m_started = true;
    // Hot keys: the hot-key layer listens for this request.
    emit m_settings.hotkeysRegistrationRequested();
    // The file managers' entries are written a moment after start, not before the shelves
    // are first shown.
    if (m_options.integrateWithFileManagers)
        QTimer::singleShot(1000, m_delegate.get(), &AppDelegate::applySendToIntegration);
    // Conversion staging folders that a crash or a kill left behind (ones a running
    // `perchbox run convert` still uses are claimed and stay).
    (void)QtConcurrent::run([] { StagingFolder::removeLeftovers(); });
    m_tray->start();
    if (m_options.tutorialOnFirstStart && !hasSeenTutorial())
        showTutorial();
}

void PerchboxApp::onTrayAppeared()
{
    m_delegate->restoreOnLaunch();
    m_launched = true;
    emit launched();
}

void PerchboxApp::updateTrayIcon()
{
    const QIcon icon = trayIcon(!m_settings.inputMonitoringGranted());
    m_tray->setIcon(icon);
    QApplication::setWindowIcon(tintedSymbolIcon(QStringLiteral("tray.fill"), QColor(0, 122, 255)));
}

SettingsWindow *PerchboxApp::settingsWindow(bool create)
{
    if (!m_settingsWindow && create) {
        m_settingsWindow = new SettingsWindow(m_settings);
        m_settingsWindow->setAttribute(Qt::WA_DeleteOnClose, false);
        emit settingsWindowCreated(m_settingsWindow);
    }
    return m_settingsWindow;
}

SettingsWindow *PerchboxApp::openSettings(const QString &page)
{
    SettingsWindow *window = settingsWindow();
    window->showPage(page.isEmpty() ? window->pageTitles().value(0) : page);
    return window;
}

void PerchboxApp::showTutorial()
{
    if (!m_tutorial) {
        m_tutorial = new TutorialWindow;
        m_tutorial->setAttribute(Qt::WA_DeleteOnClose);
        // Centred by us rather than by the window manager, so that it is placed clear of the
        // shelves as our other windows are: it floats above them, and a shelf restored in the
        // middle of the screen would otherwise sit hidden under it.
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            m_tutorial->move(WindowPlacement::centeredIn(screen->availableGeometry(), m_tutorial->size()));
        }
    }
    // Seen once is enough: the next start does not show it again, even if the program quits
    // while it is open.
    m_settings.store().setBool(kHasSeenTutorial, true);
    m_tutorial->show();
    m_tutorial->raise();
    m_tutorial->activateWindow();
}

void PerchboxApp::checkForUpdates()
{
    if (m_checkForUpdates) {
        m_checkForUpdates();
        return;
    }
    SettingsWindow *window = settingsWindow();
    if (window->pageTitles().contains(QStringLiteral("Updates"))) {
        window->showPage(QStringLiteral("Updates"));
        return;
    }
    QMessageBox::information(WindowRules::currentOwner(), QStringLiteral("Check for Updates"),
                             QStringLiteral("Updates are not available yet in this version of Perchbox."));
}

void PerchboxApp::quit()
{
    m_delegate->prepareToQuit();
    // exit(), not quit(): quit() first asks every window to close, one at a time, and looks
    // over all windows again after each (thousands of shelves took minutes). The shelves stay
    // open in the record and their windows go with the program.
    QCoreApplication::exit(0);
}

bool PerchboxApp::eventFilter(QObject *watched, QEvent *event)
{
    // "Quit Perchbox" is Ctrl+Alt+Q in every window of the program (but a shortcut field that
    // records takes every key).
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() && !HotkeyRecorder::isAnyRecording()) {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier);
        if (key->key() == Qt::Key_Q && mods == (Qt::ControlModifier | Qt::AltModifier)) {
            quit();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

TutorialWindow *PerchboxApp::tutorialWindow() const
{
    return m_tutorial;
}
