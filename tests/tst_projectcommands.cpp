#include "projectwriter.h"
#include "testenv.h"
#include "tilepreview.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

using WA = WindowAssets;

// The window's project, import and delete commands: its questions, titles and reports. Files,
// hostile input, failing disks and copying are checked in tst_projectfile and tst_assetimport.
class TestProjectCommands : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp;
    // By toolbox page: the library folder and the command that imports into it.
    const QStringList dirs{WA::topStyles(), WA::patterns(), WA::alpha()};
    const char *const imports[3] = {"actionTop_Shapes", "actionPatterns", "actionAlphaMasks"};
    QString path(const QString &name) const { return temp->path() + '/' + name; }
    // A PNG outside the library.
    QString source(const QString &name, const QColor &colour = Qt::blue) const
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        return WA::save(WA::pattern(colour), path(name)) ? path(name) : QString();
    }
    // Triggers the action with its file dialog answered by these files; none: cancelled.
    static void choose(WA::Session &s, const QStringList &files,
                       const char *action = "actionPatterns")
    {
        QList<QUrl> urls;
        for (const QString &file : files)
            urls << QUrl::fromLocalFile(file);
        s.prompts->fileNames.clear();
        s.prompts->fileUrls.clear();
        s.prompts->fileNames << files.value(0);
        s.prompts->fileUrls << urls;
        s.trigger(action);
    }
    // The default design with the given top shape.
    static QByteArray startup(const QString &topShape)
    {
        TileStyle style;
        style.topStyle = WA::topStyles() + '/' + topShape;
        return ProjectWriter::toByteArray(style);
    }
    // What the window shows of its design and file: the property table, title and flags.
    static QString shown(const MainWindow &w)
    {
        const QTableWidget *table = w.ui->propertiesEditor;
        QStringList all{w.windowTitle(), QString::number(w.isModified()),
                        QString::number(w.repeatAtBottomCheck->isChecked())};
        for (int row = 0; row < table->rowCount(); ++row) {
            const auto *spin = qobject_cast<const QAbstractSpinBox *>(table->cellWidget(row, 1));
            all << (table->item(row, 1) ? table->item(row, 1)->text() : spin ? spin->text() : "");
        }
        return all.join('|');
    }

private slots:
    void init()
    {
        TestEnv::resetSettings();
        QVERIFY(WA::makeSample());
        temp = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { QVERIFY(WA::removeAll()); }

    void save_appendsExtensionUnlessTwr_data()
    {
        QTest::addColumn<QString>("typed"); // empty: cancelled
        QTest::addColumn<QString>("saved");
        QTest::newRow("a") << QString("a") << "a.twr";
        QTest::newRow("a.twr") << QString("a.twr") << "a.twr";
        QTest::newRow("a.TWR") << QString("a.TWR") << "a.TWR";
        QTest::newRow("a.Twr") << QString("a.Twr") << "a.Twr";
        QTest::newRow("a.twr.bak") << QString("a.twr.bak") << "a.twr.bak.twr";
        QTest::newRow("cancelled") << QString() << "";
    }
    // With no file yet Save asks like Save As; tst_projectfile checks the start-up bytes.
    void save_appendsExtensionUnlessTwr()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        WA::Session s;
        choose(s, {typed.isEmpty() ? typed : path(typed)}, "action_Save");
        QCOMPARE(s.prompts->callsOf("getSaveFileName").value(0).directory,
                 QDir::homePath() + "/Untitled.twr");
        QCOMPARE(WA::filesIn(temp->path()).join(""), saved);
        QCOMPARE(readFile(path(saved)), saved.isEmpty() ? "" : startup("hill.png"));
        QCOMPARE(s.window.windowTitle(),
                 "Tilewright - " + (saved.isEmpty() ? "Untitled.twr" : saved));
        QCOMPARE(s.window.lastProjectDirectory, saved.isEmpty() ? QDir::homePath() : path(saved));
    }

    // After a failed save and New, reopening shows the old file whole.
    void savedDesign_reopensIdentical_failedSaveAndNewLoseNothing()
    {
        QVERIFY(WA::save(WA::topShape(Qt::white), WA::topStyles() + "/ridge.png") &&
                WA::save(WA::pattern(Qt::white, 8), WA::patterns() + "/lines.png"));
        WA::Session s;
        const Ui::MainWindow *ui = s.window.ui;
        const auto tile = [&] {
            const QListWidgetItem *item = ui->spritePreviewWidget->item(0);
            return item ? item->icon().pixmap(TilePreview::TileSize).toImage() : QImage();
        };
        ui->topsList->item(1)->setSelected(true); // ridge.png
        s.window.repeatAtBottomCheck->setChecked(true);
        ui->partSelection->setCurrentIndex(1);
        ui->fillIcons->item(0)->setSelected(true); // lines.png at the bottom
        s.window.opacitySpin->setValue(70);
        const QByteArray stored = ProjectWriter::toByteArray(s.window.style());
        const QImage saved = tile();
        QVERIFY(stored.contains("ridge.png"));
        QVERIFY(stored.contains("lines.png"));
        QVERIFY(!saved.isNull());
        choose(s, {path("round")}, "action_Save_As");
        s.window.opacitySpin->setValue(50);
        choose(s, {path("gone/round.twr")}, "action_Save_As");
        QVERIFY(WA::warnedAbout(*s.prompts, path("gone/round.twr")));
        QCOMPARE(s.window.windowTitle(), QStringLiteral("Tilewright - round.twr*"));
        QCOMPARE(WA::filesIn(temp->path()), QStringList("round.twr"));

        s.trigger("actionNew");
        QCOMPARE(s.window.windowTitle(), QStringLiteral("Tilewright - Untitled.twr"));
        QCOMPARE(ui->partSelection->currentText(), QStringLiteral("Top"));
        QCOMPARE(ui->propertiesEditor->findItems("<None>", Qt::MatchExactly).size(), 1);
        QCOMPARE(ProjectWriter::toByteArray(s.window.style()), startup("ridge.png"));
        QVERIFY(!s.window.repeatAtBottomCheck->isChecked());
        QVERIFY(tile() != saved);
        s.window.opacitySpin->setValue(50);
        QCOMPARE(s.window.windowTitle(), QStringLiteral("Tilewright - Untitled.twr*"));

        choose(s, {path("round.twr")}, "action_Open_2");
        QCOMPARE(s.prompts->callsOf("warning").size(), 1);
        QCOMPARE(ProjectWriter::toByteArray(s.window.style()), stored);
        QVERIFY(s.window.repeatAtBottomCheck->isChecked());
        QCOMPARE(tile(), saved);
        QCOMPARE(s.window.windowTitle(), QStringLiteral("Tilewright - round.twr"));
        s.window.opacitySpin->setValue(50);
        QCOMPARE(s.window.windowTitle(), QStringLiteral("Tilewright - round.twr*"));
    }

    // A file that fails part-way changes nothing, so Save after it rewrites the good file
    // as it was rather than a mix of the two.
    void openMalformedAfterGood_keepsDesignAndFile_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no such file
        const QByteArray colours = "<project><topColor>#010203</topColor><bottomColor>#04";
        QTest::newRow("truncated") << colours;
        QTest::newRow("bad colour after a good one") << colours + "05&06</bottomColor></project>";
        QTest::newRow("wrong root element")
            << QByteArray("<design><topColor>#010203</topColor><topDown>1</topDown></design>");
        QTest::newRow("mismatched end tag")
            << QByteArray("<project><topOpacity>0.1</topOpacity></design>");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("no such file") << QByteArray();
        QTest::newRow("too big") << "<project><topStyle>" + QByteArray(1 << 20, 'x');
    }
    void openMalformedAfterGood_keepsDesignAndFile()
    {
        QFETCH(QByteArray, bytes);
        TileStyle good;
        good.topStyle = WA::topStyles() + "/hill.png";
        good.topColor = QColor(200, 180, 20);
        good.bottomColor = QColor(90, 60, 30);
        good.bottomPattern = QFileInfo(source("lines.png", Qt::white));
        good.bottomPatternOpacity = 0.7f;
        good.topDown = true;
        const QByteArray saved = ProjectWriter::toByteArray(good);
        QVERIFY(writeFile(path("good.twr"), saved));
        QVERIFY(bytes.isNull() || writeFile(path("bad.twr"), bytes));
        WA::Session s;
        choose(s, {path("good.twr")}, "action_Open_2");
        QCOMPARE(ProjectWriter::toByteArray(s.window.style()), saved);
        const QString opened = shown(s.window);

        choose(s, {path("bad.twr")}, "action_Open_2");
        QVERIFY(WA::warnedAbout(*s.prompts, path("bad.twr")));
        QCOMPARE(s.prompts->calls.last().title + ": " + s.prompts->calls.last().text,
                 QStringLiteral("Loading Error: The project could not be loaded."));
        QCOMPARE(ProjectWriter::toByteArray(s.window.style()), saved);
        QCOMPARE(shown(s.window), opened);
        s.trigger("action_Save");
        QCOMPARE(readFile(path("good.twr")), saved);
    }

    // The last import location is the last file chosen, even one skipped for its suffix;
    // a drop leaves it, copies into the current page and reloads its list either way.
    void import_copiesIntoItsKindRemembersLastChosenFile_data()
    {
        QTest::addColumn<int>("page"); // imported into, and where the drop lands
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QString>("dropped");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("top shapes")
            << 0 << QStringList{"a.png", "b.png"} << "crest.png"
            << QStringList{"a.png", "b.png", "crest.png", "hill.png", "zz.png"};
        QTest::newRow("patterns, a JPEG chosen")
            << 1 << QStringList{"a.png", "notes.jpg"} << "STONE.PNG"
            << QStringList{"a.png", "STONE.PNG", "zz.png"};
        QTest::newRow("patterns, a JPEG dropped")
            << 1 << QStringList{"a.png"} << "stone.jpg" << QStringList{"a.png", "zz.png"};
        QTest::newRow("alpha masks, odd names")
            << 2 << QStringList{"my dir/100% moss.png"} << "cave.png"
            << QStringList{"100% moss.png", "cave.png", "slope.png", "zz.png"};
    }
    void import_copiesIntoItsKindRemembersLastChosenFile()
    {
        QFETCH(int, page);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, chosen);
        for (QString &name : chosen)
            name = source(name);
        WA::Session s;
        choose(s, {}, imports[page]); // cancelled: nothing happens
        choose(s, chosen, imports[page]);
        QCOMPARE(readFile(dirs[page] + '/' + QFileInfo(chosen[0]).fileName()), readFile(chosen[0]));
        // Written without running the event loop, so only a reload lists it.
        QVERIFY(WA::save(WA::pattern(Qt::blue), dirs[page] + "/zz.png"));
        // Sent to the handler: through the application only the drag's acceptor gets it.
        QMimeData mime;
        QFETCH(QString, dropped);
        mime.setUrls({QUrl::fromLocalFile(source(dropped))});
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        s.window.ui->toolBox->setCurrentIndex(page);
        s.window.dropEvent(&drop);
        QCOMPARE(WA::toolTips(s.window.ui->toolBox->widget(page)->findChild<QListWidget *>()),
                 listed);
        QCOMPARE(WA::filesIn(dirs[page]).size(), listed.size());
        choose(s, {}, "actionTop_Shapes"); // opens at the last chosen file
        QStringList opened;
        for (const auto &call : s.prompts->calls)
            opened << QUrl(call.directory).path();
        QCOMPARE(opened, QStringList({QDir::homePath(), QDir::homePath(), chosen.last()}));
        s.window.close();
        QCOMPARE(TestEnv::settings().value("lastImportDirectory").toString(), chosen.last());
    }

    // No, No, Cancel, Yes to "replace?"; Cancel on the middle of three files skips only it.
    // A file that is no readable PNG is refused with its reason; what it would replace stays.
    void importAgain_newNameSkipReplaceOrRefuse_data()
    {
        QTest::addColumn<QStringList>("named"); // the file, then the names kept beside it
        QTest::newRow("grass.png") << QStringList{"grass.png", "grass1.png", "grass2.png"};
        QTest::newRow("GRASS.PNG") << QStringList{"GRASS.PNG", "GRASS.PNG1.png", "GRASS.PNG2.png"};
    }
    void importAgain_newNameSkipReplaceOrRefuse()
    {
        QFETCH(QStringList, named);
        const QString name = named[0], dir = WA::patterns(), grass = source(name);
        const QByteArray old = readFile(grass);
        WA::Session s;
        s.prompts->answers << QMessageBox::No << QMessageBox::No << QMessageBox::Cancel
                           << QMessageBox::Yes << QMessageBox::Cancel << QMessageBox::Yes;
        for (int i = 0; i < 4; ++i)
            choose(s, {grass});
        QCOMPARE(WA::filesIn(dir), named);
        const auto asked = s.prompts->callsOf("question").value(0);
        QVERIFY(asked.text.contains('\'' + name + '\''));
        QCOMPARE(asked.defaultButton, QMessageBox::Cancel);
        const QByteArray green = readFile(source("new/" + name, Qt::green));
        choose(s, {path("new/" + name)});
        QCOMPARE(readFile(dir + '/' + name), green);
        QCOMPARE(readFile(dir + '/' + named[1]), old);
        QTRY_COMPARE(WA::toolTips(s.window.ui->fillIcons), named);
        choose(s, {source("x.png"), grass, source("z.png")});
        QCOMPARE(WA::filesIn(dir), named + QStringList({"x.png", "z.png"}));
        const QString bad = source("bad/" + name);
        QVERIFY(writeFile(bad, "just some notes\n"));
        choose(s, {bad, source("y.png")});
        QCOMPARE(WA::filesIn(dir), named + QStringList({"x.png", "y.png", "z.png"}));
        QCOMPARE(readFile(dir + '/' + name), green);
        QVERIFY(WA::warnedAbout(*s.prompts, bad));
        QVERIFY(s.prompts->answers.isEmpty());
    }

    // No keeps the file and the very list items; Yes removes it from the list at once, not
    // when the watch fires; one that cannot go (a folder with contents) is reported and stays.
    void contextMenu_deleteAsksThenRemovesOrReports_data()
    {
        QTest::addColumn<int>("p"); // toolbox page
        QTest::newRow("top shapes") << 0;
        QTest::newRow("patterns") << 1;
        QTest::newRow("alpha masks") << 2;
    }
    void contextMenu_deleteAsksThenRemovesOrReports()
    {
        QFETCH(int, p);
        const QString victim = dirs[p] + "/0victim.png", stuck = dirs[p] + "/1stuck.png";
        QVERIFY(WA::save(WA::pattern(Qt::red), victim) && WA::save(WA::pattern(Qt::red), stuck));
        WA::Session s;
        s.window.ui->toolBox->setCurrentIndex(p);
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QListWidget *shown = s.window.ui->toolBox->widget(p)->findChild<QListWidget *>();
        const auto rightClick = [shown] { // where a right-click arrives, so the menu policy counts
            const QPoint at = shown->visualItemRect(shown->item(0)).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                    shown->viewport()->mapToGlobal(at));
            QApplication::sendEvent(shown->viewport(), &event);
        };
        const QStringList before = WA::toolTips(shown);
        const QListWidgetItem *item = shown->item(0);
        s.prompts->menuChoices << QString("delete") << QString("delete") << QString("delete");
        s.prompts->answers << QMessageBox::No << QMessageBox::Yes << QMessageBox::Yes;
        rightClick();
        QVERIFY(QFileInfo::exists(victim));
        QCOMPARE(shown->item(0), item);
        const auto asked = s.prompts->callsOf("question").value(0);
        QVERIFY(asked.text.contains("'0victim.png'"));
        QCOMPARE(asked.defaultButton, QMessageBox::No);
        rightClick();
        QVERIFY(!QFileInfo::exists(victim));
        QCOMPARE(WA::toolTips(shown), before.mid(1));
        QVERIFY(QFile::remove(stuck) && QDir().mkpath(stuck) && writeFile(stuck + "/k", "k"));
        rightClick();
        QVERIFY(WA::warnedAbout(*s.prompts, stuck));
        QVERIFY(QFileInfo::exists(stuck + "/k"));
        QVERIFY(s.prompts->answers.isEmpty());
    }
};

QTEST_MAIN(TestProjectCommands)
#include "tst_projectcommands.moc"
