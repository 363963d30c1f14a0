#include "ui/ContentView.h"

#include "legal/LegalNoticeGate.h"
#include "legal/LegalNoticeView.h"
#include "legal/MakerCard.h"
#include "legal/MiravoBrand.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/CloudflaredNotice.h"
#include "ui/ServiceActions.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SummaryPill.h"
#include "ui/TunnelDetailView.h"
#include "ui/WarningBanner.h"
#include "ui/style/ActionButton.h"
#include "ui/style/Theme.h"
#include "ui/widgets/CircleSymbolButton.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/LogoTile.h"
#include "ui/widgets/RoundedBox.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/TextButton.h"
#include "ui/widgets/ViewParts.h"
#include "ui/widgets/WrappingLabel.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The version is asked for in the background and arrives a little after the window.
QString versionText(const QString &version)
{
    return QStringLiteral("· cloudflared ") + (version.isEmpty() ? QStringLiteral("检测中…") : version)
        + QStringLiteral(" · 仅限临时开发测试");
}

constexpr qreal dimmedOpacity = 0.45;
constexpr int sidebarWidth = 270;

ActionButton *makeGroupButton(ActionButton *button, const QString &text, const QString &symbol, const QString &name)
{
    button->setText(text);
    button->setSymbol(symbol);
    button->setObjectName(name);
    return button;
}
} // namespace

ContentView::ContentView(TunnelStore *store, Preferences *preferences, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_gate(new LegalNoticeGate(this, preferences))
{
    setObjectName(QStringLiteral("contentView"));
    setMinimumSize(980, 680);
    ViewParts::fillBackground(this, Theme::background);

    auto *root = new QVBoxLayout(this);
    ViewParts::space(root, 0, 0, 0);
    root->addWidget(makeHeader());
    root->addWidget(new Divider(Qt::Horizontal));
    // Above everything else the user works with, so a failed save cannot go unseen.
    m_saveErrorBanner = new WarningBanner(QStringLiteral("saveError"), false);
    root->addWidget(m_saveErrorBanner);
    m_unreadableBanner = new WarningBanner(QStringLiteral("unreadableList"), true);
    connect(m_unreadableBanner, &WarningBanner::closed, m_store, &TunnelStore::dismissUnreadableNotice);
    root->addWidget(m_unreadableBanner);
    m_cloudflaredNotice = new CloudflaredNotice;
    connect(m_cloudflaredNotice, &CloudflaredNotice::redetectRequested, m_store, &TunnelStore::redetectCloudflared);
    root->addWidget(m_cloudflaredNotice);
    auto *middle = new QHBoxLayout;
    ViewParts::space(middle, 0, 0, 0);
    middle->addWidget(makeSidebar());
    middle->addWidget(new Divider(Qt::Vertical));
    auto *detailArea = new QWidget;
    detailArea->setObjectName(QStringLiteral("detailArea"));
    m_detailLayout = new QVBoxLayout(detailArea);
    ViewParts::space(m_detailLayout, 0, 0, 0);
    middle->addWidget(detailArea, 1);
    root->addLayout(middle, 1);
    root->addWidget(new Divider(Qt::Horizontal));
    root->addWidget(makeFooter());

    m_actions = new ServiceActions(
        m_store, [this] { return qobject_cast<TunnelDetailView *>(m_detail); }, this);
    addActions(m_actions->actions());

    connect(m_store, &TunnelStore::changed, this, &ContentView::handleStoreChanged);
    connect(m_store, &TunnelStore::sessionAdded, this, &ContentView::handleSessionAdded);
    connect(m_store, &TunnelStore::sessionRemoved, this, &ContentView::handleSessionRemoved);
    connect(m_store, &TunnelStore::selectionChanged, this, &ContentView::handleSelectionChanged);
    // Repeats the quit path's stop requests when the event loop ends some other way.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { m_store->shutdownAll(); });
    connect(m_gate, &LegalNoticeGate::declined, this, &ContentView::quitRequested);

    handleStoreChanged();
    handleSelectionChanged();
}

ContentView::~ContentView() = default;

QWidget *ContentView::makeHeader()
{
    QWidget *header = ViewParts::filled(Theme::panel);
    header->setObjectName(QStringLiteral("header"));
    header->setFixedHeight(72);
    auto *layout = new QHBoxLayout(header);
    ViewParts::space(layout, 18, 24, 0);

    auto *brand = new QHBoxLayout;
    ViewParts::space(brand, 11, 0, 0);
    brand->addWidget(new LogoTile(LogoTileKind::product, 40, 11));
    auto *names = new QVBoxLayout;
    ViewParts::space(names, 2, 0, 0);
    names->addStretch(1);
    names->addWidget(ViewParts::label(QStringLiteral("奥文塔"), Theme::font(17, QFont::Bold), Theme::text));
    QFont tagline = Theme::font(8, QFont::DemiBold);
    tagline.setLetterSpacing(QFont::AbsoluteSpacing, 1.25);
    names->addWidget(ViewParts::label(QStringLiteral("ORVANTA · CLOUDFLARE 临时隧道"), tagline, Theme::subtle));
    names->addStretch(1);
    brand->addLayout(names);
    layout->addLayout(brand);
    layout->addStretch(1);

    auto *pills = new QHBoxLayout;
    ViewParts::space(pills, 8, 0, 0);
    m_servicesPill = new SummaryPill(QStringLiteral("circle.grid.2x2.fill"), {}, Theme::accent);
    m_servicesPill->setObjectName(QStringLiteral("servicesPill"));
    m_runningPill = new SummaryPill(QStringLiteral("bolt.fill"), {}, Theme::success);
    m_runningPill->setObjectName(QStringLiteral("runningPill"));
    pills->addWidget(m_servicesPill);
    pills->addWidget(m_runningPill);
    layout->addLayout(pills);
    auto *separator = new Divider(Qt::Vertical);
    separator->setFixedHeight(26);
    layout->addWidget(separator);

    m_startAll = makeGroupButton(new ActionButton(PrimaryButtonStyle { true }), QStringLiteral("全部启动"),
        QStringLiteral("play.fill"), QStringLiteral("startAllButton"));
    connect(m_startAll, &QAbstractButton::clicked, this, &ContentView::handleStartAllClicked);
    m_stopAll = makeGroupButton(new ActionButton(SecondaryButtonStyle { true }), QStringLiteral("全部停止"),
        QStringLiteral("stop.fill"), QStringLiteral("stopAllButton"));
    connect(m_stopAll, &QAbstractButton::clicked, this, [this] { m_store->stopAll(); });
    layout->addWidget(m_startAll);
    layout->addWidget(m_stopAll);
    return header;
}

QWidget *ContentView::makeSidebar()
{
    QWidget *sidebar = ViewParts::filled(Theme::sidebar);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setFixedWidth(sidebarWidth);
    auto *layout = new QVBoxLayout(sidebar);
    ViewParts::space(layout, 0, 0, 0);

    auto *listHeader = new QHBoxLayout;
    ViewParts::space(listHeader, 6, 17, 16);
    auto *titles = new QVBoxLayout;
    ViewParts::space(titles, 3, 0, 0);
    titles->addWidget(ViewParts::label(QStringLiteral("代理服务"), Theme::font(14, QFont::DemiBold), Theme::text));
    titles->addWidget(ViewParts::label(QStringLiteral("独立配置与公网链接"), Theme::font(9), Theme::subtle));
    listHeader->addLayout(titles);
    listHeader->addStretch(1);
    auto *add = new CircleSymbolButton(
        QStringLiteral("plus"), 12, QFont::Bold, Qt::white, Theme::accent, 30, 30, QStringLiteral("添加代理服务"));
    add->setObjectName(QStringLiteral("addServiceButton"));
    connect(add, &QAbstractButton::clicked, this, [this] { m_store->addProfile(); });
    listHeader->addWidget(add);
    layout->addLayout(listHeader);

    layout->addWidget(makeServiceList(), 1);
    layout->addWidget(new MakerCard);
    layout->addWidget(makeRefreshNote());
    return sidebar;
}

QWidget *ContentView::makeServiceList()
{
    auto *rows = new QWidget;
    rows->setObjectName(QStringLiteral("serviceList"));
    m_rowsLayout = new QVBoxLayout(rows);
    m_rowsLayout->setSpacing(7);
    m_rowsLayout->setContentsMargins(10, 0, 10, 14);
    m_rowsLayout->addStretch(1);
    const QList<TunnelSession *> &sessions = m_store->sessions();
    for (int i = 0; i < sessions.size(); ++i)
        insertRow(sessions.at(i), i);

    m_listScroll = new QScrollArea;
    m_listScroll->setFrameShape(QFrame::NoFrame);
    m_listScroll->setWidgetResizable(true);
    m_listScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listScroll->setWidget(rows);
    m_listScroll->viewport()->setAutoFillBackground(false);
    rows->setAutoFillBackground(false);
    return m_listScroll;
}

void ContentView::insertRow(TunnelSession *session, int index)
{
    auto *row = new ServiceSidebarRow(session);
    const QUuid id = session->id();
    connect(row, &QAbstractButton::clicked, this, [this, row, id] {
        // The clicked row is where the arrow keys go on from.
        row->setFocus(Qt::MouseFocusReason);
        m_store->setSelectedID(id);
    });
    connect(row, &ServiceSidebarRow::navigationRequested, this, [this, id](int key) { handleRowNavigation(id, key); });
    row->setSelected(m_store->selectedID() == id);
    m_rows.insert(id, row);
    m_rowsLayout->insertWidget(qBound(0, index, m_rowsLayout->count() - 1), row);
}

QWidget *ContentView::makeRefreshNote()
{
    auto *outer = new QWidget;
    auto *outerLayout = new QVBoxLayout(outer);
    ViewParts::space(outerLayout, 0, 12, 12);
    auto *note = new RoundedBox(10, Theme::withOpacity(Theme::accentSoft, 0.82));
    auto *layout = new QVBoxLayout(note);
    ViewParts::space(layout, 8, 13, 13);
    layout->addWidget(new IconTextLabel(QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("状态自动刷新"),
        10, QFont::DemiBold, Theme::accentStrong));
    auto *explanation = new WrappingLabel;
    explanation->setText(QStringLiteral("每 10 秒检测本地服务与已启动的公网入口。"));
    explanation->setFont(Theme::font(9));
    explanation->setColor(Theme::subtle);
    layout->addWidget(explanation);
    outerLayout->addWidget(note);
    return outer;
}

QWidget *ContentView::makeEmptyDetail()
{
    auto *empty = new QWidget;
    empty->setObjectName(QStringLiteral("emptyDetail"));
    auto *layout = new QVBoxLayout(empty);
    ViewParts::space(layout, 12, 0, 0);
    layout->addStretch(1);
    auto *icon = new SymbolView(QStringLiteral("square.stack.3d.up.slash"), 36, QFont::Light, 48);
    icon->setColor(Theme::subtle);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    layout->addWidget(
        ViewParts::label(QStringLiteral("请选择一个代理服务"), Theme::font(14, QFont::DemiBold), Theme::text), 0,
        Qt::AlignHCenter);
    layout->addStretch(1);
    return empty;
}

QWidget *ContentView::makeFooter()
{
    QWidget *footer = ViewParts::filled(Theme::panel);
    footer->setObjectName(QStringLiteral("footer"));
    footer->setFixedHeight(34);
    auto *layout = new QHBoxLayout(footer);
    ViewParts::space(layout, 6, 22, 0);
    const QFont small = Theme::font(9);
    layout->addWidget(new IconTextLabel(QStringLiteral("lock.shield.fill"), QStringLiteral("所有隧道均为本机主动出站"),
        9, QFont::Normal, Theme::subtle));
    layout->addStretch(1);
    auto *legal = new TextButton(QStringLiteral("使用条款与隐私"), 9, QFont::Normal, Theme::accent);
    legal->setObjectName(QStringLiteral("legalLink"));
    connect(legal, &QAbstractButton::clicked, this, &ContentView::showLegalNotice);
    layout->addWidget(legal);
    layout->addWidget(ViewParts::label(QStringLiteral("·"), small, Theme::subtle));
    auto *website = new TextButton(QStringLiteral("弥罗科技官网"), 9, QFont::Normal, Theme::accent);
    website->setObjectName(QStringLiteral("websiteLink"));
    connect(website, &QAbstractButton::clicked, this, [] { MiravoBrand::openWebsite(MiravoBrand::website()); });
    layout->addWidget(website);
    m_versionLabel = ViewParts::label(versionText(m_store->cloudflaredVersion()), small, Theme::subtle);
    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    layout->addWidget(m_versionLabel);
    return footer;
}

void ContentView::handleStoreChanged()
{
    m_saveErrorBanner->setReason(m_store->saveError());
    m_unreadableBanner->setReason(m_store->unreadableNotice());
    m_actions->refresh();
    m_cloudflaredNotice->setState(m_store->cloudflaredVersion(), m_store->isDetectingCloudflared());
    const QString version = versionText(m_store->cloudflaredVersion());
    if (m_versionLabel->text() != version)
        m_versionLabel->setText(version);

    const int services = int(m_store->sessions().size());
    const int running = m_store->runningCount();
    const bool started = m_shownRunning >= 0 && running > m_shownRunning;
    if (services != m_shownServices || running != m_shownRunning) {
        m_shownServices = services;
        m_shownRunning = running;
        m_servicesPill->setText(QString::number(services) + QStringLiteral(" 个服务"));
        m_runningPill->setText(QString::number(running) + QStringLiteral(" 个运行中"));
        const bool canStart = running != services;
        m_startAll->setEnabled(canStart);
        m_startAll->setOpacity(canStart ? 1.0 : dimmedOpacity);
        const bool canStop = running != 0;
        m_stopAll->setEnabled(canStop);
        m_stopAll->setOpacity(canStop ? 1.0 : dimmedOpacity);
    }
    // A start looks for `cloudflared` itself; the notice and the footer should agree with what it finds.
    if (started)
        redetectIfUnusable();
}

void ContentView::handleSessionAdded(TunnelSession *session, int index)
{
    insertRow(session, index);
    handleStoreChanged();
}

void ContentView::handleSessionRemoved(const QUuid &id, int)
{
    if (ServiceSidebarRow *row = m_rows.take(id)) {
        m_rowsLayout->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    handleStoreChanged();
    handleSelectionChanged();
}

void ContentView::handleSelectionChanged()
{
    const std::optional<QUuid> selected = m_store->selectedID();
    for (ServiceSidebarRow *row : std::as_const(m_rows))
        row->setSelected(selected && row->session() && row->session()->id() == *selected);
    if (selected) {
        if (ServiceSidebarRow *row = m_rows.value(*selected))
            QTimer::singleShot(0, row, [scroll = QPointer(m_listScroll), row] {
                if (scroll)
                    scroll->ensureWidgetVisible(row, 0, 14);
            });
    }
    rebuildDetail();
}

void ContentView::handleRowNavigation(const QUuid &from, int key)
{
    const QList<TunnelSession *> &sessions = m_store->sessions();
    const auto at = std::find_if(
        sessions.cbegin(), sessions.cend(), [&from](const TunnelSession *session) { return session->id() == from; });
    if (at == sessions.cend())
        return;
    const qsizetype last = sessions.size() - 1;
    qsizetype index = at - sessions.cbegin();
    if (key == Qt::Key_Up)
        index = qMax<qsizetype>(0, index - 1);
    else if (key == Qt::Key_Down)
        index = qMin(last, index + 1);
    else
        index = key == Qt::Key_Home ? 0 : last;
    const QUuid id = sessions.at(index)->id();
    m_store->setSelectedID(id);
    if (ServiceSidebarRow *row = m_rows.value(id))
        row->setFocus(Qt::OtherFocusReason);
}

void ContentView::rebuildDetail()
{
    TunnelSession *session = m_store->selectedSession();
    const std::optional<QUuid> id = session ? std::optional(session->id()) : std::nullopt;
    if (m_detail && id == m_detailID)
        return;
    if (m_detail) {
        // The old pane may be the one whose delete button led here: let it finish first.
        m_detailLayout->removeWidget(m_detail);
        m_detail->hide();
        m_detail->deleteLater();
    }
    m_detailID = id;
    if (session) {
        auto *pane = new TunnelDetailView(session);
        connect(pane, &TunnelDetailView::deleteConfirmed, this,
            [this](const QUuid &sessionID) { m_store->removeProfile(sessionID); });
        m_detail = pane;
    } else {
        m_detail = makeEmptyDetail();
    }
    m_detailLayout->addWidget(m_detail);
}

void ContentView::handleStartAllClicked()
{
    if (m_startAllConfirmation)
        return;
    auto *box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("startAllConfirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("确认全部发布到公网？"));
    box->setTextFormat(Qt::PlainText);
    box->setText(QStringLiteral("确认全部发布到公网？"));
    box->setInformativeText(QStringLiteral(
        "这些临时公网链接默认没有访问密码。请确认所有目标服务均由你拥有或已获授权，并且不包含不应公开的数据。"));
    QPushButton *cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    QPushButton *confirm = box->addButton(QStringLiteral("确认启动"), QMessageBox::AcceptRole);
    confirm->setObjectName(QStringLiteral("confirmButton"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    box->setEscapeButton(cancel);
    box->setDefaultButton(confirm);
    connect(box, &QMessageBox::finished, this, [this, box, confirm] {
        if (box->clickedButton() == confirm)
            m_store->startAll();
    });
    m_startAllConfirmation = box;
    box->open();
}

void ContentView::changeEvent(QEvent *event)
{
    // Coming back to the window is when someone who just installed `cloudflared` expects it seen.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        redetectIfUnusable();
    QWidget::changeEvent(event);
}

void ContentView::redetectIfUnusable()
{
    const QString version = m_store->cloudflaredVersion();
    if (version == CloudflaredNotice::notFound() || version == QStringLiteral("不可用"))
        m_store->redetectCloudflared();
}

QList<QAction *> ContentView::serviceActions() const
{
    return m_actions->actions();
}

LegalNoticeView *ContentView::legalNotice() const
{
    return m_gate->notice();
}

void ContentView::showLegalNotice()
{
    m_gate->showNotice();
}
