#include "ui/detail/DetailParts.h"

#include "session/TunnelSession.h"
#include "ui/style/Theme.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/ViewParts.h"

#include <QLabel>

namespace DetailParts {

QLabel *label(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent)
{
    return ViewParts::label(text, Theme::font(size, weight), color, parent);
}

QWidget *cardTitle(const QString &title, const QString &symbolName, QWidget *parent)
{
    return new IconTextLabel(symbolName, title, 13, QFont::DemiBold, Theme::text, IconTextLabel::Lines::single, parent);
}

QLabel *fieldLabel(const QString &text, QWidget *parent)
{
    return label(text, 9, QFont::Medium, Theme::muted, parent);
}

void editProfile(TunnelSession *session, const std::function<void(TunnelProfile &)> &edit)
{
    if (!session)
        return;
    TunnelProfile profile = session->profile();
    edit(profile);
    session->setProfile(profile);
}

} // namespace DetailParts
