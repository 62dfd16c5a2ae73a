#include "foundation/TextMatch.h"

#include <QList>

namespace lf {

QString foldCaseAndDiacritics(const QString &text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const auto category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing)
            continue;
        out.append(c);
    }
    return out.toCaseFolded();
}

bool beginsWithCaseIns(const QString &candidate, const QString &typed) {
    if (typed.isEmpty() || candidate.isNull())
        return false;
    return candidate.startsWith(typed, Qt::CaseInsensitive);
}

bool equalCaseIns(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool beginsWithCaseDiacriticIns(const QString &candidate, const QString &typed) {
    if (typed.isEmpty() || candidate.isNull())
        return false;
    return foldCaseAndDiacritics(candidate).startsWith(foldCaseAndDiacritics(typed));
}

namespace {

// Iterative wildcard match with back-tracking on the last "*": linear in practice, and no
// pattern can make it recurse deeply.
bool wildcardMatch(const QString &s, const QString &p) {
    qsizetype si = 0, pi = 0, star = -1, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == QLatin1Char('?') || p[pi] == s[si])) {
            ++si;
            ++pi;
        } else if (pi < p.size() && p[pi] == QLatin1Char('*')) {
            star = pi++;
            mark = si;
        } else if (star >= 0) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == QLatin1Char('*'))
        ++pi;
    return pi == p.size();
}

} // namespace

bool likeCaseDiacriticIns(const QString &candidate, const QString &pattern) {
    if (candidate.isNull())
        return false;
    return wildcardMatch(foldCaseAndDiacritics(candidate), foldCaseAndDiacritics(pattern));
}

} // namespace lf
