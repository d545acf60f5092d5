#include "mainwindow.h"
#include "scriptedprompts.h"
#include "testenv.h"
#include "tilepreview.h"
#include "tmpfsmount.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QString title(const QString &fileName)
{
    return QStringLiteral("Tilewright - ") + fileName;
}

// A project document with the given elements, in the given order, under the
// given root.
QByteArray document(const QList<QPair<QString, QString>> &fields,
                    const QString &root = QStringLiteral("project"))
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root.toUtf8() + ">\n";
    for (const auto &field : fields)
        xml += "    <" + field.first.toUtf8() + '>' + field.second.toHtmlEscaped().toUtf8() + "</" +
               field.first.toUtf8() + ">\n";
    return xml + "</" + root.toUtf8() + ">\n";
}

QString patternPath(const QFileInfo &pattern)
{
    return pattern.fileName().isEmpty() ? QString() : pattern.path() + '/' + pattern.fileName();
}

// True when details name the file and give a reason after it.
bool namesFileAndReason(const QString &details, const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const int at = details.indexOf(native);
    if (at < 0)
        return false;
    const QString rest = details.mid(at + native.size());
    const int colon = rest.indexOf(':');
    return colon >= 0 && !rest.mid(colon + 1).trimmed().isEmpty();
}

} // namespace

class TestProjectCommands : public QObject
{
    Q_OBJECT

private:
    // A window whose questions are answered by the test.
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
        void saveAs(const QString &name)
        {
            prompts->fileNames.enqueue(name);
            window.ui->action_Save_As->trigger();
        }
        void save() { window.ui->action_Save->trigger(); }
        void open(const QString &name)
        {
            prompts->fileNames.enqueue(name);
            window.ui->action_Open_2->trigger();
        }
        void newDesign() { window.ui->actionNew->trigger(); }
        // A change of the design through the editor, as a person makes it.
        void edit()
        {
            QSpinBox *spin = window.opacitySpin;
            spin->setValue(spin->value() == 50 ? 60 : 50);
        }
        int propertyRow(const QString &label) const
        {
            const QTableWidget *table = window.ui->propertiesEditor;
            for (int row = 0; row < table->rowCount(); ++row)
                if (table->item(row, 0) && table->item(row, 0)->text() == label)
                    return row;
            return -1;
        }
        QString propertyText(const QString &label) const
        {
            const int row = propertyRow(label);
            const QTableWidgetItem *item =
                row < 0 ? nullptr : window.ui->propertiesEditor->item(row, 1);
            return item ? item->text() : QStringLiteral("(no row %1)").arg(label);
        }
        QImage previewTile() const
        {
            const QListWidgetItem *item = window.ui->spritePreviewWidget->item(0);
            if (!item)
                return QImage();
            return item->icon()
                .pixmap(TilePreview::TileSize, TilePreview::TileSize)
                .toImage()
                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        }
    };

    QString path(const QString &name) const { return temp->path() + '/' + name; }
    bool write(const QString &name, const QByteArray &bytes) const
    {
        return WindowAssets::writeAll(path(name), bytes);
    }

    std::unique_ptr<QTemporaryDir> temp;

private slots:
    void init();
    void cleanup();

    void saveAs_appendsExtensionUnlessTwr_data();
    void saveAs_appendsExtensionUnlessTwr();
    void startupDesign_savedAsExample();
    void cancelledDialogs_changeNothing();
    void title_afterOpenEditAndNew();
    void appPlaceholder_opensWithAppDirSavesFullPath();
    void fileWithoutProject_showsErrorKeepsReadValues();
    void topDownText_data();
    void topDownText();
    void failedOpen_keepsPathAndTitle_data();
    void failedOpen_keepsPathAndTitle();
    void hostileFile_refusedQuickly_data();
    void hostileFile_refusedQuickly();
    void lastProjectDirectory_followsSaveAndOpen();
    void saveFailure_reportsAndKeepsState_data();
    void saveFailure_reportsAndKeepsState();
    void saveOnRestrictedDisk_keepsOldFile_data();
    void saveOnRestrictedDisk_keepsOldFile();
    void savedDesign_reopensIdentical();
};

void TestProjectCommands::init()
{
    TestEnv::resetSettings();
    QVERIFY(WindowAssets::makeEmpty());
    QVERIFY(WindowAssets::save(WindowAssets::topShape(QColor(60, 150, 40)),
                               WindowAssets::topStyles() + "/hill.png"));
    QVERIFY(WindowAssets::save(WindowAssets::topShape(QColor(230, 230, 250)),
                               WindowAssets::topStyles() + "/ridge.png"));
    QVERIFY(WindowAssets::save(WindowAssets::pattern(QColor(20, 20, 20, 200)),
                               WindowAssets::patterns() + "/checks.png"));
    QVERIFY(WindowAssets::save(WindowAssets::pattern(QColor(250, 250, 250, 180), 8),
                               WindowAssets::patterns() + "/stripes.png"));
    QVERIFY(WindowAssets::save(WindowAssets::mask(), WindowAssets::alpha() + "/slope.png"));
    temp = std::make_unique<QTemporaryDir>();
    QVERIFY(temp->isValid());
}

void TestProjectCommands::cleanup()
{
    temp.reset();
    QVERIFY(WindowAssets::removeAll());
}

void TestProjectCommands::saveAs_appendsExtensionUnlessTwr_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("saved");
    QTest::newRow("no extension") << "a"
                                  << "a.twr";
    QTest::newRow("lower case") << "a.twr"
                                << "a.twr";
    QTest::newRow("upper case") << "a.TWR"
                                << "a.TWR";
    QTest::newRow("mixed case") << "a.Twr"
                                << "a.Twr";
    QTest::newRow("twr not last") << "a.twr.bak"
                                  << "a.twr.bak.twr";
}

void TestProjectCommands::saveAs_appendsExtensionUnlessTwr()
{
    QFETCH(QString, typed);
    QFETCH(QString, saved);
    Session s;
    s.edit();
    s.saveAs(path(typed));

    const QList<ScriptedPrompts::Call> dialogs = s.prompts->callsOf("getSaveFileName");
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs.first().parent, &s.window);
    QCOMPARE(dialogs.first().title, QStringLiteral("Save Project"));
    QCOMPARE(dialogs.first().directory, QDir::homePath() + "/Untitled.twr");
    QCOMPARE(dialogs.first().filter, QStringLiteral("Project files (*.twr)"));

    QCOMPARE(QDir(temp->path()).entryList(QDir::Files), QStringList{saved});
    QCOMPARE(s.window.currentProjectFilePath(), path(saved));
    QVERIFY(!s.window.isModified());
    QCOMPARE(s.window.windowTitle(), title(saved));
    QCOMPARE(s.prompts->kinds(), QStringList{"getSaveFileName"});
}

void TestProjectCommands::startupDesign_savedAsExample()
{
    Session s;
    // Save with no file yet goes through Save As.
    s.save();
    QCOMPARE(s.prompts->kinds(), QStringList{"getSaveFileName"});
    s.saveAs(path("start"));

    const QByteArray expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<project>\n"
                                "    <topStyle>" +
                                WindowAssets::topStyles().toUtf8() +
                                "/hill.png</topStyle>\n"
                                "    <topColor>#80be1f</topColor>\n"
                                "    <topOpacity>1</topOpacity>\n"
                                "    <topPattern></topPattern>\n"
                                "    <topPatternColor>#80be1f</topPatternColor>\n"
                                "    <topPatternOpacity>0.4</topPatternOpacity>\n"
                                "    <bottomColor>#c39366</bottomColor>\n"
                                "    <bottomOpacity>1</bottomOpacity>\n"
                                "    <bottomPattern></bottomPattern>\n"
                                "    <bottomPatternColor>#c39366</bottomPatternColor>\n"
                                "    <bottomPatternColorOpacity>1</bottomPatternColorOpacity>\n"
                                "    <bottomPatternOpacity>0.4</bottomPatternOpacity>\n"
                                "    <topDown>0</topDown>\n"
                                "</project>\n";
    QCOMPARE(WindowAssets::readAll(path("start.twr")), expected);
}

void TestProjectCommands::cancelledDialogs_changeNothing()
{
    Session s;
    s.edit();
    const QString before = s.window.windowTitle();
    s.prompts->fileNames.enqueue(QString());
    s.window.ui->action_Save_As->trigger();
    s.prompts->fileNames.enqueue(QString());
    s.window.ui->action_Open_2->trigger();

    QCOMPARE(s.prompts->kinds(), (QStringList{"getSaveFileName", "getOpenFileName"}));
    QVERIFY(s.window.isModified());
    QVERIFY(s.window.currentProjectFilePath().isEmpty());
    QCOMPARE(s.window.windowTitle(), before);
    QVERIFY(QDir(temp->path()).isEmpty());
    QCOMPARE(s.window.lastProjectDirectory, QDir::homePath());
}

void TestProjectCommands::title_afterOpenEditAndNew()
{
    const QString ridge = WindowAssets::topStyles() + "/ridge.png";
    QVERIFY(
        write("design.twr", document({{"topStyle", ridge},
                                      {"topColor", "#102030"},
                                      {"topPattern", WindowAssets::patterns() + "/checks.png"},
                                      {"bottomPattern", WindowAssets::patterns() + "/stripes.png"},
                                      {"bottomOpacity", "0.5"}})));
    Session s;
    s.open(path("design.twr"));
    QCOMPARE(s.window.windowTitle(), title("design.twr"));
    QVERIFY(!s.window.isModified());
    QCOMPARE(s.window.currentProjectFilePath(), path("design.twr"));
    QCOMPARE(s.propertyText("Pattern"), QStringLiteral("checks.png"));

    s.edit();
    QCOMPARE(s.window.windowTitle(), title("design.twr*"));

    s.window.ui->partSelection->setCurrentIndex(1);
    QCOMPARE(s.propertyText("Pattern"), QStringLiteral("stripes.png"));

    s.newDesign();
    QCOMPARE(s.window.windowTitle(), title("Untitled.twr"));
    QVERIFY(!s.window.isModified());
    QVERIFY(s.window.currentProjectFilePath().isEmpty());
    QCOMPARE(s.window.ui->partSelection->currentText(), QStringLiteral("Top"));
    QCOMPARE(s.propertyText("ID"), QStringLiteral("Top"));
    QCOMPARE(s.propertyText("Pattern"), QStringLiteral("<None>"));
    QCOMPARE(s.window.style().topStyle, ridge);
    QCOMPARE(s.window.style().topColor, QColor("#80be1f"));
    QCOMPARE(s.window.style().bottomOpacity, 1.0f);
    QVERIFY(s.window.style().topPattern.fileName().isEmpty());
    QVERIFY(s.window.style().bottomPattern.fileName().isEmpty());

    s.window.ui->partSelection->setCurrentIndex(1);
    QCOMPARE(s.propertyText("ID"), QStringLiteral("Bottom"));
    QCOMPARE(s.propertyText("Pattern"), QStringLiteral("<None>"));
    QVERIFY(s.prompts->callsOf("warning").isEmpty());
}

void TestProjectCommands::appPlaceholder_opensWithAppDirSavesFullPath()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    QVERIFY(write("app.twr", document({{"topStyle", "$app$/Assets/TopStyles/ridge.png"},
                                       {"topPattern", "$app$/Assets/Patterns/checks.png"},
                                       {"bottomPattern", ""}})));
    Session s;
    s.open(path("app.twr"));
    QVERIFY(s.prompts->callsOf("warning").isEmpty());
    QCOMPARE(s.window.style().topStyle, appDir + "/Assets/TopStyles/ridge.png");
    QCOMPARE(patternPath(s.window.style().topPattern), appDir + "/Assets/Patterns/checks.png");
    QVERIFY(s.window.style().bottomPattern.fileName().isEmpty());
    QCOMPARE(s.propertyText("Pattern"), QStringLiteral("checks.png"));

    s.save();
    QCOMPARE(s.prompts->kinds(), QStringList{"getOpenFileName"}); // Save asked nothing
    const QByteArray saved = WindowAssets::readAll(path("app.twr"));
    QVERIFY2(!saved.contains("$app$"), saved.constData());
    QVERIFY2(saved.contains("<topStyle>" + appDir.toUtf8() + "/Assets/TopStyles/ridge.png<"),
             saved.constData());
    QVERIFY2(saved.contains("<topPattern>" + appDir.toUtf8() + "/Assets/Patterns/checks.png<"),
             saved.constData());
}

void TestProjectCommands::fileWithoutProject_showsErrorKeepsReadValues()
{
    QVERIFY(write("design.twr",
                  document({{"topColor", "#123456"}, {"bottomOpacity", "0.25"}}, "design")));
    Session s;
    s.open(path("design.twr"));
    const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first().parent, &s.window);
    QCOMPARE(warnings.first().title, QStringLiteral("Loading Error"));
    QCOMPARE(warnings.first().text, QStringLiteral("The project could not be loaded."));
    QCOMPARE(s.window.style().topColor, QColor("#123456"));
    QCOMPARE(s.window.style().bottomOpacity, 0.25f);
    QVERIFY(s.window.currentProjectFilePath().isEmpty());
}

void TestProjectCommands::topDownText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("topDown");
    QTest::newRow("true") << "true" << false;
    QTest::newRow("2") << "2" << false;
    QTest::newRow("1") << "1" << true;
}

void TestProjectCommands::topDownText()
{
    QFETCH(QString, text);
    QFETCH(bool, topDown);
    QVERIFY(write("design.twr", document({{"topColor", "#405060"}, {"topDown", text}})));
    Session s;
    // Start from the opposite of "false", so a file that reads false has to
    // change something.
    s.window.repeatAtBottomCheck->setChecked(true);
    QVERIFY(s.window.style().topDown);
    s.open(path("design.twr"));
    QVERIFY(s.prompts->callsOf("warning").isEmpty());
    QCOMPARE(s.window.style().topDown, topDown);
    QCOMPARE(s.window.repeatAtBottomCheck->isChecked(), topDown);
    QVERIFY(!s.window.isModified());
    QCOMPARE(s.window.windowTitle(), title("design.twr"));
}

void TestProjectCommands::failedOpen_keepsPathAndTitle_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: no such file
    QTest::newRow("missing file") << "missing.twr" << QByteArray();
    QTest::newRow("no project element")
        << "other.twr" << document({{"topColor", "#010203"}}, "other");
    QTest::newRow("malformed") << "broken.twr"
                               << QByteArray("<project><topColor>#010203</topColor><topOpa");
    QTest::newRow("child inside a field")
        << "nested.twr" << QByteArray("<project><topColor><b>#010203</b></topColor></project>");
    QTest::newRow("empty file") << "empty.twr" << QByteArray("");
}

void TestProjectCommands::failedOpen_keepsPathAndTitle()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QVERIFY(write("good.twr", document({{"topColor", "#aabbcc"}, {"topDown", "0"}})));
    if (!content.isNull())
        QVERIFY(write(name, content));
    Session s;
    s.open(path("good.twr"));
    QCOMPARE(s.window.windowTitle(), title("good.twr"));

    s.open(path(name));
    const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first().title, QStringLiteral("Loading Error"));
    QCOMPARE(warnings.first().text, QStringLiteral("The project could not be loaded."));
    QCOMPARE(s.window.currentProjectFilePath(), path("good.twr"));
    QCOMPARE(s.window.windowTitle(), title("good.twr"));
}

void TestProjectCommands::hostileFile_refusedQuickly_data()
{
    QTest::addColumn<QByteArray>("content");

    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE project [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += "&l" + QByteArray::number(i - 1) + ';';
        laughs += "\">\n";
    }
    laughs += "]>\n<project><topStyle>&l9;</topStyle></project>\n";
    QTest::newRow("billion laughs") << laughs;

    // Small enough to pass the size limit, so the depth limit has to act.
    QTest::newRow("deep nesting") << "<project>" + QByteArray("<a>").repeated(15000) +
                                         "<topStyle>x</topStyle>";

    QTest::newRow("long text") << "<project><topStyle>" + QByteArray(60 * 1024, 'x') +
                                      "</topStyle></project>";

    QTest::newRow("huge file") << "<project><topStyle>" + QByteArray(20 * 1024 * 1024, 'x') +
                                      "</topStyle></project>";

    QByteArray garbage(4 * 1024 * 1024, '\0');
    QRandomGenerator random(7);
    for (char &byte : garbage)
        byte = char(random.bounded(256));
    QTest::newRow("binary garbage") << garbage;

    QTest::newRow("invalid encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><project><topStyle>\xff\xfe\xc0"
                      "</topStyle></project>");
}

void TestProjectCommands::hostileFile_refusedQuickly()
{
    QFETCH(QByteArray, content);
    QVERIFY(write("hostile.twr", content));
    content.clear();
    Session s;
    const QString topStyle = s.window.style().topStyle;
    QElapsedTimer timer;
    timer.start();
    s.open(path("hostile.twr"));
    // Generous on purpose: a reader without limits takes minutes or runs out
    // of memory here.
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first().text, QStringLiteral("The project could not be loaded."));
    QVERIFY(s.window.currentProjectFilePath().isEmpty());
    QVERIFY2(s.window.style().topStyle.size() < 1000, "an expanded or huge text was taken");
}

void TestProjectCommands::lastProjectDirectory_followsSaveAndOpen()
{
    QVERIFY(write("b.twr", document({{"topColor", "#abcdef"}})));
    Session s;
    s.saveAs(path("a"));
    QCOMPARE(s.window.lastProjectDirectory, path("a.twr"));
    QCOMPARE(TestEnv::settings().value("lastProjectDirectory").toString(), path("a.twr"));

    s.open(path("b.twr"));
    QCOMPARE(s.prompts->callsOf("getOpenFileName").first().directory, path("a.twr"));
    QCOMPARE(s.window.lastProjectDirectory, path("b.twr"));
    QCOMPARE(TestEnv::settings().value("lastProjectDirectory").toString(), path("b.twr"));

    s.saveAs(path("c.twr"));
    QCOMPARE(s.prompts->callsOf("getSaveFileName").last().directory,
             path("b.twr") + "/Untitled.twr");
    QCOMPARE(s.window.lastProjectDirectory, path("c.twr"));
}

void TestProjectCommands::saveFailure_reportsAndKeepsState_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("missing folder") << "missing/new.twr";
    QTest::newRow("folder is a file") << "plain/new.twr";
}

void TestProjectCommands::saveFailure_reportsAndKeepsState()
{
    QFETCH(QString, target);
    QVERIFY(write("plain", "not a folder"));
    Session s;
    s.saveAs(path("old.twr"));
    const QByteArray old = WindowAssets::readAll(path("old.twr"));
    QVERIFY(!old.isEmpty());
    s.edit();
    QCOMPARE(s.window.windowTitle(), title("old.twr*"));

    s.saveAs(path(target));
    const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings.first().parent, &s.window);
    QVERIFY2(
        namesFileAndReason(warnings.first().text + '\n' + warnings.first().details, path(target)),
        qPrintable(warnings.first().text + " / " + warnings.first().details));
    QVERIFY(s.window.isModified());
    QCOMPARE(s.window.currentProjectFilePath(), path("old.twr"));
    QCOMPARE(s.window.windowTitle(), title("old.twr*"));
    QVERIFY(!QFileInfo::exists(path(target)));
    QCOMPARE(WindowAssets::readAll(path("old.twr")), old);

    // The design is not lost: Save still goes to the file it came from.
    s.save();
    QCOMPARE(s.prompts->callsOf("warning").size(), 1);
    QVERIFY(!s.window.isModified());
    QCOMPARE(s.window.windowTitle(), title("old.twr"));
    QVERIFY(WindowAssets::readAll(path("old.twr")) != old);
}

void TestProjectCommands::saveOnRestrictedDisk_keepsOldFile_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("full disk") << false;
    QTest::newRow("read-only disk") << true;
}

void TestProjectCommands::saveOnRestrictedDisk_keepsOldFile()
{
    QFETCH(bool, readOnly);
    if (!TmpfsMount::isRoot())
        QSKIP("needs root to mount a small tmpfs");
    const QString disk = path("disk");
    QVERIFY(QDir().mkpath(disk));
    TmpfsMount mount(disk);
    QVERIFY(mount.mount());
    {
        Session s;
        s.saveAs(disk + "/proj.twr");
        const QByteArray old = WindowAssets::readAll(disk + "/proj.twr");
        QVERIFY(!old.isEmpty());
        QVERIFY(!s.window.isModified());
        if (readOnly)
            QVERIFY(mount.remountReadOnly());
        else
            QVERIFY(mount.fill());
        s.edit();

        s.save();
        const QList<ScriptedPrompts::Call> warnings = s.prompts->callsOf("warning");
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(namesFileAndReason(warnings.first().text + '\n' + warnings.first().details,
                                    disk + "/proj.twr"),
                 qPrintable(warnings.first().text + " / " + warnings.first().details));
        QVERIFY(s.window.isModified());
        QCOMPARE(s.window.windowTitle(), title("proj.twr*"));
        QCOMPARE(WindowAssets::readAll(disk + "/proj.twr"), old);
        QStringList expected{"proj.twr"};
        if (!readOnly)
            expected.prepend("filler");
        QCOMPARE(QDir(disk).entryList(QDir::Files | QDir::Hidden), expected);
    }
}

void TestProjectCommands::savedDesign_reopensIdentical()
{
    Session s;
    QTableWidget *table = s.window.ui->propertiesEditor;
    s.window.ui->topsList->item(1)->setSelected(true);  // ridge.png
    s.window.ui->fillIcons->item(0)->setSelected(true); // checks.png for Top
    s.prompts->colors.enqueue(QColor("#3366aa"));
    emit table->doubleClicked(table->model()->index(s.propertyRow("Color"), 1));
    s.window.opacitySpin->setValue(70);
    s.window.patternOpacitySpin->setValue(55);
    s.window.repeatAtBottomCheck->setChecked(true);

    s.window.ui->partSelection->setCurrentIndex(1);
    s.window.ui->fillIcons->item(1)->setSelected(true); // stripes.png for Bottom
    s.prompts->colors.enqueue(QColor("#aa5522"));
    emit table->doubleClicked(table->model()->index(s.propertyRow("Pattern Color"), 1));
    s.window.opacitySpin->setValue(90);
    s.window.patternOpacitySpin->setValue(35);
    // Only the Bottom part's pattern-colour opacity is kept in a project
    // file, so the Top part's stays at its default here.
    s.window.patternColorOpacitySpin->setValue(65);
    QVERIFY(s.prompts->allScripted());

    const TileStyle before = s.window.style();
    QCOMPARE(before.topStyle, WindowAssets::topStyles() + "/ridge.png");
    QCOMPARE(patternPath(before.topPattern), WindowAssets::patterns() + "/checks.png");
    QCOMPARE(patternPath(before.bottomPattern), WindowAssets::patterns() + "/stripes.png");
    QCOMPARE(before.topColor, QColor("#3366aa"));
    QCOMPARE(before.bottomPatternColor, QColor("#aa5522"));
    const QImage previewBefore = s.previewTile();
    QVERIFY(!previewBefore.isNull());
    QCOMPARE(previewBefore, TilePreview::compose(before).tile.convertToFormat(
                                QImage::Format_ARGB32_Premultiplied));

    s.saveAs(path("round"));
    s.newDesign();
    QVERIFY(s.previewTile() != previewBefore);
    s.open(path("round.twr"));
    QVERIFY(s.prompts->callsOf("warning").isEmpty());

    const TileStyle &after = s.window.style();
    QCOMPARE(after.topStyle, before.topStyle);
    QCOMPARE(after.topColor, before.topColor);
    QCOMPARE(after.topOpacity, before.topOpacity);
    QCOMPARE(patternPath(after.topPattern), patternPath(before.topPattern));
    QCOMPARE(after.topPatternColor, before.topPatternColor);
    QCOMPARE(after.topPatternOpacity, before.topPatternOpacity);
    QCOMPARE(after.bottomColor, before.bottomColor);
    QCOMPARE(after.bottomOpacity, before.bottomOpacity);
    QCOMPARE(patternPath(after.bottomPattern), patternPath(before.bottomPattern));
    QCOMPARE(after.bottomPatternColor, before.bottomPatternColor);
    QCOMPARE(after.bottomPatternColorOpacity, before.bottomPatternColorOpacity);
    QCOMPARE(after.bottomPatternOpacity, before.bottomPatternOpacity);
    QCOMPARE(after.topDown, true);
    QCOMPARE(s.window.repeatAtBottomCheck->isChecked(), true);
    QCOMPARE(s.previewTile(), previewBefore);
    QCOMPARE(s.window.windowTitle(), title("round.twr"));
}

QTEST_MAIN(TestProjectCommands)
#include "tst_projectcommands.moc"
