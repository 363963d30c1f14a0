#include "ui/detail/DetailHeader.h"

#include "session/TunnelSession.h"
#include "ui/SessionStatusBadge.h"
#include "ui/detail/DetailParts.h"
#include "ui/style/Theme.h"
#include "ui/widgets/CircleSymbolButton.h"
#include "ui/widgets/SingleLineField.h"
#include "ui/widgets/ViewParts.h"

#include <QHBoxLayout>
#include <QLabel>

DetailHeader::DetailHeader(TunnelSession *session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
    , m_nameField(new SingleLineField(this))
{
    auto *layout = ViewParts::row(14, this);
    auto *titles = ViewParts::column(5);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setFrame(false);
    m_nameField->setPlaceholderText(QStringLiteral("服务名称"));
    m_nameField->setAccessibleName(QStringLiteral("服务名称"));
    m_nameField->setFont(Theme::roundedFont(23, QFont::Bold));
    QPalette p = m_nameField->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, Theme::text);
    m_nameField->setPalette(p);
    m_nameField->setTextMargins(0, 0, 0, 0);
    m_nameField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_nameField->setMinimumWidth(80);
    connect(m_nameField, &SingleLineField::edited, this,
        [this](const QString &text) { DetailParts::editProfile(m_session, [&](TunnelProfile &p) { p.name = text; }); });
    titles->addWidget(m_nameField);
    QLabel *subtitle = DetailParts::label(
        QStringLiteral("为每个代理定义清晰名称，配置和状态互不影响"), 10, QFont::Normal, Theme::subtle, this);
    subtitle->setWordWrap(true);
    titles->addWidget(subtitle);
    layout->addLayout(titles, 1);

    layout->addWidget(new SessionStatusBadge(session, this), 0, Qt::AlignVCenter);
    auto *deleteButton = new CircleSymbolButton(QStringLiteral("trash"), 12, QFont::Medium, Theme::danger,
        Theme::withOpacity(Theme::danger, 0.08), 34, 34, QStringLiteral("删除此服务"), this);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    connect(deleteButton, &QAbstractButton::clicked, this, &DetailHeader::deleteClicked);
    layout->addWidget(deleteButton, 0, Qt::AlignVCenter);
}

void DetailHeader::refresh(const TunnelSession &session)
{
    m_nameField->showText(session.profile().name);
}
