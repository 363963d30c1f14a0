#pragma once

#include <QWidget>

class QAbstractButton;
class QButtonGroup;

/// \brief A segmented control: one checkable segment per choice, exactly one selected.
/// currentIndexChanged() reports the user's choices only, not setCurrentIndex().
class SegmentedPicker : public QWidget
{
    Q_OBJECT

public:
    explicit SegmentedPicker(const QStringList &labels, QWidget *parent = nullptr);

    int currentIndex() const;
    void setCurrentIndex(int index);
    QAbstractButton *segment(int index) const;
    int count() const;

signals:
    void currentIndexChanged(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QButtonGroup *m_group;
};
