#include "foundation/NotificationCenter.h"

#include "foundation/MainThread.h"

#include <algorithm>

namespace lf {

NotificationCenter &NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(QObject *owner, const QString &name, Callback callback) {
    Q_ASSERT(owner);
    bool firstForOwner = false;
    {
        QMutexLocker lock(&m_mutex);
        firstForOwner = std::none_of(
            m_observers.begin(), m_observers.end(), [owner](const Observer &o) { return o.owner == owner; });
        m_observers.push_back({owner, name, std::move(callback)});
    }
    if (firstForOwner) {
        QObject::connect(
            owner, &QObject::destroyed, owner, [this, owner] { removeObserver(owner); },
            Qt::DirectConnection);
    }
}

void NotificationCenter::removeObserver(QObject *owner, const QString &name) {
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_observers, [&](const Observer &o) {
        return (o.owner.isNull() || o.owner == owner) && (name.isEmpty() || o.name == name);
    });
}

void NotificationCenter::post(const QString &name, const QVariant &object, const QVariantMap &userInfo) {
    post(Notification {name, object, userInfo});
}

void NotificationCenter::post(const Notification &notification) {
    // Observers run without the lock held, so they may add or remove observers or post again.
    std::vector<std::pair<QPointer<QObject>, Callback>> targets;
    {
        QMutexLocker lock(&m_mutex);
        for (const auto &o : m_observers) {
            if (!o.owner.isNull() && (o.name.isEmpty() || o.name == notification.name))
                targets.emplace_back(o.owner, o.callback);
        }
    }
    for (const auto &[owner, callback] : targets) {
        if (!owner.isNull())
            callback(notification);
    }
}

void NotificationCenter::postNotificationMainThread(const QString &name, const QVariant &object) {
    postNotificationMainThread(Notification {name, object, {}});
}

void NotificationCenter::postNotificationMainThread(const Notification &notification) {
    if (isMainThread()) {
        post(notification);
        return;
    }
    runOnMainThread([this, notification] { post(notification); });
}

int NotificationCenter::observerCount() const {
    QMutexLocker lock(&m_mutex);
    return int(std::count_if(
        m_observers.begin(), m_observers.end(), [](const Observer &o) { return !o.owner.isNull(); }));
}

} // namespace lf
