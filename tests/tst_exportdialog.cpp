#include "exportdialog.h"
#include "ui_exportdialog.h"

#include <QtTest>

class TestExportDialog : public QObject
{
    Q_OBJECT
    ExportDialog *dialog = nullptr;

    void type(const QString &width)
    {
        dialog->ui->tileWidth->clear();
        QTest::keyClicks(dialog->ui->tileWidth, width);
    }
    void press(QDialogButtonBox::StandardButton b) { dialog->ui->buttonBox->button(b)->click(); }

private slots:
    // Each case starts from the dialog as a run opens it: "/home/me/tiles", size 32.
    void init()
    {
        dialog = new ExportDialog;
        dialog->directory = "/home/me/tiles";
        dialog->tileSize = 32;
        dialog->loadValues();
        dialog->chooseDirectory = [](QWidget *, const QString &caption) {
            return caption == "Export Directory" ? QString("/picked/folder") : QString();
        };
        dialog->show();
    }
    void cleanup() { delete dialog; }

    void leaving_data()
    {
        QTest::addColumn<QString>("typedDirectory");
        QTest::addColumn<QString>("leaveBy"); // all but OK leave unconfirmed
        QTest::addColumn<QString>("typedWidth");
        QTest::addColumn<int>("size"); // 0: refused, the dialog says why
        QTest::addColumn<QString>("directory");
        const QString shown = "\\home\\me\\tiles", ok = "OK", loaded = "/home/me/tiles";
        QTest::newRow("as loaded") << shown << ok << "32" << 32 << loaded;
        QTest::newRow("typed 64") << shown << ok << "64" << 64 << loaded;
        QTest::newRow("typed backslashes") << "\\srv\\out" << ok << "32" << 32 << "/srv/out";
        QTest::newRow("typed mixed") << "C:\\tiles/out" << ok << "32" << 32 << "C:/tiles/out";
        for (const char *width : {"", "0", "-5"})
            QTest::addRow("width '%s'", width) << shown << ok << width << 0 << loaded;
        for (const char *how : {"Cancel", "Escape", "close", "folder chosen, Cancel"})
            QTest::newRow(how) << shown << QString(how) << "16" << 0 << QString();
    }
    void leaving()
    {
        QFETCH(QString, typedDirectory);
        QFETCH(QString, leaveBy);
        QFETCH(QString, typedWidth);
        QFETCH(int, size);
        QFETCH(QString, directory);
        QCOMPARE(dialog->ui->exportDirectory->text(), QString("\\home\\me\\tiles"));
        QCOMPARE(dialog->ui->tileHeight->text(), QString("32"));
        dialog->ui->exportDirectory->setText(typedDirectory);
        type(typedWidth);
        QCOMPARE(dialog->ui->tileHeight->text(), typedWidth);
        if (leaveBy.startsWith("folder")) {
            dialog->ui->selectDirectory->click();
            QCOMPARE(dialog->ui->exportDirectory->text(), QString("\\picked\\folder"));
        }
        if (leaveBy == "Escape")
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (leaveBy == "close")
            dialog->close();
        else
            press(leaveBy == "OK" ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        if (leaveBy == "OK" && size == 0) {
            QVERIFY2(dialog->isVisible(), "a run must not start with tiles below one pixel");
            QVERIFY(!dialog->confirmed);
            QVERIFY(dialog->ui->sizeProblem->text().contains("at least 1 pixel"));
            type(QString::number(size = 24));
            QVERIFY(dialog->ui->sizeProblem->text().isEmpty());
            press(QDialogButtonBox::Ok);
        }
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->confirmed, leaveBy == "OK");
        QCOMPARE(dialog->confirmed ? dialog->directory : QString(), directory);
        QCOMPARE(dialog->confirmed ? dialog->tileSize : 0, size);
    }
};

QTEST_MAIN(TestExportDialog)
#include "tst_exportdialog.moc"
