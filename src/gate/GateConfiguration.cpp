#include "gate/GateConfiguration.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

const QString accessLogger = QStringLiteral("visitors");

QJsonArray strings(std::initializer_list<QString> values)
{
    QJsonArray array;
    for (const QString &value : values)
        array.append(value);
    return array;
}

// Small pages of our own: the service behind the gate must not learn of a visitor who is not let in.
const char loginPage[] = R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="robots" content="noindex"><title>需要访问密码</title>
<style>body{font-family:system-ui,sans-serif;background:#f4f6f8;margin:0;display:flex;min-height:100vh;align-items:center;justify-content:center}
form{background:#fff;padding:28px;border-radius:12px;box-shadow:0 2px 12px rgba(0,0,0,.08);width:280px}
h1{font-size:18px;margin:0 0 16px}input,button{width:100%;box-sizing:border-box;font-size:16px;padding:10px;margin-top:8px;border-radius:8px}
input{border:1px solid #ccd}button{border:0;background:#2563eb;color:#fff}#m{color:#c0392b;font-size:14px;min-height:20px;margin-top:10px}</style></head>
<body><form id="f"><h1>此服务需要访问密码</h1><input id="p" type="password" autocomplete="current-password" placeholder="访问密码" autofocus required>
<button type="submit">进入</button><div id="m"></div></form>
<script>
document.getElementById('f').addEventListener('submit',async function(e){e.preventDefault();
var m=document.getElementById('m');m.textContent='正在验证…';
var b=new TextEncoder().encode('%USER%:'+document.getElementById('p').value),s='';b.forEach(function(c){s+=String.fromCharCode(c)});
try{var r=await fetch('%AUTH%',{method:'POST',headers:{'Authorization':'Basic '+btoa(s)},credentials:'same-origin',cache:'no-store'});
if(r.ok){location.reload();return}m.textContent='密码不正确，请重试';}catch(x){m.textContent='无法连接，请稍后重试';}});
</script></body></html>
)";

const char unavailablePage[] = R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1"><title>服务暂时不可用</title></head>
<body style="font-family:system-ui,sans-serif;text-align:center;padding-top:18vh;color:#333">
<h1 style="font-size:20px">服务暂时不可用</h1><p>本地服务没有响应，请稍后再试。</p></body></html>
)";

QJsonObject page(int status, const QString &body)
{
    return { { u"handler"_qs, u"static_response"_qs }, { u"status_code"_qs, status },
        { u"headers"_qs,
            QJsonObject { { u"Content-Type"_qs, strings({ u"text/html; charset=utf-8"_qs }) },
                { u"Cache-Control"_qs, strings({ u"no-store"_qs }) } } },
        { u"body"_qs, body } };
}

QJsonObject route(const QJsonArray &match, const QJsonArray &handle)
{
    QJsonObject result { { u"handle"_qs, handle }, { u"terminal"_qs, true } };
    if (!match.isEmpty())
        result.insert(u"match"_qs, match);
    return result;
}

QJsonObject expression(const QString &text)
{
    return { { u"expression"_qs, text } };
}

} // namespace

QString GateConfiguration::dialAddress(const QString &originURL)
{
    const QUrl url(originURL, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0)
        return {};
    const QString host = url.host().contains(u':') ? u'[' + url.host() + u']' : url.host();
    return host + u':' + QString::number(url.port());
}

QByteArray GateConfiguration::toJson() const
{
    const QString dial = dialAddress(originURL);
    if (dial.isEmpty())
        return {};

    QJsonObject transport { { u"protocol"_qs, u"http"_qs } };
    if (originURL.startsWith(u"https:"))
        transport.insert(
            u"tls"_qs, skipTLSVerification ? QJsonObject { { u"insecure_skip_verify"_qs, true } } : QJsonObject {});
    const QJsonObject proxy { { u"handler"_qs, u"reverse_proxy"_qs },
        { u"upstreams"_qs, QJsonArray { QJsonObject { { u"dial"_qs, dial } } } },
        // Streams (server-sent events, long downloads) reach the visitor as they are written.
        { u"flush_interval"_qs, -1 }, { u"transport"_qs, transport },
        { u"headers"_qs,
            QJsonObject { { u"request"_qs,
                QJsonObject { { u"set"_qs, QJsonObject { { u"Host"_qs, strings({ hostHeader }) } } } } } } } };

    QJsonArray routes;
    QJsonArray errorRoutes;
    if (passwordHash.isEmpty()) {
        routes.append(route({}, { proxy }));
    } else {
        QString login = QString::fromUtf8(loginPage);
        login.replace(u"%USER%"_qs, userName).replace(u"%AUTH%"_qs, authPath);
        const QJsonObject authenticate { { u"handler"_qs, u"authentication"_qs },
            { u"providers"_qs,
                QJsonObject { { u"http_basic"_qs,
                    QJsonObject { { u"hash"_qs, QJsonObject { { u"algorithm"_qs, u"bcrypt"_qs } } },
                        { u"accounts"_qs,
                            QJsonArray { QJsonObject { { u"username"_qs, userName },
                                { u"password"_qs, QString::fromLatin1(passwordHash) } } } } } } } } };
        const QString cookie
            = cookieName + u'=' + QString::fromLatin1(token) + u"; Path=/; HttpOnly; Secure; SameSite=Lax"_qs;
        const QJsonObject setCookie { { u"handler"_qs, u"headers"_qs },
            { u"response"_qs,
                QJsonObject { { u"set"_qs,
                    QJsonObject { { u"Set-Cookie"_qs, strings({ cookie }) },
                        { u"Cache-Control"_qs, strings({ u"no-store"_qs }) } } } } } };
        const QJsonObject noContent { { u"handler"_qs, u"static_response"_qs }, { u"status_code"_qs, 204 } };
        routes.append(
            route({ QJsonObject { { u"path"_qs, strings({ authPath }) } } }, { authenticate, setCookie, noContent }));
        routes.append(route({ expression(u"{http.request.cookie."_qs + cookieName + u"} == '"_qs
                                + QString::fromLatin1(token) + u'\'') },
            { proxy }));
        routes.append(route({}, { page(401, login) }));
        // A refused password: the login page again, without the header that would make browsers prompt.
        const QJsonObject dropPrompt { { u"handler"_qs, u"headers"_qs },
            { u"response"_qs, QJsonObject { { u"delete"_qs, strings({ u"WWW-Authenticate"_qs }) } } } };
        errorRoutes.append(
            route({ expression(u"{http.error.status_code} == 401"_qs) }, { dropPrompt, page(401, login) }));
    }
    errorRoutes.append(route(
        { expression(u"{http.error.status_code} == 502"_qs) }, { page(502, QString::fromUtf8(unavailablePage)) }));

    const QJsonObject server { { u"listen"_qs, strings({ u"127.0.0.1:"_qs + QString::number(listenPort) }) },
        { u"protocols"_qs, strings({ u"h1"_qs }) }, { u"automatic_https"_qs, QJsonObject { { u"disable"_qs, true } } },
        { u"logs"_qs, QJsonObject { { u"default_logger_name"_qs, accessLogger } } }, { u"routes"_qs, routes },
        { u"errors"_qs, QJsonObject { { u"routes"_qs, errorRoutes } } } };

    const QString accessLog = u"http.log.access."_qs + accessLogger;
    const QJsonObject logging { { u"logs"_qs,
        QJsonObject { { u"default"_qs,
                          QJsonObject { { u"writer"_qs, QJsonObject { { u"output"_qs, u"stderr"_qs } } },
                              { u"encoder"_qs, QJsonObject { { u"format"_qs, u"json"_qs } } },
                              { u"exclude"_qs, strings({ accessLog }) } } },
            { accessLogger,
                QJsonObject { { u"writer"_qs, QJsonObject { { u"output"_qs, u"stdout"_qs } } },
                    { u"encoder"_qs, QJsonObject { { u"format"_qs, u"json"_qs } } },
                    { u"include"_qs, strings({ accessLog }) } } } } } };

    const QJsonObject root {
        { u"admin"_qs,
            QJsonObject { { u"disabled"_qs, true }, { u"config"_qs, QJsonObject { { u"persist"_qs, false } } } } },
        { u"storage"_qs,
            QJsonObject { { u"module"_qs, u"file_system"_qs }, { u"root"_qs, runtimeDirectory + u"/storage"_qs } } },
        { u"logging"_qs, logging },
        { u"apps"_qs,
            QJsonObject { { u"http"_qs,
                // Without a grace period a stop waits for every open stream to end.
                QJsonObject {
                    { u"grace_period"_qs, u"2s"_qs }, { u"servers"_qs, QJsonObject { { u"gate"_qs, server } } } } } } },
    };
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}
