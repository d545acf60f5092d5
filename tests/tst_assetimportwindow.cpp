#include "mainwindow.h"
#include "scriptedprompts.h"
#include "testenv.h"
#include "tmpfsmount.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QTemporaryDir>
#include <QToolBox>
#include <QtTest>

#include <memory>

namespace {

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(QByteArray &out, quint32 value)
{
    out.append(char(value >> 24)).append(char(value >> 16)).append(char(value >> 8));
    out.append(char(value));
}

void appendChunk(QByteArray &out, const char *type, const QByteArray &data)
{
    appendBigEndian(out, quint32(data.size()));
    const QByteArray typed = QByteArray(type, 4) + data;
    out += typed;
    appendBigEndian(out, crc32(typed));
}

// A well-formed PNG of about 70 bytes whose header declares 60000 x 60000
// RGBA pixels: decoding it would ask for 14 GB.
QByteArray absurdPng()
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, 60000);
    appendBigEndian(header, 60000);
    header.append(char(8)).append(char(6)).append(char(0)).append(char(0)).append(char(0));
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", qCompress(QByteArray(64, '\0')).mid(4));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList toolTips(const QListWidget *list)
{
    QStringList tips;
    for (int row = 0; row < list->count(); ++row)
        tips << list->item(row)->toolTip();
    return tips;
}

// True when the text names the file and gives a reason after it.
bool namesFileAndReason(const QString &text, const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const int at = text.indexOf(native);
    if (at < 0)
        return false;
    const QString rest = text.mid(at + native.size());
    const int colon = rest.indexOf(':');
    return colon >= 0 && !rest.mid(colon + 1).trimmed().isEmpty();
}

QString describe(const ScriptedPrompts::Call &call)
{
    return call.title + " / " + call.text + " / " + call.details;
}

} // namespace

class TestAssetImportWindow : public QObject
{
    Q_OBJECT

private:
    struct Session
    {
        MainWindow window;
        ScriptedPrompts *prompts = nullptr;
        Session()
        {
            auto scripted = std::make_unique<ScriptedPrompts>();
            prompts = scripted.get();
            window.setPrompts(std::move(scripted));
        }
        QListWidget *list(int page) const
        {
            switch (page) {
            case 0:
                return window.ui->topsList;
            case 1:
                return window.ui->fillIcons;
            default:
                return window.ui->alphaMaskList;
            }
        }
        void importPatterns(const QStringList &paths)
        {
            QList<QUrl> urls;
            for (const QString &path : paths)
                urls << QUrl::fromLocalFile(path);
            prompts->fileUrls.enqueue(urls);
            window.ui->actionPatterns->trigger();
        }
        bool drop(const QStringList &paths)
        {
            QMimeData mime;
            QList<QUrl> urls;
            for (const QString &path : paths)
                urls << QUrl::fromLocalFile(path);
            mime.setUrls(urls);
            QDropEvent event(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            // Sent through the application, a drop reaches only the widget
            // that accepted the drag's entry; the handler is what is tested.
            window.dropEvent(&event);
            return event.isAccepted();
        }
        bool show()
        {
            window.show();
            return QTest::qWaitForWindowExposed(&window);
        }
        // The list of the page, shown, with its items laid out.
        QListWidget *showPage(int page)
        {
            window.ui->toolBox->setCurrentIndex(page);
            if (!show())
                return nullptr;
            QListWidget *shown = list(page);
            QCoreApplication::processEvents();
            return shown;
        }
        void rightClick(QListWidget *shown, const QPoint &viewportPos)
        {
            emit shown->customContextMenuRequested(viewportPos);
        }
        void rightClickRow(QListWidget *shown, int row)
        {
            rightClick(shown, shown->visualItemRect(shown->item(row)).center());
        }
    };

    static QString assetDirForPage(int page)
    {
        return page == 0   ? WindowAssets::topStyles()
               : page == 1 ? WindowAssets::patterns()
                           : WindowAssets::alpha();
    }

    // A PNG in the source folder (outside the library), drawn in a colour.
    QString source(const QString &name, const QColor &colour = QColor(40, 90, 200))
    {
        const QString path = sources->path() + '/' + name;
        QDir().mkpath(QFileInfo(path).path());
        return WindowAssets::writeAll(path, pngBytes(WindowAssets::pattern(colour))) ? path
                                                                                     : QString();
    }
    QString rawSource(const QString &name, const QByteArray &bytes)
    {
        const QString path = sources->path() + '/' + name;
        return WindowAssets::writeAll(path, bytes) ? path : QString();
    }

    std::unique_ptr<QTemporaryDir> sources;

private slots:
    void init();
    void cleanup();

    void importCommand_asksAndCopiesIntoItsKind_data();
    void importCommand_asksAndCopiesIntoItsKind();
    void importCommandCancelled_copiesNothing();
    void namingSequence_noNoCancelYes();
    void upperCaseName_newNameKeepsSuffix();
    void cancelOnMiddleFile_copiesFirstAndThird();
    void lastImportLocation_fromLastChosenFile_data();
    void lastImportLocation_fromLastChosenFile();
    void lastImportLocation_unchangedByDrop();
    void drop_copiesIntoCurrentPageAndReloads_data();
    void drop_copiesIntoCurrentPageAndReloads();
    void dragEnter_onlyOverVisibleList_data();
    void dragEnter_onlyOverVisibleList();
    void dragEnter_withoutUrls_refused();
    void rightClickEmptyArea_showsNoMenu();
    void rightClickIcon_selectsBeforeMenu();
    void deleteAnsweredNo_keepsFileAndList();
    void deleteAnsweredYes_removesFileAndReloads_data();
    void deleteAnsweredYes_removesFileAndReloads();
    void importRefused_reportsFileAndReason_data();
    void importRefused_reportsFileAndReason();
    void replaceWithBrokenFile_keepsOldFile();
    void importIntoReadOnlyFolder_reported();
    void deleteFailure_directoryInPlace_reported();
    void deleteFailure_readOnlyFolder_reported();
};

void TestAssetImportWindow::init()
{
    TestEnv::resetSettings();
    QVERIFY(WindowAssets::makeEmpty());
    QVERIFY(WindowAssets::save(WindowAssets::topShape(QColor(60, 150, 40)),
                               WindowAssets::topStyles() + "/hill.png"));
    QVERIFY(WindowAssets::save(WindowAssets::mask(), WindowAssets::alpha() + "/slope.png"));
    sources = std::make_unique<QTemporaryDir>();
    QVERIFY(sources->isValid());
}

void TestAssetImportWindow::cleanup()
{
    sources.reset();
    QVERIFY(WindowAssets::removeAll());
}

void TestAssetImportWindow::importCommand_asksAndCopiesIntoItsKind_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("directory");
    QTest::newRow("top shapes") << "actionTop_Shapes"
                                << "Top Shapes" << WindowAssets::topStyles();
    QTest::newRow("patterns") << "actionPatterns"
                              << "Patterns" << WindowAssets::patterns();
    QTest::newRow("alpha masks") << "actionAlphaMasks"
                                 << "Alpha Masks" << WindowAssets::alpha();
}

void TestAssetImportWindow::importCommand_asksAndCopiesIntoItsKind()
{
    QFETCH(QString, action);
    QFETCH(QString, caption);
    QFETCH(QString, directory);
    const QString file = source("new one.png");
    Session s;
    const QStringList before = filesIn(directory);
    s.prompts->fileUrls.enqueue({QUrl::fromLocalFile(file)});
    QAction *command = s.window.findChild<QAction *>(action);
    QVERIFY(command);
    command->trigger();

    const QList<ScriptedPrompts::Call> dialogs = s.prompts->callsOf("getOpenFileUrls");
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs.first().parent, &s.window);
    QCOMPARE(dialogs.first().title, caption);
    QCOMPARE(dialogs.first().directory, QUrl(QDir::homePath(), QUrl::TolerantMode).toString());
    QCOMPARE(dialogs.first().filter, QStringLiteral("PNG (*.png)"));
    QCOMPARE(s.prompts->kinds(), QStringList{"getOpenFileUrls"});
    QStringList expected = before + QStringList{"new one.png"};
    expected.sort();
    QCOMPARE(filesIn(directory), expected);
    QCOMPARE(WindowAssets::readAll(directory + "/new one.png"), WindowAssets::readAll(file));
}

void TestAssetImportWindow::importCommandCancelled_copiesNothing()
{
    Session s;
    s.prompts->fileUrls.enqueue({});
    s.window.ui->actionPatterns->trigger();
    QCOMPARE(s.prompts->kinds(), QStringList{"getOpenFileUrls"});
    QVERIFY(filesIn(WindowAssets::patterns()).isEmpty());
    QCOMPARE(s.window.lastImportDirectory, QDir::homePath());
}

void TestAssetImportWindow::namingSequence_noNoCancelYes()
{
    const QString dir = WindowAssets::patterns();
    const QString grass = source("grass.png", QColor(30, 160, 30));
    const QByteArray first = WindowAssets::readAll(grass);
    Session s;

    s.importPatterns({grass});
    QVERIFY(s.prompts->callsOf("question").isEmpty());
    QCOMPARE(filesIn(dir), QStringList{"grass.png"});

    s.prompts->answers.enqueue(QMessageBox::No);
    s.importPatterns({grass});
    const QList<ScriptedPrompts::Call> questions = s.prompts->callsOf("question");
    QCOMPARE(questions.size(), 1);
    QCOMPARE(questions.first().parent, &s.window);
    QCOMPARE(questions.first().title, QStringLiteral("File Copy"));
    QCOMPARE(questions.first().text,
             QStringLiteral("The file 'grass.png' already exists. Replace it?"));
    QCOMPARE(
        questions.first().buttons,
        QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel));
    QCOMPARE(questions.first().defaultButton, QMessageBox::Cancel);
    QCOMPARE(filesIn(dir), (QStringList{"grass.png", "grass1.png"}));
    QCOMPARE(WindowAssets::readAll(dir + "/grass1.png"), first);

    s.prompts->answers.enqueue(QMessageBox::No);
    s.importPatterns({grass});
    QCOMPARE(filesIn(dir), (QStringList{"grass.png", "grass1.png", "grass2.png"}));

    s.prompts->answers.enqueue(QMessageBox::Cancel);
    s.importPatterns({grass});
    QCOMPARE(filesIn(dir), (QStringList{"grass.png", "grass1.png", "grass2.png"}));

    const QString greener = source("grass.png", QColor(0, 255, 0));
    const QByteArray second = WindowAssets::readAll(greener);
    QVERIFY(second != first);
    s.prompts->answers.enqueue(QMessageBox::Yes);
    s.importPatterns({greener});
    QCOMPARE(filesIn(dir), (QStringList{"grass.png", "grass1.png", "grass2.png"}));
    QCOMPARE(WindowAssets::readAll(dir + "/grass.png"), second);
    QCOMPARE(WindowAssets::readAll(dir + "/grass1.png"), first);

    QCOMPARE(s.prompts->callsOf("question").size(), 4);
    QVERIFY(s.prompts->callsOf("warning").isEmpty());
    QVERIFY(s.prompts->allScripted());
    // The directory watch brings the list up to date.
    QTRY_COMPARE(toolTips(s.window.ui->fillIcons),
                 (QStringList{"grass.png", "grass1.png", "grass2.png"}));
}

void TestAssetImportWindow::upperCaseName_newNameKeepsSuffix()
{
    const QString grass = source("GRASS.PNG");
    Session s;
    s.importPatterns({grass});
    QCOMPARE(filesIn(WindowAssets::patterns()), QStringList{"GRASS.PNG"});
    s.prompts->answers.enqueue(QMessageBox::No);
    s.importPatterns({grass});
    QCOMPARE(s.prompts->callsOf("question").size(), 1);
    QCOMPARE(s.prompts->callsOf("question").first().text,
             QStringLiteral("The file 'GRASS.PNG' already exists. Replace it?"));
    QCOMPARE(filesIn(WindowAssets::patterns()), (QStringList{"GRASS.PNG", "GRASS.PNG1.png"}));
}

void TestAssetImportWindow::cancelOnMiddleFile_copiesFirstAndThird()
{
    const QString dir = WindowAssets::patterns();
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::red), dir + "/b.png"));
    const QByteArray oldB = WindowAssets::readAll(dir + "/b.png");
    const QStringList chosen = {source("a.png"), source("b.png"), source("c.png")};
    Session s;
    s.prompts->answers.enqueue(QMessageBox::Cancel);
    s.importPatterns(chosen);

    QCOMPARE(s.prompts->callsOf("question").size(), 1);
    QCOMPARE(s.prompts->callsOf("question").first().text,
             QStringLiteral("The file 'b.png' already exists. Replace it?"));
    QCOMPARE(filesIn(dir), (QStringList{"a.png", "b.png", "c.png"}));
    QCOMPARE(WindowAssets::readAll(dir + "/a.png"), WindowAssets::readAll(chosen.at(0)));
    QCOMPARE(WindowAssets::readAll(dir + "/b.png"), oldB);
    QCOMPARE(WindowAssets::readAll(dir + "/c.png"), WindowAssets::readAll(chosen.at(2)));
    QVERIFY(s.prompts->callsOf("warning").isEmpty());
}

void TestAssetImportWindow::lastImportLocation_fromLastChosenFile_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("copied");
    QTest::newRow("last is a png")
        << QStringList{"a.png", "b.png"} << QStringList{"a.png", "b.png"};
    QTest::newRow("last skipped for its suffix")
        << QStringList{"a.png", "notes.jpg"} << QStringList{"a.png"};
    QTest::newRow("blanks and percent in the path")
        << QStringList{"my folder/100% moss.png"} << QStringList{"100% moss.png"};
}

void TestAssetImportWindow::lastImportLocation_fromLastChosenFile()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, copied);
    QStringList chosen;
    for (const QString &name : names)
        chosen << source(name);
    Session s;
    s.importPatterns(chosen);
    QCOMPARE(filesIn(WindowAssets::patterns()), copied);
    QCOMPARE(s.window.lastImportDirectory, chosen.last());

    // The next import dialog opens there, and closing the window keeps it.
    s.prompts->fileUrls.enqueue({});
    s.window.ui->actionTop_Shapes->trigger();
    QCOMPARE(s.prompts->callsOf("getOpenFileUrls").last().directory,
             QUrl(chosen.last(), QUrl::TolerantMode).toString());
    s.window.close();
    QCOMPARE(TestEnv::settings().value("lastImportDirectory").toString(), chosen.last());
}

void TestAssetImportWindow::lastImportLocation_unchangedByDrop()
{
    const QString viaDialog = source("first.png");
    const QString viaDrop = source("elsewhere/dropped.png");
    Session s;
    s.importPatterns({viaDialog});
    QCOMPARE(s.window.lastImportDirectory, viaDialog);
    s.window.ui->toolBox->setCurrentIndex(1);
    QVERIFY(s.drop({viaDrop}));
    QVERIFY(QFileInfo::exists(WindowAssets::patterns() + "/dropped.png"));
    QCOMPARE(s.window.lastImportDirectory, viaDialog);
}

void TestAssetImportWindow::drop_copiesIntoCurrentPageAndReloads_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("copied");
    QTest::newRow("upper-case suffix onto patterns") << 1 << "STONE.PNG" << true;
    QTest::newRow("jpg skipped, list still reloaded") << 1 << "stone.jpg" << false;
    QTest::newRow("onto the top shapes page") << 0 << "crest.png" << true;
    QTest::newRow("onto the alpha masks page") << 2 << "cave.png" << true;
}

void TestAssetImportWindow::drop_copiesIntoCurrentPageAndReloads()
{
    QFETCH(int, page);
    QFETCH(QString, name);
    QFETCH(bool, copied);
    const QString dropped = source(name);
    Session s;
    s.window.ui->toolBox->setCurrentIndex(page);
    const QString lastImport = s.window.lastImportDirectory;
    const QString dir = assetDirForPage(page);
    QStringList expected = filesIn(dir);
    // Written behind the window's back and without running the event loop,
    // so only an explicit reload can show it.
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::blue), dir + "/zz_sneaked.png"));
    expected << "zz_sneaked.png";
    if (copied)
        expected << name;
    expected.sort(Qt::CaseInsensitive);

    QVERIFY(s.drop({dropped}));
    QCOMPARE(filesIn(dir).size(), expected.size());
    QCOMPARE(toolTips(s.list(page)), expected);
    for (int other = 0; other < 3; ++other)
        if (other != page)
            QVERIFY(!QFileInfo::exists(assetDirForPage(other) + '/' + name));
    QCOMPARE(s.window.lastImportDirectory, lastImport);
    QVERIFY(s.prompts->calls.isEmpty());
}

void TestAssetImportWindow::dragEnter_onlyOverVisibleList_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("accepted");
    for (int page = 0; page < 3; ++page) {
        const QByteArray p = "page " + QByteArray::number(page) + ": ";
        QTest::newRow(p + "middle of the list") << page << "middle" << true;
        QTest::newRow(p + "bottom-right edge of the list") << page << "corner" << true;
        QTest::newRow(p + "just outside the list") << page << "outside" << false;
        QTest::newRow(p + "the page's title") << page << "title" << false;
        QTest::newRow(p + "the preview") << page << "preview" << false;
    }
}

void TestAssetImportWindow::dragEnter_onlyOverVisibleList()
{
    QFETCH(int, page);
    QFETCH(QString, where);
    QFETCH(bool, accepted);
    const QPoint probe(123, 45);
    QCursor::setPos(probe);
    if (QCursor::pos() != probe)
        QSKIP("this platform plugin cannot place the cursor");

    Session s;
    QListWidget *list = s.showPage(page);
    QVERIFY(list && list->isVisible());
    QPoint global;
    if (where == "middle") {
        global = list->mapToGlobal(list->rect().center());
    } else if (where == "corner") {
        global = list->mapToGlobal(list->rect().bottomRight());
    } else if (where == "outside") {
        global = list->mapToGlobal(list->rect().bottomRight() + QPoint(1, 1));
    } else if (where == "title") {
        QAbstractButton *title = nullptr;
        for (QAbstractButton *button : s.window.ui->toolBox->findChildren<QAbstractButton *>())
            if (button->isVisible() && button->text() == s.window.ui->toolBox->itemText(page))
                title = button;
        QVERIFY(title);
        global = title->mapToGlobal(title->rect().center());
    } else {
        QWidget *preview = s.window.ui->spritePreviewWidget;
        global = preview->mapToGlobal(preview->rect().center());
    }
    QCursor::setPos(global);
    QCOMPARE(QCursor::pos(), global);

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(source("a.png"))});
    QDragEnterEvent event(s.window.mapFromGlobal(global), Qt::CopyAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(&s.window, &event);
    QCOMPARE(event.isAccepted(), accepted);
    if (accepted)
        QCOMPARE(event.dropAction(), Qt::CopyAction);
}

void TestAssetImportWindow::dragEnter_withoutUrls_refused()
{
    Session s;
    QListWidget *list = s.showPage(1);
    QVERIFY(list);
    const QPoint global = list->mapToGlobal(list->rect().center());
    QCursor::setPos(global);
    QMimeData mime;
    mime.setText(source("a.png"));
    QDragEnterEvent event(s.window.mapFromGlobal(global), Qt::CopyAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(&s.window, &event);
    QVERIFY(!event.isAccepted());
}

void TestAssetImportWindow::rightClickEmptyArea_showsNoMenu()
{
    QVERIFY(
        WindowAssets::save(WindowAssets::pattern(Qt::red), WindowAssets::patterns() + "/a.png"));
    Session s;
    QListWidget *list = s.showPage(1);
    QVERIFY(list);
    const QPoint empty = list->viewport()->rect().bottomRight() - QPoint(3, 3);
    QVERIFY(!list->indexAt(empty).isValid());
    s.rightClick(list, empty);
    QVERIFY(s.prompts->calls.isEmpty());
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(s.window.style().topPattern.fileName().isEmpty());
}

void TestAssetImportWindow::rightClickIcon_selectsBeforeMenu()
{
    QVERIFY(
        WindowAssets::save(WindowAssets::pattern(Qt::red), WindowAssets::patterns() + "/a.png"));
    QVERIFY(
        WindowAssets::save(WindowAssets::pattern(Qt::blue), WindowAssets::patterns() + "/b.png"));
    Session s;
    QListWidget *list = s.showPage(1);
    QVERIFY(list);
    QCOMPARE(list->count(), 2);

    bool selected = false;
    int selectedCount = -1;
    QString patternInDesign;
    QStringList offered;
    s.prompts->onMenu = [&](QMenu *menu) {
        selected = list->item(1)->isSelected();
        selectedCount = list->selectedItems().size();
        patternInDesign = s.window.style().topPattern.fileName();
        for (QAction *action : menu->actions())
            offered << action->text() + '=' + action->data().toString();
    };
    s.prompts->menuChoices.enqueue(QString()); // closed without a choice
    s.rightClickRow(list, 1);

    QCOMPARE(s.prompts->kinds(), QStringList{"execMenu"});
    QVERIFY(selected);
    QCOMPARE(selectedCount, 1);
    QCOMPARE(patternInDesign, QStringLiteral("b.png"));
    QCOMPARE(offered, QStringList{"Delete=delete"});
    QCOMPARE(filesIn(WindowAssets::patterns()), (QStringList{"a.png", "b.png"}));
}

void TestAssetImportWindow::deleteAnsweredNo_keepsFileAndList()
{
    QVERIFY(
        WindowAssets::save(WindowAssets::pattern(Qt::red), WindowAssets::patterns() + "/a.png"));
    QVERIFY(
        WindowAssets::save(WindowAssets::pattern(Qt::blue), WindowAssets::patterns() + "/b.png"));
    Session s;
    QListWidget *list = s.showPage(1);
    QVERIFY(list);
    QListWidgetItem *first = list->item(0);
    s.prompts->menuChoices.enqueue("delete");
    s.prompts->answers.enqueue(QMessageBox::No);
    s.rightClickRow(list, 1);

    const QList<ScriptedPrompts::Call> questions = s.prompts->callsOf("question");
    QCOMPARE(questions.size(), 1);
    QCOMPARE(questions.first().parent, &s.window);
    QCOMPARE(questions.first().title, QStringLiteral("Delete"));
    QCOMPARE(questions.first().text, QStringLiteral("Are you sure you want to delete 'b.png'?"));
    QCOMPARE(questions.first().buttons,
             QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
    QCOMPARE(questions.first().defaultButton, QMessageBox::No);
    QCOMPARE(filesIn(WindowAssets::patterns()), (QStringList{"a.png", "b.png"}));
    // Not rebuilt: the same item objects are still there.
    QCOMPARE(list->item(0), first);
    QCOMPARE(toolTips(list), (QStringList{"a.png", "b.png"}));
    QCOMPARE(s.prompts->kinds(), (QStringList{"execMenu", "question"}));
}

void TestAssetImportWindow::deleteAnsweredYes_removesFileAndReloads_data()
{
    QTest::addColumn<int>("page");
    QTest::newRow("top shapes") << 0;
    QTest::newRow("patterns") << 1;
    QTest::newRow("alpha masks") << 2;
}

void TestAssetImportWindow::deleteAnsweredYes_removesFileAndReloads()
{
    QFETCH(int, page);
    const QString dir = assetDirForPage(page);
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::red), dir + "/victim.png"));
    Session s;
    QListWidget *list = s.showPage(page);
    QVERIFY(list);
    QStringList before = toolTips(list);
    const int row = before.indexOf("victim.png");
    QVERIFY(row >= 0);
    before.removeAt(row);
    s.prompts->menuChoices.enqueue("delete");
    s.prompts->answers.enqueue(QMessageBox::Yes);
    s.rightClickRow(list, row);

    QVERIFY(!QFileInfo::exists(dir + "/victim.png"));
    // Reloaded at once, not only when the directory watch gets round to it.
    QCOMPARE(toolTips(list), before);
    QCOMPARE(s.prompts->kinds(), (QStringList{"execMenu", "question"}));
}

void TestAssetImportWindow::importRefused_reportsFileAndReason_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text named .png") << QByteArray("just some notes, not an image\n");
    QTest::newRow("header declaring 60000 x 60000") << absurdPng();
    QTest::newRow("truncated png") << pngBytes(WindowAssets::pattern(Qt::red)).left(60);
    QTest::newRow("empty file") << QByteArray("");
}

void TestAssetImportWindow::importRefused_reportsFileAndReason()
{
    QFETCH(QByteArray, content);
    const QString good = source("good.png");
    const QString bad = rawSource("bad.png", content);
    QVERIFY(!bad.isEmpty());
    Session s;
    s.importPatterns({good, bad});

    QCOMPARE(filesIn(WindowAssets::patterns()), QStringList{"good.png"});
    const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first().parent, &s.window);
    const QString shown = warnings.first().text + '\n' + warnings.first().details;
    QVERIFY2(namesFileAndReason(shown, bad), qPrintable(describe(warnings.first())));
    QVERIFY2(!shown.contains(good), qPrintable(describe(warnings.first())));
}

void TestAssetImportWindow::replaceWithBrokenFile_keepsOldFile()
{
    const QString dir = WindowAssets::patterns();
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::red), dir + "/grass.png"));
    const QByteArray old = WindowAssets::readAll(dir + "/grass.png");
    const QString broken = rawSource("grass.png", absurdPng());
    Session s;
    s.prompts->answers.enqueue(QMessageBox::Yes);
    s.importPatterns({broken});

    QCOMPARE(s.prompts->callsOf("question").size(), 1);
    QCOMPARE(WindowAssets::readAll(dir + "/grass.png"), old);
    QCOMPARE(filesIn(dir), QStringList{"grass.png"});
    const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(namesFileAndReason(warnings.first().text + '\n' + warnings.first().details, broken),
             qPrintable(describe(warnings.first())));
}

void TestAssetImportWindow::importIntoReadOnlyFolder_reported()
{
    if (!TmpfsMount::isRoot())
        QSKIP("needs root to mount a read-only tmpfs");
    const QString dir = WindowAssets::patterns();
    TmpfsMount mount(dir);
    QVERIFY(mount.mount());
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::red), dir + "/grass.png"));
    const QByteArray old = WindowAssets::readAll(dir + "/grass.png");
    QVERIFY(mount.remountReadOnly());
    const QString fresh = source("fresh.png");
    const QString replacement = source("grass.png", Qt::green);
    {
        Session s;
        s.prompts->answers.enqueue(QMessageBox::Yes);
        s.importPatterns({fresh, replacement});
        const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
        QCOMPARE(warnings.size(), 1);
        const QString shown = warnings.first().text + '\n' + warnings.first().details;
        QVERIFY2(namesFileAndReason(shown, fresh), qPrintable(describe(warnings.first())));
        QVERIFY2(namesFileAndReason(shown, replacement), qPrintable(describe(warnings.first())));
        QCOMPARE(filesIn(dir), QStringList{"grass.png"});
        QCOMPARE(WindowAssets::readAll(dir + "/grass.png"), old);
    }
}

void TestAssetImportWindow::deleteFailure_directoryInPlace_reported()
{
    const QString dir = WindowAssets::patterns();
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::red), dir + "/a.png"));
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::blue), dir + "/b.png"));
    Session s;
    QListWidget *list = s.showPage(1);
    QVERIFY(list);
    QCOMPARE(toolTips(list), (QStringList{"a.png", "b.png"}));
    // Swapped for a folder of the same name while the list still shows the
    // file; a folder with something in it cannot be removed like a file.
    QVERIFY(QFile::remove(dir + "/b.png"));
    QVERIFY(QDir().mkpath(dir + "/b.png"));
    QVERIFY(WindowAssets::writeAll(dir + "/b.png/keep.txt", "keep"));

    s.prompts->menuChoices.enqueue("delete");
    s.prompts->answers.enqueue(QMessageBox::Yes);
    s.rightClickRow(list, 1);

    const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first().parent, &s.window);
    QVERIFY2(
        namesFileAndReason(warnings.first().text + '\n' + warnings.first().details, dir + "/b.png"),
        qPrintable(describe(warnings.first())));
    QVERIFY(QFileInfo::exists(dir + "/b.png/keep.txt"));
    QCOMPARE(toolTips(list), QStringList{"a.png"});
}

void TestAssetImportWindow::deleteFailure_readOnlyFolder_reported()
{
    if (!TmpfsMount::isRoot())
        QSKIP("needs root to mount a read-only tmpfs");
    const QString dir = WindowAssets::patterns();
    TmpfsMount mount(dir);
    QVERIFY(mount.mount());
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::red), dir + "/a.png"));
    QVERIFY(WindowAssets::save(WindowAssets::pattern(Qt::blue), dir + "/b.png"));
    {
        Session s;
        QListWidget *list = s.showPage(1);
        QVERIFY(list);
        QVERIFY(mount.remountReadOnly());
        s.prompts->menuChoices.enqueue("delete");
        s.prompts->answers.enqueue(QMessageBox::Yes);
        s.rightClickRow(list, 1);

        const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(namesFileAndReason(warnings.first().text + '\n' + warnings.first().details,
                                    dir + "/b.png"),
                 qPrintable(describe(warnings.first())));
        QVERIFY(QFileInfo::exists(dir + "/b.png"));
        QCOMPARE(toolTips(list), (QStringList{"a.png", "b.png"}));
    }
}

QTEST_MAIN(TestAssetImportWindow)
#include "tst_assetimportwindow.moc"
