#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

// The tutorial: fourteen short topics, shown at the first start and again from the panel.
class TutorialWindow : public QWidget
{
    Q_OBJECT
public:
    struct Topic {
        QString title;
        QString symbol;
        QString text;
    };
    static QList<Topic> topics();

    explicit TutorialWindow(QWidget *parent = nullptr);

    int currentTopic() const;
    void showTopic(int index);

signals:
    // "Done" was pressed or the window was closed.
    void finished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QListWidget *m_list = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_text = nullptr;
    QPushButton *m_back = nullptr;
    QPushButton *m_next = nullptr;
};
