#pragma once
#include <QLabel>

// A label for a number or a count: its text is shown whole or not at all.
// When its row is too narrow for the whole text the label draws nothing
// (the full text stays in the tool tip) instead of cutting digits off, and
// it gives its room to its neighbours first.
class WholeTextLabel : public QLabel
{
    Q_OBJECT
public:
    explicit WholeTextLabel(const QString& text, QWidget* parent = nullptr);

    // The label asks its layout for room for this text too (a typical long
    // value), so that its row is laid out for it from the start and does
    // not change width with every new value.
    void setReservedText(const QString& text);

    // True while the whole text fits the label's width (and so is drawn).
    bool showsText() const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString m_reserved;
};
