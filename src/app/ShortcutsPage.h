#pragma once

#include "input/KeyCombo.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class AppSettings;
class GlobalHotkeyManager;
class HotkeyManager;
class HotkeyRecorder;
class QLabel;
class QPushButton;
class QVBoxLayout;
class ShelfManager;

// The "Shortcuts" page of the settings window: the four application shortcuts, one recorder
// per shelf, "Hold shelf at cursor", "Restore Default Shortcuts", and, while global shortcuts
// cannot work, why not and what to do instead.
class ShortcutsPage : public QWidget
{
    Q_OBJECT
public:
    // `hotkeys` and `global` may be null (then no state is shown).
    ShortcutsPage(AppSettings &settings, ShelfManager &shelves, HotkeyManager *hotkeys, GlobalHotkeyManager *global,
                  QWidget *parent = nullptr);

    // The recorders by what they set: "showAll", "newShelf", "tuckLeft", "tuckRight", and
    // the shelves' UUID strings.
    HotkeyRecorder *recorder(const QString &key) const { return m_recorders.value(key); }

private:
    void rebuildShelves();
    void updateStatus();
    void updateRefused();
    HotkeyRecorder *addRecorder(const QString &key, const std::optional<KeyCombo> &combo,
                                std::function<void(const std::optional<KeyCombo> &)> store);

    AppSettings &m_settings;
    ShelfManager &m_shelves;
    QPointer<HotkeyManager> m_hotkeys;
    QPointer<GlobalHotkeyManager> m_global;
    QHash<QString, HotkeyRecorder *> m_recorders;
    QHash<QString, QLabel *> m_refusedLabels;
    QWidget *m_shelfList = nullptr;
    QVBoxLayout *m_shelfLayout = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_enable = nullptr;
};
