#include "ui/detail/VisitorLogModel.h"

#include "gate/VisitorLog.h"
#include "ui/TimeFormat.h"
#include "ui/style/Theme.h"

#include <QColor>

VisitorLogModel::VisitorLogModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void VisitorLogModel::setLog(const VisitorLog *log)
{
    beginResetModel();
    m_log = log;
    endResetModel();
}

void VisitorLogModel::reload()
{
    beginResetModel();
    endResetModel();
}

int VisitorLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_log ? 0 : int(m_log->entries().size());
}

int VisitorLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columnTotal;
}

QString VisitorLogModel::durationText(double seconds)
{
    if (seconds < 1)
        return QStringLiteral("%1 ms").arg(qRound(seconds * 1000));
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
}

QVariant VisitorLogModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || !m_log)
        return {};
    const VisitorEntry &entry = m_log->entries().at(size_t(index.row()));
    if (role == Qt::ForegroundRole) {
        if (index.column() == status && (entry.failedLogin || entry.isError()))
            return Theme::danger;
        return index.column() == path ? Theme::text : Theme::muted;
    }
    if (role == Qt::ToolTipRole && index.column() == path)
        return entry.path;
    if (role != Qt::DisplayRole)
        return {};
    switch (Column(index.column())) {
    case time:
        return timeOfDay(entry.time);
    case method:
        return entry.method;
    case path:
        return entry.path;
    case status:
        return entry.failedLogin ? QStringLiteral("%1 密码错误").arg(entry.status) : QString::number(entry.status);
    case duration:
        return durationText(entry.durationSeconds);
    case address:
        return entry.address;
    case country:
        return entry.country.isEmpty() ? QStringLiteral("—") : entry.country;
    case columnTotal:
        break;
    }
    return {};
}

QVariant VisitorLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QString titles[columnTotal] = { QStringLiteral("时间"), QStringLiteral("方法"), QStringLiteral("路径"),
        QStringLiteral("状态"), QStringLiteral("耗时"), QStringLiteral("访客地址"), QStringLiteral("国家/地区") };
    return section >= 0 && section < columnTotal ? titles[section] : QVariant();
}
