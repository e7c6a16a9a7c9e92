#include "core/auth/LoopbackPages.h"

namespace LoopbackPages {

namespace {

QByteArray response(const char *status, const QByteArray &body)
{
    return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray page(const char *heading)
{
    return QByteArray(
               "<!doctype html><html><head><meta charset=\"utf-8\"><title>Tolvi</title><style>"
               "body{font-family:-apple-system,system-ui,sans-serif;display:flex;height:100vh;margin:0;"
               "align-items:center;justify-content:center;background:#f5f5f7;color:#1d1d1f}"
               "@media(prefers-color-scheme:dark){body{background:#1c1c1e;color:#f5f5f7}}"
               "div{text-align:center}h1{font-weight:600;font-size:28px}p{opacity:.7}"
               "</style></head><body><div><h1>")
        + heading + "</h1><p>You can close this browser tab and return to Tolvi.</p></div></body></html>";
}

} // namespace

QByteArray signedIn()
{
    return response("200 OK", page("You are signed in"));
}

QByteArray notCompleted()
{
    return response("200 OK", page("Sign-in was not completed"));
}

QByteArray notFound()
{
    return response("404 Not Found", "<html><body>Not found</body></html>");
}

} // namespace LoopbackPages
