#pragma once

#include <QString>

namespace lf {

// The three comparisons completion and naming use. All take the typed text literally: no
// character of it (a quote, a backslash, a bracket) changes what is searched.

// `candidate` starts with `typed`, ignoring letter case (accents count). Empty text or a
// missing candidate never matches.
bool beginsWithCaseIns(const QString &candidate, const QString &typed);

// Equal ignoring letter case.
bool equalCaseIns(const QString &a, const QString &b);

// Starts with `typed`, ignoring letter case and accents ("é" matches "e").
bool beginsWithCaseDiacriticIns(const QString &candidate, const QString &typed);

// `candidate` matches `pattern` ignoring letter case and accents, where "*" in the pattern
// stands for any run of characters and "?" for one character.
bool likeCaseDiacriticIns(const QString &candidate, const QString &pattern);

// The text with letter case and accents folded away, for comparisons of the kind above.
QString foldCaseAndDiacritics(const QString &text);

} // namespace lf
