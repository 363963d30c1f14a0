#include "legal/LegalNoticeView.h"

#include "legal/MiravoBrand.h"
#include "ui/style/ActionButton.h"
#include "ui/style/Theme.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/LogoTile.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/TextButton.h"
#include "ui/widgets/ViewParts.h"

#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace {
constexpr QSize noticeSize { 690, 610 };
constexpr qreal dimmedOpacity = 0.45;

struct NoticeSection
{
    const char16_t *title;
    const char16_t *symbol;
    const char16_t *text;
};

const NoticeSection s_sections[] = {
    { u"用途边界", u"checkmark.shield",
        u"仅用于开发、测试、演示和临时分享。你只能发布自己拥有或已获授权的服务，不得用于违法内容、未授权访问、攻击、匿"
        u"名代理或绕过网络监管。" },
    { u"公网暴露风险", u"network.badge.shield.half.filled",
        u"生成的随机公网地址默认没有访问密码。任何获得链接的人都可能访问目标服务，请勿直接暴露数据库、路由器后台、管理"
        u"系统或包含敏感信息的页面。" },
    { u"第三方临时服务", u"cloud",
        u"本工具匿名调用 Cloudflare Quick Tunnel，不使用你的个人账户。该服务由 Cloudflare "
        u"独立提供，仅面向测试与开发，不承诺可用性、固定域名或生产级服务。弥罗科技与 Cloudflare "
        u"不存在隶属、授权或官方合作关系。" },
    { u"隐私说明", u"hand.raised",
        u"奥文塔不设置用户账号，不采集遥测，不向弥罗科技上传你填写的名称、IP "
        u"或端口；这些配置仅保存在本机。隧道流量和连接信息会经过 "
        u"Cloudflare，并受其条款和隐私政策约束。" },
};

QWidget *makeSection(const NoticeSection &section)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    ViewParts::space(layout, 12, 0, 0);
    layout->setAlignment(Qt::AlignTop);
    auto *icon = new SymbolView(QString::fromUtf16(section.symbol), 14, QFont::Medium, 32);
    icon->setColor(Theme::accent);
    icon->setCircleColor(Theme::accentSoft);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto *column = new QVBoxLayout;
    ViewParts::space(column, 5, 0, 0);
    column->addWidget(
        ViewParts::label(QString::fromUtf16(section.title), Theme::font(12, QFont::DemiBold), Theme::text));
    QLabel *body = ViewParts::label(QString::fromUtf16(section.text), Theme::font(10), Theme::muted);
    body->setWordWrap(true);
    column->addWidget(body);
    layout->addLayout(column, 1);
    return row;
}

ActionButton *makeDocumentButton(const QString &text, const QString &symbol, const QString &name)
{
    auto *button = new ActionButton(SecondaryButtonStyle { true });
    button->setText(text);
    button->setSymbol(symbol);
    button->setObjectName(name);
    return button;
}
} // namespace

LegalNoticeView::LegalNoticeView(bool requiresAcceptance, QWidget *parent)
    : QDialog(parent)
    , m_requiresAcceptance(requiresAcceptance)
{
    setObjectName(QStringLiteral("legalNotice"));
    setWindowTitle(title(requiresAcceptance));
    setWindowModality(Qt::WindowModal);
    setFixedSize(noticeSize);
    ViewParts::fillBackground(this, Theme::background);

    auto *layout = new QVBoxLayout(this);
    ViewParts::space(layout, 0, 0, 0);
    layout->addWidget(makeHeader());
    layout->addWidget(new Divider(Qt::Horizontal));
    layout->addWidget(makeBody(), 1);
    layout->addWidget(new Divider(Qt::Horizontal));
    layout->addWidget(makeFooter());
}

QString LegalNoticeView::title(bool requiresAcceptance)
{
    return requiresAcceptance ? QStringLiteral("开始使用前请确认") : QStringLiteral("使用条款与隐私说明");
}

QWidget *LegalNoticeView::makeHeader()
{
    auto *header = new QWidget;
    auto *layout = new QHBoxLayout(header);
    ViewParts::space(layout, 14, 24, 24);
    layout->addWidget(new LogoTile(LogoTileKind::product, 52, 13));
    auto *column = new QVBoxLayout;
    ViewParts::space(column, 4, 0, 0);
    QLabel *titleLabel
        = ViewParts::label(title(m_requiresAcceptance), Theme::roundedFont(21, QFont::Bold), Theme::text);
    titleLabel->setObjectName(QStringLiteral("noticeTitle"));
    column->addWidget(titleLabel);
    column->addWidget(
        ViewParts::label(QStringLiteral("奥文塔 · 由弥罗科技提供"), Theme::font(10, QFont::Medium), Theme::subtle));
    layout->addLayout(column);
    layout->addStretch(1);
    return header;
}

QWidget *LegalNoticeView::makeBody()
{
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(content);
    ViewParts::space(column, 18, 24, 24);
    for (const NoticeSection &section : s_sections)
        column->addWidget(makeSection(section));

    auto *documents = new QHBoxLayout;
    ViewParts::space(documents, 10, 0, 0);
    ActionButton *terms
        = makeDocumentButton(QStringLiteral("完整使用条款"), QStringLiteral("doc.text"), QStringLiteral("termsButton"));
    connect(terms, &QAbstractButton::clicked, this,
        [] { MiravoBrand::openBundledDocument(QStringLiteral("TERMS_OF_USE")); });
    ActionButton *privacy = makeDocumentButton(
        QStringLiteral("完整隐私说明"), QStringLiteral("doc.text"), QStringLiteral("privacyButton"));
    connect(
        privacy, &QAbstractButton::clicked, this, [] { MiravoBrand::openBundledDocument(QStringLiteral("PRIVACY")); });
    ActionButton *cloudflare = makeDocumentButton(
        QStringLiteral("Cloudflare 说明"), QStringLiteral("arrow.up.right.square"), QStringLiteral("cloudflareButton"));
    connect(cloudflare, &QAbstractButton::clicked, this,
        [] { MiravoBrand::openWebsite(MiravoBrand::cloudflareQuickTunnelDocs()); });
    documents->addWidget(terms);
    documents->addWidget(privacy);
    documents->addWidget(cloudflare);
    documents->addStretch(1);
    column->addLayout(documents);

    if (m_requiresAcceptance) {
        m_confirm = new QCheckBox(QStringLiteral("我已阅读并理解上述说明，并确认只发布自己有权公开的服务。"));
        m_confirm->setObjectName(QStringLiteral("confirmBox"));
        m_confirm->setFont(Theme::font(11, QFont::Medium));
        ViewParts::setTextColor(m_confirm, Theme::text);
        connect(m_confirm, &QCheckBox::toggled, this, &LegalNoticeView::handleConfirmToggled);
        column->addWidget(m_confirm);
    }
    column->addStretch(1);

    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    return scroll;
}

QWidget *LegalNoticeView::makeFooter()
{
    auto *footer = new QWidget;
    auto *layout = new QHBoxLayout(footer);
    ViewParts::space(layout, layout->spacing(), 20, 20);
    auto *website = new TextButton(QStringLiteral("访问弥罗科技官网"), 10, QFont::Medium, Theme::accent);
    website->setObjectName(QStringLiteral("websiteButton"));
    connect(website, &QAbstractButton::clicked, this, [] { MiravoBrand::openWebsite(MiravoBrand::website()); });
    layout->addWidget(website);
    layout->addStretch(1);

    const auto addButton
        = [&](ActionButton *button, const QString &text, const QString &name, std::function<void()> action) {
              button->setText(text);
              button->setObjectName(name);
              connect(button, &QAbstractButton::clicked, this, std::move(action));
              layout->addWidget(button);
              return button;
          };
    if (m_requiresAcceptance) {
        addButton(new ActionButton(SecondaryButtonStyle { false }), QStringLiteral("不同意并退出"),
            QStringLiteral("declineButton"), [this] { emit declined(); });
        m_agree = addButton(new ActionButton(PrimaryButtonStyle { false }), QStringLiteral("同意并继续"),
            QStringLiteral("agreeButton"), [this] {
                emit agreed();
                done(Accepted);
            });
        handleConfirmToggled(false); // every presentation starts unticked
    } else {
        addButton(new ActionButton(PrimaryButtonStyle { false }), QStringLiteral("完成"), QStringLiteral("doneButton"),
            [this] {
                emit closed();
                done(Accepted);
            });
    }
    return footer;
}

void LegalNoticeView::handleConfirmToggled(bool checked)
{
    m_agree->setEnabled(checked);
    m_agree->setOpacity(checked ? 1.0 : dimmedOpacity);
}

void LegalNoticeView::reject()
{
    // Esc and the window's close button: only a notice that is merely being reread may go.
    if (m_requiresAcceptance)
        return;
    emit closed();
    QDialog::reject();
}
