#include "ui/detail/ConfigurationCard.h"

#include "session/TunnelSession.h"
#include "ui/detail/DetailParts.h"
#include "ui/style/ActionButton.h"
#include "ui/style/CardBackground.h"
#include "ui/style/TextFieldStyle.h"
#include "ui/style/Theme.h"
#include "ui/widgets/DisclosureButton.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/RoundedBox.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/SingleLineField.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/ToggleSwitch.h"
#include "ui/widgets/ViewParts.h"
#include "ui/widgets/WrappingLabel.h"

#include <QHBoxLayout>
#include <QLabel>

using DetailParts::editProfile;

namespace {

QString startTitle(const TunnelStatus &status)
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

} // namespace

ConfigurationCard::ConfigurationCard(TunnelSession *session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("configurationCard"));
    applyCardBackground(this, 16);
    setMinimumHeight(380);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = ViewParts::column(15, this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->addWidget(DetailParts::cardTitle(QStringLiteral("连接配置"), QStringLiteral("slider.horizontal.3"), this));

    // Provider: informational, there is nothing else to choose.
    auto *provider = ViewParts::column(7);
    provider->addWidget(DetailParts::fieldLabel(QStringLiteral("公网提供方"), this));
    provider->addWidget(makeProviderTile());
    auto *providerText = new WrappingLabel(this);
    providerText->setFont(Theme::font(8));
    providerText->setColor(Theme::subtle);
    providerText->setText(QStringLiteral("匿名使用 Cloudflare Quick Tunnel 临时域名，无需个人账户"));
    provider->addWidget(providerText);
    layout->addLayout(provider);

    auto *protocol = ViewParts::column(7);
    protocol->addWidget(DetailParts::fieldLabel(QStringLiteral("本地协议"), this));
    QStringList schemes;
    for (OriginScheme scheme : allOriginSchemes)
        schemes << rawValue(scheme);
    m_schemePicker = new SegmentedPicker(schemes, this);
    m_schemePicker->setObjectName(QStringLiteral("schemePicker"));
    m_schemePicker->setAccessibleName(QStringLiteral("本地协议"));
    connect(m_schemePicker, &SegmentedPicker::currentIndexChanged, this, &ConfigurationCard::handleSchemePicked);
    protocol->addWidget(m_schemePicker);
    protocol->addWidget(
        DetailParts::label(QStringLiteral("公网入口始终使用 HTTPS"), 8, QFont::Normal, Theme::subtle, this));
    layout->addLayout(protocol);

    auto *address = ViewParts::row(10);
    QVBoxLayout *hostColumn = ViewParts::column(7);
    m_hostField = labelledField(hostColumn, QStringLiteral("IP 地址 / 主机名"), QStringLiteral("127.0.0.1"),
        QStringLiteral("hostField"), &ConfigurationCard::handleHostEdited);
    m_hostField->setMinimumWidth(60);
    QVBoxLayout *portColumn = ViewParts::column(7);
    m_portField = labelledField(portColumn, QStringLiteral("端口"), QStringLiteral("3000"), QStringLiteral("portField"),
        &ConfigurationCard::handlePortEdited);
    m_portField->setFixedWidth(98);
    address->addLayout(hostColumn, 1);
    address->addLayout(portColumn, 0);
    layout->addLayout(address);
    m_inputProblem = new IconTextLabel(QStringLiteral("exclamationmark.circle.fill"), QString(), 10, QFont::Normal,
        Theme::danger, IconTextLabel::Lines::wrapping, this);
    m_inputProblem->setObjectName(QStringLiteral("inputProblemLabel"));
    m_inputProblem->setVisible(false);
    layout->addWidget(m_inputProblem);

    makeDisclosure();
    layout->addWidget(m_disclosure);

    m_failureLabel = new IconTextLabel(QStringLiteral("exclamationmark.triangle.fill"), QString(), 10, QFont::Normal,
        Theme::danger, IconTextLabel::Lines::wrapping, this);
    m_failureLabel->setObjectName(QStringLiteral("failureLabel"));
    // A long host name or address in a failure would otherwise fill line after line of the card.
    m_failureLabel->setWordLimit(40);
    m_failureLabel->setVisible(false);
    layout->addWidget(m_failureLabel);
    layout->addWidget(new IconTextLabel(QStringLiteral("exclamationmark.shield.fill"),
        QStringLiteral("公网链接无内置密码，请勿暴露敏感后台或数据服务"), 9, QFont::Medium, Theme::warning,
        IconTextLabel::Lines::wrapping, this));

    auto *buttons = ViewParts::row(9);
    m_startButton = new ActionButton(PrimaryButtonStyle {}, this);
    m_startButton->setObjectName(QStringLiteral("startButton"));
    m_startButton->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    connect(m_startButton, &QAbstractButton::clicked, this, &ConfigurationCard::handleStartButtonClicked);
    m_stopButton = new ActionButton(SecondaryButtonStyle {}, this);
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setText(QStringLiteral("停止"));
    m_stopButton->setSymbol(QStringLiteral("stop.fill"));
    m_stopButton->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    connect(m_stopButton, &QAbstractButton::clicked, this, [this] {
        if (m_session)
            m_session->stop();
    });
    buttons->addWidget(m_startButton, 1);
    buttons->addWidget(m_stopButton, 1);
    layout->addLayout(buttons);
    layout->addStretch(1);
}

QWidget *ConfigurationCard::makeProviderTile()
{
    auto *tile = new RoundedBox(9, Theme::field, Theme::border, 1.0, this);
    tile->setFixedHeight(48);
    auto *tileLayout = ViewParts::row(10, tile);
    tileLayout->setContentsMargins(11, 0, 11, 0);
    auto *cloud = new SymbolView(QStringLiteral("cloud.fill"), 13, QFont::Normal, 24, tile);
    cloud->setColor(Theme::accent);
    tileLayout->addWidget(cloud);
    auto *tileTexts = ViewParts::column(2);
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

    // A capsule tag.
    auto *tag = new RoundedBox(11, Theme::accentSoft, {}, 1.0, tile);
    tag->setFixedHeight(22);
    auto *tagLayout = ViewParts::row(0, tag);
    tagLayout->setContentsMargins(8, 0, 8, 0);
    QLabel *tagText = DetailParts::label(QStringLiteral("开发测试"), 8, QFont::DemiBold, Theme::accentStrong, tag);
    tagText->setAlignment(Qt::AlignCenter);
    tagLayout->addWidget(tagText);
    tileLayout->addWidget(tag);
    return tile;
}

SingleLineField *ConfigurationCard::labelledField(QVBoxLayout *column, const QString &label, const QString &placeholder,
    const QString &objectName, void (ConfigurationCard::*handleEdited)(const QString &))
{
    QLabel *title = DetailParts::fieldLabel(label, this);
    auto *field = new SingleLineField(this);
    field->setObjectName(objectName);
    TextFieldStyle::apply(field);
    field->setPlaceholderText(placeholder);
    // The placeholder is no name: screen readers get the field's label.
    field->setAccessibleName(label);
    title->setBuddy(field);
    connect(field, &SingleLineField::edited, this, handleEdited);
    column->addWidget(title);
    column->addWidget(field);
    return field;
}

void ConfigurationCard::makeDisclosure()
{
    // HTTPS options, absent for plain HTTP.
    m_disclosure = new QWidget(this);
    auto *disclosureLayout = ViewParts::column(0, m_disclosure);
    m_disclosureButton
        = new DisclosureButton(QStringLiteral("HTTPS / 自动检测选项"), 10, QFont::Medium, Theme::muted, m_disclosure);
    m_disclosureButton->setObjectName(QStringLiteral("disclosureButton"));
    connect(m_disclosureButton, &QAbstractButton::toggled, this, [this](bool expanded) {
        m_showAdvanced = expanded;
        m_disclosureContent->setVisible(expanded);
    });
    disclosureLayout->addWidget(m_disclosureButton);
    m_disclosureContent = new QWidget(m_disclosure);
    auto *contentLayout = ViewParts::column(0, m_disclosureContent);
    contentLayout->setContentsMargins(0, 10, 0, 0);
    m_skipTLSSwitch = new ToggleSwitch(QStringLiteral("允许本地自签名证书"), 10, m_disclosureContent);
    m_skipTLSSwitch->setObjectName(QStringLiteral("skipTLSSwitch"));
    m_skipTLSSwitch->setAccessibleName(m_skipTLSSwitch->text());
    connect(m_skipTLSSwitch, &QAbstractButton::clicked, this,
        [this](bool checked) { editProfile(m_session, [&](TunnelProfile &p) { p.skipTLSVerification = checked; }); });
    contentLayout->addWidget(m_skipTLSSwitch, 0, Qt::AlignLeft);
    m_disclosureContent->setVisible(false);
    disclosureLayout->addWidget(m_disclosureContent);
}

void ConfigurationCard::refresh(const TunnelSession &session)
{
    const TunnelProfile &profile = session.profile();
    const TunnelStatus &status = session.status();
    const bool busy = status.isActive();

    m_schemePicker->setCurrentIndex(int(profile.scheme));
    m_hostField->showText(profile.host);
    m_portField->showText(profile.portText);
    if (m_inputProblem->isVisible())
        showInputProblem(profile);
    m_skipTLSSwitch->setChecked(profile.skipTLSVerification);
    m_disclosure->setVisible(profile.scheme != OriginScheme::http);
    for (QWidget *locked : { static_cast<QWidget *>(m_schemePicker), static_cast<QWidget *>(m_hostField),
             static_cast<QWidget *>(m_portField), static_cast<QWidget *>(m_skipTLSSwitch) })
        locked->setEnabled(!busy);

    const bool failed = status.is(TunnelStatus::Kind::failed);
    m_failureLabel->setText(failed ? status.message : QString());
    m_failureLabel->setVisible(failed);

    const QString title = startTitle(status);
    m_startButton->setText(title);
    m_startButton->setSymbol(status.isWorking() ? QStringLiteral("ellipsis") : QStringLiteral("play.fill"));
    m_startButton->setAccessibleName(title);
    m_startButton->setEnabled(!busy);
    m_startButton->setOpacity(busy ? 0.48 : 1.0);

    // Stopping is already under way while `stopping`.
    m_stopButton->setEnabled(busy && !status.is(TunnelStatus::Kind::stopping));
    m_stopButton->setOpacity(busy ? 1.0 : 0.45);
}

void ConfigurationCard::handleSchemePicked(int index)
{
    if (index < 0 || index >= int(allOriginSchemes.size()))
        return;
    editProfile(m_session, [&](TunnelProfile &p) { p.scheme = allOriginSchemes[size_t(index)]; });
    // The disclosure appears or goes at once rather than a frame later.
    m_disclosure->setVisible(allOriginSchemes[size_t(index)] != OriginScheme::http);
}

void ConfigurationCard::handleHostEdited(const QString &text)
{
    editProfile(m_session, [&](TunnelProfile &p) { p.host = text; });
}

void ConfigurationCard::handlePortEdited(const QString &text)
{
    editProfile(m_session, [&](TunnelProfile &p) { p.portText = text; });
}

void ConfigurationCard::handleStartButtonClicked()
{
    if (!m_session)
        return;
    // Asking whether to publish an address that cannot be used would waste the user's answer.
    if (SingleLineField *faulty = showInputProblem(m_session->profile()))
        faulty->setFocus(Qt::OtherFocusReason);
    else
        emit startClicked();
}

SingleLineField *ConfigurationCard::showInputProblem(const TunnelProfile &profile)
{
    const auto address = TunnelConfiguration::from(profile).validatedHostHeader();
    m_inputProblem->setVisible(!address.ok());
    if (address.ok())
        return nullptr;
    m_inputProblem->setText(address.error().description());
    return address.error().kind == TunnelError::Kind::invalidHost ? m_hostField : m_portField;
}
