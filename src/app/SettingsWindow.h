#pragma once

#include <QWidget>

class AppSettings;
class QLabel;
class QListWidget;
class QStackedWidget;
class QVBoxLayout;

// The settings window: a list of pages on the left and the chosen page on the right. It
// starts with "General", "Shortcuts", "Tools" and "About & Notices"; other parts add their
// own pages with addPage() and their sections of the "Tools" page with addToolsSection().
// The "Shortcuts" page starts empty (with a vertical layout) for the hot-key layer to fill.
class SettingsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsWindow(AppSettings &settings, QWidget *parent = nullptr);

    // Adds a page (before "About & Notices", which stays last). Takes ownership of `page`.
    // Returns the page's index.
    int addPage(const QString &title, const QString &iconName, QWidget *page);
    // Adds a titled section to the "Tools" page. Takes ownership of `section`.
    void addToolsSection(const QString &title, QWidget *section);

    // Shows the page with that title (when there is one) and brings the window forward.
    void showPage(const QString &title);
    QStringList pageTitles() const;
    QWidget *page(const QString &title) const;

    // A note under a setting: wrapped, smaller and fainter than the setting's own text.
    static QLabel *noteLabel(const QString &text, QWidget *parent);

    // The attributions of "About & Notices", one entry per outside component.
    struct Attribution {
        QString name;
        QString licence;
        QString use;
    };
    static QList<Attribution> attributions();

private:
    QWidget *buildGeneralPage();
    QWidget *buildShortcutsPage();
    QWidget *buildAboutPage();
    int insertPage(int index, const QString &title, const QString &iconName, QWidget *page);

    AppSettings &m_settings;
    QListWidget *m_list = nullptr;
    QStackedWidget *m_stack = nullptr;
    QVBoxLayout *m_toolsLayout = nullptr;
    QWidget *m_toolsEmpty = nullptr;
};
