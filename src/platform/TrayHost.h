#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

class QMenu;
class QSystemTrayIcon;
class QWidget;

// Hosts the program's panel. Where the desktop has a system tray, a tray icon is shown and
// clicking it pops the panel up next to the icon. Where it has none (plain GNOME, a bare X
// server), the panel lives in a small normal window titled "Perchbox" instead, so every
// command stays reachable. The tray is checked again when it comes or goes.
class TrayHost : public QObject
{
    Q_OBJECT
public:
    // `panel` becomes owned by the host.
    explicit TrayHost(QWidget *panel, QObject *parent = nullptr);
    ~TrayHost() override;

    // Shows the tray icon, or the fallback window. Emits itemAppeared() the first time
    // either is on screen.
    void start();
    bool usesTray() const { return m_tray != nullptr; }
    bool hasAppeared() const { return m_appeared; }

    void setIcon(const QIcon &icon);
    void setToolTip(const QString &text);
    // The tray icon's right-click menu (not owned).
    void setContextMenu(QMenu *menu);

    QWidget *panel() const { return m_panel; }
    bool isPanelVisible() const;

public slots:
    void showPanel();
    void hidePanel();
    void togglePanel();

signals:
    void itemAppeared();

private:
    void useTray();
    void useWindow();
    void placePanelAtTray();
    void placeWindowInCorner();
    void checkAvailability();

    QPointer<QWidget> m_panel;
    QSystemTrayIcon *m_tray = nullptr;
    QPointer<QMenu> m_menu;
    QIcon m_icon;
    QString m_toolTip;
    bool m_appeared = false;
    bool m_started = false;
    bool m_windowPlaced = false;
};
