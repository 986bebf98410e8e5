#pragma once

#include "input/tuck/ShelfTuckManager.h"

#include <QObject>
#include <QPointer>
#include <QUuid>

class ShelfWindow;
class QWidget;

// A shelf window as the tuck manager sees it: its frame, its strip look, and its pointer,
// activation and grip events reported to the manager. Made when the window registers; a
// child of the window, so it goes with it.
class ShelfTuckWindow : public QObject, public TuckWindow
{
    Q_OBJECT
public:
    ShelfTuckWindow(ShelfWindow &window, ShelfTuckManager &manager);
    ~ShelfTuckWindow() override;

    QRect frame() const override;
    void setFrame(const QRect &frame) override;
    QSize fullSize() const override;
    bool isShown() const override;
    void raise() override;
    void setManaged(bool managed) override;
    void setStrip(bool strip) override;
    bool isBusy() const override;
    void flash() override;

    QWidget *stripView() const { return m_strip; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The shelf window, and whether it still exists. Not a QPointer<ShelfWindow>: while the
    // window is being destroyed its events still reach our filter, and a QPointer would cast
    // an object that is no longer a ShelfWindow.
    ShelfWindow *m_window;
    QPointer<QObject> m_alive;
    ShelfTuckManager &m_manager;
    QUuid m_id;
    QWidget *m_strip = nullptr;
    QWidget *m_flash = nullptr;
    bool m_dragOver = false;
};
