#include "ui/detail/ActivityCard.h"

#include "session/TunnelSession.h"
#include "ui/ActivityRow.h"
#include "ui/detail/DetailParts.h"
#include "ui/style/CardBackground.h"
#include "ui/style/Theme.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/TextButton.h"
#include "ui/widgets/ViewParts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

ActivityCard::ActivityCard(TunnelSession *session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
{
    setObjectName(QStringLiteral("activityCard"));
    applyCardBackground(this, 16);
    auto *layout = ViewParts::column(11, this);
    layout->setContentsMargins(16, 16, 16, 16);

    auto *header = ViewParts::row(-1);
    header->addWidget(
        DetailParts::cardTitle(QStringLiteral("运行记录"), QStringLiteral("list.bullet.rectangle"), this), 0);
    header->addStretch(1);
    m_clearButton = new TextButton(QStringLiteral("清空"), 9, QFont::Medium, Theme::subtle, this);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setAccessibleName(QStringLiteral("清空运行记录"));
    connect(m_clearButton, &QAbstractButton::clicked, this, [this] {
        if (!m_session)
            return;
        m_session->setActivity({});
        refresh(*m_session); // empty at once, not a frame later
    });
    header->addWidget(m_clearButton);
    layout->addLayout(header);
    layout->addWidget(new Divider(Qt::Horizontal, this));

    m_emptyActivity = DetailParts::label(QStringLiteral("暂无运行记录"), 10, QFont::Normal, Theme::subtle, this);
    m_emptyActivity->setObjectName(QStringLiteral("emptyActivity"));
    m_emptyActivity->setAlignment(Qt::AlignCenter);
    m_emptyActivity->setMinimumHeight(55);
    layout->addWidget(m_emptyActivity);

    m_activityScroll = new QScrollArea(this);
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
    m_activityLayout = ViewParts::column(9, list);
    m_activityLayout->addStretch(1);
    m_activityScroll->setWidget(list);
    layout->addWidget(m_activityScroll);
}

void ActivityCard::refresh(const TunnelSession &session)
{
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
            [id = id](const ActivityRow *r) { return r->entry().id == id; });
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
