// What a user does in the window, with the keyboard and the mouse through the X server:
// signing up and in, composing and sharing, quitting mid-share, a server that goes away.
#include "DesktopTest.h"

#include "api/HttpTransport.h"
#include "foundation/TextRules.h"
#include "support/DemoServer.h"
#include "support/TestImages.h"

#include <QDBusInterface>
#include <QSet>

#include <algorithm>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

const QString kTypedAddress = QStringLiteral("zed@example.org"); // not among the demo contacts

QString text(const QVariantMap &record, const char *key) {
    return record.value(QLatin1String(key)).toString();
}

QString describe(const QVariantMap &element) {
    return QStringLiteral("%1 \"%2\" (%3) in %4")
        .arg(text(element, "role"), text(element, "name"), text(element, "class"), text(element, "window"));
}

class DesktopFlowsTest : public DesktopTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DesktopTest::SetUp());
        if (!IsSkipped()) {
            ASSERT_NO_FATAL_FAILURE(writePhotos());
        }
    }

    bool hasRecipient(const std::function<bool(const QVariantMap &)> &wanted) {
        const QList<QVariantMap> recipients = listProperty("CurrentRecipients");
        return std::any_of(recipients.begin(), recipients.end(), wanted);
    }

    void setMessage(const QString &message) {
        QDBusInterface scripting(QStringLiteral("com.Lanternfish.MacClient"),
            QStringLiteral("/com/Lanternfish/MacClient"),
            QStringLiteral("com.Lanternfish.MacClient.Scripting"), privateBus());
        ASSERT_TRUE(scripting.setProperty("CurrentMessage", message));
    }

    std::optional<QJsonObject> closedBundle(const QString &message) {
        const QJsonArray bundles = bundlesWithMessage(message);
        if (bundles.size() == 1 && bundles[0].toObject().value(QLatin1String("state")).toString() == "closed")
            return bundles[0].toObject();
        return std::nullopt;
    }

    // Each of `files` arrived in `bundle` exactly once, whole.
    void expectPhotosOnce(const QJsonObject &bundle, const QStringList &files) {
        QStringList expected;
        for (const QString &file : files)
            expected.append(SHA1(readBytes(file)));
        QStringList arrived;
        for (const QJsonValue &photo : bundle.value(QLatin1String("photos")).toArray()) {
            for (const QJsonValue &upload : photo.toObject().value(QLatin1String("uploads")).toArray()) {
                if (upload.toObject().value(QLatin1String("type")).toString() == QLatin1String("full"))
                    arrived.append(upload.toObject().value(QLatin1String("sha1")).toString());
            }
        }
        expected.sort();
        arrived.sort();
        EXPECT_EQ(arrived, expected);
        EXPECT_EQ(bundle.value(QLatin1String("photos")).toArray().size(), files.size());
    }

    // Every control a user can reach has a name assistive technology reads out, and a role that
    // says what it is.
    void expectNamedControls() {
        static const QSet<QString> controlRoles {QStringLiteral("Button"), QStringLiteral("CheckBox"),
            QStringLiteral("RadioButton"), QStringLiteral("EditableText"), QStringLiteral("ComboBox"),
            QStringLiteral("List"), QStringLiteral("ListItem"), QStringLiteral("Table"),
            QStringLiteral("Slider"), QStringLiteral("SpinBox"), QStringLiteral("Link"),
            QStringLiteral("PageTab"), QStringLiteral("ButtonMenu"), QStringLiteral("ButtonDropDown"),
            QStringLiteral("MenuItem"), QStringLiteral("ProgressBar")};
        const QList<QVariantMap> elements = controls();
        ASSERT_FALSE(elements.isEmpty());
        for (const QVariantMap &element : elements) {
            const QString role = text(element, "role");
            const bool focusable = element.value(QStringLiteral("focusable")).toBool();
            if (controlRoles.contains(role) || focusable) {
                EXPECT_FALSE(text(element, "name").trimmed().isEmpty()) << describe(element).toStdString();
            }
            if (focusable) {
                EXPECT_FALSE(role == QLatin1String("Client") || role == QLatin1String("NoRole"))
                    << describe(element).toStdString();
            }
        }
    }
};

TEST_F(DesktopFlowsTest, SignsUpInTheSheetIsSignedInOnceConfirmedAndSignsInAgainWithTheSheet) {
    startProgram();
    const std::optional<QVariantMap> want = waitForControl(QStringLiteral("I want an account"));
    ASSERT_TRUE(want) << program->errSoFar().toStdString();
    click(*want);

    const QString email = QStringLiteral("nina.park@example.org");
    const QString password = QStringLiteral("harbour lights");
    for (const auto &[name, value] :
        {std::pair {QStringLiteral("E-mail"), email}, {QStringLiteral("First name"), QStringLiteral("Nina")},
            {QStringLiteral("Last name"), QStringLiteral("Park")}, {QStringLiteral("Password"), password},
            {QStringLiteral("Confirm password"), password}}) {
        const std::optional<QVariantMap> field = waitForControl(name, QStringLiteral("EditableText"));
        ASSERT_TRUE(field) << name.toStdString();
        click(*field);
        typeText(value);
    }
    const std::optional<QVariantMap> signUp = control(QStringLiteral("Sign Up"), QStringLiteral("Button"));
    ASSERT_TRUE(signUp);
    EXPECT_TRUE(signUp->value(QStringLiteral("enabled")).toBool());
    click(*signUp);

    // Nothing is sent before the terms are agreed to.
    const std::optional<QVariantMap> agree
        = waitForControl(QStringLiteral("Agree"), QStringLiteral("Button"));
    ASSERT_TRUE(agree) << program->errSoFar().toStdString();
    EXPECT_TRUE(requests(QStringLiteral("POST"), QStringLiteral("/api/user")).isEmpty());
    click(*agree);
    const std::optional<QVariantMap> ok = waitForControl(QStringLiteral("OK"), QStringLiteral("Button"));
    ASSERT_TRUE(ok) << "no confirmation notice";
    click(*ok);
    EXPECT_FALSE(signedIn());

    // The address is confirmed elsewhere; coming back to the program signs in.
    EXPECT_EQ(
        devCall(*server, "POST", QStringLiteral("/__dev/users/confirm"), {{QStringLiteral("email"), email}})
            .toObject(),
        QJsonObject {});
    ASSERT_NO_FATAL_FAILURE(leaveAndComeBackTo(QStringLiteral("MainWindow")));
    ASSERT_TRUE(waitFor([this] { return signedIn(); })) << program->errSoFar().toStdString();
    EXPECT_TRUE(waitFor([this] { return !window(QStringLiteral("SignInWC")); }));
    ASSERT_NO_FATAL_FAILURE(waitForWelcomePage());

    // Signed out, the sheet comes back with the address and takes the new account's password.
    script(QStringLiteral("SignOut"));
    const std::optional<QVariantMap> passwordField
        = waitForControl(QStringLiteral("Password"), QStringLiteral("EditableText"));
    ASSERT_TRUE(passwordField);
    ASSERT_FALSE(signedIn());
    const std::optional<QVariantMap> emailField
        = control(QStringLiteral("E-mail"), QStringLiteral("EditableText"));
    ASSERT_TRUE(emailField);
    EXPECT_EQ(text(*emailField, "value"), email);
    click(*passwordField);
    typeText(password);
    key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor([this] { return signedIn(); })) << program->errSoFar().toStdString();
    EXPECT_TRUE(waitFor([this] { return !window(QStringLiteral("SignInWC")); }));
}

TEST_F(DesktopFlowsTest, ComposesByKeyboardClickAndDropAndSharesEveryPhotoOnce) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    // Tab reaches the address field; Return there makes the typed address a bubble.
    ASSERT_NO_FATAL_FAILURE(focusWindow(QStringLiteral("MainWindow")));
    bool reached = false;
    for (int presses = 0; presses < 12 && !reached; ++presses) {
        key(QStringLiteral("Tab"));
        waitFor([&] { return text(focus(), "name") == QLatin1String("Recipients"); }, 1000);
        reached = text(focus(), "name") == QLatin1String("Recipients");
    }
    ASSERT_TRUE(reached) << "Tab does not reach the address field; focus on "
                         << describe(focus()).toStdString();
    typeText(kTypedAddress);
    key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor([this] {
        return hasRecipient([](const QVariantMap &r) { return text(r, "email") == kTypedAddress; });
    })) << "focus on "
        << describe(focus()).toStdString() << " holding \"" << text(focus(), "value").toStdString() << '"';
    EXPECT_TRUE(text(focus(), "value").trimmed().remove(QChar::ObjectReplacementCharacter).isEmpty())
        << "the typed text is left beside the bubble: " << text(focus(), "value").toStdString();

    // A click on a group's row in the recipients list.
    std::optional<QVariantMap> family;
    ASSERT_TRUE(waitFor([&] {
        for (const QVariantMap &element : controls()) {
            if (text(element, "role") == QLatin1String("ListItem")
                && text(element, "name").startsWith("Family"))
                family = element;
        }
        return family.has_value();
    }));
    click(*family);
    ASSERT_TRUE(waitFor([this] {
        return hasRecipient([](const QVariantMap &r) { return text(r, "name") == QLatin1String("Family"); });
    }));

    // Two files dragged from another program.
    std::optional<QVariantMap> dropView;
    for (const QVariantMap &element : controls()) {
        if (text(element, "class") == QLatin1String("lf::PhotoDropView"))
            dropView = element;
    }
    ASSERT_TRUE(dropView);
    const QStringList dropped {samplePhotos[1], samplePhotos[2]};
    ASSERT_NO_FATAL_FAILURE(dragFilesOnto(dropped, *dropView));
    ASSERT_TRUE(waitFor([this] { return listProperty("CurrentPhotos").size() == 2; }))
        << listProperty("CurrentPhotos").size();

    const std::optional<QVariantMap> note = control(QStringLiteral("Note"), QStringLiteral("EditableText"));
    ASSERT_TRUE(note);
    click(*note);
    const QString message = QStringLiteral("From the harbour walk");
    typeText(message);
    ASSERT_TRUE(waitFor([&] { return property("CurrentMessage").toString() == message; }));

    // No completion pop-up is left over from the address finished long ago.
    EXPECT_FALSE(control(QStringLiteral("Suggestions")).has_value());
    expectNamedControls();
    // The From line tells a screen reader who is signed in, not only that there is a sender.
    const QList<QVariantMap> shown = controls();
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const QVariantMap &element) {
        return text(element, "name").contains(QLatin1String(kDemoEmail));
    }));

    // The Share shortcut works from the note field.
    key(QStringLiteral("ctrl+Return"));
    std::optional<QJsonObject> bundle;
    ASSERT_TRUE(waitFor([&] { return (bundle = closedBundle(message)).has_value(); }, 90000))
        << program->errSoFar().toStdString();
    expectPhotosOnce(*bundle, dropped);
    QStringList recipients;
    for (const QJsonValue &v : bundle->value(QLatin1String("recipients")).toArray())
        recipients.append(v.toString().toLower());
    recipients.sort();
    EXPECT_EQ(recipients, (QStringList {QStringLiteral("%family"), kTypedAddress}));
    EXPECT_EQ(requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")).size(), 1);
}

// Every key lands where the user meant: the balloon about an invalid entry leaves the keyboard in
// the field, Tab finishes an entry, and Share takes what is typed.
TEST_F(DesktopFlowsTest, TheKeyboardAloneAddressesAnAddressAGroupAndASiteAndShares) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    script(QStringLiteral("AddPhoto"), {samplePhotos[1], QString()});
    const QString message = QStringLiteral("Typed, not clicked");
    ASSERT_NO_FATAL_FAILURE(setMessage(message));
    ASSERT_NO_FATAL_FAILURE(focusWindow(QStringLiteral("MainWindow")));
    const auto tabTo = [this](const QString &name) {
        for (int presses = 0; presses < 20; ++presses) {
            if (text(focus(), "name") == name)
                return true;
            key(QStringLiteral("Tab"));
            waitFor([&] { return text(focus(), "name") == name; }, 500);
        }
        return text(focus(), "name") == name;
    };
    const auto hasAddress = [this](const QString &address) {
        return hasRecipient([&](const QVariantMap &r) { return text(r, "email").toLower() == address; });
    };
    ASSERT_TRUE(tabTo(QStringLiteral("Recipients"))) << describe(focus()).toStdString();

    // "bob" is no address: the balloon says so, and the rest of the typing still lands.
    typeText(QStringLiteral("bob, ann.friend@lanternfish.test,"));
    ASSERT_TRUE(waitFor([&] { return hasAddress(QStringLiteral("ann.friend@lanternfish.test")); }))
        << "focus on " << describe(focus()).toStdString();
    EXPECT_EQ(text(focus(), "name"), QLatin1String("Recipients"));
    EXPECT_TRUE(text(focus(), "value").startsWith(QLatin1String("bob,")))
        << text(focus(), "value").toStdString();
    // Return points the balloon at it, with the keyboard still in the field: the entry is retyped.
    key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor([this] { return !balloon().isEmpty(); }));
    EXPECT_EQ(text(focus(), "name"), QLatin1String("Recipients"));
    typeText(kTypedAddress + QLatin1Char(','));
    ASSERT_TRUE(waitFor([&] { return hasAddress(kTypedAddress); })) << text(focus(), "value").toStdString();
    EXPECT_TRUE(balloon().isEmpty());

    // A group from the completion, finished by Tab.
    key(QStringLiteral("End"));
    typeText(QStringLiteral("Fam"));
    EXPECT_TRUE(waitFor([this] { return control(QStringLiteral("Suggestions")).has_value(); }, 10000));
    key(QStringLiteral("Tab"));
    ASSERT_TRUE(waitFor([&] { return hasAddress(QStringLiteral("%family")); }))
        << text(focus(), "value").toStdString();

    // The linked site's icon, reached with Tab and pressed with Space.
    ASSERT_TRUE(tabTo(QStringLiteral("PhotoStream"))) << describe(focus()).toStdString();
    key(QStringLiteral("space"));
    ASSERT_TRUE(waitFor([&] { return hasAddress(QStringLiteral("@photostream")); }));

    key(QStringLiteral("ctrl+Return"));
    std::optional<QJsonObject> bundle;
    ASSERT_TRUE(waitFor([&] { return (bundle = closedBundle(message)).has_value(); }, 90000))
        << program->errSoFar().toStdString();
    QStringList recipients;
    for (const QJsonValue &v : bundle->value(QLatin1String("recipients")).toArray())
        recipients.append(v.toString().toLower());
    recipients.sort();
    EXPECT_EQ(recipients,
        (QStringList {QStringLiteral("%family"), QStringLiteral("@photostream"),
            QStringLiteral("ann.friend@lanternfish.test"), kTypedAddress}));
}

TEST_F(DesktopFlowsTest, QuitMidShareAfterTheQuestionAndTheNextStartFinishesItWithoutANewBundle) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    const QString message = QStringLiteral("Interrupted by a quit");
    // The first photo is stored, the second one hangs on the wire.
    ASSERT_NO_FATAL_FAILURE(addFaults(QStringLiteral("POST"), QStringLiteral("/api/photo"),
        {QJsonObject {{"pass", true}}, QJsonObject {{"stall", true}}}));
    script(QStringLiteral("AddRecipient"), {QString(), kTypedAddress});
    const QStringList sent {samplePhotos[1], samplePhotos[2]};
    for (const QString &photo : sent)
        script(QStringLiteral("AddPhoto"), {photo, QString()});
    ASSERT_TRUE(waitFor([this] { return listProperty("CurrentPhotos").size() == 2; }));
    ASSERT_NO_FATAL_FAILURE(setMessage(message));
    script(QStringLiteral("Share"));
    ASSERT_TRUE(waitFor([this] {
        return requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).size() >= 2;
    })) << program->errSoFar().toStdString();
    const QJsonArray firstPhotos
        = bundlesWithMessage(message).at(0).toObject().value(QLatin1String("photos")).toArray();
    ASSERT_EQ(firstPhotos.size(), 2);

    // Quit from the keyboard; the question is answered with Quit.
    ASSERT_NO_FATAL_FAILURE(focusWindow(QStringLiteral("MainWindow")));
    key(QStringLiteral("ctrl+q"));
    const std::optional<QVariantMap> quit = waitForControl(QStringLiteral("Quit"), QStringLiteral("Button"));
    ASSERT_TRUE(quit) << "no quit question";
    click(*quit);
    const RunResult ended = program->finish(30000);
    EXPECT_EQ(ended.exitCode, 0) << ended;
    resetDev();

    startProgram();
    std::optional<QJsonObject> bundle;
    ASSERT_TRUE(waitFor([&] { return (bundle = closedBundle(message)).has_value(); }, 90000))
        << program->errSoFar().toStdString();
    EXPECT_TRUE(requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")).isEmpty());
    expectPhotosOnce(*bundle, sent);
    // The photo stored before the quit is not sent again.
    const QString storedGuid = firstPhotos[0].toObject().value(QLatin1String("guid")).toString();
    for (const QJsonObject &request : requests(QStringLiteral("POST"), QStringLiteral("/api/photo")))
        EXPECT_NE(
            request.value(QLatin1String("params")).toObject().value(QLatin1String("photo_guid")).toString(),
            storedGuid);
}

TEST_F(DesktopFlowsTest, ABalloonSaysTheServerIsGoneAndTheSignInFollowsWhenItIsBack) {
    ASSERT_NO_FATAL_FAILURE(signIn());
    // Pooled connections of the dev API calls would keep the server waiting.
    HttpTransport::shared().closeIdleConnections();
    server->stop();
    startProgram();
    QString shown;
    ASSERT_TRUE(waitFor([&] { return !(shown = balloon()).isEmpty(); })) << program->errSoFar().toStdString();
    EXPECT_TRUE(shown.contains(QLatin1String("offline"))) << shown.toStdString();
    EXPECT_FALSE(signedIn());
    std::optional<QVariantMap> balloonWindow = window(QStringLiteral("LFAlertWindow"));
    ASSERT_TRUE(balloonWindow);

    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([this] { return signedIn(); })) << program->errSoFar().toStdString();
    EXPECT_TRUE(waitFor([this] { return balloon().isEmpty() && !window(QStringLiteral("LFAlertWindow")); }));
    EXPECT_FALSE(window(QStringLiteral("SignInWC")));
}

} // namespace
} // namespace lf::test
