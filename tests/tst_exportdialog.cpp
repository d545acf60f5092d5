#include "exportdialog.h"
#include "ui_exportdialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestExportDialog : public QObject
{
    Q_OBJECT

private:
    static void press(ExportDialog &dialog, QDialogButtonBox::StandardButton which)
    {
        dialog.ui->buttonBox->button(which)->click();
    }
    static void type(QLineEdit *edit, const QString &text)
    {
        edit->selectAll();
        edit->del();
        QTest::keyClicks(edit, text);
    }

private slots:
    void loadValues_showsBackslashes_okGivesSlashes();
    void typedWidth_mirroredInHeight();
    void directoryTyped_data();
    void directoryTyped();
    void leaving_keepsUnconfirmed_data();
    void leaving_keepsUnconfirmed();
    void chosenDirectory_thenCancel_unconfirmed();
    void tileSizeBelowOne_refusedWithReason_data();
    void tileSizeBelowOne_refusedWithReason();
    void form_geometryAndTexts();
};

void TestExportDialog::loadValues_showsBackslashes_okGivesSlashes()
{
    ExportDialog dialog;
    dialog.directory = "/home/me/tiles";
    dialog.tileSize = 128;
    dialog.loadValues();
    QCOMPARE(dialog.ui->exportDirectory->text(), QString("\\home\\me\\tiles"));
    QCOMPARE(dialog.ui->tileWidth->text(), QString("128"));
    QCOMPARE(dialog.ui->tileHeight->text(), QString("128"));
    QVERIFY(!dialog.confirmed);
    dialog.show();
    press(dialog, QDialogButtonBox::Ok);
    QVERIFY(dialog.confirmed);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.directory, QString("/home/me/tiles"));
    QCOMPARE(dialog.tileSize, 128);
}

void TestExportDialog::typedWidth_mirroredInHeight()
{
    ExportDialog dialog;
    dialog.directory = "/out";
    dialog.loadValues();
    dialog.show();
    type(dialog.ui->tileWidth, "64");
    QCOMPARE(dialog.ui->tileHeight->text(), QString("64"));
    press(dialog, QDialogButtonBox::Ok);
    QVERIFY(dialog.confirmed);
    QCOMPARE(dialog.tileSize, 64);
}

void TestExportDialog::directoryTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("backslashes") << "\\srv\\tiles\\out"
                                 << "/srv/tiles/out";
    QTest::newRow("forward slashes") << "/srv/tiles/out"
                                     << "/srv/tiles/out";
    QTest::newRow("mixed") << "C:\\tiles/out"
                           << "C:/tiles/out";
}

void TestExportDialog::directoryTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    ExportDialog dialog;
    dialog.loadValues();
    dialog.show();
    dialog.ui->exportDirectory->setText(typed);
    press(dialog, QDialogButtonBox::Ok);
    QCOMPARE(dialog.directory, expected);
}

void TestExportDialog::leaving_keepsUnconfirmed_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("Escape key") << 1;
    QTest::newRow("window closed") << 2;
}

void TestExportDialog::leaving_keepsUnconfirmed()
{
    QFETCH(int, how);
    ExportDialog dialog;
    dialog.directory = "/before";
    dialog.tileSize = 32;
    dialog.loadValues();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    type(dialog.ui->tileWidth, "16");
    if (how == 0)
        press(dialog, QDialogButtonBox::Cancel);
    else if (how == 1)
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        dialog.close();
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.confirmed);
}

void TestExportDialog::chosenDirectory_thenCancel_unconfirmed()
{
    ExportDialog dialog;
    dialog.directory = "/old";
    dialog.loadValues();
    dialog.chooseDirectory = [](QWidget *, const QString &caption) {
        return caption == "Export Directory" ? QString("/picked/folder") : QString();
    };
    dialog.show();
    dialog.ui->selectDirectory->click();
    QCOMPARE(dialog.ui->exportDirectory->text(), QString("\\picked\\folder"));
    QCOMPARE(dialog.directory, QString("/picked/folder"));
    press(dialog, QDialogButtonBox::Cancel);
    QVERIFY(!dialog.confirmed);

    // A cancelled chooser changes nothing.
    ExportDialog again;
    again.directory = "/old";
    again.loadValues();
    again.chooseDirectory = [](QWidget *, const QString &) { return QString(); };
    again.ui->selectDirectory->click();
    QCOMPARE(again.ui->exportDirectory->text(), QString("\\old"));
}

void TestExportDialog::tileSizeBelowOne_refusedWithReason_data()
{
    QTest::addColumn<QString>("width");
    QTest::newRow("empty") << "";
    QTest::newRow("zero") << "0";
    QTest::newRow("negative") << "-5";
}

void TestExportDialog::tileSizeBelowOne_refusedWithReason()
{
    QFETCH(QString, width);
    ExportDialog dialog;
    dialog.directory = "/out";
    dialog.loadValues();
    dialog.show();
    type(dialog.ui->tileWidth, width);
    press(dialog, QDialogButtonBox::Ok);
    QVERIFY2(dialog.isVisible(), "a run must not start with tiles below one pixel");
    QVERIFY(!dialog.confirmed);
    QVERIFY(dialog.ui->sizeProblem->text().contains("at least 1 pixel"));

    type(dialog.ui->tileWidth, "32");
    QVERIFY(dialog.ui->sizeProblem->text().isEmpty());
    press(dialog, QDialogButtonBox::Ok);
    QVERIFY(dialog.confirmed);
    QCOMPARE(dialog.tileSize, 32);
}

void TestExportDialog::form_geometryAndTexts()
{
    ExportDialog dialog;
    QCOMPARE(dialog.objectName(), QString("ExportDialog"));
    QCOMPARE(dialog.windowTitle(), QString("Generate Tiles"));
    QCOMPARE(dialog.size(), QSize(478, 235));
    QCOMPARE(dialog.ui->exportDirectory->geometry(), QRect(20, 30, 311, 20));
    QCOMPARE(dialog.ui->tileWidth->inputMask(), QString("###"));
    QCOMPARE(dialog.ui->tileWidth->maxLength(), 3);
    QVERIFY(!dialog.ui->tileHeight->isEnabled());
    QCOMPARE(dialog.ui->selectDirectory->text(), QString("Directory"));
}

QTEST_MAIN(TestExportDialog)
#include "tst_exportdialog.moc"
