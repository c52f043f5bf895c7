#pragma once
#include <QComboBox>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QStringList>

#include "OutputChoices.h"

// An output chooser: its list holds the outputs as OutputChoices names them,
// and closed it shows the chosen row within the pixels the box has, cut so
// that it reads as no other row would there (the style would only clip it).
// Its tool tip gives the chosen row whole.
class OutputChooser : public QComboBox
{
    Q_OBJECT
public:
    // A row's name with nothing cut, when the chooser was given one.
    static constexpr int WholeNameRole = Qt::UserRole + 1;

    // prefix: what every row's text starts with (a speaker, say); it is not
    // part of the names the rows are told apart by.
    explicit OutputChooser(QWidget* parent = nullptr, const QString& prefix = QString());

    // Appends a row for each output, named within maxChars characters apart
    // from each other and from the rows already there: data the output's id,
    // tool tip its whole description and id.
    void addOutputs(const QList<OutputChoices::Output>& outputs, int maxChars, const QIcon& icon = QIcon());

    const QString& prefix() const { return m_prefix; }
    // The row's name with nothing cut, without the prefix.
    QString wholeName(int row) const;
    // The text the closed box shows for the chosen row.
    QString closedText() const;
    // The width the closed box has for that text, in pixels.
    int closedTextWidth() const;

protected:
    void initStyleOption(QStyleOptionComboBox* option) const override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString chosenRowTip() const;

    QString m_prefix;
    // The closed names as last worked out, and what they were worked out for.
    mutable QStringList m_fitWhole;
    mutable QStringList m_fitListed;
    mutable int m_fitWidth = -1;
    mutable QFont m_fitFont;
    mutable QStringList m_fitted;
};
