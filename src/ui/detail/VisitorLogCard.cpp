#include "ui/detail/VisitorLogCard.h"

#include "gate/GatedOrigin.h"
#include "session/TunnelSession.h"
#include "ui/detail/DetailParts.h"
#include "ui/detail/VisitorLogModel.h"
#include "ui/style/CardBackground.h"
#include "ui/style/Theme.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/ViewParts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>

namespace {
// Visits may come by the hundred a second: the table follows at this pace.
constexpr int reloadInterval = 250;
} // namespace

VisitorLogCard::VisitorLogCard(TunnelSession *session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("visitorLogCard"));
    applyCardBackground(this, 16);
    auto *layout = ViewParts::column(11, this);
    layout->setContentsMargins(16, 16, 16, 16);
    auto *header = ViewParts::row(-1);
    header->addWidget(DetailParts::cardTitle(QStringLiteral("访问记录"), QStringLiteral("person.2.fill"), this));
    header->addStretch(1);
    m_summary = DetailParts::label(QString(), 9, QFont::Medium, Theme::subtle, this);
    m_summary->setObjectName(QStringLiteral("visitorSummary"));
    header->addWidget(m_summary);
    layout->addLayout(header);
    layout->addWidget(new Divider(Qt::Horizontal, this));
    m_empty = DetailParts::label(QStringLiteral("暂无访问"), 10, QFont::Normal, Theme::subtle, this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setMinimumHeight(55);
    layout->addWidget(m_empty);

    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(reloadInterval);
    connect(&m_reloadTimer, &QTimer::timeout, this, [this] {
        if (m_session)
            refresh(*m_session);
    });
    connect(session->gate(), &GatedOrigin::visitorsChanged, this, &VisitorLogCard::handleVisitorsChanged);
}

void VisitorLogCard::handleVisitorsChanged()
{
    if (!m_reloadTimer.isActive())
        m_reloadTimer.start();
}

void VisitorLogCard::makeTable()
{
    m_model = new VisitorLogModel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("visitorTable"));
    m_table->setModel(m_model);
    m_table->setFixedHeight(190);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setFont(Theme::font(9));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(24);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView *columns = m_table->horizontalHeader();
    columns->setFont(Theme::font(9, QFont::Medium));
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setHighlightSections(false);
    columns->setSectionResizeMode(QHeaderView::ResizeToContents);
    columns->setSectionResizeMode(VisitorLogModel::path, QHeaderView::Stretch);
    qobject_cast<QVBoxLayout *>(layout())->addWidget(m_table);
}

QString VisitorLogCard::summary() const
{
    return m_summary->text();
}

void VisitorLogCard::refresh(const TunnelSession &session)
{
    m_reloadTimer.stop();
    const VisitorLog &log = session.gate()->visitors();
    const bool shown = session.gateSettings().visitorLogOn || log.requestCount() > 0;
    setVisible(shown);
    if (!shown)
        return;
    QString summary = QStringLiteral("请求 %1 · 访客 %2 · 错误 %3")
                          .arg(log.requestCount())
                          .arg(log.visitorCount())
                          .arg(log.errorCount());
    if (log.failedLoginCount() > 0)
        summary += QStringLiteral(" · 密码错误 %1").arg(log.failedLoginCount());
    if (m_summary->text() != summary)
        m_summary->setText(summary);
    const bool empty = log.entries().empty();
    m_empty->setVisible(empty);
    if (empty && !m_table)
        return;
    if (!m_table) {
        makeTable();
        m_model->setLog(&log);
    } else if (log.requestCount() != m_shownRequests) {
        m_model->reload();
    }
    m_shownRequests = log.requestCount();
    m_table->setVisible(!empty);
}
