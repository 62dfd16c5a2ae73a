#pragma once

#include "DevApi.h"
#include "DevServer.h"
#include "Store.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QString>

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <optional>
#include <vector>

namespace lf::dev {

// One request being answered, with what the checks found out about it.
class Call {
public:
    Call(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader);

    const httplib::Request &req;
    httplib::Response &res;
    QString path;
    QString baseUrl; // how the client addressed us: "http://host:port"
    QStringList args; // captures of the route pattern
    QJsonObject userHeader; // the parsed X-Lanternfish-User, or empty
    QJsonValue params; // the parsed X-Lanternfish-Params, undefined when absent
    std::optional<User> user;

    QString query(const char *name) const;
    QString header(const char *name) const;
    bool isLoopback() const;

    // The whole body, at most `limit` bytes kept (the rest is read and dropped, `bodyTooLarge` set).
    bool readBody(qsizetype limit);
    // Streams the body to `sink`; false when the client stopped sending or `sink` refused.
    bool receiveBody(const std::function<bool(const char *, size_t)> &sink);
    // Reads what is left of the body so that the connection can carry the next request.
    void drainBody();
    bool bodyRead() const { return m_bodyRead; }
    const QByteArray &body() const { return m_body; }
    qint64 bodyLength() const { return m_bodyLength; }
    bool bodyTooLarge() const { return m_tooLarge; }
    // The body as a JSON object, or nullopt (an error answer is then already set).
    std::optional<QJsonObject> jsonBody();
    // A member of the JSON body; nullopt (an error answer is then set) when the body is not a JSON
    // object or the member is missing or empty.
    std::optional<QString> jsonText(const char *key);
    std::optional<QJsonObject> jsonObject(const char *key);
    // Fields of an application/x-www-form-urlencoded body.
    QMap<QString, QString> formBody();

    void reply(const Reply &r);
    void json(int status, const QJsonValue &value);
    void error(int status, const QString &text);
    void html(int status, const QString &title, const QString &bodyHtml);
    void bytes(int status, const QByteArray &mime, const QByteArray &data);
    void file(const QString &filePath, const QByteArray &mime);
    void redirect(const QString &url);

private:
    const httplib::ContentReader *m_reader;
    QByteArray m_body;
    qint64 m_bodyLength = 0;
    bool m_bodyRead = false;
    bool m_tooLarge = false;
};

// The service's behaviour: routing, header checks, the handlers and the dev API. Independent of
// the listening socket, which DevServer owns.
class Service {
public:
    Service(const DevServerOptions &options, const QString &dataDir, Store &store, quint16 port);

    void handle(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader);
    // Wakes delayed and stalled requests so that the worker threads can finish.
    void shutdown();
    void seedDemo();
    // Offers a release archive as the update, its version taken from its name.
    bool offerPackage(const QString &path);

private:
    // Pending web-flow decisions, by the ticket embedded in the page.
    struct Ticket {
        QString site;
        QString callback;
        qint64 userId = 0; // linking: the account; sign-in: 0
        QString clientId;
        qint64 expires = 0;
    };
    enum class Access { Anyone, User };
    using Handler = void (Service::*)(Call &);
    struct Route {
        const char *method;
        QRegularExpression pattern;
        Access access;
        bool streamsBody;
        Handler handler;
    };

    void buildRoutes();
    void dispatch(Call &call);
    bool authenticate(Call &call);
    QString baseUrlFor(const httplib::Request &req) const;
    QJsonObject logHead(const httplib::Request &req) const;
    // Waits `ms` or until shutdown; false when interrupted by shutdown.
    bool pause(int ms);
    // Neither reads nor answers until the client gives up, the faults are reset or the server
    // stops; returns the connection's socket (or -1) for drop().
    int stall(const httplib::Request &req);
    // Ends the connection without an answer.
    void drop(Call &call, int fd);

    // Root, users, profile.
    void root(Call &call);
    void signInPage(Call &call);
    void verify(Call &call);
    void profile(Call &call);
    void signUp(Call &call);
    void updateInfo(Call &call);
    // Address book.
    void listContacts(Call &call);
    void addContact(Call &call);
    void getContact(Call &call);
    void updateContact(Call &call);
    void deleteContact(Call &call);
    void addGroup(Call &call);
    void updateGroup(Call &call);
    void deleteGroup(Call &call);
    // Sites.
    QJsonObject siteRecord(const Call &call, const struct SiteDef &site, bool connected) const;
    void services(Call &call);
    void siteContacts(Call &call);
    void sitePage(Call &call);
    void siteAuthorize(Call &call);
    void unlinkSite(Call &call);
    void siteIcon(Call &call);
    QString newTicket(Ticket ticket);
    void signInChoicePage(
        Call &call, const struct SiteDef &site, const QString &ticket, const QString &problem);
    // Bundles.
    void createBundle(Call &call);
    void uploadPhoto(Call &call);
    void closeBundle(Call &call);
    void cancelBundle(Call &call);
    void listBundles(Call &call);
    void photoImage(Call &call);
    // Update check, terms, package, logs.
    QJsonObject updateConfig();
    // The package the update check offers: a file named by the dev API, else a generated one.
    QByteArray updatePackage();
    void updateCheck(Call &call);
    void datedIcon(Call &call);
    void terms(Call &call);
    void download(Call &call);
    void uploadLog(Call &call);
    // Pages.
    void welcomePage(Call &call);
    void browserSession(Call &call);
    void passwordResetPage(Call &call);
    void passwordReset(Call &call);
    void supportPage(Call &call);
    void supportSubmit(Call &call);
    // Dev API.
    void devApi(Call &call);

    // Streams the body into a temporary file of the data folder; nullopt (answer set) when it
    // was cut off, too large or could not be written.
    struct Received {
        QString partPath;
        qint64 bytes = 0;
        QString sha1;
    };
    std::optional<Received> receiveToFile(Call &call, qint64 limit);
    // Moves a received file to its place under the data folder.
    bool placeFile(const QString &partPath, const QString &relativePath);
    QString absolutePath(const QString &relativePath) const;

    DevServerOptions m_options;
    QString m_dataDir;
    Store &m_store;
    quint16 m_port;
    std::vector<Route> m_routes;
    RequestLog m_log;
    FaultQueue m_faults;

    std::mutex m_ticketMutex;
    std::map<QString, Ticket> m_tickets;

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stopping {false};
    std::atomic<quint64> m_resetGeneration {0};
};

} // namespace lf::dev
