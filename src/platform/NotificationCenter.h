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
// Edge tucking: a tucked shelf peeks out and slides back.
inline const QString leftTuckSlideWillPeek = QStringLiteral("Perchbox.leftTuckSlideWillPeek");
inline const QString leftTuckSlideDidPeek = QStringLiteral("Perchbox.leftTuckSlideDidPeek");
inline const QString leftTuckSlideWillRetuck = QStringLiteral("Perchbox.leftTuckSlideWillRetuck");
inline const QString leftTuckSlideDidRetuck = QStringLiteral("Perchbox.leftTuckSlideDidRetuck");
inline const QString rightTuckSlideWillPeek = QStringLiteral("Perchbox.rightTuckSlideWillPeek");
inline const QString rightTuckSlideDidPeek = QStringLiteral("Perchbox.rightTuckSlideDidPeek");
inline const QString rightTuckSlideWillRetuck = QStringLiteral("Perchbox.rightTuckSlideWillRetuck");
inline const QString rightTuckSlideDidRetuck = QStringLiteral("Perchbox.rightTuckSlideDidRetuck");
inline const QString shelfPeeked = QStringLiteral("Perchbox.shelfPeeked");
inline const QString shelfUnpeeked = QStringLiteral("Perchbox.shelfUnpeeked");
inline const QString shelfWillRetuck = QStringLiteral("Perchbox.shelfWillRetuck");
inline const QString updateChannelChanged = QStringLiteral("Perchbox.updateChannelChanged");
inline const QString updateStatus = QStringLiteral("Perchbox.sparkleUpdateStatus");
// The userInfo key that names a shelf.
inline const QString idKey = QStringLiteral("id");
// With "Perchbox.openSpecificShelf" and "Perchbox.highlightShelf": true when a hot key asked.
inline const QString fromHotkeyKey = QStringLiteral("fromHotkey");
} // namespace Notifications
