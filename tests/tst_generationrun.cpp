#include "generatetiles.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QtWidgets>

// Runs in the window with the worker running for real, and the export dialogs.
class TestGenerationRun : public QObject
{
    Q_OBJECT
    using Session = WindowAssets::Session;
    QTemporaryDir out;
    QStringList offered; // by each export dialog: "folder|width"

    QString outPath(const QString &name = {}) const { return QDir::cleanPath(out.filePath(name)); }
    static QString setting(const char *key) { return TestEnv::settings().value(key).toString(); }
    static QStringList maskNames(int from, int to)
    {
        QStringList names;
        for (int i = from; i < to; ++i)
            names << QStringLiteral("m%1.png").arg(i, 3, 10, QLatin1Char('0'));
        return names;
    }

    static bool writeMasks(int count, const QString &unreadable = {})
    {
        const QString dir = WindowAssets::alpha() + '/';
        bool ok = WindowAssets::save(WindowAssets::mask(), dir + "m000.png");
        for (const QString &name : maskNames(1, count))
            ok = ok && QFile::copy(dir + "m000.png", dir + name);
        return ok && (unreadable.isEmpty() || writeFile(dir + unreadable, "junk"));
    }

    // Everything in a folder, leftovers included; what is not a whole 64 by 64 PNG is marked.
    static QStringList tiles(const QString &dir)
    {
        QStringList names = WindowAssets::filesIn(dir);
        for (QString &name : names)
            if (!readFile(dir + '/' + name).endsWith("IEND\xae\x42\x60\x82") ||
                QImage(dir + '/' + name).size() != QSize(64, 64))
                name += " (not a whole tile)";
        return names;
    }
    // Each message as "kind title: text" and its details on the lines below.
    static QStringList shown(const Session &s)
    {
        QStringList all;
        for (const auto &c : s.prompts->calls)
            if (c.kind == "information" || c.kind == "warning")
                all << (c.kind + ' ' + c.title + ": " + c.text + '\n' + c.details).trimmed();
        return all;
    }
    static bool completed(const Session &s, int runs)
    {
        return QTest::qWaitFor([&] { return shown(s).size() >= runs; }, 20000);
    }

    // Ctrl+G; in the export dialog notes what it offers, types the folder and width
    // (the height follows) and leaves; a width below 1 is refused, then 64 typed.
    void start(Session &s, const QString &dir, QString width = "64", QString leave = "OK")
    {
        s.prompts->dialogActions.enqueue([=](QDialog &d) {
            d.show();
            auto *dirField = d.findChild<QLineEdit *>("exportDirectory");
            auto *widthField = d.findChild<QLineEdit *>("tileWidth");
            offered << dirField->text() + '|' + widthField->text();
            dirField->setText(dir);
            const auto type = [&](const QString &text) {
                widthField->clear();
                QTest::keyClicks(widthField, text);
                QCOMPARE(d.findChild<QLineEdit *>("tileHeight")->text(), text);
            };
            type(width);
            auto *box = d.findChild<QDialogButtonBox *>();
            if (leave == "Escape")
                QTest::keyClick(&d, Qt::Key_Escape);
            else if (leave == "close")
                d.close();
            else
                box->button(leave == "OK" ? box->Ok : box->Cancel)->click();
            if (d.isVisible()) {
                QVERIFY(d.findChild<QLabel *>("sizeProblem")->text().contains("at least 1 pixel"));
                type("64");
                box->button(box->Ok)->click();
            }
        });
        s.window.ui->actionGenerate_Tileset->trigger();
    }

private slots:
    void init()
    {
        TestEnv::resetSettings();
        TestEnv::settings().setValue("checkForUpdates", false); // only the run's messages
        QVERIFY(WindowAssets::makeEmpty() && QDir(out.path()).removeRecursively() &&
                QDir().mkpath(out.path()));
        offered.clear();
    }

    // "folder|width typed|how the dialog is left|folder and size stored" (none if not
    // confirmed: then nothing runs); the last folder is offered with backslashes.
    void exportDialog_storesOnlyConfirmedChoice_data()
    {
        QTest::addColumn<QStringList>("row");
        for (const char *row :
             {"\\home\\me\\tiles|64|OK|/home/me/tiles 64", "\\srv\\out|32|OK|/srv/out 32",
              "C:\\tiles/out|32|OK|C:/tiles/out 32", "/srv/out||OK|/srv/out 64",
              "/srv/out|0|OK|/srv/out 64", "/srv/out|-5|OK|/srv/out 64", "/srv/out|16|Cancel|",
              "/srv/out|16|Escape|", "/srv/out|16|close|"})
            QTest::newRow(row) << QString(row).split('|');
    }
    void exportDialog_storesOnlyConfirmedChoice()
    {
        QFETCH(QStringList, row);
        Session s;
        s.window.lastExportDirectory = "/home/me/tiles";
        s.window.tileWidthHeight = 32;
        start(s, row[0], row[1], row[2]);
        QCOMPARE(offered, QStringList("\\home\\me\\tiles|32"));
        QCOMPARE(s.window.lastExportDirectory + ' ' + QString::number(s.window.tileSize()),
                 row[3].isEmpty() ? "/home/me/tiles 32" : row[3]);
        QVERIFY(row[3].isEmpty() ? !s.window.generatorThread->isRunning() : completed(s, 1));
    }

    // A folder of the library, or one around or inside it, keeps the dialog open with the
    // reason; nothing is stored and nothing runs.
    void exportDialog_libraryFolder_keepsDialogOpen_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("mask folder") << WindowAssets::alpha();
        QTest::newRow("inside the library") << WindowAssets::root() + "/new";
        QTest::newRow("around the library") << QCoreApplication::applicationDirPath();
    }
    void exportDialog_libraryFolder_keepsDialogOpen()
    {
        QFETCH(QString, folder);
        QVERIFY(writeMasks(2));
        Session s;
        s.prompts->dialogActions.enqueue([&](QDialog &d) {
            d.show();
            d.findChild<QLineEdit *>("exportDirectory")->setText(folder);
            d.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            const QLabel *problem = d.findChild<QLabel *>("sizeProblem");
            QVERIFY(d.isVisible());
            QVERIFY(!problem->text().isEmpty());
            QVERIFY2(problem->toolTip().contains("a folder of masks or assets"),
                     qPrintable(problem->toolTip()));
            d.reject();
        });
        s.window.ui->actionGenerate_Tileset->trigger();
        QVERIFY(!s.window.generatorThread->isRunning());
        QCOMPARE(shown(s), QStringList());
        QVERIFY(setting("lastExportDirectory") != folder);
        QVERIFY(!QFileInfo::exists(WindowAssets::root() + "/new"));
        QCOMPARE(WindowAssets::filesIn(WindowAssets::alpha()), maskNames(0, 2));
    }

    // Three masks: "mask made unreadable|output folder|messages (regex)|tiles written".
    void run_storesChoiceReportsHonestly_data()
    {
        QTest::addColumn<QStringList>("row");
        const char *rows[][2] = {
            {"all written",
             "||^information Complete: 3 tiles have been generated.$|m000.png,m001.png,m002.png"},
            {"missing folder", "|no/such/folder|^warning Failed: The tileset could not be "
                               "generated: none of the 3 tiles could be made.\nm000.png: .+\n"
                               "m001.png: .+\nm002.png: .+$|"},
            {"one mask unreadable", "m001.png||^warning Failed: 2 tiles have been generated; "
                                    "1 could not be made.\nm001.png: .+$|m000.png,m002.png"},
            // TOP: the design's top shape is gone; said once, and the tiles are still made.
            {"top shape unreadable",
             "TOP||^warning Failed: 3 tiles have been generated, but not as designed: .+\nTop "
             "shape [^\n]+gone.png[^\n]+$|m000.png,m001.png,m002.png"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]).split('|');
    }
    void run_storesChoiceReportsHonestly()
    {
        QFETCH(QStringList, row);
        QVERIFY(writeMasks(3, row[0] == "TOP" ? QString() : row[0]));
        Session s;
        if (row[0] == "TOP")
            s.window.tileStyle.topStyle = WindowAssets::topStyles() + "/gone.png";
        start(s, outPath(row[1]));
        QCOMPARE(setting("lastExportDirectory") + ' ' + setting("tileWidthHeight"),
                 outPath(row[1]) + " 64"); // on confirmation, as the run starts
        start(s, outPath("second"));       // no second run before Complete
        QCOMPARE(s.prompts->callsOf("execDialog").size(), 1);
        QVERIFY(completed(s, 1));
        const QString text = shown(s).join("\n--\n");
        QVERIFY2(QRegularExpression(row[2]).match(text).hasMatch(), qPrintable(text));
        QCOMPARE(tiles(outPath()).join(','), row[3]);
        // By itself the progress dialog would show 4 s after construction or a run.
        QTest::qWait(QTest::currentDataTag() == QLatin1String("all written") ? 4500 : 0);
        QVERIFY(!s.window.progressDialog->isVisible());
    }

    // Every tile failing in a folder nobody can write, root included (it lies under a plain
    // file): the text gives the count, the details name each mask, and the box still fits.
    void unwritableFolder_countInTextBoxFitsScreen()
    {
        QVERIFY(writeMasks(1651) && writeFile(outPath("file"), "x"));
        Session s;
        start(s, outPath("file/tiles"));
        QVERIFY(completed(s, 1));
        const auto warned = s.prompts->callsOf("warning").value(0);
        QCOMPARE(warned.text, "The tileset could not be generated: none of the 1651 tiles "
                              "could be made.");
        QCOMPARE(warned.details.count(QRegularExpression("^m\\d{3,4}\\.png: .+$",
                                                         QRegularExpression::MultilineOption)),
                 1651);
        const auto box = WindowAssets::realWarning(warned.text, warned.details);
        QCOMPARE(box.offScreen(), QString());
        QCOMPARE(box.detailed, warned.details);
    }

    // Export > Engine Tileset: the tilesets need the atlas; a folder and a plain file
    // name ("folder|name", ~ the temporary folder) are needed, else it says why.
    void engineExport_refusesBadNamesWritesTheSet_data()
    {
        QTest::addColumn<QString>("row");
        // ALPHA: the library's mask folder, which a run must not write into.
        for (const char *row :
             {"|cave", "~|", "~|../elsewhere", "ALPHA|cave", "ALPHA/../..|cave", "~|cave"})
            QTest::newRow(row) << QString(row);
    }
    void engineExport_refusesBadNamesWritesTheSet()
    {
        QFETCH(QString, row);
        QVERIFY(writeMasks(3));
        Session s;
        const bool accepted = row == "~|cave";
        s.prompts->dialogActions.enqueue([&](QDialog &d) {
            d.show();
            auto *atlas = d.findChild<QGroupBox *>("atlasGroup");
            atlas->setChecked(false);
            d.findChild<QCheckBox *>("writeTres3")->setChecked(true);
            QVERIFY(atlas->isChecked()); // the engine files need the sheet
            QVERIFY(!d.findChild<QCheckBox *>("writeTsx")->isChecked());
            // Each level map brings its engine's tileset along.
            d.findChild<QCheckBox *>("writeTmx")->setChecked(true);
            QVERIFY(d.findChild<QCheckBox *>("writeTsx")->isChecked());
            d.findChild<QCheckBox *>("writeTscn")->setChecked(true);
            QVERIFY(d.findChild<QCheckBox *>("writeTres")->isChecked());
            d.findChild<QLineEdit *>("outputDirectory")
                ->setText(row.section('|', 0, 0)
                              .replace('~', outPath())
                              .replace("ALPHA", WindowAssets::alpha()));
            d.findChild<QLineEdit *>("baseName")->setText(row.section('|', 1));
            d.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            const QString problem = d.findChild<QLabel *>("problem")->text();
            QCOMPARE(problem.isEmpty(), accepted);
            QVERIFY2(!row.startsWith("ALPHA") || problem.contains("a folder of masks or assets"),
                     qPrintable(problem));
            if (d.isVisible())
                d.reject();
        });
        s.window.ui->actionExport_Engine_Tileset->trigger();
        QVERIFY(accepted ? completed(s, 1) : !s.window.generatorThread->isRunning());
        QVERIFY(!accepted || shown(s)[0].endsWith(
                                 "Also written: cave.png, cave.tsx, cave.tres, cave_godot3.tres, "
                                 "cave.tmx, cave.tscn, cave_godot3.tscn"));
    }

    // Cancel at the first step or closing the window stops the run after the tiles in
    // hand; the next run uses the design as changed since and is not reached by it.
    void stop_leavesWholeTilesOnly_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"Cancel button", "Escape key", "Cancel, first mask unreadable",
                                "close at the start", "close after a tile"})
            QTest::newRow(how) << QString(how);
    }
    void stop_leavesWholeTilesOnly()
    {
        QFETCH(QString, how);
        const int skipped = how.contains("unreadable");
        QVERIFY(writeMasks(300, skipped ? "m000.png" : ""));
        auto s = std::make_unique<Session>();
        int steps = 0, shownAfterCancel = 0;
        connect(s->window.generator, &generateTiles::NextStep, &s->window, [&] {
            QProgressDialog *d = s->window.progressDialog;
            shownAfterCancel |= steps && d->isVisible();
            if (steps++ || how.startsWith("close"))
                return;
            if (how.startsWith("Escape"))
                QTest::keyClick(d, Qt::Key_Escape);
            else
                d->findChild<QPushButton *>()->click();
        });
        start(*s, outPath());
        if (how.startsWith("close")) {
            QTRY_VERIFY_WITH_TIMEOUT(how.endsWith("start") || steps, 10000);
            QVERIFY(s->window.generatorThread->isRunning());
            s->window.close(); // as at the end of the program: the window closes, then goes
            s.reset();
        } else {
            QVERIFY(completed(*s, 1));
            QVERIFY2(!shownAfterCancel, "the progress dialog came back after Cancel");
        }
        const int n = tiles(outPath()).size();
        QVERIFY2(n + skipped < 300, qPrintable(QString::number(n)));
        QCOMPARE(tiles(outPath()), maskNames(skipped, skipped + n)); // whole, and the first ones
        if (!s)
            return;
        QCOMPARE(shown(*s).value(0).section('\n', 0, 0).section(": ", 1, -1),
                 QString("Generation was stopped: %1 of 300 tiles have been generated%2")
                     .arg(QString::number(n), skipped ? "; 1 could not be made." : "."));

        s->window.tileStyle.bottomColor = QColor(200, 30, 30);
        start(*s, outPath());
        QVERIFY(completed(*s, 2));
        QCOMPARE(tiles(outPath()), maskNames(skipped, 300));
        const QColor ground = QImage(outPath("m001.png")).pixelColor(32, 62); // inside the mask
        QVERIFY2(ground.red() > 150, qPrintable(ground.name()));
        QVERIFY2(ground.green() < 80, qPrintable(ground.name()));
    }
};

QTEST_MAIN(TestGenerationRun)
#include "tst_generationrun.moc"
