#include "ui/ContentView.h"

#include "store/Preferences.h"

#include "legal/LegalNoticeView.h"
#include "legal/MiravoBrand.h"
#include "legal/ViewParts.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/LogoTile.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SummaryPill.h"
#include "ui/TunnelDetailView.h"
#include "ui/style/ActionButton.h"
#include "ui/style/Painting.h"
#include "ui/style/Theme.h"
#include "ui/widgets/ButtonBase.h"
#include "ui/widgets/CircleSymbolButton.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/TextButton.h"
#include "ui/widgets/WrappingLabel.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString versionText(const QString &version)
{
    return QStringLiteral("· cloudflared ") + version + QStringLiteral(" · 仅限临时开发测试");
}
constexpr qreal dimmedOpacity = 0.45;
constexpr int sidebarWidth = 270;

/// A rounded rectangle behind the widget's children.
class RoundedBox : public QWidget
{
public:
    RoundedBox(qreal radius, QColor fill, QColor stroke = {}, qreal strokeWidth = 1.0, QWidget *parent = nullptr)
        : QWidget(parent)
        , m_radius(radius)
        , m_fill(std::move(fill))
        , m_stroke(std::move(stroke))
        , m_strokeWidth(strokeWidth)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        Painting::roundedRect(painter, rect(), m_radius, m_fill, m_stroke, m_strokeWidth);
    }

private:
    qreal m_radius;
    QColor m_fill;
    QColor m_stroke;
    qreal m_strokeWidth;
};

/// A button whose look is entirely its child widgets; clicks anywhere on it press it.
class ContentButton : public ButtonBase
{
public:
    explicit ContentButton(const QString &toolTip, QWidget *parent = nullptr)
        : ButtonBase(parent)
    {
        setToolTip(toolTip);
        setAccessibleName(toolTip);
    }

    void setContent(QWidget *content, const QMargins &margins = {})
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(margins);
        layout->addWidget(content);
        content->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override { return layout() ? layout()->minimumSize() : QSize(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!hasFocus())
            return;
        QPainter painter(this);
        Painting::roundedRect(painter, rect(), 8, {}, Theme::withOpacity(Theme::accent, 0.6), 2);
    }
};

/// A one-line label that shrinks its font down to \a minimumScale of its size before it would clip.
class FittingLabel : public QLabel
{
public:
    FittingLabel(const QString &text, const QFont &font, const QColor &color, qreal minimumScale)
        : m_baseFont(font)
        , m_minimumScale(minimumScale)
    {
        setText(text);
        setTextFormat(Qt::PlainText);
        setFont(font);
        ViewParts::setTextColor(this, color);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(m_baseFont);
        return { metrics.horizontalAdvance(text()), metrics.height() };
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        const int natural = QFontMetrics(m_baseFont).horizontalAdvance(text());
        QFont fitted = m_baseFont;
        if (natural > width() && natural > 0) {
            const qreal scale = qMax(m_minimumScale, qreal(width()) / natural);
            fitted.setPixelSize(qMax(1, int(m_baseFont.pixelSize() * scale)));
        }
        if (fitted != font())
            setFont(fitted);
    }

private:
    QFont m_baseFont;
    qreal m_minimumScale;
};

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
    , m_preferences(preferences)
{
    setObjectName(QStringLiteral("contentView"));
    setMinimumSize(980, 680);
    ViewParts::fillBackground(this, Theme::background);

    auto *root = new QVBoxLayout(this);
    ViewParts::space(root, 0, 0, 0);
    root->addWidget(makeHeader());
    root->addWidget(new Divider(Qt::Horizontal));
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

    connect(m_store, &TunnelStore::changed, this, &ContentView::handleStoreChanged);
    connect(m_store, &TunnelStore::sessionAdded, this, &ContentView::handleSessionAdded);
    connect(m_store, &TunnelStore::sessionRemoved, this, &ContentView::handleSessionRemoved);
    connect(m_store, &TunnelStore::selectionChanged, this, &ContentView::handleSelectionChanged);
    // Repeats the quit path's stop requests when the event loop ends some other way.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { m_store->shutdownAll(); });

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
    layout->addWidget(makeServiceCard());
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
    connect(row, &QAbstractButton::clicked, this, [this, id] { m_store->setSelectedID(id); });
    row->setSelected(m_store->selectedID() == id);
    m_rows.insert(id, row);
    m_rowsLayout->insertWidget(qBound(0, index, m_rowsLayout->count() - 1), row);
}

QWidget *ContentView::makeServiceCard()
{
    auto *card = new RoundedBox(13, Theme::panel, Theme::withOpacity(Theme::accent, 0.28), 1.2);
    auto *stack = new QVBoxLayout(card);
    ViewParts::space(stack, 9, 12, 12);

    auto *top = new QHBoxLayout;
    ViewParts::space(top, 10, 0, 0);
    top->addWidget(new LogoTile(LogoTileKind::company, 48, 11));
    auto *texts = new QVBoxLayout;
    ViewParts::space(texts, 4, 0, 0);
    auto *nameRow = new QHBoxLayout;
    ViewParts::space(nameRow, 6, 0, 0);
    nameRow->addWidget(ViewParts::label(QStringLiteral("弥罗科技"), Theme::font(13, QFont::Bold), Theme::text));
    auto *tag = new RoundedBox(7, Theme::accentSoft);
    auto *tagLayout = new QHBoxLayout(tag);
    ViewParts::space(tagLayout, 0, 5, 2);
    tagLayout->addWidget(ViewParts::label(QStringLiteral("技术服务"), Theme::font(7.5, QFont::Bold), Theme::accent));
    nameRow->addWidget(tag);
    nameRow->addStretch(1);
    texts->addLayout(nameRow);
    texts->addWidget(
        new FittingLabel(QStringLiteral("软件开发 / 软件外包"), Theme::font(9.2, QFont::DemiBold), Theme::muted, 0.72));
    texts->addWidget(new FittingLabel(
        QStringLiteral("AI Agent 搭建 / 一人公司技术支持"), Theme::font(8.5, QFont::Medium), Theme::subtle, 0.72));
    top->addLayout(texts, 1);
    auto *arrow = new SymbolView(QStringLiteral("arrow.up.right"), 10, QFont::Bold, 26);
    arrow->setColor(Theme::accent);
    arrow->setCircleColor(Theme::accentSoft);
    top->addWidget(arrow);
    stack->addLayout(top);

    auto *callToAction = new RoundedBox(8, Theme::accent);
    callToAction->setFixedHeight(30);
    auto *ctaLayout = new QHBoxLayout(callToAction);
    ViewParts::space(ctaLayout, 7, 10, 0);
    auto *message = new SymbolView(QStringLiteral("message.fill"), 9, QFont::DemiBold, 14);
    message->setColor(Qt::white);
    ctaLayout->addWidget(message);
    ctaLayout->addWidget(
        ViewParts::label(QStringLiteral("需要服务，请联系弥罗科技"), Theme::font(9.5, QFont::Bold), Qt::white));
    ctaLayout->addStretch(1);
    auto *forward = new SymbolView(QStringLiteral("arrow.right"), 9, QFont::Bold, 14);
    forward->setColor(Qt::white);
    ctaLayout->addWidget(forward);
    stack->addWidget(callToAction);
    Painting::dropShadow(card, Theme::withOpacity(Theme::accent, 0.1), 12, 5);

    auto *button = new ContentButton(QStringLiteral("联系弥罗科技"));
    button->setObjectName(QStringLiteral("serviceCard"));
    button->setContent(card, QMargins(12, 0, 12, 0));
    connect(button, &QAbstractButton::clicked, this,
        [] { MiravoBrand::openWebsite(MiravoBrand::serviceContactWebsite()); });
    return button;
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
    // The version arrives a little after the store is made.
    if (m_versionLabel)
        m_versionLabel->setText(versionText(m_store->cloudflaredVersion()));
    const int services = int(m_store->sessions().size());
    const int running = m_store->runningCount();
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

qint64 ContentView::legalAcknowledgementVersion() const
{
    return m_preferences->legalAcknowledgementVersion();
}

bool ContentView::isLegalNoticeAccepted() const
{
    return legalAcknowledgementVersion() >= LegalNoticeView::currentVersion;
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Once the window itself is up, so the notice sits over it.
    if (!isLegalNoticeAccepted())
        QTimer::singleShot(0, this, [this] {
            if (!isLegalNoticeAccepted() && isVisible())
                showLegalNotice();
        });
}

void ContentView::showLegalNotice()
{
    if (m_notice) {
        m_notice->raise();
        m_notice->activateWindow();
        return;
    }
    auto *notice = new LegalNoticeView(!isLegalNoticeAccepted(), this);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    connect(notice, &LegalNoticeView::agreed, this, &ContentView::handleNoticeAgreed);
    connect(notice, &LegalNoticeView::declined, this, &ContentView::quitRequested);
    m_notice = notice;
    notice->open();
}

void ContentView::handleNoticeAgreed()
{
    if (isLegalNoticeAccepted())
        return; // never lower a newer acknowledgement
    m_preferences->setLegalAcknowledgementVersion(LegalNoticeView::currentVersion);
}
