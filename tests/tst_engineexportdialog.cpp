#include "engineexportdialog.h"
#include "ui_engineexportdialog.h"

#include <QtTest>

class TestEngineExportDialog : public QObject
{
    Q_OBJECT
    EngineExportDialog *dialog = nullptr;

private slots:
    // Each case starts from "/srv/tiles", size 64, every file and setting on: atlas,
    // 8 columns, margin 1, spacing 2, extrusion 3, power of two, .tsx and .tres "cave".
    void init()
    {
        dialog = new EngineExportDialog;
        dialog->setValues("/srv/tiles", 64,
                          {true, "tileset.png", 8, 1, 2, 3, true, true, true, "cave"});
        dialog->show();
    }
    void cleanup() { delete dialog; }

    void values_roundTrip()
    {
        const TilesetExportOptions o = dialog->options();
        QCOMPARE(QVector<int>({dialog->tileSize(), o.columns, o.margin, o.spacing, o.extrusion,
                               o.atlas, o.tsx, o.tres, o.powerOfTwo}),
                 QVector<int>({64, 8, 1, 2, 3, true, true, true, true}));
        QCOMPARE(o.atlasFileName, QString("cave.png"));
        QCOMPARE(dialog->directory(), QString("/srv/tiles"));
    }

    void tilesetFiles_needTheAtlas()
    {
        dialog->ui->atlasGroup->setChecked(false);
        QVERIFY(!dialog->options().any());
        dialog->ui->writeTres->setChecked(true);
        QVERIFY(dialog->ui->atlasGroup->isChecked() && !dialog->ui->writeTsx->isChecked());
    }

    void okay_refusedWithReason_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("baseName");
        QTest::newRow("no folder") << "" << false << "tileset";
        QTest::newRow("no file name") << "/out" << false << "";
        QTest::newRow("file name with a folder") << "/out" << false << "../elsewhere";
        QTest::newRow("folder and plain name") << "/out" << true << "tileset";
    }
    void okay_refusedWithReason()
    {
        QFETCH(QString, directory);
        QFETCH(QString, baseName);
        QFETCH(bool, accepted);
        dialog->ui->outputDirectory->setText(directory);
        dialog->ui->baseName->setText(baseName);
        dialog->ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog->result() == QDialog::Accepted, accepted);
        QCOMPARE(dialog->ui->problem->text().isEmpty(), accepted);
    }
};

QTEST_MAIN(TestEngineExportDialog)
#include "tst_engineexportdialog.moc"
