#include "Service.h"

#include "Connection.h"
#include "Pages.h"
#include "Wire.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUrlQuery>

#include <memory>

namespace lf::dev {

namespace {

constexpr qsizetype kMaxJsonBody = 4 * 1024 * 1024;
constexpr qsizetype kMaxFormBody = 256 * 1024;

QString fromStd(const std::string &text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QJsonValue parseJson(const QByteArray &text) {
    QJsonParseError problem {};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &problem);
    if (problem.error != QJsonParseError::NoError)
        return QJsonValue(QJsonValue::Undefined);
    if (doc.isArray())
        return doc.array();
    return doc.object();
}

} // namespace

// ---- Call ----

Call::Call(const httplib::Request &request, httplib::Response &response, const httplib::ContentReader *reader)
    : req(request)
    , res(response)
    , path(fromStd(request.path))
    , m_reader(reader) { }

QString Call::query(const char *name) const {
    return fromStd(req.get_param_value(name));
}

QString Call::header(const char *name) const {
    return fromStd(req.get_header_value(name));
}

bool Call::isLoopback() const {
    const std::string &a = req.remote_addr;
    return a == "::1" || a.rfind("127.", 0) == 0 || a.rfind("::ffff:127.", 0) == 0;
}

bool Call::readBody(qsizetype limit) {
    if (m_bodyRead || !m_reader) {
        m_bodyRead = true;
        return true;
    }
    m_bodyRead = true;
    return (*m_reader)([this, limit](const char *data, size_t length) {
        m_bodyLength += qint64(length);
        if (m_body.size() + qsizetype(length) <= limit)
            m_body.append(data, qsizetype(length));
        else
            m_tooLarge = true;
        return true;
    });
}

bool Call::receiveBody(const std::function<bool(const char *, size_t)> &sink) {
    if (m_bodyRead || !m_reader) {
        m_bodyRead = true;
        return true;
    }
    m_bodyRead = true;
    return (*m_reader)([this, &sink](const char *data, size_t length) {
        m_bodyLength += qint64(length);
        return sink(data, length);
    });
}

void Call::drainBody() {
    readBody(0);
}

std::optional<QJsonObject> Call::jsonBody() {
    if (!readBody(kMaxJsonBody)) {
        error(400, QStringLiteral("The request body was cut off"));
        return std::nullopt;
    }
    if (m_tooLarge) {
        error(413, QStringLiteral("The request body is too large"));
        return std::nullopt;
    }
    const QJsonValue value = parseJson(m_body);
    if (!value.isObject()) {
        error(400, QStringLiteral("The request body is not a JSON object"));
        return std::nullopt;
    }
    return value.toObject();
}

std::optional<QString> Call::jsonText(const char *key) {
    const std::optional<QJsonObject> body = jsonBody();
    if (!body)
        return std::nullopt;
    const QString text = body->value(QLatin1String(key)).toString();
    if (text.isEmpty()) {
        error(422, QStringLiteral("%1 is missing").arg(QLatin1String(key)));
        return std::nullopt;
    }
    return text;
}

std::optional<QJsonObject> Call::jsonObject(const char *key) {
    const std::optional<QJsonObject> body = jsonBody();
    if (!body)
        return std::nullopt;
    const QJsonValue member = body->value(QLatin1String(key));
    if (!member.isObject()) {
        error(422, QStringLiteral("%1 is missing").arg(QLatin1String(key)));
        return std::nullopt;
    }
    return member.toObject();
}

QMap<QString, QString> Call::formBody() {
    QMap<QString, QString> fields;
    if (!readBody(kMaxFormBody) || m_tooLarge)
        return fields;
    QByteArray text = m_body;
    text.replace('+', ' ');
    const QUrlQuery form(QString::fromUtf8(text));
    for (const auto &[key, value] : form.queryItems(QUrl::FullyDecoded))
        fields.insert(key, value);
    return fields;
}

void Call::reply(const Reply &r) {
    json(r.status, r.body);
}

void Call::json(int status, const QJsonValue &value) {
    const QByteArray text = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                            : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    res.status = status;
    res.set_content(text.toStdString(), "application/json; charset=utf-8");
}

void Call::error(int status, const QString &text) {
    json(status, QJsonObject {{QLatin1String(wire::kError), text}});
}

void Call::html(int status, const QString &title, const QString &bodyHtml) {
    res.status = status;
    res.set_content(htmlPage(title, bodyHtml).toStdString(), "text/html; charset=utf-8");
}

void Call::bytes(int status, const QByteArray &mime, const QByteArray &data) {
    res.status = status;
    res.set_content(data.toStdString(), mime.toStdString());
}

void Call::file(const QString &filePath, const QByteArray &mime) {
    auto in = std::make_shared<QFile>(filePath);
    if (!in->open(QIODevice::ReadOnly)) {
        error(404, QStringLiteral("No such file"));
        return;
    }
    res.status = 200;
    // Streamed in slices: a large photo is never held in memory whole.
    res.set_content_provider(
        size_t(in->size()), mime.toStdString(), [in](size_t offset, size_t length, httplib::DataSink &sink) {
            if (!in->seek(qint64(offset)))
                return false;
            const QByteArray slice = in->read(qint64(std::min<size_t>(length, 256 * 1024)));
            if (slice.isEmpty())
                return false;
            sink.write(slice.constData(), size_t(slice.size()));
            return true;
        });
}

void Call::redirect(const QString &url) {
    res.status = 302;
    res.set_header("Location", url.toStdString());
    const QString link = htmlEscape(url);
    res.set_content(htmlPage(QStringLiteral("Redirecting"),
                        QStringLiteral("<p><a href=\"%1\">Continue</a></p>").arg(link))
                        .toStdString(),
        "text/html; charset=utf-8");
}

// ---- Service ----

Service::Service(const DevServerOptions &options, const QString &dataDir, Store &store, quint16 port)
    : m_options(options)
    , m_dataDir(dataDir)
    , m_store(store)
    , m_port(port) {
    buildRoutes();
}

void Service::buildRoutes() {
    auto add = [this](const char *method, const char *pattern, Access access, Handler handler,
                   bool streams = false) {
        m_routes.push_back(
            Route {method, QRegularExpression(QLatin1Char('^') + QLatin1String(pattern) + QLatin1Char('$')),
                access, streams, handler});
    };
    const Access anyone = Access::Anyone;
    const Access user = Access::User;
    add("GET", "/", anyone, &Service::root);
    add("GET", "/signin", anyone, &Service::signInPage);
    add("GET", "/api/user/verify", anyone, &Service::verify);
    add("GET", "/api/user/profile", user, &Service::profile);
    add("POST", "/api/user", anyone, &Service::signUp);
    add("POST", "/api/client/update_info", user, &Service::updateInfo);
    add("GET", "/api/user/services", user, &Service::services);
    add("GET", "/api/user/services/([^/]+)/contacts", user, &Service::siteContacts);
    add("GET", "/api/user/bundles", user, &Service::listBundles);
    add("GET", "/api/user_address_book_entries/?", user, &Service::listContacts);
    add("POST", "/api/user_address_book_entries/?", user, &Service::addContact);
    add("GET", "/api/user_address_book_entries/([^/]+)/?", user, &Service::getContact);
    add("PUT", "/api/user_address_book_entries/([^/]+)/?", user, &Service::updateContact);
    add("DELETE", "/api/user_address_book_entries/([^/]+)/?", user, &Service::deleteContact);
    add("POST", "/api/address_book_groups/?", user, &Service::addGroup);
    add("PUT", "/api/address_book_groups/([^/]+)/?", user, &Service::updateGroup);
    add("DELETE", "/api/address_book_groups/([^/]+)/?", user, &Service::deleteGroup);
    add("POST", "/api/bundle", user, &Service::createBundle);
    add("POST", "/api/photo", user, &Service::uploadPhoto, true);
    add("POST", "/api/bundle/close", user, &Service::closeBundle);
    add("POST", "/api/bundle/cancel", user, &Service::cancelBundle);
    add("POST", "/api/client_logs", user, &Service::uploadLog, true);
    add("GET", "/update/([A-Za-z0-9_.-]+)", anyone, &Service::updateCheck);
    add("GET", "/terms/Lanternfish\\.pdf", anyone, &Service::terms);
    add("GET", "/downloads/lanternfish-([A-Za-z0-9.-]+)\\.tar\\.gz", anyone, &Service::download);
    add("GET", "/images/sites/([a-z0-9]+?)(_connect)?\\.png", anyone, &Service::siteIcon);
    add("GET", "/icons/dated/([A-Za-z0-9_-]+)\\.png", anyone, &Service::datedIcon);
    add("GET", "/photos/([0-9a-f]+)/(image|thumb)", anyone, &Service::photoImage);
    add("GET", "/sites/([^/]+)", anyone, &Service::sitePage);
    add("DELETE", "/sites/([^/]+)", user, &Service::unlinkSite);
    add("POST", "/sites/([^/]+)/authorize", anyone, &Service::siteAuthorize);
    add("GET", "/mac_welcome", anyone, &Service::welcomePage);
    add("GET", "/client_browser_session", anyone, &Service::browserSession);
    add("GET", "/password_resets/new", anyone, &Service::passwordResetPage);
    add("POST", "/password_resets", anyone, &Service::passwordReset);
    add("GET", "/support", anyone, &Service::supportPage);
    add("POST", "/support", anyone, &Service::supportSubmit);
}

QString Service::baseUrlFor(const httplib::Request &req) const {
    // Links in answers point back the way the client came in, so they work whatever name it used.
    static const QRegularExpression plausible(
        QStringLiteral(R"(^([A-Za-z0-9.-]{1,253}|\[[0-9A-Fa-f:.]{2,45}\])(:[0-9]{1,5})?$)"));
    const QString host = fromStd(req.get_header_value("Host"));
    if (plausible.match(host).hasMatch())
        return QStringLiteral("http://") + host;
    QString own = m_options.host;
    if (own.isEmpty() || own == QLatin1String("0.0.0.0") || own == QLatin1String("::"))
        own = QStringLiteral("127.0.0.1");
    return QStringLiteral("http://%1:%2").arg(own, QString::number(m_port));
}

QJsonObject Service::logHead(const httplib::Request &req) const {
    QJsonObject headers;
    for (const auto &[name, value] : req.headers) {
        // httplib adds these for its own bookkeeping; they were not sent.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            continue;
        const QString key = fromStd(name).toLower();
        const QString text = fromStd(value);
        headers.insert(
            key, headers.contains(key) ? headers.value(key).toString() + QStringLiteral(", ") + text : text);
    }
    const std::string::size_type mark = req.target.find('?');
    QJsonObject head {{QStringLiteral("method"), fromStd(req.method)},
        {QStringLiteral("path"), fromStd(req.path)},
        {QStringLiteral("query"),
            mark == std::string::npos ? QString() : fromStd(req.target.substr(mark + 1))},
        {QStringLiteral("headers"), headers}};
    if (req.has_header(wire::kHeaderParams)) {
        const QByteArray raw = QByteArray::fromStdString(req.get_header_value(wire::kHeaderParams));
        const QJsonValue parsed = parseJson(raw);
        head.insert(
            QStringLiteral("params"), parsed.isUndefined() ? QJsonValue(QString::fromUtf8(raw)) : parsed);
    }
    return head;
}

bool Service::pause(int ms) {
    std::unique_lock lock(m_wakeMutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
    return !m_stopping;
}

void Service::drop(Call &call, int fd) {
    if (fd >= 0) {
        dropConnection(fd);
        return;
    }
    // Without the socket the closest thing is an error answer that closes the connection.
    call.res.set_header("Connection", "close");
    call.error(503, QStringLiteral("Connection dropped"));
}

int Service::stall(const httplib::Request &req) {
    const int fd = connectionSocket(req.remote_addr, req.remote_port, req.local_port);
    const quint64 generation = m_resetGeneration;
    // Neither read nor answer until the client gives up, the faults are reset or we stop.
    while (!m_stopping && generation == m_resetGeneration) {
        if (fd < 0)
            pause(50);
        else if (waitForPeerClose(fd, 50))
            break;
    }
    return fd;
}

void Service::shutdown() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
}

void Service::handle(
    const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader) {
    Call call(req, res, reader);
    call.baseUrl = baseUrlFor(req);
    if (call.path.startsWith(QLatin1String("/__dev/"))) {
        if (m_options.devApi && call.isLoopback())
            devApi(call);
        else
            call.error(404, QStringLiteral("Not found"));
        call.drainBody();
        return;
    }

    const std::shared_ptr<LoggedRequest> entry = m_log.add(logHead(req));
    const QString method = req.method == "HEAD" ? QStringLiteral("GET") : fromStd(req.method);
    const Fault fault = m_faults.take(method, call.path);
    switch (fault.kind) {
    case Fault::Kind::Drop:
        drop(call, connectionSocket(req.remote_addr, req.remote_port, req.local_port));
        m_log.finish(entry, 0, 0, QJsonValue(QJsonValue::Undefined));
        return;
    case Fault::Kind::Stall:
        drop(call, stall(req));
        m_log.finish(entry, 0, 0, QJsonValue(QJsonValue::Undefined));
        return;
    case Fault::Kind::Status: {
        call.drainBody();
        const QByteArray body = fault.body.isEmpty()
            ? QByteArray("{\"Error\":\"") + reasonPhrase(fault.status) + "\"}"
            : fault.body;
        const bool isJson = !parseJson(body).isUndefined();
        call.bytes(
            fault.status, isJson ? "application/json; charset=utf-8" : "text/plain; charset=utf-8", body);
        m_log.finish(entry, fault.status, call.bodyLength(), QJsonValue(QJsonValue::Undefined));
        return;
    }
    case Fault::Kind::Delay:
        if (!pause(fault.delayMs)) {
            drop(call, connectionSocket(req.remote_addr, req.remote_port, req.local_port));
            m_log.finish(entry, 0, 0, QJsonValue(QJsonValue::Undefined));
            return;
        }
        break;
    default:
        break;
    }

    try {
        dispatch(call);
    } catch (const std::exception &e) {
        call.error(500, QStringLiteral("Internal Server Error"));
    }
    call.drainBody();
    QJsonValue json(QJsonValue::Undefined);
    if (!call.body().isEmpty() && !call.bodyTooLarge())
        json = parseJson(call.body());
    m_log.finish(entry, res.status, call.bodyLength(), json);
}

void Service::dispatch(Call &call) {
    const QString method = call.req.method == "HEAD" ? QStringLiteral("GET") : fromStd(call.req.method);
    const Route *found = nullptr;
    bool otherMethod = false;
    for (const Route &route : m_routes) {
        const QRegularExpressionMatch match = route.pattern.match(call.path);
        if (!match.hasMatch())
            continue;
        if (method != QLatin1String(route.method)) {
            otherMethod = true;
            continue;
        }
        found = &route;
        call.args = match.capturedTexts().mid(1);
        break;
    }
    const bool api = call.path.startsWith(QLatin1String("/api/"));
    if (!found) {
        if (otherMethod)
            call.error(405, QStringLiteral("Method not allowed"));
        else if (api)
            call.error(404, QStringLiteral("Not found"));
        else
            call.html(404, QStringLiteral("Page not found"),
                QStringLiteral("<p>There is no page at this address.</p><p><a "
                               "href=\"/mac_welcome\">Lanternfish</a></p>"));
        return;
    }
    if (api && call.header(wire::kHeaderVersion) != QLatin1String(wire::kProtocolVersion)) {
        call.error(400, QStringLiteral("Unsupported or missing X-Lanternfish-Version"));
        return;
    }
    if (call.req.has_header(wire::kHeaderParams)) {
        call.params = parseJson(QByteArray::fromStdString(call.req.get_header_value(wire::kHeaderParams)));
        if (call.params.isUndefined()) {
            call.error(400, QStringLiteral("X-Lanternfish-Params is not valid JSON"));
            return;
        }
    }
    if (call.req.has_header(wire::kHeaderUser))
        call.userHeader
            = parseJson(QByteArray::fromStdString(call.req.get_header_value(wire::kHeaderUser))).toObject();
    if (found->access == Access::User && !authenticate(call))
        return;
    (this->*found->handler)(call);
}

bool Service::authenticate(Call &call) {
    if (!call.req.has_header(wire::kHeaderUser)) {
        call.error(401, QStringLiteral("Please sign in"));
        return false;
    }
    const QString email = call.userHeader.value(QLatin1String(wire::kEmail)).toString();
    const QString token = call.userHeader.value(QLatin1String(wire::kUserToken)).toString();
    if (email.isEmpty() || token.isEmpty()) {
        call.error(401, QStringLiteral("Please sign in"));
        return false;
    }
    call.user = m_store.userForToken(email, token);
    if (!call.user) {
        call.error(401, QStringLiteral("Your session has expired; please sign in again"));
        return false;
    }
    return true;
}

std::optional<Service::Received> Service::receiveToFile(Call &call, qint64 limit) {
    Received received;
    received.partPath
        = QDir(m_dataDir).filePath(QStringLiteral("tmp/") + randomToken() + QStringLiteral(".part"));
    QFile out(received.partPath);
    if (!out.open(QIODevice::WriteOnly)) {
        call.drainBody();
        call.error(500, QStringLiteral("Cannot store the upload"));
        return std::nullopt;
    }
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    bool writeFailed = false;
    bool tooLarge = false;
    // Each slice goes to disk as it arrives; only the digest sees it besides the file.
    const bool complete = call.receiveBody([&](const char *data, size_t length) {
        if (received.bytes + qint64(length) > limit)
            tooLarge = true;
        if (tooLarge || writeFailed)
            return true; // keep reading so that the answer reaches the client
        sha1.addData(QByteArrayView(data, qsizetype(length)));
        if (out.write(data, qint64(length)) != qint64(length))
            writeFailed = true;
        received.bytes += qint64(length);
        return true;
    });
    out.close();
    if (!complete || writeFailed || tooLarge) {
        QFile::remove(received.partPath);
        if (!complete)
            call.error(400, QStringLiteral("The request body was cut off"));
        else if (tooLarge)
            call.error(413, QStringLiteral("The upload is too large"));
        else
            call.error(507, QStringLiteral("The server could not store the upload"));
        return std::nullopt;
    }
    received.sha1 = QString::fromLatin1(sha1.result().toHex());
    return received;
}

bool Service::placeFile(const QString &partPath, const QString &relativePath) {
    const QString finalPath = QDir(m_dataDir).filePath(relativePath);
    QDir().mkpath(QFileInfo(finalPath).absolutePath());
    QFile::remove(finalPath);
    if (QFile::rename(partPath, finalPath))
        return true;
    QFile::remove(partPath);
    return false;
}

} // namespace lf::dev
