#include "Modal.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

namespace Modal {
namespace {
Handler& handler()
{
    static Handler h;
    return h;
}

// The requests the handler is answering now, innermost last: the dialog or
// box when the request has one, else null (a prompt of its own making).
QList<const QWidget*>& answering()
{
    static QList<const QWidget*> open;
    return open;
}

QVariant ask(const Request& r)
{
    if (r.kind == Kind::Menu)
        return handler()(r);
    answering().append(r.dialog ? static_cast<const QWidget*>(r.dialog) : r.box);
    struct Closed {
        ~Closed() { answering().removeLast(); }
    } closed;
    return handler()(r);
}

// A modal widget over w: not w's own window, nor one that holds it.
bool covers(const QWidget* modal, const QWidget* w)
{
    const QWidget* own = w ? w->window() : nullptr;
    return modal != own && !(own && modal->isAncestorOf(own));
}

int simpleBox(QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text, int buttons,
              int defaultButton)
{
    if (hasHandler()) {
        Request r;
        r.kind = Kind::MessageBox;
        r.parent = parent;
        r.title = title;
        r.text = text;
        r.value = buttons;
        const QVariant v = ask(r);
        return v.isValid() ? v.toInt() : int(QMessageBox::NoButton);
    }
    QMessageBox box(icon, title, text, QMessageBox::StandardButtons(buttons), parent);
    if (defaultButton)
        box.setDefaultButton(QMessageBox::StandardButton(defaultButton));
    return box.exec();
}
} // namespace

void setHandler(Handler h) { handler() = std::move(h); }
bool hasHandler() { return bool(handler()); }

bool isUpOver(const QWidget* w)
{
    if (const QWidget* modal = QApplication::activeModalWidget(); modal && covers(modal, w))
        return true;
    for (const QWidget* modal : std::as_const(answering()))
        if (!modal || covers(modal, w))
            return true;
    return false;
}

int exec(QDialog* dialog)
{
    if (!hasHandler())
        return dialog->exec();
    Request r;
    r.kind = Kind::Dialog;
    r.dialog = dialog;
    r.parent = dialog->parentWidget();
    r.title = dialog->windowTitle();
    const QVariant v = ask(r);
    const int result = v.isValid() ? v.toInt() : int(QDialog::Rejected);
    dialog->setResult(result);
    return result;
}

QAction* execMenu(QMenu* menu, const QPoint& globalPos)
{
    if (!hasHandler())
        return menu->exec(globalPos);
    Request r;
    r.kind = Kind::Menu;
    r.menu = menu;
    r.pos = globalPos;
    QAction* chosen = ask(r).value<QAction*>();
    if (chosen)
        chosen->trigger();
    return chosen;
}

int execBox(QMessageBox* box)
{
    if (!hasHandler())
        return box->exec();
    Request r;
    r.kind = Kind::MessageBox;
    r.box = box;
    r.parent = box->parentWidget();
    r.title = box->windowTitle();
    r.text = box->text();
    const QVariant v = ask(r);
    if (auto* b = v.value<QAbstractButton*>()) {
        // Clicking the button makes QMessageBox record it as clickedButton().
        box->show();
        b->click();
        box->hide();
        return box->result();
    }
    return v.isValid() ? v.toInt() : int(QMessageBox::NoButton);
}

int question(QWidget* p, const QString& t, const QString& x, int b, int d)
{
    return simpleBox(QMessageBox::Question, p, t, x, b, d);
}
int warning(QWidget* p, const QString& t, const QString& x, int b) { return simpleBox(QMessageBox::Warning, p, t, x, b, 0); }
int information(QWidget* p, const QString& t, const QString& x, int b)
{
    return simpleBox(QMessageBox::Information, p, t, x, b, 0);
}
int critical(QWidget* p, const QString& t, const QString& x, int b) { return simpleBox(QMessageBox::Critical, p, t, x, b, 0); }

static QVariant fileRequest(Kind k, QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    Request r;
    r.kind = k;
    r.parent = parent;
    r.title = caption;
    r.label = dir;
    r.text = filter;
    return ask(r);
}

QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (!hasHandler())
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    return fileRequest(Kind::OpenFile, parent, caption, dir, filter).toString();
}

QStringList getOpenFileNames(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (!hasHandler())
        return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
    return fileRequest(Kind::OpenFiles, parent, caption, dir, filter).toStringList();
}

QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (!hasHandler())
        return QFileDialog::getSaveFileName(parent, caption, dir, filter);
    return fileRequest(Kind::SaveFile, parent, caption, dir, filter).toString();
}

QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir)
{
    if (!hasHandler())
        return QFileDialog::getExistingDirectory(parent, caption, dir);
    return fileRequest(Kind::Directory, parent, caption, dir, QString()).toString();
}

// Asks the handler one input question; ok tells whether it was answered.
static QVariant askInput(Request r, bool* ok)
{
    const QVariant v = ask(r);
    if (ok)
        *ok = v.isValid();
    return v;
}

static Request inputRequest(Kind k, QWidget* parent, const QString& title, const QString& label)
{
    Request r;
    r.kind = k;
    r.parent = parent;
    r.title = title;
    r.label = label;
    return r;
}

QString getText(QWidget* parent, const QString& title, const QString& label, const QString& text, bool* ok)
{
    if (!hasHandler())
        return QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, ok);
    Request r = inputRequest(Kind::Text, parent, title, label);
    r.text = text;
    const QVariant v = askInput(r, ok);
    return v.isValid() ? v.toString() : QString();
}

QString getItem(QWidget* parent, const QString& title, const QString& label, const QStringList& items, int current,
                bool editable, bool* ok)
{
    if (!hasHandler())
        return QInputDialog::getItem(parent, title, label, items, current, editable, ok);
    Request r = inputRequest(Kind::Item, parent, title, label);
    r.items = items;
    r.current = current;
    const QVariant v = askInput(r, ok);
    return v.isValid() ? v.toString() : QString();
}

int getInt(QWidget* parent, const QString& title, const QString& label, int value, int min, int max, int step, bool* ok)
{
    if (!hasHandler())
        return QInputDialog::getInt(parent, title, label, value, min, max, step, ok);
    Request r = inputRequest(Kind::Int, parent, title, label);
    r.value = value;
    r.min = min;
    r.max = max;
    const QVariant v = askInput(r, ok);
    return v.isValid() ? v.toInt() : value;
}

double getDouble(QWidget* parent, const QString& title, const QString& label, double value, double min, double max,
                 int decimals, bool* ok)
{
    if (!hasHandler())
        return QInputDialog::getDouble(parent, title, label, value, min, max, decimals, ok);
    Request r = inputRequest(Kind::Double, parent, title, label);
    r.value = value;
    r.min = min;
    r.max = max;
    r.decimals = decimals;
    const QVariant v = askInput(r, ok);
    return v.isValid() ? v.toDouble() : value;
}

QColor getColor(const QColor& initial, QWidget* parent, const QString& title)
{
    if (!hasHandler())
        return QColorDialog::getColor(initial, parent, title);
    Request r = inputRequest(Kind::Color, parent, title, QString());
    r.color = initial;
    return ask(r).value<QColor>();
}

} // namespace Modal
