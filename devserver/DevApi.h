#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace lf::dev {

// One request as the dev API reports it.
struct LoggedRequest {
    QJsonObject head; // method, path, query, headers, params
    qint64 bodyLength = 0;
    QJsonValue json; // the body when it was JSON
    int status = 0; // 0 while unanswered, and for dropped or stalled requests
    bool answered = false;

    QJsonObject toJson() const;
};

// Every request received since the last reset, in arrival order.
class RequestLog {
public:
    std::shared_ptr<LoggedRequest> add(QJsonObject head);
    // Finishing goes through the log so readers never see an entry half written.
    void finish(
        const std::shared_ptr<LoggedRequest> &entry, int status, qint64 bodyLength, const QJsonValue &json);
    QJsonArray toJson() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<LoggedRequest>> m_entries;
};

// What the next request of a method and path gets instead of (or before) its normal answer.
struct Fault {
    enum class Kind { None, Status, Delay, Drop, Stall, Pass };
    Kind kind = Kind::None;
    int status = 0;
    QByteArray body;
    int delayMs = 0;

    // Reads one entry of a "responses" list; false when it is not one of the known forms.
    static bool fromJson(const QJsonObject &entry, Fault *fault, QString *problem);
};

class FaultQueue {
public:
    // Queues the responses for requests matching method and path ("*" at the end: a prefix).
    void add(const QString &method, const QString &path, std::vector<Fault> responses);
    // The next fault for this request, or a fault of kind None.
    Fault take(const QString &method, const QString &path);
    void clear();
    QJsonArray pending() const;

private:
    struct Rule {
        QString method;
        QString path;
        std::deque<Fault> responses;
        bool matches(const QString &method, const QString &path) const;
    };
    mutable std::mutex m_mutex;
    std::vector<Rule> m_rules;
};

} // namespace lf::dev
