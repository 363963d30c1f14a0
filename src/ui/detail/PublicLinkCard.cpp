#include "ui/detail/PublicLinkCard.h"

#include "session/TunnelSession.h"
#include "ui/FactRow.h"
#include "ui/TimeFormat.h"
#include "ui/detail/DetailParts.h"
#include "ui/detail/QrCodeDialog.h"
#include "ui/style/ActionButton.h"
#include "ui/style/CardBackground.h"
#include "ui/style/Theme.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/DotView.h"
#include "ui/widgets/RoundedBox.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/TextButton.h"
#include "ui/widgets/UrlText.h"
#include "ui/widgets/ViewParts.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

PublicLinkCard::PublicLinkCard(TunnelSession *session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("publicLinkCard"));
    applyCardBackground(this, 16);
    setFixedWidth(315);
    setMinimumHeight(380);
    auto *layout = ViewParts::column(15, this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->addWidget(DetailParts::cardTitle(QStringLiteral("公网地址"), QStringLiteral("link"), this));
    layout->addWidget(makeLinkBlock());
    layout->addWidget(makeEmptyLink());
    layout->addWidget(new Divider(Qt::Horizontal, this));
    m_providerFact = new FactRow(QStringLiteral("公网提供方"), this);
    m_originFact = new FactRow(QStringLiteral("本地目标"), this);
    m_connectedFact = new FactRow(QStringLiteral("启动时间"), this);
    m_providerFact->setObjectName(QStringLiteral("providerFact"));
    m_originFact->setObjectName(QStringLiteral("originFact"));
    m_connectedFact->setObjectName(QStringLiteral("connectedFact"));
    layout->addWidget(m_providerFact);
    layout->addWidget(m_originFact);
    layout->addWidget(m_connectedFact);
    layout->addStretch(1);
}

QWidget *PublicLinkCard::makeLinkBlock()
{
    m_linkBlock = new RoundedBox(11, Theme::withOpacity(Theme::accentSoft, 0.82), {}, 1.0, this);
    m_linkBlock->setObjectName(QStringLiteral("linkBlock"));
    auto *block = ViewParts::column(9, m_linkBlock);
    block->setContentsMargins(13, 13, 13, 13);
    auto *caption = ViewParts::row(6);
    auto *dot = new DotView(6, m_linkBlock);
    dot->setColor(Theme::success);
    caption->addWidget(dot, 0, Qt::AlignVCenter);
    QLabel *captionText
        = DetailParts::label(QStringLiteral("HTTPS PUBLIC URL"), 8, QFont::Bold, Theme::accentStrong, m_linkBlock);
    QFont captionFont = captionText->font();
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.9);
    captionText->setFont(captionFont);
    caption->addWidget(captionText);
    caption->addStretch(1);
    block->addLayout(caption);
    m_urlText = new UrlText(3, m_linkBlock);
    m_urlText->setObjectName(QStringLiteral("urlText"));
    m_urlText->setFont(Theme::roundedFont(14, QFont::DemiBold));
    QPalette urlPalette = m_urlText->palette();
    urlPalette.setColor(QPalette::Text, Theme::accentStrong);
    m_urlText->setPalette(urlPalette);
    block->addWidget(m_urlText);
    auto *actions = ViewParts::row(8);
    m_copyButton = new ActionButton(SecondaryButtonStyle {}, m_linkBlock);
    m_copyButton->setObjectName(QStringLiteral("copyButton"));
    m_copyButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_copyButton, &QAbstractButton::clicked, this, &PublicLinkCard::copyAddress);
    auto *openButton = new ActionButton(SecondaryButtonStyle {}, m_linkBlock);
    openButton->setObjectName(QStringLiteral("openButton"));
    openButton->setSymbol(QStringLiteral("safari"));
    openButton->setToolTip(QStringLiteral("在浏览器中打开"));
    openButton->setAccessibleName(openButton->toolTip());
    connect(openButton, &QAbstractButton::clicked, this, [this] {
        if (m_session && m_session->publicURL() && m_session->publicURL()->isValid())
            QDesktopServices::openUrl(*m_session->publicURL());
    });
    auto *qrButton = new ActionButton(SecondaryButtonStyle {}, m_linkBlock);
    qrButton->setObjectName(QStringLiteral("qrButton"));
    qrButton->setSymbol(QStringLiteral("qrcode"));
    qrButton->setToolTip(QStringLiteral("显示二维码"));
    qrButton->setAccessibleName(qrButton->toolTip());
    connect(qrButton, &QAbstractButton::clicked, this, &PublicLinkCard::showQrCode);
    actions->addWidget(m_copyButton, 1);
    actions->addWidget(qrButton, 0);
    actions->addWidget(openButton, 0);
    block->addLayout(actions);
    m_copyWithPasswordButton
        = new TextButton(QStringLiteral("复制链接和密码"), 9, QFont::Medium, Theme::accentStrong, m_linkBlock);
    m_copyWithPasswordButton->setObjectName(QStringLiteral("copyWithPasswordButton"));
    connect(m_copyWithPasswordButton, &QAbstractButton::clicked, this, &PublicLinkCard::copyAddressWithPassword);
    block->addWidget(m_copyWithPasswordButton, 0, Qt::AlignLeft);
    return m_linkBlock;
}

QWidget *PublicLinkCard::makeEmptyLink()
{
    m_emptyLink = new QWidget(this);
    m_emptyLink->setObjectName(QStringLiteral("emptyLink"));
    m_emptyLink->setMinimumHeight(216);
    auto *empty = ViewParts::column(11, m_emptyLink);
    empty->addStretch(1);
    m_emptyLinkSymbol = new SymbolView(QStringLiteral("link.badge.plus"), 21, QFont::Light, 60, m_emptyLink);
    m_emptyLinkSymbol->setColor(Theme::accent);
    m_emptyLinkSymbol->setCircleColor(Theme::sidebar);
    empty->addWidget(m_emptyLinkSymbol, 0, Qt::AlignHCenter);
    m_emptyLinkTitle = DetailParts::label(QString(), 12, QFont::DemiBold, Theme::text, m_emptyLink);
    m_emptyLinkTitle->setObjectName(QStringLiteral("emptyLinkTitle"));
    m_emptyLinkTitle->setAlignment(Qt::AlignCenter);
    empty->addWidget(m_emptyLinkTitle);
    QLabel *emptyText = DetailParts::label(
        QStringLiteral("启动后由 Cloudflare 分配临时 HTTPS 地址"), 9, QFont::Normal, Theme::subtle, m_emptyLink);
    emptyText->setAlignment(Qt::AlignCenter);
    emptyText->setWordWrap(true);
    empty->addWidget(emptyText);
    empty->addStretch(1);
    return m_emptyLink;
}

void PublicLinkCard::refresh(const TunnelSession &session)
{
    const std::optional<QUrl> &url = session.publicURL();
    m_linkBlock->setVisible(url.has_value());
    m_emptyLink->setVisible(!url.has_value());
    if (m_qrDialog) {
        if (url)
            m_qrDialog->setAddress(url->toString());
        else
            m_qrDialog->close(); // the address it shows no longer leads anywhere
    }
    if (url) {
        m_urlText->setText(url->toString());
        refreshCopyButton();
        m_copyWithPasswordButton->setVisible(!passwordToShare(session).isEmpty());
    } else {
        const bool working = session.status().isWorking();
        m_emptyLinkSymbol->setSymbol(
            working ? QStringLiteral("arrow.triangle.2.circlepath") : QStringLiteral("link.badge.plus"));
        const QString title = working ? QStringLiteral("正在建立公网隧道…") : QStringLiteral("尚未生成公网地址");
        if (m_emptyLinkTitle->text() != title)
            m_emptyLinkTitle->setText(title);
    }
    const QString dash = QStringLiteral("—");
    m_providerFact->setValue(session.activeProvider() ? rawValue(*session.activeProvider()) : dash);
    // A stopped service with an unusable host or port has no target, whatever it last reached.
    const bool unusable
        = !session.status().isActive() && !TunnelConfiguration::from(session.profile()).validatedHostHeader().ok();
    m_originFact->setValue(unusable ? dash : session.activeOrigin());
    m_connectedFact->setValue(session.connectedAt() ? timeOfDay(*session.connectedAt()) : dash);
}

void PublicLinkCard::refreshCopyButton()
{
    m_copyButton->setText(m_copied ? QStringLiteral("已复制") : QStringLiteral("复制链接"));
    m_copyButton->setSymbol(m_copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"));
    m_copyButton->setAccessibleName(m_copyButton->text());
}

QString PublicLinkCard::passwordToShare(const TunnelSession &session)
{
    const GateSettings &gate = session.gateSettings();
    return gate.passwordOn ? gate.password : QString();
}

void PublicLinkCard::copyAddress()
{
    copyText({});
}

void PublicLinkCard::copyAddressWithPassword()
{
    if (m_session && !passwordToShare(*m_session).isEmpty())
        copyText(QStringLiteral("\n访问密码：") + passwordToShare(*m_session));
}

void PublicLinkCard::showQrCode()
{
    if (!m_session || !m_session->publicURL() || !m_session->publicURL()->isValid())
        return;
    if (!m_qrDialog) {
        m_qrDialog = new QrCodeDialog(m_session->timings().copiedLabel, this);
        m_qrDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_qrDialog->setAddress(m_session->publicURL()->toString());
    m_qrDialog->show();
    m_qrDialog->raise();
}

void PublicLinkCard::copyText(const QString &suffix)
{
    // An address Qt cannot parse has no text to copy; claiming "已复制" would be a lie.
    if (!m_session || !m_session->publicURL() || !m_session->publicURL()->isValid())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_session->publicURL()->toString() + suffix);
    m_copied = true;
    refreshCopyButton();
    // Each copy schedules its own reset; an earlier one is not pushed back by a later copy.
    QTimer::singleShot(m_session->timings().copiedLabel, this, [this] {
        m_copied = false;
        refreshCopyButton();
    });
}

QrCodeDialog *PublicLinkCard::qrCodeDialog() const
{
    return m_qrDialog;
}
