#include "ui/detail/GateCard.h"

#include "gate/GateSecrets.h"
#include "session/TunnelSession.h"
#include "ui/detail/DetailParts.h"
#include "ui/style/ActionButton.h"
#include "ui/style/CardBackground.h"
#include "ui/style/TextFieldStyle.h"
#include "ui/style/Theme.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/ToggleSwitch.h"
#include "ui/widgets/ViewParts.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

ActionButton *symbolButton(const QString &symbol, const QString &toolTip, const QString &objectName, QWidget *parent)
{
    auto *button = new ActionButton(SecondaryButtonStyle {}, parent);
    button->setObjectName(objectName);
    button->setSymbol(symbol);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    return button;
}

} // namespace

GateCard::GateCard(TunnelSession *session, const GateLocator &locator, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
    , m_available(!locator.locate().isEmpty())
{
    setObjectName(QStringLiteral("gateCard"));
    applyCardBackground(this, 16);
    auto *layout = ViewParts::column(12, this);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->addWidget(DetailParts::cardTitle(QStringLiteral("访问控制"), QStringLiteral("lock.shield.fill"), this));

    m_passwordSwitch = new ToggleSwitch(QStringLiteral("访问密码"), 10, this);
    m_passwordSwitch->setObjectName(QStringLiteral("passwordSwitch"));
    m_passwordSwitch->setAccessibleName(m_passwordSwitch->text());
    connect(m_passwordSwitch, &QAbstractButton::clicked, this, [this](bool checked) {
        bool madeUp = false;
        editGate([&](GateSettings &gate) {
            gate.passwordOn = checked;
            // Turned on without a password: one is made up and shown, so the gate can start at once.
            madeUp = checked && gate.password.isEmpty();
            if (madeUp)
                gate.password = GateSecrets::generatePassword();
        });
        if (madeUp)
            setRevealed(true);
    });
    layout->addWidget(m_passwordSwitch, 0, Qt::AlignLeft);

    m_visitorLogSwitch = new ToggleSwitch(QStringLiteral("记录访问"), 10, this);
    m_visitorLogSwitch->setObjectName(QStringLiteral("visitorLogSwitch"));
    m_visitorLogSwitch->setAccessibleName(m_visitorLogSwitch->text());
    connect(m_visitorLogSwitch, &QAbstractButton::clicked, this,
        [this](bool checked) { editGate([&](GateSettings &gate) { gate.visitorLogOn = checked; }); });
    layout->addWidget(m_visitorLogSwitch, 0, Qt::AlignLeft);

    m_note = new IconTextLabel(QStringLiteral("exclamationmark.triangle.fill"), QString(), 9, QFont::Medium,
        Theme::warning, IconTextLabel::Lines::wrapping, this);
    m_note->setObjectName(QStringLiteral("gateNote"));
    m_note->setVisible(false);
    layout->addWidget(m_note);

    m_passwordSwitch->setEnabled(m_available);
    m_visitorLogSwitch->setEnabled(m_available);
}

void GateCard::makePasswordRow()
{
    m_passwordRow = new QWidget(this);
    m_passwordRow->setObjectName(QStringLiteral("passwordRow"));
    auto *row = ViewParts::row(8, m_passwordRow);
    m_passwordField = new QLineEdit(m_passwordRow);
    m_passwordField->setObjectName(QStringLiteral("passwordField"));
    TextFieldStyle::apply(m_passwordField);
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_passwordField->setPlaceholderText(QStringLiteral("设置访问密码"));
    m_passwordField->setAccessibleName(QStringLiteral("访问密码"));
    connect(m_passwordField, &QLineEdit::textEdited, this,
        [this](const QString &text) { editGate([&](GateSettings &gate) { gate.password = text; }); });
    row->addWidget(m_passwordField, 1);

    m_revealButton = symbolButton(
        QStringLiteral("eye"), QStringLiteral("显示密码"), QStringLiteral("revealButton"), m_passwordRow);
    connect(m_revealButton, &QAbstractButton::clicked, this, [this] { setRevealed(!m_revealed); });
    row->addWidget(m_revealButton);
    auto *copy = symbolButton(
        QStringLiteral("doc.on.doc"), QStringLiteral("复制密码"), QStringLiteral("copyPasswordButton"), m_passwordRow);
    connect(copy, &QAbstractButton::clicked, this, [this] {
        if (m_session && !m_session->gateSettings().password.isEmpty())
            QGuiApplication::clipboard()->setText(m_session->gateSettings().password);
    });
    row->addWidget(copy);
    auto *generate = new ActionButton(SecondaryButtonStyle {}, m_passwordRow);
    generate->setObjectName(QStringLiteral("generateButton"));
    generate->setText(QStringLiteral("生成"));
    generate->setAccessibleName(QStringLiteral("生成随机密码"));
    connect(generate, &QAbstractButton::clicked, this, [this] {
        editGate([](GateSettings &gate) { gate.password = GateSecrets::generatePassword(); });
        // A password nobody has seen cannot be passed on: show it.
        setRevealed(true);
    });
    row->addWidget(generate);
    // Below its switch, and next in the focus chain.
    auto *column = qobject_cast<QVBoxLayout *>(layout());
    column->insertWidget(column->indexOf(m_passwordSwitch) + 1, m_passwordRow);
    QWidget *previous = m_passwordSwitch;
    for (QWidget *next : { static_cast<QWidget *>(m_passwordField), static_cast<QWidget *>(m_revealButton),
             static_cast<QWidget *>(copy), static_cast<QWidget *>(generate) }) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    }
}

void GateCard::editGate(const std::function<void(GateSettings &)> &edit)
{
    if (!m_session)
        return;
    GateSettings gate = m_session->gateSettings();
    edit(gate);
    m_session->setGateSettings(gate);
    refresh(*m_session); // at once, not a frame later
}

void GateCard::setRevealed(bool revealed)
{
    m_revealed = revealed;
    m_passwordField->setEchoMode(revealed ? QLineEdit::Normal : QLineEdit::Password);
    m_revealButton->setSymbol(revealed ? QStringLiteral("eye.slash") : QStringLiteral("eye"));
    m_revealButton->setToolTip(revealed ? QStringLiteral("隐藏密码") : QStringLiteral("显示密码"));
    m_revealButton->setAccessibleName(m_revealButton->toolTip());
}

void GateCard::refresh(const TunnelSession &session)
{
    const GateSettings &gate = session.gateSettings();
    m_passwordSwitch->setChecked(gate.passwordOn);
    m_visitorLogSwitch->setChecked(gate.visitorLogOn);
    // Made when first needed: most services never have a password.
    if (gate.passwordOn && !m_passwordRow)
        makePasswordRow();
    if (m_passwordRow) {
        m_passwordRow->setVisible(gate.passwordOn);
        // A field being typed into already holds what the settings got from it; never reset its cursor.
        if (m_passwordField->text() != gate.password && !m_passwordField->hasFocus())
            m_passwordField->setText(gate.password);
    }
    refreshNotes(session);
}

void GateCard::refreshNotes(const TunnelSession &session)
{
    const GateSettings &gate = session.gateSettings();
    QString note;
    QColor color = Theme::warning;
    if (!m_available) {
        note = GateLocator::unavailableMessage();
        color = Theme::subtle;
    } else if (gate.passwordOn && gate.password.isEmpty()) {
        note = QStringLiteral("请设置访问密码，或点击“生成”");
    } else if (gate.passwordOn && !GateSecrets::isUsablePassword(gate.password)) {
        note = QStringLiteral("密码过长：最多 72 字节");
        color = Theme::danger;
    } else if (session.status().isActive()) {
        note = QStringLiteral("服务运行中：访问控制的更改将在下次启动时生效");
    }
    m_note->setVisible(!note.isEmpty());
    if (m_note->text() != note)
        m_note->setText(note);
    m_note->setColor(color);
}
