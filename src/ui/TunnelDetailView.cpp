#include "ui/TunnelDetailView.h"

#include "session/TunnelSession.h"
#include "ui/DisplayName.h"
#include "ui/detail/ActivityCard.h"
#include "ui/detail/ConfigurationCard.h"
#include "ui/detail/DetailHeader.h"
#include "ui/detail/GateCard.h"
#include "ui/detail/HealthRow.h"
#include "ui/detail/PublicLinkCard.h"
#include "ui/detail/VisitorLogCard.h"
#include "ui/style/Theme.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/ViewParts.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {
// One refresh per frame at most, however many changes arrive.
constexpr int refreshInterval = 16;
// The activity list moves slower: a flooding tunnel would otherwise re-lay the list out every frame.
constexpr int activityInterval = 100;
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

    // Kept aside until the pane has its width: the scroll area would size it for no width first.
    auto *content = new QWidget(this);
    content->hide();
    content->setObjectName(QStringLiteral("detailContent"));
    content->setAutoFillBackground(true);
    content->setPalette(p);
    auto *layout = ViewParts::column(15, content);
    layout->setContentsMargins(20, 20, 20, 20);
    m_header = new DetailHeader(session, content);
    connect(m_header, &DetailHeader::deleteClicked, this, &TunnelDetailView::askToDelete);
    layout->addWidget(m_header);
    m_health = new HealthRow(content);
    layout->addWidget(m_health);
    auto *cards = ViewParts::row(15);
    m_configuration = new ConfigurationCard(session, content);
    connect(m_configuration, &ConfigurationCard::startClicked, this, &TunnelDetailView::handleStartClicked);
    m_publicLink = new PublicLinkCard(session, content);
    cards->addWidget(m_configuration, 1, Qt::AlignTop);
    cards->addWidget(m_publicLink, 0, Qt::AlignTop);
    layout->addLayout(cards);
    m_gate = new GateCard(session, GateLocator(), content);
    layout->addWidget(m_gate);
    m_visitors = new VisitorLogCard(session, content);
    layout->addWidget(m_visitors);
    m_activity = new ActivityCard(session, content);
    layout->addWidget(m_activity);
    layout->addStretch(1);
    m_pendingContent = content;

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(refreshInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TunnelDetailView::refreshState);
    m_activityTimer.setSingleShot(true);
    connect(&m_activityTimer, &QTimer::timeout, this, &TunnelDetailView::refreshActivity);
    connect(session, &TunnelSession::changed, this, &TunnelDetailView::scheduleRefresh);
    refresh();
}

TunnelDetailView::~TunnelDetailView() = default;

bool TunnelDetailView::event(QEvent *event)
{
    const bool handled = QScrollArea::event(event);
    if (event->type() == QEvent::Resize && m_pendingContent) {
        // The viewport has its real size now: lay the content out once, at that width.
        QWidget *content = std::exchange(m_pendingContent, nullptr);
        content->resize(viewport()->width(), content->height());
        setWidget(content);
        setTabOrder();
    }
    return handled;
}

bool TunnelDetailView::isCopied() const
{
    return m_publicLink->isCopied();
}

bool TunnelDetailView::showAdvanced() const
{
    return m_configuration->showAdvanced();
}

void TunnelDetailView::startOrStop()
{
    if (!m_session)
        return;
    const TunnelStatus status = m_session->status();
    if (!status.isActive())
        handleStartClicked();
    else if (!status.is(TunnelStatus::Kind::stopping))
        m_session->stop();
}

void TunnelDetailView::copyPublicAddress()
{
    m_publicLink->copyAddress();
}

void TunnelDetailView::setTabOrder()
{
    auto named = [this](const char *name) { return widget()->findChild<QWidget *>(QLatin1String(name)); };
    QList<QWidget *> chain { named("nameField"), named("deleteButton") };
    auto *picker = widget()->findChild<SegmentedPicker *>(QStringLiteral("schemePicker"));
    for (int i = 0; i < picker->count(); ++i)
        chain << picker->segment(i);
    for (const char *name : { "hostField", "portField", "disclosureButton", "skipTLSSwitch", "startButton",
             "stopButton", "urlText", "copyButton", "qrButton", "openButton", "copyWithPasswordButton",
             "passwordSwitch", "visitorLogSwitch", "clearButton" })
        chain << named(name);
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
}

QString TunnelDetailView::deleteTitle(const QString &profileName)
{
    return QStringLiteral("删除“") + displayName(profileName) + QStringLiteral("”？");
}

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
    refreshActivity();
}

void TunnelDetailView::refreshState()
{
    if (!m_session)
        return;
    ++m_refreshCount;
    m_header->refresh(*m_session);
    m_health->refresh(*m_session);
    m_configuration->refresh(*m_session);
    m_publicLink->refresh(*m_session);
    m_gate->refresh(*m_session);
    m_visitors->refresh(*m_session);
}

void TunnelDetailView::refreshActivity()
{
    m_activityClock.start();
    m_activityTimer.stop();
    if (m_session)
        m_activity->refresh(*m_session);
}

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
    // Qt sizes the box for the bare title in the ordinary font; the desktop draws it bold, adds " — " and
    // the program's name, and puts its buttons beside it. The text label carries the width for all that.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.1);
    const QString shownTitle = title + QStringLiteral(" — ") + QGuiApplication::applicationDisplayName();
    const int titleBarButtons = 3 * 32;
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
        label->setMinimumWidth(qMin(QFontMetrics(titleFont).horizontalAdvance(shownTitle) + titleBarButtons, 900));
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

void TunnelDetailView::askToDelete()
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
