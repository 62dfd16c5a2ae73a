#include "DevApi.h"

namespace lf::dev {

namespace {

constexpr size_t kMaxEntries = 100000;

} // namespace

QJsonObject LoggedRequest::toJson() const {
    QJsonObject out = head;
    out.insert(QStringLiteral("body_length"), bodyLength);
    if (!json.isUndefined())
        out.insert(QStringLiteral("json"), json);
    out.insert(QStringLiteral("status"), status);
    return out;
}

std::shared_ptr<LoggedRequest> RequestLog::add(QJsonObject head) {
    auto entry = std::make_shared<LoggedRequest>();
    entry->head = std::move(head);
    std::lock_guard lock(m_mutex);
    // A long demo run must not grow without bound; tests reset long before this.
    if (m_entries.size() >= kMaxEntries)
        m_entries.erase(m_entries.begin(), m_entries.begin() + kMaxEntries / 10);
    m_entries.push_back(entry);
    return entry;
}

void RequestLog::finish(
    const std::shared_ptr<LoggedRequest> &entry, int status, qint64 bodyLength, const QJsonValue &json) {
    std::lock_guard lock(m_mutex);
    entry->status = status;
    entry->bodyLength = bodyLength;
    entry->json = json;
    entry->answered = true;
}

QJsonArray RequestLog::toJson() const {
    std::lock_guard lock(m_mutex);
    QJsonArray out;
    for (const auto &entry : m_entries)
        out.append(entry->toJson());
    return out;
}

void RequestLog::clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

bool Fault::fromJson(const QJsonObject &entry, Fault *fault, QString *problem) {
    *fault = Fault();
    if (entry.value(QLatin1String("drop")).toBool()) {
        fault->kind = Kind::Drop;
    } else if (entry.value(QLatin1String("stall")).toBool()) {
        fault->kind = Kind::Stall;
    } else if (entry.value(QLatin1String("pass")).toBool()) {
        fault->kind = Kind::Pass;
    } else if (entry.contains(QLatin1String("delay_ms"))) {
        fault->kind = Kind::Delay;
        fault->delayMs = entry.value(QLatin1String("delay_ms")).toInt(-1);
        if (fault->delayMs < 0 || fault->delayMs > 600000) {
            *problem = QStringLiteral("delay_ms must be 0 to 600000");
            return false;
        }
    } else if (entry.contains(QLatin1String("status"))) {
        fault->kind = Kind::Status;
        fault->status = entry.value(QLatin1String("status")).toInt();
        if (fault->status < 100 || fault->status > 599) {
            *problem = QStringLiteral("status must be 100 to 599");
            return false;
        }
        fault->body = entry.value(QLatin1String("body")).toString().toUtf8();
    } else {
        *problem = QStringLiteral("each response needs status, delay_ms, drop, stall or pass");
        return false;
    }
    return true;
}

bool FaultQueue::Rule::matches(const QString &m, const QString &p) const {
    if (method.compare(m, Qt::CaseInsensitive) != 0)
        return false;
    if (path.endsWith(QLatin1Char('*')))
        return p.startsWith(path.chopped(1));
    return p == path;
}

void FaultQueue::add(const QString &method, const QString &path, std::vector<Fault> responses) {
    if (responses.empty())
        return;
    std::lock_guard lock(m_mutex);
    m_rules.push_back(Rule {method, path, std::deque<Fault>(responses.begin(), responses.end())});
}

Fault FaultQueue::take(const QString &method, const QString &path) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        if (!it->matches(method, path))
            continue;
        Fault fault = it->responses.front();
        it->responses.pop_front();
        if (it->responses.empty())
            m_rules.erase(it);
        return fault;
    }
    return Fault();
}

void FaultQueue::clear() {
    std::lock_guard lock(m_mutex);
    m_rules.clear();
}

QJsonArray FaultQueue::pending() const {
    std::lock_guard lock(m_mutex);
    QJsonArray out;
    for (const Rule &rule : m_rules)
        out.append(QJsonObject {{QStringLiteral("method"), rule.method}, {QStringLiteral("path"), rule.path},
            {QStringLiteral("remaining"), qint64(rule.responses.size())}});
    return out;
}

} // namespace lf::dev
