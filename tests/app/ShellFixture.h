#pragma once

// A shell against temporary XDG folders, with stand-in shelf windows that behave as the real
// ones do towards the manager: they mark their shelf open when they appear, and close it when
// they close unless the program is quitting.
#include "app/AppDelegate.h"
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

#include <QCloseEvent>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

class FakeShelfWindow : public QWidget
{
public:
    FakeShelfWindow(ShelfManager &manager, const QUuid &id, AppDelegate &delegate)
        : m_manager(manager), m_id(id), m_delegate(delegate)
    {
        setObjectName(QStringLiteral("perchbox-shelf-") + uuidString(id));
        setAttribute(Qt::WA_DeleteOnClose);
        resize(220, 120);
    }

protected:
    void showEvent(QShowEvent *) override
    {
        if (!m_appeared) {
            m_appeared = true;
            m_manager.openShelf(m_id);
        }
    }
    void closeEvent(QCloseEvent *event) override
    {
        if (!m_delegate.isTerminating())
            m_manager.closeShelf(m_id);
        event->accept();
    }

private:
    ShelfManager &m_manager;
    QUuid m_id;
    AppDelegate &m_delegate;
    bool m_appeared = false;
};

struct ShellFixture {
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ShelfManager> manager;
    std::unique_ptr<AppDelegate> delegate;

    ShellFixture()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
        store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/settings.json"));
        settings = std::make_unique<AppSettings>(*store);
        restart();
    }

    ~ShellFixture()
    {
        closeAllWindows();
    }

    // A new manager and delegate on the same files, as at the next start.
    void restart()
    {
        closeAllWindows();
        delegate.reset();
        manager.reset();
        manager = std::make_unique<ShelfManager>();
        delegate = std::make_unique<AppDelegate>(*manager, *settings);
        delegate->setWindowFactory([this](ShelfManager &m, const QUuid &id) -> QWidget * {
            auto *window = new FakeShelfWindow(m, id, *delegate);
            window->show();
            return window;
        });
    }

    void closeAllWindows()
    {
        if (!delegate)
            return;
        for (QWidget *w : delegate->shelfWindows())
            delete w;
    }
};
