#include "platform/NotificationCenter.h"

NotificationCenter &NotificationCenter::instance()
{
    static NotificationCenter *center = new NotificationCenter;
    return *center;
}

void NotificationCenter::post(const QString &name, const QVariantMap &userInfo)
{
    emit posted(name, userInfo);
}

QMetaObject::Connection NotificationCenter::observe(const QString &name, const QObject *context,
                                                    std::function<void(const QVariantMap &)> handler)
{
    return connect(this, &NotificationCenter::posted, context,
                   [name, handler = std::move(handler)](const QString &posted, const QVariantMap &info) {
                       if (posted == name)
                           handler(info);
                   });
}
