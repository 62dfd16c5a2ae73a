#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <vector>

namespace lf {

struct Notification {
    QString name;
    QVariant object;
    QVariantMap userInfo;
};

// The process's one notification centre. Observers are callbacks tied to an owner object and
// dropped when the owner is destroyed, so a notification never reaches a dead observer.
class NotificationCenter {
public:
    using Callback = std::function<void(const Notification &)>;

    static NotificationCenter &defaultCenter();

    // Calls `callback` for every notification named `name` (every notification when empty).
    void addObserver(QObject *owner, const QString &name, Callback callback);
    // Removes the owner's observers of `name`, or all of them when `name` is empty.
    void removeObserver(QObject *owner, const QString &name = {});

    // Calls the observers at once, on the posting thread.
    void post(const QString &name, const QVariant &object = {}, const QVariantMap &userInfo = {});
    void post(const Notification &notification);

    // On the main thread: posts at once. Elsewhere: hands the notification to the main thread
    // and returns; it is posted there later, in the order handed over.
    void postNotificationMainThread(const QString &name, const QVariant &object = {});
    void postNotificationMainThread(const Notification &notification);

    int observerCount() const;

private:
    struct Observer {
        QPointer<QObject> owner;
        QString name;
        Callback callback;
    };

    mutable QMutex m_mutex;
    std::vector<Observer> m_observers;
};

} // namespace lf
