#include "shell/StartupSequence.h"

#include "shell/StandardAlert.h"

#include "api/ServiceAPI.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "session/Service.h"
#include "toolkit/ClockTimer.h"

#include <QGuiApplication>
#include <QTimer>

namespace lf {

StartupSequence::StartupSequence(std::shared_ptr<Service> service, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service)) { }

StartupSequence::~StartupSequence() {
    stopTimers();
}

void StartupSequence::stopTimers() {
    if (m_periodicTimer)
        m_periodicTimer->stop();
}

void StartupSequence::checkReVirgin() {
    checkReVirgin(QGuiApplication::queryKeyboardModifiers());
}

void StartupSequence::checkReVirgin(Qt::KeyboardModifiers held) {
    const Qt::KeyboardModifiers all = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if ((held & all) != all)
        return;
    const QString staging = ServiceAPI::hostEntry(1).host;
    const QString testing = ServiceAPI::hostEntry(2).host;
    const int choice = runStandardAlert({localizedString("[Virginize]"), localizedString("[VirginizeText]"),
        {staging, localizedString("[Maintain]"), testing}});
    if (choice != StandardAlert::Default && choice != StandardAlert::Other)
        return;
    Prefs::clearAllPrefs();
    m_service->chooseHost(choice == StandardAlert::Default ? 1 : 2);
}

void StartupSequence::setUpDefaultPrefs() {
    Prefs::applyFirstRunDefaults();
}

void StartupSequence::startTimers(std::function<void()> signIn) {
    m_signIn = std::move(signIn);
    m_oneShotTimer = new QTimer(this);
    m_oneShotTimer->setSingleShot(true);
    connect(m_oneShotTimer, &QTimer::timeout, this, &StartupSequence::oneShot);
    m_oneShotTimer->start(kOneShotMs);
    m_periodicTimer = new ClockTimer(this);
    connect(m_periodicTimer, &ClockTimer::timeout, this, [this] {
        if (m_housekeeping)
            m_housekeeping();
    });
    m_periodicTimer->start(kPeriodicMs);
}

void StartupSequence::oneShot() {
    // On unless the user chose otherwise: a start must never undo a "no" to crash reports.
    if (!Prefs::prefForKey(QLatin1String(PrefKey::CanUploadCrashLogs)).isValid())
        Prefs::setBoolPref(true, QLatin1String(PrefKey::CanUploadCrashLogs));
    if (!m_updater) {
        m_signIn();
        return;
    }
    m_updater->checkForUpdate([this](bool updating) {
        if (!updating)
            m_signIn();
    });
}

} // namespace lf
