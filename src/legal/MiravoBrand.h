#pragma once

#include <QString>
#include <QUrl>

/// \brief The maker's fixed links and the documents shipped with the program.
namespace MiravoBrand {

QUrl website();
/// The sidebar card's link.
QUrl serviceContactWebsite();
/// Cloudflare's own page about Quick Tunnels.
QUrl cloudflareQuickTunnelDocs();

/// Path of "<name>.md" among the resources, or an empty text.
QString bundledDocumentPath(const QString &name);
/// Opens "<name>.md" in the user's default application; a missing document does nothing.
void openBundledDocument(const QString &name);

void openWebsite(const QUrl &url);

} // namespace MiravoBrand
