#include "ui/TunnelDetailView.h"

#include "ui/ActivityRow.h"
#include "ui/DisplayName.h"
#include "ui/FactRow.h"
#include "ui/HealthCard.h"
#include "ui/SessionStatusBadge.h"
#include "ui/TimeFormat.h"
#include "ui/style/ActionButton.h"
#include "ui/style/CardBackground.h"
#include "ui/style/Painting.h"
#include "ui/style/TextFieldStyle.h"
#include "ui/style/Theme.h"
#include "ui/widgets/CircleSymbolButton.h"
#include "ui/widgets/DisclosureButton.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/DotView.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/TextButton.h"
#include "ui/widgets/ToggleSwitch.h"
#include "ui/widgets/UrlText.h"
#include "ui/widgets/WrappingLabel.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// One refresh per frame at most, however many changes arrive.
constexpr int refreshInterval = 16;
// The activity list moves slower: a flooding tunnel would otherwise re-lay the list out every frame.
constexpr int activityInterval = 100;

QLabel *makeLabel(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(Theme::font(size, weight));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}

QWidget *cardTitle(const QString &title, const QString &symbolName, QWidget *parent)
{
    return new IconTextLabel(symbolName, title, 13, QFont::DemiBold, Theme::text, IconTextLabel::Lines::single, parent);
}

QLabel *fieldLabel(const QString &text, QWidget *parent)
{
    return makeLabel(text, 9, QFont::Medium, Theme::muted, parent);
}

/// A widget that paints a rounded rectangle behind its layout.
class RoundedBox : public QWidget
{
public:
    RoundedBox(qreal radius, QColor fill, QColor stroke, QWidget *parent)
        : QWidget(parent)
        , m_radius(radius)
        , m_fill(std::move(fill))
        , m_stroke(std::move(stroke))
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        Painting::roundedRect(painter, rect(), m_radius, m_fill, m_stroke);
    }

private:
    qreal m_radius;
    QColor m_fill;
    QColor m_stroke;
};

/// A capsule tag ("开发测试").
class TagLabel : public QLabel
{
public:
    TagLabel(const QString &text, QWidget *parent)
        : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setFont(Theme::font(8, QFont::DemiBold));
        setAlignment(Qt::AlignCenter);
        setFixedHeight(22);
        setContentsMargins(8, 0, 8, 0);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, Theme::accentStrong);
        setPalette(p);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        {
            QPainter painter(this);
            Painting::roundedRect(painter, rect(), height() / 2.0, Theme::accentSoft);
        }
        QLabel::paintEvent(event);
    }
};

QVBoxLayout *column(int spacing, QWidget *parent = nullptr)
{
    auto *layout = parent ? new QVBoxLayout(parent) : new QVBoxLayout;
    layout->setSpacing(spacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

QHBoxLayout *row(int spacing, QWidget *parent = nullptr)
{
    auto *layout = parent ? new QHBoxLayout(parent) : new QHBoxLayout;
    layout->setSpacing(spacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

void setTextKeepingEdits(QLineEdit *field, const QString &text)
{
    // A field being typed into already holds what the profile got from it; never reset its cursor.
    if (field->text() != text && !field->hasFocus())
        field->setText(text);
}

} // namespace

TunnelDetailView::TunnelDetailView(TunnelSession *session, QWidget *parent)
    : QScrollArea(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("tunnelDetailView"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette p = palette();
    p.setColor(QPalette::Window, Theme::background);
    setPalette(p);
    viewport()->setAutoFillBackground(true);
    viewport()->setPalette(p);

    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("detailContent"));
    content->setAutoFillBackground(true);
    content->setPalette(p);
    auto *layout = column(15, content);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(buildHeader());
    layout->addWidget(buildHealthRow());
    auto *cards = row(15);
    cards->addWidget(buildConfigurationCard(), 1, Qt::AlignTop);
    cards->addWidget(buildPublicLinkCard(), 0, Qt::AlignTop);
    layout->addLayout(cards);
    layout->addWidget(buildActivityCard());
    layout->addStretch(1);
    setWidget(content);
    setTabOrder();

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(refreshInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TunnelDetailView::refreshState);
    m_activityTimer.setSingleShot(true);
    connect(&m_activityTimer, &QTimer::timeout, this, [this] {
        if (m_session)
            refreshActivity(*m_session);
    });
    connect(session, &TunnelSession::changed, this, &TunnelDetailView::scheduleRefresh);
    refresh();
}

TunnelDetailView::~TunnelDetailView() = default;

QWidget *TunnelDetailView::buildHeader()
{
    auto *header = new QWidget;
    auto *layout = row(14, header);

    auto *titles = column(5);
    m_nameField = new QLineEdit(header);
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
    connect(m_nameField, &QLineEdit::textEdited, this, &TunnelDetailView::handleNameEdited);
    titles->addWidget(m_nameField);
    auto *subtitle = makeLabel(
        QStringLiteral("为每个代理定义清晰名称，配置和状态互不影响"), 10, QFont::Normal, Theme::subtle, header);
    subtitle->setWordWrap(true);
    titles->addWidget(subtitle);
    layout->addLayout(titles, 1);

    m_badge = new SessionStatusBadge(m_session, header);
    layout->addWidget(m_badge, 0, Qt::AlignVCenter);
    m_deleteButton = new CircleSymbolButton(QStringLiteral("trash"), 12, QFont::Medium, Theme::danger,
        Theme::withOpacity(Theme::danger, 0.08), 34, 34, QStringLiteral("删除此服务"), header);
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    connect(m_deleteButton, &QAbstractButton::clicked, this, &TunnelDetailView::handleDeleteClicked);
    layout->addWidget(m_deleteButton, 0, Qt::AlignVCenter);
    return header;
}

QWidget *TunnelDetailView::buildHealthRow()
{
    auto *healthRow = new QWidget;
    auto *layout = row(12, healthRow);
    m_localCard = new HealthCard(QStringLiteral("本地服务"), QStringLiteral("desktopcomputer"), healthRow);
    m_localCard->setObjectName(QStringLiteral("localHealthCard"));
    m_publicCard = new HealthCard(QStringLiteral("公网入口"), QStringLiteral("globe.asia.australia.fill"), healthRow);
    m_publicCard->setObjectName(QStringLiteral("publicHealthCard"));

    auto *lastCheck = new QWidget(healthRow);
    applyCardBackground(lastCheck, 12);
    lastCheck->setMinimumHeight(72);
    auto *lastCheckLayout = column(7, lastCheck);
    lastCheckLayout->setContentsMargins(15, 0, 15, 0);
    lastCheckLayout->addStretch(1);
    lastCheckLayout->addWidget(makeLabel(QStringLiteral("最近检测"), 9, QFont::Medium, Theme::subtle, lastCheck));
    m_lastChecked = makeLabel(QString(), 12, QFont::DemiBold, Theme::text, lastCheck);
    m_lastChecked->setFont(Theme::monospacedFont(12, QFont::DemiBold));
    m_lastChecked->setObjectName(QStringLiteral("lastChecked"));
    lastCheckLayout->addWidget(m_lastChecked);
    lastCheckLayout->addStretch(1);

    // Three equal shares, whatever their texts.
    for (QWidget *tile : { static_cast<QWidget *>(m_localCard), static_cast<QWidget *>(m_publicCard), lastCheck }) {
        tile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        tile->setMinimumWidth(120);
        layout->addWidget(tile, 1);
    }
    return healthRow;
}

QWidget *TunnelDetailView::buildConfigurationCard()
{
    auto *card = new QWidget;
    card->setObjectName(QStringLiteral("configurationCard"));
    applyCardBackground(card, 16);
    card->setMinimumHeight(380);
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = column(15, card);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->addWidget(cardTitle(QStringLiteral("连接配置"), QStringLiteral("slider.horizontal.3"), card));

    // Provider: informational, there is nothing else to choose.
    auto *provider = column(7);
    provider->addWidget(fieldLabel(QStringLiteral("公网提供方"), card));
    auto *tile = new RoundedBox(9, Theme::field, Theme::border, card);
    tile->setFixedHeight(48);
    auto *tileLayout = row(10, tile);
    tileLayout->setContentsMargins(11, 0, 11, 0);
    auto *cloud = new SymbolView(QStringLiteral("cloud.fill"), 13, QFont::Normal, 24, tile);
    cloud->setColor(Theme::accent);
    tileLayout->addWidget(cloud);
    auto *tileTexts = column(2);
    auto *tileTitle = new ElidedLabel(Qt::ElideRight, tile);
    tileTitle->setFont(Theme::font(11, QFont::DemiBold));
    tileTitle->setColor(Theme::text);
    tileTitle->setText(QStringLiteral("Cloudflare Quick Tunnel"));
    auto *tileSubtitle = new ElidedLabel(Qt::ElideRight, tile);
    tileSubtitle->setFont(Theme::font(8));
    tileSubtitle->setColor(Theme::subtle);
    tileSubtitle->setText(QStringLiteral("匿名临时域名 · 不使用个人账户"));
    tileTexts->addWidget(tileTitle);
    tileTexts->addWidget(tileSubtitle);
    tileLayout->addLayout(tileTexts, 1);
    tileLayout->addWidget(new TagLabel(QStringLiteral("开发测试"), tile));
    provider->addWidget(tile);
    auto *providerText = new WrappingLabel(card);
    providerText->setFont(Theme::font(8));
    providerText->setColor(Theme::subtle);
    providerText->setText(QStringLiteral("匿名使用 Cloudflare Quick Tunnel 临时域名，无需个人账户"));
    provider->addWidget(providerText);
    layout->addLayout(provider);

    // Protocol.
    auto *protocol = column(7);
    protocol->addWidget(fieldLabel(QStringLiteral("本地协议"), card));
    QStringList schemes;
    for (OriginScheme scheme : allOriginSchemes)
        schemes << rawValue(scheme);
    m_schemePicker = new SegmentedPicker(schemes, card);
    m_schemePicker->setObjectName(QStringLiteral("schemePicker"));
    m_schemePicker->setAccessibleName(QStringLiteral("本地协议"));
    connect(m_schemePicker, &SegmentedPicker::currentIndexChanged, this, &TunnelDetailView::handleSchemePicked);
    protocol->addWidget(m_schemePicker);
    protocol->addWidget(makeLabel(QStringLiteral("公网入口始终使用 HTTPS"), 8, QFont::Normal, Theme::subtle, card));
    layout->addLayout(protocol);

    // Address.
    auto *address = row(10);
    QVBoxLayout *hostColumn = column(7);
    m_hostField = labelledField(hostColumn, QStringLiteral("IP 地址 / 主机名"), QStringLiteral("127.0.0.1"),
        QStringLiteral("hostField"), &TunnelDetailView::handleHostEdited, card);
    m_hostField->setMinimumWidth(60);
    QVBoxLayout *portColumn = column(7);
    m_portField = labelledField(portColumn, QStringLiteral("端口"), QStringLiteral("3000"), QStringLiteral("portField"),
        &TunnelDetailView::handlePortEdited, card);
    m_portField->setFixedWidth(98);
    address->addLayout(hostColumn, 1);
    address->addLayout(portColumn, 0);
    layout->addLayout(address);

    // HTTPS options, absent for plain HTTP.
    m_disclosure = new QWidget(card);
    auto *disclosureLayout = column(0, m_disclosure);
    m_disclosureButton
        = new DisclosureButton(QStringLiteral("HTTPS / 自动检测选项"), 10, QFont::Medium, Theme::muted, m_disclosure);
    m_disclosureButton->setObjectName(QStringLiteral("disclosureButton"));
    connect(m_disclosureButton, &QAbstractButton::toggled, this, &TunnelDetailView::handleDisclosureToggled);
    disclosureLayout->addWidget(m_disclosureButton);
    m_disclosureContent = new QWidget(m_disclosure);
    auto *contentLayout = column(0, m_disclosureContent);
    contentLayout->setContentsMargins(0, 10, 0, 0);
    m_skipTLSSwitch = new ToggleSwitch(QStringLiteral("允许本地自签名证书"), 10, m_disclosureContent);
    m_skipTLSSwitch->setObjectName(QStringLiteral("skipTLSSwitch"));
    m_skipTLSSwitch->setAccessibleName(m_skipTLSSwitch->text());
    connect(m_skipTLSSwitch, &QAbstractButton::clicked, this, &TunnelDetailView::handleSkipTLSToggled);
    contentLayout->addWidget(m_skipTLSSwitch, 0, Qt::AlignLeft);
    m_disclosureContent->setVisible(false);
    disclosureLayout->addWidget(m_disclosureContent);
    layout->addWidget(m_disclosure);

    m_failureLabel = new IconTextLabel(QStringLiteral("exclamationmark.triangle.fill"), QString(), 10, QFont::Normal,
        Theme::danger, IconTextLabel::Lines::wrapping, card);
    m_failureLabel->setObjectName(QStringLiteral("failureLabel"));
    m_failureLabel->setVisible(false);
    layout->addWidget(m_failureLabel);
    layout->addWidget(new IconTextLabel(QStringLiteral("exclamationmark.shield.fill"),
        QStringLiteral("公网链接无内置密码，请勿暴露敏感后台或数据服务"), 9, QFont::Medium, Theme::warning,
        IconTextLabel::Lines::wrapping, card));

    auto *buttons = row(9);
    m_startButton = new ActionButton(PrimaryButtonStyle {}, card);
    m_startButton->setObjectName(QStringLiteral("startButton"));
    m_startButton->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    connect(m_startButton, &QAbstractButton::clicked, this, &TunnelDetailView::handleStartClicked);
    m_stopButton = new ActionButton(SecondaryButtonStyle {}, card);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setText(QStringLiteral("停止"));
    m_stopButton->setSymbol(QStringLiteral("stop.fill"));
    m_stopButton->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    connect(m_stopButton, &QAbstractButton::clicked, this, &TunnelDetailView::handleStopClicked);
    buttons->addWidget(m_startButton, 1);
    buttons->addWidget(m_stopButton, 1);
    layout->addLayout(buttons);
    layout->addStretch(1);
    return card;
}

QWidget *TunnelDetailView::buildPublicLinkCard()
{
    auto *card = new QWidget;
    card->setObjectName(QStringLiteral("publicLinkCard"));
    applyCardBackground(card, 16);
    card->setFixedWidth(315);
    card->setMinimumHeight(380);
    auto *layout = column(15, card);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->addWidget(cardTitle(QStringLiteral("公网地址"), QStringLiteral("link"), card));

    m_linkBlock = new RoundedBox(11, Theme::withOpacity(Theme::accentSoft, 0.82), {}, card);
    m_linkBlock->setObjectName(QStringLiteral("linkBlock"));
    auto *block = column(9, m_linkBlock);
    block->setContentsMargins(13, 13, 13, 13);
    auto *caption = row(6);
    auto *dot = new DotView(6, m_linkBlock);
    dot->setColor(Theme::success);
    caption->addWidget(dot, 0, Qt::AlignVCenter);
    auto *captionText = makeLabel(QStringLiteral("HTTPS PUBLIC URL"), 8, QFont::Bold, Theme::accentStrong, m_linkBlock);
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
    auto *actions = row(8);
    m_copyButton = new ActionButton(SecondaryButtonStyle {}, m_linkBlock);
    m_copyButton->setObjectName(QStringLiteral("copyButton"));
    m_copyButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_copyButton, &QAbstractButton::clicked, this, &TunnelDetailView::handleCopyClicked);
    m_openButton = new ActionButton(SecondaryButtonStyle {}, m_linkBlock);
    m_openButton->setObjectName(QStringLiteral("openButton"));
    m_openButton->setSymbol(QStringLiteral("safari"));
    m_openButton->setToolTip(QStringLiteral("在浏览器中打开"));
    m_openButton->setAccessibleName(m_openButton->toolTip());
    connect(m_openButton, &QAbstractButton::clicked, this, &TunnelDetailView::handleOpenClicked);
    actions->addWidget(m_copyButton, 1);
    actions->addWidget(m_openButton, 0);
    block->addLayout(actions);
    layout->addWidget(m_linkBlock);

    m_emptyLink = new QWidget(card);
    m_emptyLink->setObjectName(QStringLiteral("emptyLink"));
    m_emptyLink->setMinimumHeight(216);
    auto *empty = column(11, m_emptyLink);
    empty->addStretch(1);
    m_emptyLinkSymbol = new SymbolView(QStringLiteral("link.badge.plus"), 21, QFont::Light, 60, m_emptyLink);
    m_emptyLinkSymbol->setColor(Theme::accent);
    m_emptyLinkSymbol->setCircleColor(Theme::sidebar);
    empty->addWidget(m_emptyLinkSymbol, 0, Qt::AlignHCenter);
    m_emptyLinkTitle = makeLabel(QString(), 12, QFont::DemiBold, Theme::text, m_emptyLink);
    m_emptyLinkTitle->setObjectName(QStringLiteral("emptyLinkTitle"));
    m_emptyLinkTitle->setAlignment(Qt::AlignCenter);
    empty->addWidget(m_emptyLinkTitle);
    auto *emptyText = makeLabel(
        QStringLiteral("启动后由 Cloudflare 分配临时 HTTPS 地址"), 9, QFont::Normal, Theme::subtle, m_emptyLink);
    emptyText->setAlignment(Qt::AlignCenter);
    emptyText->setWordWrap(true);
    empty->addWidget(emptyText);
    empty->addStretch(1);
    layout->addWidget(m_emptyLink);

    layout->addWidget(new Divider(Qt::Horizontal, card));
    m_providerFact = new FactRow(QStringLiteral("公网提供方"), card);
    m_originFact = new FactRow(QStringLiteral("本地目标"), card);
    m_connectedFact = new FactRow(QStringLiteral("启动时间"), card);
    m_providerFact->setObjectName(QStringLiteral("providerFact"));
    m_originFact->setObjectName(QStringLiteral("originFact"));
    m_connectedFact->setObjectName(QStringLiteral("connectedFact"));
    layout->addWidget(m_providerFact);
    layout->addWidget(m_originFact);
    layout->addWidget(m_connectedFact);
    layout->addStretch(1);
    return card;
}

QWidget *TunnelDetailView::buildActivityCard()
{
    auto *card = new QWidget;
    card->setObjectName(QStringLiteral("activityCard"));
    applyCardBackground(card, 16);
    auto *layout = column(11, card);
    layout->setContentsMargins(16, 16, 16, 16);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->addWidget(cardTitle(QStringLiteral("运行记录"), QStringLiteral("list.bullet.rectangle"), card), 0);
    header->addStretch(1);
    m_clearButton = new TextButton(QStringLiteral("清空"), 9, QFont::Medium, Theme::subtle, card);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setAccessibleName(QStringLiteral("清空运行记录"));
    connect(m_clearButton, &QAbstractButton::clicked, this, &TunnelDetailView::handleClearClicked);
    header->addWidget(m_clearButton);
    layout->addLayout(header);
    layout->addWidget(new Divider(Qt::Horizontal, card));

    m_emptyActivity = makeLabel(QStringLiteral("暂无运行记录"), 10, QFont::Normal, Theme::subtle, card);
    m_emptyActivity->setObjectName(QStringLiteral("emptyActivity"));
    static_cast<QLabel *>(m_emptyActivity)->setAlignment(Qt::AlignCenter);
    m_emptyActivity->setMinimumHeight(55);
    layout->addWidget(m_emptyActivity);

    m_activityScroll = new QScrollArea(card);
    m_activityScroll->setObjectName(QStringLiteral("activityScroll"));
    m_activityScroll->setFixedHeight(90);
    m_activityScroll->setFrameShape(QFrame::NoFrame);
    m_activityScroll->setWidgetResizable(true);
    m_activityScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_activityScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette white = m_activityScroll->palette();
    white.setColor(QPalette::Window, Theme::panel);
    m_activityScroll->setPalette(white);
    m_activityScroll->viewport()->setAutoFillBackground(false);
    auto *list = new QWidget;
    list->setAutoFillBackground(false);
    m_activityLayout = column(9, list);
    m_activityLayout->addStretch(1);
    m_activityScroll->setWidget(list);
    layout->addWidget(m_activityScroll);
    return card;
}

QLineEdit *TunnelDetailView::labelledField(QVBoxLayout *column, const QString &label, const QString &placeholder,
    const QString &objectName, void (TunnelDetailView::*handleEdited)(const QString &), QWidget *parent)
{
    QLabel *title = fieldLabel(label, parent);
    auto *field = new QLineEdit(parent);
    field->setObjectName(objectName);
    TextFieldStyle::apply(field);
    field->setPlaceholderText(placeholder);
    // The placeholder is no name: screen readers get the field's label.
    field->setAccessibleName(label);
    title->setBuddy(field);
    connect(field, &QLineEdit::textEdited, this, handleEdited);
    column->addWidget(title);
    column->addWidget(field);
    return field;
}

void TunnelDetailView::setTabOrder()
{
    QList<QWidget *> chain { m_nameField, m_deleteButton };
    for (int i = 0; i < m_schemePicker->count(); ++i)
        chain << m_schemePicker->segment(i);
    chain << m_hostField << m_portField << m_disclosureButton << m_skipTLSSwitch << m_startButton << m_stopButton
          << m_urlText << m_copyButton << m_openButton << m_clearButton;
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
}

// --- Static texts -------------------------------------------------------------------------------

QString TunnelDetailView::startTitle(const TunnelStatus &status)
{
    switch (status.kind) {
    case TunnelStatus::Kind::preparing:
        return QStringLiteral("检查本地服务");
    case TunnelStatus::Kind::connecting:
        return QStringLiteral("正在连接");
    case TunnelStatus::Kind::online:
        return QStringLiteral("运行中");
    case TunnelStatus::Kind::stopping:
        return QStringLiteral("停止中");
    case TunnelStatus::Kind::idle:
    case TunnelStatus::Kind::failed:
        break;
    }
    return QStringLiteral("启动此服务");
}

QString TunnelDetailView::startSymbol(const TunnelStatus &status)
{
    const bool working = status.is(TunnelStatus::Kind::preparing) || status.is(TunnelStatus::Kind::connecting)
        || status.is(TunnelStatus::Kind::stopping);
    return working ? QStringLiteral("ellipsis") : QStringLiteral("play.fill");
}

QString TunnelDetailView::localHealthDetail(const TunnelSession &session)
{
    if (session.localHealth().is(HealthState::Kind::unhealthy))
        return session.localHealth().message;
    if (!session.activeOrigin().isEmpty())
        return session.activeOrigin();
    return session.profile().host + u':' + session.profile().portText;
}

QString TunnelDetailView::publicHealthDetail(const TunnelSession &session)
{
    if (session.publicHealth().is(HealthState::Kind::unhealthy))
        return session.publicHealth().message;
    if (session.publicURL() && !session.publicURL()->host().isEmpty())
        return session.publicURL()->host();
    return QStringLiteral("隧道未启动");
}

QString TunnelDetailView::deleteTitle(const QString &profileName)
{
    return QStringLiteral("删除“") + displayName(profileName) + QStringLiteral("”？");
}

// --- Refresh ------------------------------------------------------------------------------------

void TunnelDetailView::scheduleRefresh()
{
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
    if (!m_activityTimer.isActive())
        m_activityTimer.start(int(qMax<qint64>(refreshInterval, activityInterval - m_activityClock.elapsed())));
}

void TunnelDetailView::refresh()
{
    refreshState();
    if (m_session)
        refreshActivity(*m_session);
}

void TunnelDetailView::refreshState()
{
    if (!m_session)
        return;
    ++m_refreshCount;
    const TunnelSession &session = *m_session;

    setTextKeepingEdits(m_nameField, session.profile().name);

    m_localCard->setState(session.localHealth());
    m_localCard->setDetail(localHealthDetail(session));
    m_publicCard->setState(session.publicHealth());
    m_publicCard->setDetail(publicHealthDetail(session));
    const QString lastChecked
        = session.lastCheckedAt() ? timeOfDay(*session.lastCheckedAt()) : QStringLiteral("等待首次检测");
    if (m_lastChecked->text() != lastChecked)
        m_lastChecked->setText(lastChecked);

    refreshConfiguration(session);
    refreshPublicLink(session);
}

void TunnelDetailView::refreshConfiguration(const TunnelSession &session)
{
    const TunnelProfile &profile = session.profile();
    const TunnelStatus &status = session.status();
    const bool busy = status.isActive();

    m_schemePicker->setCurrentIndex(int(profile.scheme));
    setTextKeepingEdits(m_hostField, profile.host);
    setTextKeepingEdits(m_portField, profile.portText);
    m_skipTLSSwitch->setChecked(profile.skipTLSVerification);
    m_disclosure->setVisible(profile.scheme != OriginScheme::http);
    for (QWidget *locked : { static_cast<QWidget *>(m_schemePicker), static_cast<QWidget *>(m_hostField),
             static_cast<QWidget *>(m_portField), static_cast<QWidget *>(m_skipTLSSwitch) })
        locked->setEnabled(!busy);

    const bool failed = status.is(TunnelStatus::Kind::failed);
    m_failureLabel->setText(failed ? status.message : QString());
    m_failureLabel->setVisible(failed);

    m_startButton->setText(startTitle(status));
    m_startButton->setSymbol(startSymbol(status));
    m_startButton->setAccessibleName(startTitle(status));
    m_startButton->setEnabled(!busy);
    m_startButton->setOpacity(busy ? 0.48 : 1.0);

    const bool stoppable = status.is(TunnelStatus::Kind::preparing) || status.is(TunnelStatus::Kind::connecting)
        || status.is(TunnelStatus::Kind::online);
    m_stopButton->setEnabled(stoppable);
    m_stopButton->setOpacity(busy ? 1.0 : 0.45);
}

void TunnelDetailView::refreshPublicLink(const TunnelSession &session)
{
    const std::optional<QUrl> &url = session.publicURL();
    m_linkBlock->setVisible(url.has_value());
    m_emptyLink->setVisible(!url.has_value());
    if (url) {
        m_urlText->setText(url->toString());
        refreshCopyButton();
    } else {
        const TunnelStatus &status = session.status();
        const bool working = status.is(TunnelStatus::Kind::preparing) || status.is(TunnelStatus::Kind::connecting)
            || status.is(TunnelStatus::Kind::stopping);
        m_emptyLinkSymbol->setSymbol(
            working ? QStringLiteral("arrow.triangle.2.circlepath") : QStringLiteral("link.badge.plus"));
        const QString title = working ? QStringLiteral("正在建立公网隧道…") : QStringLiteral("尚未生成公网地址");
        if (m_emptyLinkTitle->text() != title)
            m_emptyLinkTitle->setText(title);
    }
    const QString dash = QStringLiteral("—");
    m_providerFact->setValue(session.activeProvider() ? rawValue(*session.activeProvider()) : dash);
    m_originFact->setValue(session.activeOrigin());
    m_connectedFact->setValue(session.connectedAt() ? timeOfDay(*session.connectedAt()) : dash);
}

void TunnelDetailView::refreshCopyButton()
{
    m_copyButton->setText(m_copied ? QStringLiteral("已复制") : QStringLiteral("复制链接"));
    m_copyButton->setSymbol(m_copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"));
    m_copyButton->setAccessibleName(m_copyButton->text());
}

void TunnelDetailView::refreshActivity(const TunnelSession &session)
{
    m_activityClock.start();
    m_activityTimer.stop();
    const QList<ActivityEntry> &activity = session.activity();
    const qsizetype count = activity.size();
    // Newest first: row i shows the i-th newest entry.
    auto entryFor = [&](qsizetype row) -> const ActivityEntry & { return activity.at(count - 1 - row); };
    bool same = count == m_shownActivity;
    for (qsizetype i = 0; same && i < count; ++i)
        same = m_activityRows.at(i)->entry().id == entryFor(i).id;
    if (same)
        return;

    m_clearButton->setVisible(count > 0);
    m_emptyActivity->setVisible(count == 0);
    m_activityScroll->setVisible(count > 0);

    // A reader scrolled down to older entries keeps seeing the same lines: note the entries from the
    // top of the view down and where they sit, and put the first one still listed back in its place.
    QScrollBar *bar = m_activityScroll->verticalScrollBar();
    const int offset = bar->value();
    QList<std::pair<QUuid, int>> anchors;
    for (qsizetype i = 0; offset > 0 && i < m_shownActivity; ++i) {
        const ActivityRow *row = m_activityRows.at(i);
        if (row->geometry().bottom() >= offset)
            anchors.append({ row->entry().id, row->y() });
    }

    // The rows are made once and reused; only their texts change.
    for (qsizetype i = 0; i < count; ++i) {
        if (i == m_activityRows.size()) {
            auto *row = new ActivityRow(entryFor(i), m_activityLayout->parentWidget());
            m_activityLayout->insertWidget(int(i), row);
            m_activityRows.append(row);
        }
        ActivityRow *row = m_activityRows.at(i);
        row->setEntry(entryFor(i));
        row->show(); // now, so the layout below counts it (a layout shows new children later)
    }
    for (qsizetype i = count; i < m_shownActivity; ++i)
        m_activityRows.at(i)->hide();
    m_shownActivity = count;

    for (const auto &[id, oldY] : anchors) {
        const auto row = std::find_if(m_activityRows.cbegin(), m_activityRows.cbegin() + count,
            [&id](const ActivityRow *r) { return r->entry().id == id; });
        if (row == m_activityRows.cbegin() + count)
            continue; // dropped from the log
        QWidget *list = m_activityScroll->widget();
        m_activityLayout->activate();
        list->resize(m_activityScroll->viewport()->width(),
            qMax(list->heightForWidth(m_activityScroll->viewport()->width()), list->sizeHint().height()));
        bar->setRange(0, qMax(0, list->height() - m_activityScroll->viewport()->height()));
        bar->setValue(offset + (*row)->y() - oldY);
        break;
    }
}

// --- Edits --------------------------------------------------------------------------------------

void TunnelDetailView::editProfile(const std::function<void(TunnelProfile &)> &edit)
{
    if (!m_session)
        return;
    TunnelProfile profile = m_session->profile();
    edit(profile);
    m_session->setProfile(profile);
}

void TunnelDetailView::handleNameEdited(const QString &text)
{
    editProfile([&](TunnelProfile &p) { p.name = text; });
}

void TunnelDetailView::handleSchemePicked(int index)
{
    if (index < 0 || index >= int(allOriginSchemes.size()))
        return;
    editProfile([&](TunnelProfile &p) { p.scheme = allOriginSchemes[size_t(index)]; });
    // The disclosure appears or goes at once rather than a frame later.
    m_disclosure->setVisible(allOriginSchemes[size_t(index)] != OriginScheme::http);
}

void TunnelDetailView::handleHostEdited(const QString &text)
{
    editProfile([&](TunnelProfile &p) { p.host = text; });
}

void TunnelDetailView::handlePortEdited(const QString &text)
{
    editProfile([&](TunnelProfile &p) { p.portText = text; });
}

void TunnelDetailView::handleSkipTLSToggled(bool checked)
{
    editProfile([&](TunnelProfile &p) { p.skipTLSVerification = checked; });
}

void TunnelDetailView::handleDisclosureToggled(bool expanded)
{
    m_showAdvanced = expanded;
    m_disclosureContent->setVisible(expanded);
}

// --- Actions ------------------------------------------------------------------------------------

QMessageBox *TunnelDetailView::makeAlert(const QString &title, const QString &message)
{
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message);
    return box;
}

void TunnelDetailView::handleStartClicked()
{
    if (m_startAlert || !m_session)
        return;
    QMessageBox *box = makeAlert(QStringLiteral("确认发布到公网？"),
        QStringLiteral("公网地址默认没有访问密码。请确认目标服务由你拥有或已获授权，"
                       "且其中没有不应公开的数据。"));
    QPushButton *cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    QPushButton *confirm = box->addButton(QStringLiteral("确认启动"), QMessageBox::AcceptRole);
    box->setEscapeButton(cancel);
    box->setDefaultButton(confirm);
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton *clicked) {
        if (clicked == confirm && m_session)
            m_session->start();
    });
    m_startAlert = box;
    box->open();
}

void TunnelDetailView::handleStopClicked()
{
    if (m_session)
        m_session->stop();
}

void TunnelDetailView::handleDeleteClicked()
{
    if (m_deleteAlert || !m_session)
        return;
    QMessageBox *box
        = makeAlert(deleteTitle(m_session->profile().name), QStringLiteral("该服务的隧道会停止，配置也会被移除。"));
    QPushButton *cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    QPushButton *remove = box->addButton(QStringLiteral("删除"), QMessageBox::DestructiveRole);
    box->setEscapeButton(cancel);
    box->setDefaultButton(cancel);
    const QUuid id = m_session->id();
    connect(box, &QMessageBox::buttonClicked, this, [this, remove, id](QAbstractButton *clicked) {
        // Queued: whoever removes the service may delete this pane, which must not happen inside the alert.
        if (clicked == remove)
            QMetaObject::invokeMethod(
                this, [this, id] { emit deleteConfirmed(id); }, Qt::QueuedConnection);
    });
    m_deleteAlert = box;
    box->open();
}

void TunnelDetailView::handleCopyClicked()
{
    // An address Qt cannot parse has no text to copy; claiming "已复制" would be a lie.
    if (!m_session || !m_session->publicURL() || !m_session->publicURL()->isValid())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_session->publicURL()->toString());
    m_copied = true;
    refreshCopyButton();
    // Each copy schedules its own reset; an earlier one is not pushed back by a later copy.
    QTimer::singleShot(m_session->timings().copiedLabel, this, [this] {
        m_copied = false;
        refreshCopyButton();
    });
}

void TunnelDetailView::handleOpenClicked()
{
    if (m_session && m_session->publicURL() && m_session->publicURL()->isValid())
        QDesktopServices::openUrl(*m_session->publicURL());
}

void TunnelDetailView::handleClearClicked()
{
    if (!m_session)
        return;
    m_session->setActivity({});
    refreshActivity(*m_session); // empty at once, not a frame later
}
