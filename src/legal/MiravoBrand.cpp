#include "legal/MiravoBrand.h"

#include "base/Resources.h"

#include <QDesktopServices>

namespace MiravoBrand {

namespace {
QUrl siteRoot(const QString &query)
{
    QUrl url(QStringLiteral("https://miravo.example/"));
    url.setQuery(query);
    return url;
}
} // namespace

QUrl website()
{
    return siteRoot(QStringLiteral("utm_source=orvanta&utm_medium=desktop_app&utm_campaign=official_website"));
}

QUrl serviceContactWebsite()
{
    return siteRoot(QStringLiteral(
        "utm_source=orvanta&utm_medium=desktop_app&utm_campaign=service_contact&utm_content=sidebar_card"));
}

QUrl cloudflareQuickTunnelDocs()
{
    return QUrl(QStringLiteral(
        "https://developers.cloudflare.com/cloudflare-one/connections/connect-networks/do-more-with-tunnels/"
        "trycloudflare/"));
}

QString bundledDocumentPath(const QString &name)
{
    // Only plain names: a document name never reaches outside the resource directory.
    if (name.isEmpty() || name.contains(u'/') || name.startsWith(u'.'))
        return {};
    return resourcePath(name + QStringLiteral(".md"));
}

void openBundledDocument(const QString &name)
{
    const QString path = bundledDocumentPath(name);
    if (!path.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void openWebsite(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

} // namespace MiravoBrand
