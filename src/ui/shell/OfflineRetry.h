#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace lf {

class APIResult;
class LFAlert;
class Service;

// A failed request becomes a balloon; when the server was out of reach, the balloon asks a
// worker every few seconds whether it answers again and, once it does, closes itself and signs
// in again. Main thread only.
class OfflineRetry : public QObject {
    Q_OBJECT
public:
    // `alertTarget` receives the balloon's "balloonQuit" action; `reconnected` runs once the
    // server answers again while its balloon is still up.
    OfflineRetry(std::shared_ptr<Service> service, QWidget *window, QObject *alertTarget,
        std::function<void()> reconnected, QObject *parent = nullptr);

    // Turns a failed request into a balloon; true when `result` is no failure.
    bool checkNetError(const APIResult &result, const QString &title);
    // Asks a worker whether the server answers again; connectionChecked gets the answer.
    void checkNetwork(LFAlert *alert);
    int lastNetStatus() const { return m_lastNetStatus; }
    // While the network is in trouble Quit stays enabled whatever else holds.
    bool quitForced() const { return m_quitForced; }
    void clearQuitForced() { m_quitForced = false; }

private:
    void connectionChecked(LFAlert *alert, bool connected);

    std::shared_ptr<Service> m_service;
    QPointer<QWidget> m_window;
    QPointer<QObject> m_alertTarget;
    std::function<void()> m_reconnected;
    bool m_checking = false;
    bool m_quitForced = false;
    int m_lastNetStatus = 0;
};

} // namespace lf
