#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

class AppSettings;
class ShelfManager;
class QWidget;

// The application's shell: everything that creates, shows, hides and closes shelf windows
// on request, the "Send to Perchbox" service, and the quit path. It observes the five
// notifications "Perchbox.createNewShelf", "Perchbox.openSpecificShelf",
// "Perchbox.restoreShelf", "Perchbox.restoreAllShelves" and "Perchbox.showAllShelves" for
// the whole life of the program, and the manager's window requests.
//
// Shelf windows are found by their identifier (objectName "perchbox-shelf-<UUID>") among the
// top-level widgets; new ones are made by the window factory (a ShelfWindow by default).
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    // Makes and presents the window of a shelf (the window marks its shelf open itself).
    using WindowFactory = std::function<QWidget *(ShelfManager &, const QUuid &)>;

    AppDelegate(ShelfManager &manager, AppSettings &settings, QObject *parent = nullptr);
    ~AppDelegate() override;

    // The one delegate of the process (weak: null before creation and after destruction).
    static AppDelegate *instance();

    ShelfManager &manager() const { return m_manager; }
    AppSettings &settings() const { return m_settings; }

    void setWindowFactory(WindowFactory factory) { m_factory = std::move(factory); }
    // Called by prepareToQuit() right after isTerminating is set (the window layer's own flag).
    void setTerminatingHook(std::function<void()> hook) { m_terminatingHook = std::move(hook); }

    // Set when the program is quitting: shelf windows that disappear then keep their shelves
    // in the open set, so the same shelves come back at the next start.
    bool isTerminating() const { return m_terminating; }

    // The window of a shelf (identifier contains its UUID string), or null.
    QWidget *windowForShelf(const QUuid &id) const;
    // The program's shelf windows: top-level windows whose identifier is at least 36
    // characters long and contains "-", except the settings and tutorial windows.
    QList<QWidget *> shelfWindows() const;
    // The shelf id of a shelf window: the last 36 characters of its identifier.
    static QUuid shelfIdOfWindow(const QWidget *window);

    // Applies the taskbar setting to a window: without taskbar presence it becomes a tool
    // window (no taskbar entry).
    static void applyTaskbarPresence(QWidget *window, bool showInTaskbar);

public slots:
    // Show a shelf: unhide it; bring its window to the front (moved to `position` first when
    // given), or open a new window.
    void showShelf(const QUuid &id, std::optional<QPoint> position = std::nullopt);
    // Show every shelf in `openShelfIDs` / every shelf of the list.
    void restoreAllShelves();
    void showAllShelves();
    // The show-app hot key.
    void toggleAllShelves();
    // The new-shelf hot key.
    void newShelfFromHotkey();
    // The panel's "New shelf" button. Returns the new shelf's id.
    QUuid newShelfFromPanel();
    // "Send to Perchbox": puts the files on the default shelf, else the first "Inbox", else a
    // new "Inbox", and shows it. Returns that shelf's id (null when `files` is empty).
    QUuid sendToShelf(const QList<QUrl> &files);
    // A second start of the program: when no window is visible, show all shelves.
    void reopen();
    // Restores the open shelves now and once more 0.8 s later (when the tray item appears).
    void restoreOnLaunch();
    // Sets isTerminating and writes pending edits; the windows stay until the program ends
    // (their shelves stay open).
    void prepareToQuit();
    // Installs or removes the file-manager entries according to the setting.
    void applySendToIntegration();

signals:
    // Bring the program forward (the tray host raises its panel host where it has one).
    void activationRequested();

private:
    QWidget *openWindow(const QUuid &id);
    // Shows each shelf as showShelf() does, in order.
    void showShelves(const QList<QUuid> &ids);
    void closeWindowsOfShelf(const QUuid &id);
    void applyTaskbarPresenceToAll();
    void activate();

    ShelfManager &m_manager;
    AppSettings &m_settings;
    WindowFactory m_factory;
    // The window made for each shelf (looking among all widgets of the program took long
    // with thousands of shelves). A deleted window leaves a null pointer.
    QHash<QUuid, QPointer<QWidget>> m_windows;
    std::function<void()> m_terminatingHook;
    bool m_terminating = false;
};
