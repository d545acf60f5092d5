#include "exportdialog.h"
#include "generatetiles.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

// The window's side of a generation run, with the worker running for real.

namespace {

QString maskName(int i)
{
    return QStringLiteral("m%1.png").arg(i, 3, 10, QLatin1Char('0'));
}

QStringList maskNames(int from, int to)
{
    QStringList names;
    for (int i = from; i < to; ++i)
        names << maskName(i);
    return names;
}

bool writeMasks(int count)
{
    const QString first = WindowAssets::alpha() + '/' + maskName(0);
    bool ok = count == 0 || WindowAssets::save(WindowAssets::mask(), first);
    for (int i = 1; i < count; ++i)
        ok = ok && QFile::copy(first, WindowAssets::alpha() + '/' + maskName(i));
    return ok;
}

// Everything in a folder, hidden files and leftovers of a save included; an
// entry that is not a whole PNG tile of edge by edge pixels is marked.
QStringList tiles(const QString &directory, int edge = 64)
{
    static const QByteArray iend("\0\0\0\0IEND\xae\x42\x60\x82", 12);
    QStringList names = QDir(directory).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (QString &name : names) {
        const QByteArray bytes = WindowAssets::readAll(directory + '/' + name);
        QImage image;
        if (!name.endsWith(".png") || !bytes.startsWith("\x89PNG\r\n\x1a\n") ||
            !bytes.endsWith(iend) || !image.loadFromData(bytes, "PNG") ||
            image.size() != QSize(edge, edge))
            name += " (not a whole tile)";
    }
    return names;
}

} // namespace

class TestGenerationRun : public QObject
{
    Q_OBJECT

    // Notes what the window showed as each generator signal reached it: taken
    // on this thread after the window's own handler, so QTRY_ reads nothing the
    // worker writes. The context goes before the window.
    struct Run : WindowAssets::Session
    {
        QList<int> steps, counts;
        QStringList atTotal, atComplete, offered;
        QObject context;

        Run()
        {
            connect(window.generator, &generateTiles::TotalSteps, &context,
                    [this] { atTotal << state(); });
            connect(window.generator, &generateTiles::NextStep, &context,
                    [this](int step) { steps << step; });
            connect(window.generator, &generateTiles::Complete, &context, [this](bool, int n) {
                counts << n;
                atComplete << state();
            });
        }
        QString state() const
        {
            const QProgressDialog *d = window.progressDialog;
            return QString::asprintf("shown %d, %d..%d, modal %d, command %d, thread %d",
                                     d->isVisible(), d->minimum(), d->maximum(),
                                     d->windowModality() == Qt::WindowModal,
                                     window.ui->actionGenerate_Tileset->isEnabled(),
                                     window.generatorThread->isRunning());
        }

        // Plays a person in the export dialog: notes what it offers, types, presses a button.
        void answer(const QString &dir, const QString &width,
                    QDialogButtonBox::StandardButton button = QDialogButtonBox::Ok)
        {
            prompts->dialogActions.enqueue([this, dir, width, button](QDialog &dialog) {
                auto *dirField = dialog.findChild<QLineEdit *>("exportDirectory");
                auto *widthField = dialog.findChild<QLineEdit *>("tileWidth");
                offered << dirField->text() + '|' + widthField->text();
                dirField->setText(dir);
                widthField->setText(width);
                dialog.findChild<QDialogButtonBox *>("buttonBox")->button(button)->click();
            });
        }
        void generate() { window.ui->actionGenerate_Tileset->trigger(); }
        void start(const QString &d, const QString &w) { answer(d, w), generate(); }
        bool completed(int n)
        {
            return QTest::qWaitFor([&] { return counts.size() >= n; }, 20000);
        }
        int dialogsOpened() const { return prompts->callsOf("execDialog").size(); }
        // The messages shown, each as "kind|title|text".
        QStringList messages() const
        {
            QStringList shown;
            for (const auto &call : prompts->calls)
                if (call.kind == "information" || call.kind == "warning")
                    shown << call.kind + '|' + call.title + '|' + call.text;
            return shown;
        }
        QString details() const { return prompts->callsOf("warning").value(0).details; }
    };

    QString outPath(const QString &name = {}) const { return QDir::cleanPath(out->filePath(name)); }
    static QString setting(const char *key) { return TestEnv::settings().value(key).toString(); }
    std::unique_ptr<QTemporaryDir> out;

private slots:
    void init()
    {
        TestEnv::resetSettings();
        TestEnv::settings().setValue("checkForUpdates", false); // only the run's messages
        using A = WindowAssets;
        QVERIFY(A::makeEmpty() &&
                A::save(A::topShape(Qt::darkGreen), A::topStyles() + "/hill.png") &&
                A::save(A::pattern(Qt::darkGray), A::patterns() + "/checks.png"));
        out = std::make_unique<QTemporaryDir>();
        QVERIFY(out->isValid());
    }
    void cleanup()
    {
        out.reset();
        QVERIFY(WindowAssets::removeAll());
    }

    void cancelledDialog_startsNothing_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("Cancel after typing") << true;
        QTest::newRow("closed unanswered") << false;
    }
    void cancelledDialog_startsNothing()
    {
        QFETCH(bool, answered);
        QVERIFY(writeMasks(3));
        Run s;
        if (answered)
            s.answer(outPath(), "64", QDialogButtonBox::Cancel);
        s.generate();
        QCOMPARE(s.dialogsOpened(), 1);
        QCOMPARE(s.window.tileSize(), 128);
        QVERIFY(!TestEnv::settings().contains("lastExportDirectory"));
        QVERIFY(!TestEnv::settings().contains("tileWidthHeight"));
        // A start would have happened inside the command.
        QVERIFY(!s.window.generatorThread->isRunning() && !s.window.generatorThread->isFinished());
        QVERIFY(s.window.ui->actionGenerate_Tileset->isEnabled());
        QCoreApplication::processEvents();
        QVERIFY(s.atTotal.isEmpty() && s.messages().isEmpty() && tiles(outPath()).isEmpty());
    }

    // Started with Ctrl+G. The progress dialog only ever shows for a run: by
    // itself it would show 4 s after construction, or after a run that left its
    // timer armed, hence the one long wait.
    void run_storesChoiceShowsProgressAndCount_data()
    {
        QTest::addColumn<int>("masks");
        QTest::addColumn<int>("waitAfter");
        QTest::newRow("five masks") << 5 << 0;
        QTest::newRow("empty mask folder") << 0 << 4500;
    }
    void run_storesChoiceShowsProgressAndCount()
    {
        QFETCH(int, masks);
        QFETCH(int, waitAfter);
        QVERIFY(writeMasks(masks));
        Run s;
        QStringList atStart; // on the worker as it announces the run, before any tile
        connect(
            s.window.generator, &generateTiles::TotalSteps, this,
            [&] {
                atStart << setting("lastExportDirectory") << setting("tileWidthHeight")
                        << tiles(outPath());
            },
            Qt::DirectConnection);
        s.answer(outPath(), "64");
        s.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&s.window));
        QTest::keyClick(&s.window, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(!s.window.ui->actionGenerate_Tileset->isEnabled());
        QVERIFY(s.completed(1));
        QCOMPARE(atStart, (QStringList{outPath(), "64"}));
        QCOMPARE(s.window.tileSize(), 64);

        QCOMPARE(s.prompts->kinds().first(), QString("execDialog"));
        QCOMPARE(s.prompts->calls.first().title, QString("Generate Tiles"));
        QCOMPARE(s.atTotal,
                 QStringList{QString("shown 1, 0..%1, modal 1, command 0, thread 1").arg(masks)});
        QCOMPARE(s.steps.size(), masks);
        QCOMPARE(s.steps.value(masks - 1, 0), masks);
        QVERIFY2(s.atComplete.value(0).startsWith("shown 0") &&
                     s.atComplete.value(0).endsWith("command 1, thread 0"),
                 qPrintable(s.atComplete.value(0)));
        QCOMPARE(
            s.messages(),
            QStringList{QString("information|Complete|%1 tiles have been generated.").arg(masks)});
        QCOMPARE(s.prompts->calls.last().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(tiles(outPath()), maskNames(0, masks));
        QTest::qWait(waitAfter);
        QVERIFY(!s.window.progressDialog->isVisible());
    }

    // A warning with a reason per failed file; nothing else is written.
    void failedTiles_warnWithReasons_data()
    {
        const QString none = "The tileset could not be generated.";
        WindowAssets::addRows({"folder", "junk", "text", "details", "written"},
                              "no/such/folder||" + none +
                                  "|^m000.png: .+\\nm001.png: .+\\nm002.png: .+$|;"
                                  "||" +
                                  none +
                                  "|(?i)^[^:].*directory|;"
                                  ".|m001.png|2 tiles have been generated|^m001.png: .+$|"
                                  "m000.png,m002.png");
    }
    void failedTiles_warnWithReasons()
    {
        QFETCH(QString, folder);
        QFETCH(QString, junk);
        QFETCH(QString, text);
        QFETCH(QString, details);
        QFETCH(QString, written);
        QVERIFY(writeMasks(3));
        QVERIFY(junk.isEmpty() || WindowAssets::writeAll(WindowAssets::alpha() + '/' + junk, "no"));
        Run s;
        const QString target = folder.isEmpty() ? folder : outPath(folder);
        s.start(target, "64");
        QVERIFY(s.completed(1));
        QCOMPARE(s.messages().size(), 1);
        QVERIFY2(s.messages()[0].startsWith("warning|Failed|" + text), qPrintable(s.messages()[0]));
        QVERIFY2(QRegularExpression(details).match(s.details()).hasMatch(),
                 qPrintable(s.details()));
        QCOMPARE(tiles(outPath()).join(','), written);
        QCOMPARE(setting("lastExportDirectory"), target); // kept for the next run
        QVERIFY(s.window.ui->actionGenerate_Tileset->isEnabled());
    }

    void progressCancel_stopsAfterTilesInHand_data()
    {
        QTest::addColumn<bool>("escapeKey");
        QTest::addColumn<bool>("firstUnreadable");
        QTest::newRow("Cancel button") << false << false;
        QTest::newRow("Escape key") << true << false;
        QTest::newRow("Cancel, first mask unreadable") << false << true;
    }
    void progressCancel_stopsAfterTilesInHand()
    {
        QFETCH(bool, escapeKey);
        QFETCH(bool, firstUnreadable);
        const int total = 300, skipped = firstUnreadable;
        QVERIFY(writeMasks(total));
        if (firstUnreadable)
            QVERIFY(WindowAssets::writeAll(WindowAssets::alpha() + '/' + maskName(0), "junk"));
        Run s;
        // At the first step cancel as a person does and try to start again
        // before Complete, which is refused; later steps find the dialog shut.
        int dialogsAfterRetry = -1;
        bool shownAfterCancel = false;
        const auto connection = connect(s.window.generator, &generateTiles::NextStep, this, [&] {
            shownAfterCancel |= dialogsAfterRetry >= 0 && s.window.progressDialog->isVisible();
            if (dialogsAfterRetry >= 0)
                return;
            if (escapeKey)
                QTest::keyClick(s.window.progressDialog, Qt::Key_Escape);
            else
                QTest::mouseClick(s.window.progressDialog->findChild<QPushButton *>(),
                                  Qt::LeftButton);
            s.start(outPath(), "32");
            dialogsAfterRetry = s.dialogsOpened();
            s.prompts->dialogActions.clear();
        });
        s.start(outPath(), "64");
        QVERIFY(s.completed(1));
        disconnect(connection);
        QCOMPARE(dialogsAfterRetry, 1);
        QVERIFY2(!shownAfterCancel, "the progress dialog came back after Cancel");

        const QStringList written = tiles(outPath()); // whole tiles only, the first ones
        QVERIFY2(written.size() + skipped < total, qPrintable(QString::number(written.size())));
        QCOMPARE(written, maskNames(skipped, skipped + written.size()));
        QCOMPARE(s.counts[0], written.size() + skipped);
        QCOMPARE(s.messages().size(), 1);
        const QString message = s.messages()[0];
        QVERIFY2(message.startsWith(firstUnreadable ? "warning|" : "information|") &&
                     message.contains("stopped", Qt::CaseInsensitive) &&
                     message.contains(QString("%1 of %2").arg(written.size()).arg(total)),
                 qPrintable(message));
        QCOMPARE(s.details().contains(maskName(0)), firstUnreadable);

        // The next run offers this one's choice, uses the design as changed
        // since, and is not reached by the cancel.
        const QColor red(200, 30, 30);
        s.window.ui->partSelection->setCurrentIndex(1);
        s.prompts->colors.enqueue(red);
        emit s.window.ui->propertiesEditor->doubleClicked(
            s.window.ui->propertiesEditor->model()->index(1, 1));
        QCOMPARE(s.window.style().bottomColor, red);
        const QString again = outPath("again");
        QVERIFY(QDir().mkpath(again));
        s.start(again, "64");
        QVERIFY(s.completed(2));
        QCOMPARE(s.offered.value(1), QString(outPath()).replace('/', '\\') + "|64");
        QCOMPARE(s.counts[1], total);
        QVERIFY(s.atTotal.value(1).startsWith(QString("shown 1, 0..%1,").arg(total)));
        QCOMPARE(tiles(again), maskNames(skipped, total));
        const QColor ground = QImage(again + "/m001.png").pixelColor(32, 62); // below the top
        QVERIFY2(ground.red() > 150 && ground.green() < 80, qPrintable(ground.name()));
    }

    void destroyDuringRun_joinsWorkerLeavesWholeTiles_data()
    {
        QTest::addColumn<bool>("afterFirstTile");
        QTest::newRow("right after the start") << false;
        QTest::newRow("after the first tile") << true;
    }
    void destroyDuringRun_joinsWorkerLeavesWholeTiles()
    {
        QFETCH(bool, afterFirstTile);
        const int total = 300;
        QVERIFY(writeMasks(total));
        auto s = std::make_unique<Run>();
        s->start(outPath(), "64");
        if (afterFirstTile)
            QTRY_VERIFY_WITH_TIMEOUT(!s->steps.isEmpty(), 10000);
        QVERIFY(s->counts.isEmpty());
        QElapsedTimer timer;
        timer.start();
        s->window.close(); // as at the end of the program: the window closes, then goes
        s.reset();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::processEvents();
        const QStringList written = tiles(outPath());
        QVERIFY2(written.size() < total, qPrintable(QString::number(written.size())));
        QCOMPARE(written, maskNames(0, written.size()));
    }
};

QTEST_MAIN(TestGenerationRun)
#include "tst_generationrun.moc"
