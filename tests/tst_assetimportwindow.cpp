#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QAbstractButton>
#include <QToolBox>

using WA = WindowAssets;

class TestAssetImportWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> sources;
    // A PNG outside the library, drawn in a colour.
    QString source(const QString &name, const QColor &colour = QColor(40, 90, 200))
    {
        const QString path = sources->path() + '/' + name;
        QDir().mkpath(QFileInfo(path).path());
        return WA::save(WA::pattern(colour), path) ? path : QString();
    }
    static QString dirOf(int page)
    {
        return QStringList{WA::topStyles(), WA::patterns(), WA::alpha()}[page];
    }
    static QListWidget *list(WA::Session &s, int page)
    {
        return QList<QListWidget *>{s.window.ui->topsList, s.window.ui->fillIcons,
                                    s.window.ui->alphaMaskList}[page];
    }
    static void import(WA::Session &s, const QStringList &paths,
                       const char *action = "actionPatterns")
    {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls << QUrl::fromLocalFile(path);
        s.prompts->fileUrls.enqueue(urls);
        s.trigger(action);
    }
    // Sent to the handler itself: through the application a drop reaches only
    // the widget that accepted the drag's entry.
    static void drop(WA::Session &s, const QString &path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        s.window.dropEvent(&event);
    }
    // The page's list, shown and laid out.
    static QListWidget *showPage(WA::Session &s, int page)
    {
        s.window.ui->toolBox->setCurrentIndex(page);
        s.window.show();
        return QTest::qWaitForWindowExposed(&s.window) ? list(s, page) : nullptr;
    }
    static void rightClick(WA::Session &s, int page, int row, const QPoint &at = QPoint())
    {
        QListWidget *shown = showPage(s, page);
        const QListWidgetItem *item = shown->item(row);
        emit shown->customContextMenuRequested(item ? shown->visualItemRect(item).center() : at);
    }
    static QStringList toolTips(const QListWidget *list)
    {
        QStringList tips;
        for (int row = 0; row < list->count(); ++row)
            tips << list->item(row)->toolTip();
        return tips;
    }

private slots:
    void init()
    {
        TestEnv::resetSettings();
        QVERIFY(WA::makeSample());
        sources = std::make_unique<QTemporaryDir>();
    }
    void cleanup()
    {
        sources.reset();
        QVERIFY(WA::removeAll());
    }

    // The last import location is the last chosen file, even one skipped for its suffix.
    void importCommand_copiesIntoItsKindRemembersLastFile_data()
    {
        WA::addRows(
            {"action", "caption", "page", "chosen", "copied"},
            "actionTop_Shapes|Top Shapes|0|a.png,b.png|a.png,b.png,hill.png;"
            "actionPatterns|Patterns|1|a.png,notes.jpg|a.png;"
            "actionAlphaMasks|Alpha Masks|2|my folder/100% moss.png|100% moss.png,slope.png");
    }
    void importCommand_copiesIntoItsKindRemembersLastFile()
    {
        const QString dir = dirOf(WA::field("page").toInt());
        QStringList chosen;
        for (const QString &name : WA::field("chosen").split(','))
            chosen << source(name);
        WA::Session s;
        import(s, {}, qPrintable(WA::field("action"))); // cancelled: nothing happens
        QCOMPARE(s.window.lastImportDirectory, QDir::homePath());
        import(s, chosen, qPrintable(WA::field("action")));
        const auto dialog = s.prompts->callsOf("getOpenFileUrls").value(0);
        QCOMPARE(
            QStringList({dialog.title, dialog.directory, dialog.filter}),
            QStringList({WA::field("caption"),
                         QUrl(QDir::homePath(), QUrl::TolerantMode).toString(), "PNG (*.png)"}));
        QCOMPARE(WA::filesIn(dir), WA::field("copied").split(','));
        QCOMPARE(WA::readAll(dir + '/' + QFileInfo(chosen[0]).fileName()), WA::readAll(chosen[0]));
        QCOMPARE(s.window.lastImportDirectory, chosen.last());
        import(s, {}, "actionTop_Shapes"); // the next dialog opens there
        QCOMPARE(s.prompts->callsOf("getOpenFileUrls").last().directory,
                 QUrl(chosen.last(), QUrl::TolerantMode).toString());
        s.window.close();
        QCOMPARE(TestEnv::settings().value("lastImportDirectory").toString(), chosen.last());
    }

    void namingSequence_noNoCancelYes_cancelSkipsOnlyThatFile_data()
    {
        WA::addRows({"name", "first", "second"},
                    "grass.png|grass1.png|grass2.png;GRASS.PNG|GRASS.PNG1.png|GRASS.PNG2.png");
    }
    void namingSequence_noNoCancelYes_cancelSkipsOnlyThatFile()
    {
        const QString name = WA::field("name"), first = WA::field("first");
        const QString second = WA::field("second"), dir = WA::patterns(),
                      grass = source(name, Qt::darkGreen);
        const QByteArray old = WA::readAll(grass);
        WA::Session s;
        s.prompts->answers << QMessageBox::No << QMessageBox::No << QMessageBox::Cancel;
        for (int i = 0; i < 4; ++i)
            import(s, {grass});
        QCOMPARE(WA::filesIn(dir), QStringList({name, first, second}));
        const auto asked = s.prompts->callsOf("question");
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked[0].title + ": " + asked[0].text,
                 "File Copy: The file '" + name + "' already exists. Replace it?");
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(asked[0].defaultButton, QMessageBox::Cancel);
        s.prompts->answers << QMessageBox::Yes;
        import(s, {source(name, Qt::green)});
        QCOMPARE(WA::filesIn(dir), QStringList({name, first, second}));
        QVERIFY(WA::readAll(dir + '/' + name) != old && WA::readAll(dir + '/' + first) == old);
        QTRY_COMPARE(toolTips(s.window.ui->fillIcons), QStringList({name, first, second}));
        // Cancel on the middle of three files still copies the first and the third.
        s.prompts->answers << QMessageBox::Cancel;
        import(s, {source("x.png"), grass, source("z.png")});
        QCOMPARE(WA::filesIn(dir), QStringList({name, first, second, "x.png", "z.png"}));
        QCOMPARE(s.prompts->callsOf("question").size(), 5);
        QVERIFY(s.prompts->allScripted());
    }

    void drop_copiesIntoCurrentPageAndReloads_data()
    {
        WA::addRows({"page", "name", "copied"}, "1|STONE.PNG|1;1|stone.jpg|0;0|crest.png|1;"
                                                "2|cave.png|1");
    }
    void drop_copiesIntoCurrentPageAndReloads()
    {
        const int page = WA::field("page").toInt();
        const QString name = WA::field("name"), dir = dirOf(page), dropped = source(name);
        WA::Session s;
        s.window.ui->toolBox->setCurrentIndex(page);
        QStringList expected = toolTips(list(s, page)) << "zz_sneaked.png";
        // Written without running the event loop, so only a reload shows it.
        QVERIFY(WA::save(WA::pattern(Qt::blue), dir + "/zz_sneaked.png"));
        if (WA::field("copied") == "1")
            expected << name;
        expected.sort(Qt::CaseInsensitive);
        drop(s, dropped);
        QCOMPARE(toolTips(list(s, page)), expected);
        QCOMPARE(WA::filesIn(dir).size(), expected.size());
        QCOMPARE(s.window.lastImportDirectory, QDir::homePath()); // a drop leaves it
        QVERIFY(s.prompts->calls.isEmpty());
    }

    void dragEnter_onlyOverVisibleList_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("where");
        for (int page = 0; page < 3; ++page)
            for (const char *where : {"middle", "corner", "outside", "title", "preview"})
                QTest::addRow("page %d, %s", page, where) << page << QString(where);
    }
    void dragEnter_onlyOverVisibleList()
    {
        QFETCH(int, page);
        QFETCH(QString, where);
        WA::Session s;
        const QListWidget *shown = showPage(s, page);
        const QWidget *preview = s.window.ui->spritePreviewWidget;
        const QRect r = shown->rect();
        QWidget *title = nullptr; // the page's own title button
        for (QAbstractButton *button : s.window.ui->toolBox->findChildren<QAbstractButton *>())
            title = button->text() == s.window.ui->toolBox->itemText(page) ? button : title;
        const QPoint global = where == "middle"   ? shown->mapToGlobal(r.center())
                              : where == "corner" ? shown->mapToGlobal(r.bottomRight())
                              : where == "outside"
                                  ? shown->mapToGlobal(r.bottomRight() + QPoint(1, 1))
                              : where == "title" ? title->mapToGlobal(title->rect().center())
                                                 : preview->mapToGlobal(preview->rect().center());
        QCursor::setPos(global);
        if (QCursor::pos() != global)
            QSKIP("this platform plugin cannot place the cursor");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(source("a.png"))});
        QDragEnterEvent event(s.window.mapFromGlobal(global), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&s.window, &event);
        QCOMPARE(event.isAccepted(), where == "middle" || where == "corner");
    }

    void contextMenu_selectsAsksAndDeletes_data() { WA::addRows({"page"}, "0;1;2"); }
    void contextMenu_selectsAsksAndDeletes()
    {
        const int p = WA::field("page").toInt();
        QVERIFY(WA::save(WA::pattern(Qt::red), dirOf(p) + "/0victim.png"));
        WA::Session s;
        QListWidget *shown = showPage(s, p);
        QStringList rest = toolTips(shown);
        QCOMPARE(rest.takeFirst(), QStringLiteral("0victim.png"));
        // An empty area: no menu, nothing selected.
        const QPoint empty = shown->viewport()->rect().bottomRight() - QPoint(3, 3);
        QVERIFY(!shown->indexAt(empty).isValid());
        rightClick(s, p, -1, empty);
        QVERIFY(s.prompts->calls.isEmpty() && shown->selectedItems().isEmpty());
        // An icon is selected before its menu opens; closed, the menu does nothing.
        QStringList seen;
        s.prompts->onMenu = [&](QMenu *menu) {
            seen << shown->selectedItems().value(0)->toolTip() << menu->actions().value(0)->text();
        };
        s.prompts->menuChoices << QString() << QString("delete") << QString("delete");
        rightClick(s, p, 0);
        QCOMPARE(seen, QStringList({"0victim.png", "Delete"}));
        // Delete answered No leaves the file and the very same list items.
        const QListWidgetItem *item = shown->item(0);
        s.prompts->answers << QMessageBox::No << QMessageBox::Yes;
        rightClick(s, p, 0);
        const auto asked = s.prompts->callsOf("question").value(0);
        QCOMPARE(asked.title + ": " + asked.text,
                 QStringLiteral("Delete: Are you sure you want to delete '0victim.png'?"));
        QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(asked.defaultButton, QMessageBox::No);
        QVERIFY(QFileInfo::exists(dirOf(p) + "/0victim.png") && shown->item(0) == item);
        // Yes removes it, and the list shows that at once, not when the watch fires.
        rightClick(s, p, 0);
        QVERIFY(!QFileInfo::exists(dirOf(p) + "/0victim.png"));
        QCOMPARE(toolTips(shown), rest);
        QVERIFY(s.prompts->allScripted());
    }

    // Imported files pass the image guard; a refused one is named with its
    // reason, the others go on, and an existing file it would replace stays.
    void importRefused_reportsFileAndReason_data() { WA::addRows({"name"}, "notes.png;grass.png"); }
    void importRefused_reportsFileAndReason()
    {
        QVERIFY(WA::save(WA::pattern(Qt::red), WA::patterns() + "/grass.png"));
        const QByteArray old = WA::readAll(WA::patterns() + "/grass.png");
        const QString bad = sources->path() + '/' + WA::field("name"), good = source("good.png");
        QVERIFY(WA::writeAll(bad, "just some notes, not an image\n"));
        WA::Session s;
        s.prompts->answers << QMessageBox::Yes; // replace grass.png
        import(s, {bad, good});
        QCOMPARE(WA::filesIn(WA::patterns()), QStringList({"good.png", "grass.png"}));
        QCOMPARE(WA::readAll(WA::patterns() + "/grass.png"), old);
        const QString warning = WA::onlyWarning(*s.prompts);
        QVERIFY2(WA::namesFileAndReason(warning, bad) && !warning.contains(good),
                 qPrintable(warning));
    }

    void deleteFailure_reportsFileAndReason()
    {
        const QString victim = WA::patterns() + "/b.png";
        QVERIFY(WA::save(WA::pattern(Qt::red), victim));
        WA::Session s;
        showPage(s, 1);
        // Swapped for a folder with something in it while the list shows the file.
        QVERIFY(QFile::remove(victim) && QDir().mkpath(victim));
        QVERIFY(WA::writeAll(victim + "/keep.txt", "keep"));
        s.prompts->menuChoices << "delete";
        s.prompts->answers << QMessageBox::Yes;
        rightClick(s, 1, 0);
        const QString warning = WA::onlyWarning(*s.prompts);
        QVERIFY2(WA::namesFileAndReason(warning, victim), qPrintable(warning));
        QVERIFY(QFileInfo::exists(victim + "/keep.txt"));
    }
};

QTEST_MAIN(TestAssetImportWindow)
#include "tst_assetimportwindow.moc"
