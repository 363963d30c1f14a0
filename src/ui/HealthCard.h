#pragma once

#include "model/SessionState.h"

#include <QWidget>

class ElidedLabel;
class SymbolView;

/// \brief One health tile: the state's symbol on a tinted circle, title, state label and a detail line.
class HealthCard : public QWidget
{
    Q_OBJECT

public:
    HealthCard(const QString &title, const QString &icon, QWidget *parent = nullptr);

    static QString stateLabel(const HealthState &state);
    static QColor stateColor(const HealthState &state);

    void setState(const HealthState &state);
    void setDetail(const QString &detail);

private:
    SymbolView *m_symbol;
    ElidedLabel *m_title;
    ElidedLabel *m_state;
    ElidedLabel *m_detail;
};
