#include "Pages.h"

namespace lf::dev {

QString htmlEscape(const QString &text) {
    return text.toHtmlEscaped();
}

QString htmlPage(const QString &title, const QString &bodyHtml) {
    return QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, "
        "initial-scale=1\">\n<title>%1</title>\n<style>\n"
        "body{font-family:sans-serif;margin:24px;max-width:560px;color:#222;background:#f6f6f6}\n"
        "h1{font-size:20px}h2{font-size:16px;margin-top:24px}\n"
        ".sites li{margin:4px 0}.bundle{background:#fff;border-radius:6px;padding:8px 12px;margin:8px 0}\n"
        ".bundle img{margin:4px;border:1px solid #ccc;vertical-align:middle}\n"
        "button{font-size:14px;padding:6px 16px;margin-right:8px}\n"
        "label{display:block;margin:8px 0 2px}input,textarea{width:100%;box-sizing:border-box}\n"
        ".note{color:#666;font-size:13px}.problem{color:#b00020}\n"
        "</style>\n</head>\n<body>\n<h1>%1</h1>\n%2\n</body>\n</html>\n")
        .arg(htmlEscape(title), bodyHtml);
}

const char *reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 422:
        return "Unprocessable Entity";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 449:
        return "Retry With";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return status >= 500 ? "Server Error" : status >= 400 ? "Client Error" : "Status";
    }
}

} // namespace lf::dev
