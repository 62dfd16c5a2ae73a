#pragma once

#include <QString>

namespace lf::dev {

QString htmlEscape(const QString &text);
// A complete, valid HTML5 document with the service's plain style.
QString htmlPage(const QString &title, const QString &bodyHtml);
// The standard English reason phrase of an HTTP status.
const char *reasonPhrase(int status);

} // namespace lf::dev
