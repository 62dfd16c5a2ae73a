#pragma once

#include "shell/MacClientAppDelegate.h"
#include "shell/StandardAlert.h"

#include "devserver/DevServer.h"
#include "support/SessionFixture.h"
#include "support/TempHome.h"
#include "support/Waits.h"

#include <QJsonArray>
#include <QList>

#include <memory>

namespace lf::test {

inline const QString kDemoEmail = QStringLiteral("demo@lanternfish.test");
inline const QString kDemoPassword = QStringLiteral("lanternfish");

// The desktop program's delegate against the in-process reference server, in a temporary home.
// Standard alerts are answered by the test (`answer`) and recorded; quitting is recorded too.
class ShellTest : public TempHomeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the delegate (with its window) and runs the start-up sequence.
    void launch();
    // Ends the delegate as the program would end, keeping the home and the server.
    void shutDown();
    // Signs in with the password, as the sign-in window does, and waits for the contacts.
    void signIn();
    // Waits until the sign-in under way ended and the contacts load after it is over.
    bool waitForSignIn();
    // The text of the balloon on screen, or empty.
    static QString balloonText();

    QJsonValue devCall(const QByteArray &method, const QString &path, const QJsonObject &body = {});
    void fault(const char *method, const QString &path, const QJsonArray &responses);
    // Requests the server saw since the last reset whose path begins with `path`.
    int requestCount(const QString &method, const QString &path);

    std::unique_ptr<dev::DevServer> server;
    std::unique_ptr<MacClientAppDelegate> app;
    std::unique_ptr<NotificationRecorder> log;
    QList<StandardAlert> alerts;
    int answer = StandardAlert::Default;
    int quits = 0;
    int signInRequests = 0;
};

} // namespace lf::test
