#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

// The preview of a shelf's files: images scaled to fit, text files as text, anything else
// with its icon, name, size and type. Left/Right (and Up/Down) step through the files;
// Space or Escape closes it. Content is read off the UI thread.
class QuickLookWindow : public QWidget
{
    Q_OBJECT
public:
    explicit QuickLookWindow(QWidget *parent = nullptr);

    void showFiles(const QList<QUrl> &files, int start);
    int currentIndex() const { return m_index; }
    QList<QUrl> files() const { return m_files; }

    // The one preview window of the process (created on demand).
    static QuickLookWindow *shared();
    static bool isOpen();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showCurrent();
    void updateImage();

    QList<QUrl> m_files;
    int m_index = 0;
    quint64 m_generation = 0;
    QLabel *m_title;
    QStackedWidget *m_stack;
    QLabel *m_image;
    QPlainTextEdit *m_text;
    QLabel *m_infoIcon;
    QLabel *m_info;
    QImage m_currentImage;
};
