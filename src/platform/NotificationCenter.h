#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// The process-wide notification centre. Parts that do not know each other talk through
// named notifications ("Perchbox.…") with a userInfo map; a shelf is named by its
// upper-case UUID string under the key "id".
class NotificationCenter : public QObject
{
    Q_OBJECT
public:
    static NotificationCenter &instance();

    // Delivers synchronously to every observer, on the calling (main) thread.
    void post(const QString &name, const QVariantMap &userInfo = {});

    // Calls `handler` for every notification called `name` until `context` is destroyed.
    QMetaObject::Connection observe(const QString &name, const QObject *context,
                                    std::function<void(const QVariantMap &)> handler);

signals:
    void posted(const QString &name, const QVariantMap &userInfo);

private:
    NotificationCenter() = default;
};

namespace Notifications {
inline const QString createNewShelf = QStringLiteral("Perchbox.createNewShelf");
inline const QString openSpecificShelf = QStringLiteral("Perchbox.openSpecificShelf");
inline const QString restoreShelf = QStringLiteral("Perchbox.restoreShelf");
inline const QString restoreAllShelves = QStringLiteral("Perchbox.restoreAllShelves");
inline const QString showAllShelves = QStringLiteral("Perchbox.showAllShelves");
inline const QString shelfReceivedDrop = QStringLiteral("Perchbox.shelfReceivedDrop");
inline const QString highlightShelf = QStringLiteral("Perchbox.highlightShelf");
inline const QString sendToShelfHotkey = QStringLiteral("Perchbox.sendToShelfHotkey");
inline const QString shelfSizeChanged = QStringLiteral("Perchbox.shelfSizeChanged");
inline const QString updateChannelChanged = QStringLiteral("Perchbox.updateChannelChanged");
inline const QString updateStatus = QStringLiteral("Perchbox.sparkleUpdateStatus");
// The userInfo key that names a shelf.
inline const QString idKey = QStringLiteral("id");
} // namespace Notifications
