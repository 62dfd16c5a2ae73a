#include "support/ScriptedServer.h"

#include <httplib.h>

#include <chrono>

namespace lf::test {

bool RecordedRequest::hasHeader(const QByteArray &name) const {
    return !header(name).isNull();
}

QByteArray RecordedRequest::header(const QByteArray &name) const {
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second.isNull() ? QByteArray("") : h.second;
    }
    return {};
}

ScriptedServer::ScriptedServer()
    : m_server(std::make_unique<httplib::Server>()) {
    auto handle = [this](const httplib::Request &req, httplib::Response &res) {
        RecordedRequest r;
        r.method = QByteArray::fromStdString(req.method);
        r.path = QByteArray::fromStdString(req.path);
        r.target = QByteArray::fromStdString(req.target);
        for (const auto &[name, value] : req.headers)
            r.headers.append({QByteArray::fromStdString(name), QByteArray::fromStdString(value)});
        r.body = QByteArray::fromStdString(req.body);

        const ScriptedReply reply = next(r);
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(r);
            m_changed.notify_all();
        }
        if (reply.action == ScriptedReply::Action::Stall) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_released || m_stopped; });
        }
        res.status = reply.status;
        for (const auto &[name, value] : reply.headers)
            res.set_header(name.toStdString(), value.toStdString());
        if (reply.action == ScriptedReply::Action::Drop) {
            // Promise a body, then fail to produce it: the server closes the connection mid-answer.
            res.set_content_provider(
                64, "application/octet-stream", [](size_t, size_t, httplib::DataSink &) { return false; });
            return;
        }
        res.set_content(reply.body.toStdString(), reply.contentType.toStdString());
    };
    // One request per connection: stopping never waits for an idle keep-alive connection.
    m_server->set_keep_alive_max_count(1);
    const char *any = ".*";
    m_server->Get(any, handle);
    m_server->Post(any, handle);
    m_server->Put(any, handle);
    m_server->Delete(any, handle);
    m_server->Patch(any, handle);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() only works on a running server, so do not hand the server out before it runs.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ScriptedServer::~ScriptedServer() {
    stop();
}

void ScriptedServer::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

QString ScriptedServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void ScriptedServer::enqueue(const ScriptedReply &reply) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(reply);
}

void ScriptedServer::setHandler(Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

ScriptedReply ScriptedServer::next(const RecordedRequest &request) {
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        if (!m_queue.empty()) {
            ScriptedReply reply = m_queue.front();
            m_queue.pop_front();
            return reply;
        }
        handler = m_handler;
    }
    if (handler)
        return handler(request);
    return ScriptedReply::json(R"({"Error":"no route"})", 404);
}

QList<RecordedRequest> ScriptedServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int ScriptedServer::requestCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_requests.size());
}

QList<RecordedRequest> ScriptedServer::requestsTo(const QByteArray &path) const {
    QList<RecordedRequest> out;
    for (const auto &r : requests()) {
        if (r.path == path)
            out.append(r);
    }
    return out;
}

void ScriptedServer::clearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

void ScriptedServer::release() {
    std::lock_guard lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
}

bool ScriptedServer::waitForRequests(int count, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(
        lock, std::chrono::milliseconds(timeoutMs), [&] { return m_requests.size() >= count; });
}

} // namespace lf::test
