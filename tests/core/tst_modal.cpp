#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "Modal.h"
#include "TestSupport.h"

class TstModal : public QObject
{
    Q_OBJECT
private slots:
    void scriptedAnswersReachTheCaller()
    {
        QList<Modal::Kind> seen;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            seen << r.kind;
            switch (r.kind) {
            case Modal::Kind::Dialog: return int(QDialog::Accepted);
            case Modal::Kind::Text: return r.text + "!";
            case Modal::Kind::SaveFile: return QString("/tmp/x.vx");
            case Modal::Kind::Menu: return QVariant::fromValue(r.menu->actions().at(1));
            default: return QVariant();
            }
        });
        QDialog d;
        QCOMPARE(Modal::exec(&d), int(QDialog::Accepted));
        QCOMPARE(d.result(), int(QDialog::Accepted));

        bool ok = false;
        QCOMPARE(Modal::getText(nullptr, "t", "l", "abc", &ok), QString("abc!"));
        QVERIFY(ok);
        QCOMPARE(Modal::getSaveFileName(nullptr, "c", {}, "f"), QString("/tmp/x.vx"));

        QMenu m;
        m.addAction("one");
        QAction* two = m.addAction("two");
        bool triggered = false;
        connect(two, &QAction::triggered, this, [&] { triggered = true; });
        QCOMPARE(Modal::execMenu(&m, QPoint()), two);
        QVERIFY(triggered);

        // An unanswered question reads as Cancel.
        QVERIFY(Modal::getItem(nullptr, "t", "l", {"a"}, 0, false, &ok).isEmpty());
        QVERIFY(!ok);
        QCOMPARE(seen.size(), 5);
    }

    void messageBoxReportsTheClickedButton()
    {
        QMessageBox box;
        QPushButton* copy = box.addButton("Copy for AI", QMessageBox::ActionRole);
        box.addButton(QMessageBox::Ok);
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            return QVariant::fromValue(static_cast<QAbstractButton*>(copy));
        });
        Modal::execBox(&box);
        QCOMPARE(box.clickedButton(), static_cast<QAbstractButton*>(copy));
    }
};

QTEST_MAIN(TstModal)
#include "tst_modal.moc"
