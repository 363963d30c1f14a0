#pragma once

#include <QAbstractTableModel>

class VisitorLog;

/// \brief The entries of a visitor log as table rows, newest first: time, method, path, status,
/// duration, visitor address and country. Failed logins and errors are drawn in `danger`.
class VisitorLogModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { time, method, path, status, duration, address, country, columnTotal };

    explicit VisitorLogModel(QObject *parent = nullptr);

    /// Shows \a log, which must outlive the model or be replaced first; nullptr shows nothing.
    void setLog(const VisitorLog *log);
    /// The log has changed: every row is read again.
    void reload();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// How a duration in seconds reads: "35 ms", "1.2 s".
    static QString durationText(double seconds);

private:
    const VisitorLog *m_log = nullptr;
};
