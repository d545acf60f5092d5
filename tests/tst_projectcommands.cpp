#include "projectwriter.h"
#include "testenv.h"
#include "tilepreview.h"
#include "tmpfsmount.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QCheckBox>
#include <QSpinBox>

using WA = WindowAssets;

class TestProjectCommands : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp;
    QString path(const QString &name) const { return temp->path() + '/' + name; }
    static QString title(const QString &name) { return "Tilewright - " + name; }
    static void saveAs(WA::Session &s, const QString &name)
    {
        s.prompts->fileNames.enqueue(name);
        s.trigger("action_Save_As");
    }
    static void open(WA::Session &s, const QString &name)
    {
        s.prompts->fileNames.enqueue(name);
        s.trigger("action_Open_2");
    }
    static QImage previewTile(const WA::Session &s)
    {
        const QListWidgetItem *item = s.window.ui->spritePreviewWidget->item(0);
        return item ? item->icon().pixmap(TilePreview::TileSize).toImage() : QImage();
    }

private slots:
    void init()
    {
        TestEnv::resetSettings();
        QVERIFY(WA::makeSample());
        QVERIFY(WA::save(WA::topShape(QColor(230, 230, 250)), WA::topStyles() + "/ridge.png"));
        QVERIFY(WA::save(WA::pattern(QColor(20, 20, 20, 200)), WA::patterns() + "/checks.png"));
        QVERIFY(
            WA::save(WA::pattern(QColor(250, 250, 250, 180), 8), WA::patterns() + "/stripes.png"));
        temp = std::make_unique<QTemporaryDir>();
    }
    void cleanup()
    {
        temp.reset();
        QVERIFY(WA::removeAll());
    }

    void saveAs_appendsExtensionUnlessTwr_data()
    {
        WA::addRows({"typed", "saved"}, "a|a.twr;a.twr|a.twr;a.TWR|a.TWR;a.Twr|a.Twr;"
                                        "a.twr.bak|a.twr.bak.twr;|");
    }
    void saveAs_appendsExtensionUnlessTwr()
    {
        const QString typed = WA::field("typed"), saved = WA::field("saved");
        WA::Session s;
        s.window.opacitySpin->setValue(50);
        saveAs(s, typed.isEmpty() ? typed : path(typed)); // empty: the dialog was cancelled
        const auto dialog = s.prompts->callsOf("getSaveFileName").value(0);
        QCOMPARE(QStringList({dialog.title, dialog.directory, dialog.filter}),
                 QStringList({"Save Project", QDir::homePath() + "/Untitled.twr",
                              "Project files (*.twr)"}));
        QCOMPARE(WA::filesIn(temp->path()).join(""), saved);
        QCOMPARE(s.window.currentProjectFilePath(), saved.isEmpty() ? saved : path(saved));
        QCOMPARE(s.window.windowTitle(), title(saved.isEmpty() ? "Untitled.twr*" : saved));
        QCOMPARE(s.window.lastProjectDirectory, saved.isEmpty() ? QDir::homePath() : path(saved));
    }

    void startupDesign_savedAsExample()
    {
        WA::Session s;
        s.trigger("action_Save"); // with no file yet, Save asks like Save As
        saveAs(s, path("start"));
        QCOMPARE(s.prompts->kinds(), QStringList({"getSaveFileName", "getSaveFileName"}));
        QByteArray expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>\n";
        for (const QString &field :
             {"topStyle>" + WA::topStyles() + "/hill.png", QString("topColor>#80be1f"),
              QString("topOpacity>1"), QString("topPattern>"), QString("topPatternColor>#80be1f"),
              QString("topPatternOpacity>0.4"), QString("bottomColor>#c39366"),
              QString("bottomOpacity>1"), QString("bottomPattern>"),
              QString("bottomPatternColor>#c39366"), QString("bottomPatternColorOpacity>1"),
              QString("bottomPatternOpacity>0.4"), QString("topDown>0")})
            expected += "    <" + field.toUtf8() + "</" + field.section('>', 0, 0).toUtf8() + ">\n";
        QCOMPARE(WA::readAll(path("start.twr")), expected + "</project>\n");
    }

    void open_readsFieldsAndTitles_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<float>("bottomOpacity");
        QTest::addColumn<bool>("topDown");
        QTest::newRow("topDown true") << QByteArray("<topDown>true</topDown>") << 1.0f << false;
        QTest::newRow("topDown 2") << QByteArray("<topDown>2</topDown>") << 1.0f << false;
        QTest::newRow("topDown 1") << QByteArray("<topDown>1</topDown>") << 1.0f << true;
        QTest::newRow("opacity not a number")
            << QByteArray("<bottomOpacity>half</bottomOpacity>") << 0.0f << false;
        QTest::newRow("nested at any depth, other names ignored")
            << QByteArray("<a><b><bottomOpacity>0.5</bottomOpacity></b><c>x</c></a>") << 0.5f
            << false;
    }
    void open_readsFieldsAndTitles()
    {
        QFETCH(QByteArray, fields);
        QFETCH(float, bottomOpacity);
        QFETCH(bool, topDown);
        QVERIFY(WA::writeAll(path("design.twr"),
                             "<project><topColor>#405060</topColor>" + fields + "</project>"));
        WA::Session s;
        s.window.repeatAtBottomCheck->setChecked(true); // so a file read as false changes it
        open(s, path("design.twr"));
        QVERIFY(s.prompts->callsOf("warning").isEmpty());
        QCOMPARE(s.window.style().topColor, QColor("#405060"));
        QCOMPARE(s.window.style().bottomOpacity, bottomOpacity);
        QCOMPARE(s.window.style().topDown, topDown);
        QCOMPARE(s.window.repeatAtBottomCheck->isChecked(), topDown);
        QCOMPARE(s.prompts->callsOf("getOpenFileName").value(0).directory, QDir::homePath());
        QCOMPARE(TestEnv::settings().value("lastProjectDirectory").toString(), path("design.twr"));
        QCOMPARE(s.window.currentProjectFilePath(), path("design.twr"));
        QCOMPARE(s.window.windowTitle(), title("design.twr"));
        s.window.opacitySpin->setValue(50);
        QCOMPARE(s.window.windowTitle(), title("design.twr*"));
    }

    void openFailure_reportedKeepsFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no such file
        QTest::addColumn<QString>("topColor");   // as left by the failed open
        QTest::newRow("missing file") << QByteArray() << "#aabbcc";
        QTest::newRow("no project element, read values kept")
            << QByteArray("<design><topColor>#010203</topColor></design>") << "#010203";
        QTest::newRow("malformed, read values kept")
            << QByteArray("<project><topColor>#010203</topColor><topOpa") << "#010203";
        QByteArray laughs = "<!DOCTYPE project [<!ENTITY l0 \"lol\">";
        for (int i = 1; i <= 9; ++i)
            laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                      ("&l" + QByteArray::number(i - 1) + ';').repeated(10) + "\">";
        QTest::newRow("billion laughs") << laughs + "]><project><topStyle>&l9;</topStyle></project>"
                                        << "#aabbcc";
        QTest::newRow("huge file")
            << "<project><topStyle>" + QByteArray(20 << 20, 'x') << "#aabbcc";
    }
    void openFailure_reportedKeepsFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, topColor);
        QVERIFY(WA::writeAll(path("good.twr"), "<project><topColor>#aabbcc</topColor></project>"));
        QVERIFY(content.isNull() || WA::writeAll(path("bad.twr"), content));
        WA::Session s;
        open(s, path("good.twr"));
        QElapsedTimer timer;
        timer.start();
        open(s, path("bad.twr"));
        QVERIFY2(timer.elapsed() < 5000, "a reader without limits takes minutes here");
        QCOMPARE(WA::onlyWarning(*s.prompts).section('\n', 0, 1),
                 QStringLiteral("Loading Error\nThe project could not be loaded."));
        QCOMPARE(s.window.currentProjectFilePath(), path("good.twr"));
        QCOMPARE(s.window.windowTitle(), title("good.twr"));
        QCOMPARE(s.window.style().topColor, QColor(topColor));
        QVERIFY2(s.window.style().topStyle.size() < 1000, "an expanded or huge text was taken");
    }

    void saveFailure_reportedNothingLost_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("Save As into a missing folder") << false;
        QTest::newRow("Save on a full disk") << true;
    }
    void saveFailure_reportedNothingLost()
    {
        QFETCH(bool, fullDisk);
        const QString disk = path("disk"), target = disk + (fullDisk ? "/p.twr" : "/gone/p.twr");
        QVERIFY(QDir().mkpath(disk));
        TmpfsMount mount(disk);
        if (fullDisk && !mount.mount())
            QSKIP("needs root to mount a small tmpfs");
        WA::Session s;
        saveAs(s, disk + "/p.twr");
        const QByteArray old = WA::readAll(disk + "/p.twr");
        QVERIFY(!old.isEmpty() && (!fullDisk || mount.fill()));
        const QStringList files = WA::filesIn(disk);
        s.window.opacitySpin->setValue(50);
        fullDisk ? s.trigger("action_Save") : saveAs(s, target);
        const QString warning = WA::onlyWarning(*s.prompts);
        QVERIFY2(WA::namesFileAndReason(warning, target), qPrintable(warning));
        QCOMPARE(s.window.windowTitle(), title("p.twr*")); // still modified, still the old file
        QCOMPARE(WA::readAll(disk + "/p.twr"), old);
        QCOMPARE(WA::filesIn(disk), files); // nothing half-written left behind
        QVERIFY(!QFileInfo::exists(target) || fullDisk);
    }

    void savedDesign_reopensIdentical_newResetsAllButTopShape()
    {
        WA::Session s;
        const Ui::MainWindow *ui = s.window.ui;
        ui->topsList->item(1)->setSelected(true);  // ridge.png
        ui->fillIcons->item(0)->setSelected(true); // checks.png on the top
        s.window.opacitySpin->setValue(70);
        s.window.patternOpacitySpin->setValue(55);
        s.window.repeatAtBottomCheck->setChecked(true);
        ui->partSelection->setCurrentIndex(1);
        ui->fillIcons->item(1)->setSelected(true); // stripes.png at the bottom
        s.window.opacitySpin->setValue(90);
        s.window.patternColorOpacitySpin->setValue(65);
        const QByteArray stored = ProjectWriter::toByteArray(s.window.style());
        const QImage tile = previewTile(s);
        QVERIFY(stored.contains("ridge.png") && stored.contains("stripes.png") && !tile.isNull());
        saveAs(s, path("round"));

        s.trigger("actionNew");
        QCOMPARE(s.window.windowTitle(), title("Untitled.twr"));
        QCOMPARE(ui->partSelection->currentText(), QStringLiteral("Top"));
        QCOMPARE(s.window.style().topStyle, WA::topStyles() + "/ridge.png");
        QCOMPARE(s.window.style().bottomOpacity, 1.0f);
        QVERIFY(s.window.style().topPattern.fileName().isEmpty());
        QVERIFY(s.window.style().bottomPattern.fileName().isEmpty());
        for (int part : {1, 0}) { // both pattern rows read "<None>"
            ui->partSelection->setCurrentIndex(part);
            QCOMPARE(ui->propertiesEditor->findItems("<None>", Qt::MatchExactly).size(), 1);
        }
        QVERIFY(previewTile(s) != tile);

        open(s, path("round.twr"));
        QVERIFY(s.prompts->callsOf("warning").isEmpty());
        QCOMPARE(ProjectWriter::toByteArray(s.window.style()), stored);
        QVERIFY(s.window.repeatAtBottomCheck->isChecked());
        QCOMPARE(previewTile(s), tile);
    }
};

QTEST_MAIN(TestProjectCommands)
#include "tst_projectcommands.moc"
