#pragma once
#include <QColor>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

class QAction;
class QDialog;
class QMenu;
class QMessageBox;
class QWidget;

// One seam for everything modal: dialogs, menus, message boxes, file choosers
// and input questions. The program uses Qt's own; tests install a handler that
// answers each request headless.
namespace Modal {

enum class Kind {
    Dialog,         // dialog->exec(); answer: int result (QDialog::Accepted/Rejected)
    Menu,           // menu->exec(pos); answer: QAction* as QVariant::fromValue, or null
    MessageBox,     // box->exec(); answer: the clicked QAbstractButton* (fromValue) or a StandardButton int
    OpenFile,       // answer: QString
    OpenFiles,      // answer: QStringList
    SaveFile,       // answer: QString
    Directory,      // answer: QString
    Text,           // answer: QString, or an invalid QVariant for Cancel
    Item,           // answer: QString, or an invalid QVariant for Cancel
    Int,            // answer: int, or an invalid QVariant for Cancel
    Double,         // answer: double, or an invalid QVariant for Cancel
    Color,          // answer: QColor (an invalid colour for Cancel)
};

struct Request {
    Kind kind = Kind::Dialog;
    QWidget* parent = nullptr;
    QDialog* dialog = nullptr;
    QMenu* menu = nullptr;
    QMessageBox* box = nullptr;
    QPoint pos;
    QString title;
    QString label;      // prompt, or the file chooser's start folder
    QString text;       // initial text, or the file filter
    QStringList items;
    int current = 0;
    double value = 0, min = 0, max = 0;
    int decimals = 0;
    QColor color;
};

using Handler = std::function<QVariant(const Request&)>;

// Installs a handler that answers every request (tests); null restores Qt's own.
void setHandler(Handler handler);
bool hasHandler();

// Whether a modal dialog, box, chooser or prompt is up that w is not part of
// (menus do not count): one of Qt's own, or a request the handler is
// answering. What shows over w's window meanwhile is hidden behind it or
// unread, so notices hold their time until it is gone.
bool isUpOver(const QWidget* w);

int exec(QDialog* dialog);
QAction* execMenu(QMenu* menu, const QPoint& globalPos);
// Runs a prepared message box; returns QMessageBox::exec's result. When the
// handler answers with a button, box->clickedButton() reports that button.
int execBox(QMessageBox* box);
// QMessageBox::question/warning/information/critical shapes.
int question(QWidget* parent, const QString& title, const QString& text, int buttons, int defaultButton = 0);
int warning(QWidget* parent, const QString& title, const QString& text, int buttons = 0x00000400 /*Ok*/);
int information(QWidget* parent, const QString& title, const QString& text, int buttons = 0x00000400);
int critical(QWidget* parent, const QString& title, const QString& text, int buttons = 0x00000400);

QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
QStringList getOpenFileNames(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir);
QString getText(QWidget* parent, const QString& title, const QString& label, const QString& text, bool* ok);
QString getItem(QWidget* parent, const QString& title, const QString& label, const QStringList& items,
                int current, bool editable, bool* ok);
int getInt(QWidget* parent, const QString& title, const QString& label, int value, int min, int max,
           int step, bool* ok);
double getDouble(QWidget* parent, const QString& title, const QString& label, double value, double min,
                 double max, int decimals, bool* ok);
QColor getColor(const QColor& initial, QWidget* parent, const QString& title);

} // namespace Modal
