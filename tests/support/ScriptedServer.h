#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class Server;
}

namespace lf::test {

// One request as the server saw it.
struct RecordedRequest {
    QByteArray method;
    QByteArray path; // without the query
    QByteArray target; // path and query as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    bool hasHeader(const QByteArray &name) const;
    QByteArray header(const QByteArray &name) const; // null when absent
};

struct ScriptedReply {
    enum class Action {
        Answer, // send status, headers and body
        Drop, // send the status line and headers, then close before the promised body
        Stall, // hold the request until released (release() or the server's end)
    };
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;
    Action action = Action::Answer;

    static ScriptedReply json(const QByteArray &body, int status = 200) {
        return {status, body, "application/json", {}};
    }
    static ScriptedReply text(const QByteArray &body, int status = 200) {
        return {status, body, "text/plain", {}};
    }
    static ScriptedReply drop() { return {200, {}, {}, {}, Action::Drop}; }
    static ScriptedReply stall() { return {200, {}, {}, {}, Action::Stall}; }
};

// A small HTTP server on 127.0.0.1 (port chosen by the system) for tests that need exact control:
// it records every request and answers from a queue, else from a handler, else 404.
class ScriptedServer {
public:
    using Handler = std::function<ScriptedReply(const RecordedRequest &)>;

    ScriptedServer();
    ~ScriptedServer();

    int port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString baseUrl() const;

    // Replies used in order, one per request, before the handler is asked.
    void enqueue(const ScriptedReply &reply);
    void setHandler(Handler handler);

    QList<RecordedRequest> requests() const;
    int requestCount() const;
    // Requests whose path is `path`.
    QList<RecordedRequest> requestsTo(const QByteArray &path) const;
    void clearRequests();

    // Lets every stalled request go (they then answer with their status and body).
    void release();
    // Blocks until `count` requests arrived or `timeoutMs` passed; true when they did.
    bool waitForRequests(int count, int timeoutMs = 5000) const;

    // Stops listening early: later connections are refused.
    void stop();

private:
    ScriptedReply next(const RecordedRequest &request);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<ScriptedReply> m_queue;
    Handler m_handler;
    QList<RecordedRequest> m_requests;
    bool m_released = false;
    bool m_stopped = false;
};

} // namespace lf::test
