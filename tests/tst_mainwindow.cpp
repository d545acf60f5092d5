#include "mainwindow.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "userprompts.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolBox>
#include <QtTest>

// Records what the window asked instead of showing it.
class FakePrompts : public UserPrompts
{
public:
    QList<QUrl> openedUrls;
    QString aboutTitle;
    QString aboutText;

    bool openUrl(const QUrl &url) override
    {
        openedUrls << url;
        return true;
    }
    void about(QWidget *, const QString &title, const QString &text) override
    {
        aboutTitle = title;
        aboutText = text;
    }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    static QString describeMenu(const QMenu *menu)
    {
        QStringList items;
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                items << "-";
            else if (action->menu())
                items << action->menu()->objectName();
            else
                items << action->objectName();
        }
        return items.join(' ');
    }
    static QByteArray storedGeometry()
    {
        return TestEnv::settings().value("geometry").toByteArray();
    }

private slots:
    void init() { TestEnv::resetSettings(); }
    void cleanup() { qApp->setStyleSheet(QString()); }

    void objectNames_data();
    void objectNames();
    void actions_data();
    void actions();
    void menusInOrder();
    void listWidgetSettings_data();
    void listWidgetSettings();
    void docksAndBoxes();

    void title_data();
    void title();

    void firstRun_defaults();
    void settings_roundTripEveryKey();
    void storedGeometry_keepsSizeButRecentres();
    void storedTileSizeNotANumber_readsZero();
    void storedThemeDark_appliedBeforeShow();
    void storedThemeOtherCase_lightAndSurvivesSave();
    void themeActions_applyAndStore();
    void fileExit_leavesGeometry_closeStoresIt();
    void construction_composesNoPreview();
    void helpMenu_opensPagesAndAbout();
};

void TestMainWindow::objectNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    const QList<QPair<QString, QString>> objects = {
        {"centralWidget", "QWidget"},
        {"verticalLayout", "QVBoxLayout"},
        {"horizontalLayout_4", "QHBoxLayout"},
        {"groupBox", "QGroupBox"},
        {"verticalLayout_4", "QVBoxLayout"},
        {"spritePreviewWidget", "QListWidget"},
        {"groupBox_2", "QGroupBox"},
        {"verticalLayout_3", "QVBoxLayout"},
        {"spriteSidebySide", "QListWidget"},
        {"groupBox_3", "QGroupBox"},
        {"verticalLayout_2", "QVBoxLayout"},
        {"spriteSelectedParts", "QListWidget"},
        {"menuBar", "QMenuBar"},
        {"menu_File", "QMenu"},
        {"menuImport", "QMenu"},
        {"menu_Help_2", "QMenu"},
        {"menuTheme", "QMenu"},
        {"menuCreate", "QMenu"},
        {"mainToolBar", "QToolBar"},
        {"statusBar", "QStatusBar"},
        {"objectsDockPanel", "QDockWidget"},
        {"dockWidgetContents", "QWidget"},
        {"horizontalLayout", "QHBoxLayout"},
        {"toolBox", "QToolBox"},
        {"page", "QWidget"},
        {"verticalLayout_5", "QVBoxLayout"},
        {"topsList", "QListWidget"},
        {"page_2", "QWidget"},
        {"horizontalLayout_2", "QHBoxLayout"},
        {"fillIcons", "QListWidget"},
        {"page_3", "QWidget"},
        {"horizontalLayout_3", "QHBoxLayout"},
        {"alphaMaskList", "QListWidget"},
        {"dockWidget", "QDockWidget"},
        {"dockWidgetContents_2", "QWidget"},
        {"verticalLayout_6", "QVBoxLayout"},
        {"partSelection", "QComboBox"},
        {"propertiesEditor", "QTableWidget"},
    };
    for (const auto &object : objects)
        QTest::newRow(qPrintable(object.first)) << object.first << object.second;
}

void TestMainWindow::objectNames()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QObject *object = window.findChild<QObject *>(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(QString(object->metaObject()->className()), className);
}

void TestMainWindow::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<bool>("checkable");
    QTest::newRow("save") << "action_Save"
                          << "&Save"
                          << "Ctrl+S" << false;
    QTest::newRow("save as") << "action_Save_As"
                             << "&Save As..."
                             << "" << false;
    QTest::newRow("exit on Ctrl+X") << "actionE_xit"
                                    << "E&xit"
                                    << "Ctrl+X" << false;
    QTest::newRow("open without shortcut") << "action_Open_2"
                                           << "&Open"
                                           << "" << false;
    QTest::newRow("support") << "actionDocumentation"
                             << "Support"
                             << "" << false;
    QTest::newRow("about") << "actionAbout"
                           << "About"
                           << "" << false;
    QTest::newRow("documentation") << "actionDocumentation_2"
                                   << "Documentation"
                                   << "" << false;
    QTest::newRow("generate") << "actionGenerate_Tileset"
                              << "Generate Tiles"
                              << "Ctrl+G" << false;
    QTest::newRow("new") << "actionNew"
                         << "New"
                         << "" << false;
    QTest::newRow("light") << "actionLight"
                           << "Light"
                           << "" << false;
    QTest::newRow("dark") << "actionDark"
                          << "Dark"
                          << "" << false;
    QTest::newRow("import tops") << "actionTop_Shapes"
                                 << "Top Shapes"
                                 << "" << false;
    QTest::newRow("import patterns") << "actionPatterns"
                                     << "Patterns"
                                     << "" << false;
    QTest::newRow("import masks, no blank") << "actionAlphaMasks"
                                            << "AlphaMasks"
                                            << "" << false;
    QTest::newRow("check updates") << "actionUpdate_Checking"
                                   << "Check Updates"
                                   << "" << true;
    QTest::newRow("engine export") << "actionExport_Engine_Tileset" << "Engine Tileset..."
                                   << "Ctrl+Shift+G" << false;
}

void TestMainWindow::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(bool, checkable);
    MainWindow window;
    auto *action = window.findChild<QAction *>(name);
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut().toString(QKeySequence::PortableText), shortcut);
    QCOMPARE(action->isCheckable(), checkable);
    QCOMPARE(action->parent(), &window);
}

void TestMainWindow::menusInOrder()
{
    MainWindow window;
    QStringList bar;
    for (QAction *action : window.menuBar()->actions())
        bar << action->text();
    QCOMPARE(bar, QStringList({"&File", "Export", "&Help"}));

    const Ui::MainWindow *ui = window.ui;
    QCOMPARE(describeMenu(ui->menu_File),
             QString("actionNew action_Open_2 action_Save action_Save_As - menuImport - "
                     "actionE_xit"));
    QCOMPARE(describeMenu(ui->menuImport),
             QString("actionTop_Shapes actionPatterns actionAlphaMasks"));
    QCOMPARE(describeMenu(ui->menuCreate),
             QString("actionGenerate_Tileset actionExport_Engine_Tileset"));
    QCOMPARE(describeMenu(ui->menu_Help_2),
             QString("actionDocumentation_2 actionDocumentation actionUpdate_Checking - "
                     "menuTheme - actionAbout"));
    QCOMPARE(describeMenu(ui->menuTheme), QString("actionLight actionDark"));
    QCOMPARE(ui->menuImport->title(), QString("Import..."));
    QCOMPARE(ui->menuTheme->title(), QString("Theme"));
    QVERIFY(ui->mainToolBar->actions().isEmpty());
}

void TestMainWindow::listWidgetSettings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("viewMode");
    QTest::addColumn<QSize>("iconSize");
    QTest::addColumn<QSize>("gridSize");
    QTest::addColumn<int>("movement");
    QTest::addColumn<int>("selectionMode");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<bool>("customMenu");

    const int list = QListView::ListMode, icon = QListView::IconMode;
    const int freeMove = QListView::Free, staticMove = QListView::Static;
    const int single = QAbstractItemView::SingleSelection, none = QAbstractItemView::NoSelection;
    QTest::newRow("tile") << "spritePreviewWidget" << list << QSize(128, 128) << QSize()
                          << staticMove << none << false << false;
    QTest::newRow("side by side") << "spriteSidebySide" << icon << QSize(128, 128)
                                  << QSize(128, 128) << freeMove << none << true << false;
    QTest::newRow("parts") << "spriteSelectedParts" << list << QSize(128, 50) << QSize(130, 52)
                           << staticMove << none << false << false;
    QTest::newRow("tops") << "topsList" << icon << QSize(128, 50) << QSize(130, 50) << staticMove
                          << single << true << true;
    QTest::newRow("patterns") << "fillIcons" << icon << QSize(98, 98) << QSize(100, 100)
                              << staticMove << single << true << true;
    QTest::newRow("masks") << "alphaMaskList" << icon << QSize(98, 98) << QSize(100, 100)
                           << staticMove << single << true << true;
}

void TestMainWindow::listWidgetSettings()
{
    QFETCH(QString, name);
    QFETCH(int, viewMode);
    QFETCH(QSize, iconSize);
    QFETCH(QSize, gridSize);
    QFETCH(int, movement);
    QFETCH(int, selectionMode);
    QFETCH(bool, editable);
    QFETCH(bool, customMenu);
    MainWindow window;
    auto *widget = window.findChild<QListWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(int(widget->viewMode()), viewMode);
    QCOMPARE(widget->iconSize(), iconSize);
    QCOMPARE(widget->gridSize(), gridSize);
    QCOMPARE(int(widget->movement()), movement);
    QCOMPARE(int(widget->selectionMode()), selectionMode);
    QCOMPARE(widget->editTriggers() != QAbstractItemView::NoEditTriggers, editable);
    QCOMPARE(widget->frameShape(), QFrame::NoFrame);
    QCOMPARE(widget->contextMenuPolicy() == Qt::CustomContextMenu, customMenu);
    if (name == "spriteSelectedParts")
        QCOMPARE(widget->resizeMode(), QListView::Adjust);
}

void TestMainWindow::docksAndBoxes()
{
    MainWindow window;
    const Ui::MainWindow *ui = window.ui;
    const auto movable = QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable;
    QCOMPARE(ui->objectsDockPanel->features(), movable);
    QCOMPARE(ui->dockWidget->features(), movable);
    QCOMPARE(ui->objectsDockPanel->allowedAreas(),
             Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    QCOMPARE(ui->dockWidget->allowedAreas(),
             Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea);
    QCOMPARE(window.dockWidgetArea(ui->objectsDockPanel), Qt::LeftDockWidgetArea);
    QCOMPARE(window.dockWidgetArea(ui->dockWidget), Qt::RightDockWidgetArea);
    QCOMPARE(ui->objectsDockPanel->minimumSize(), QSize(300, 196));
    QCOMPARE(ui->objectsDockPanel->maximumSize(), QSize(400, 524287));
    QCOMPARE(ui->dockWidget->minimumSize(), QSize(200, 139));
    QCOMPARE(ui->groupBox->maximumSize(), QSize(170, 170));
    QCOMPARE(ui->groupBox_2->maximumSize(), QSize(16777215, 170));
    QCOMPARE(ui->partSelection->minimumSize(), QSize(0, 24));
    QCOMPARE(window.minimumSize(), QSize(0, 0));
    QStringList pages;
    for (int i = 0; i < ui->toolBox->count(); ++i)
        pages << ui->toolBox->itemText(i);
    QCOMPARE(pages, QStringList({"Top Shapes", "Patterns", "Alpha Masks"}));
    QCOMPARE(ui->toolBox->currentIndex(), 0);
    QStringList parts;
    for (int i = 0; i < ui->partSelection->count(); ++i)
        parts << ui->partSelection->itemText(i);
    QCOMPARE(parts, QStringList({"Top", "Bottom"}));
}

void TestMainWindow::title_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<QString>("expected");
    QTest::newRow("untitled") << "" << false << "Tilewright - Untitled.twr";
    QTest::newRow("untitled modified") << "" << true << "Tilewright - Untitled.twr*";
    QTest::newRow("titled") << "/tmp/work/level1.twr" << false << "Tilewright - level1.twr";
    QTest::newRow("titled modified")
        << "/tmp/work/level1.twr" << true << "Tilewright - level1.twr*";
}

void TestMainWindow::title()
{
    QFETCH(QString, path);
    QFETCH(bool, modified);
    QFETCH(QString, expected);
    MainWindow window;
    window.projectFilePath = path;
    window.modified = modified;
    window.updateWindowTitle();
    QCOMPARE(window.windowTitle(), expected);
}

void TestMainWindow::firstRun_defaults()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Tilewright - Untitled.twr"));
    QCOMPARE(window.size(), QSize(1146, 626));
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(window.geometry(), AppSettings::centredRect(QSize(1146, 626), screen));
    QCOMPARE(window.lastExportDirectory, QDir::homePath());
    QCOMPARE(window.lastProjectDirectory, QDir::homePath());
    QCOMPARE(window.lastImportDirectory, QDir::homePath());
    QCOMPARE(window.tileSize(), 128);
    QCOMPARE(window.currentTheme(), QString());
    QVERIFY(qApp->styleSheet().isEmpty());
    QVERIFY(window.checkForUpdatesOnStartup);
    QVERIFY(window.ui->actionUpdate_Checking->isChecked());
    QCOMPARE(window.appDirPath, QCoreApplication::applicationDirPath());
    QCOMPARE(window.versionString, QStringLiteral("1.08"));
}

void TestMainWindow::settings_roundTripEveryKey()
{
    {
        QSettings s = TestEnv::settings();
        s.setValue("lastExportDirectory", "/tmp/out dir");
        s.setValue("lastProjectDirectory", "/tmp/projects/level.twr");
        s.setValue("lastImportDirectory", "/tmp/in/grass.png");
        s.setValue("theme", "dark");
        s.setValue("tileWidthHeight", 64);
        s.setValue("checkForUpdates", false);
    }
    QByteArray state;
    {
        MainWindow window;
        QCOMPARE(window.lastExportDirectory, QStringLiteral("/tmp/out dir"));
        QCOMPARE(window.lastProjectDirectory, QStringLiteral("/tmp/projects/level.twr"));
        QCOMPARE(window.lastImportDirectory, QStringLiteral("/tmp/in/grass.png"));
        QCOMPARE(window.currentTheme(), QStringLiteral("dark"));
        QCOMPARE(window.tileSize(), 64);
        QVERIFY(!window.checkForUpdatesOnStartup);
        QVERIFY(!window.ui->actionUpdate_Checking->isChecked());

        TestEnv::settings().clear();
        window.saveSettings();
        window.resize(900, 500);
        window.show();
        window.close();
        state = window.saveState(0);
    }
    QSettings s = TestEnv::settings();
    QCOMPARE(s.value("lastExportDirectory").toString(), QStringLiteral("/tmp/out dir"));
    QCOMPARE(s.value("lastProjectDirectory").toString(), QStringLiteral("/tmp/projects/level.twr"));
    QCOMPARE(s.value("lastImportDirectory").toString(), QStringLiteral("/tmp/in/grass.png"));
    QCOMPARE(s.value("theme").toString(), QStringLiteral("dark"));
    QCOMPARE(s.value("tileWidthHeight").toInt(), 64);
    QCOMPARE(s.value("windowState").toByteArray(), state);
    QVERIFY(!s.value("geometry").toByteArray().isEmpty());
    // Neither saveSettings nor closing writes the update choice; its own action does.
    QVERIFY(!s.contains("checkForUpdates"));

    MainWindow again;
    QCOMPARE(again.size(), QSize(900, 500));
}

void TestMainWindow::storedGeometry_keepsSizeButRecentres()
{
    {
        MainWindow window;
        window.setGeometry(5, 7, 700, 450);
        window.close();
    }
    QVERIFY(!storedGeometry().isEmpty());
    MainWindow window;
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(window.size(), QSize(700, 450));
    QCOMPARE(window.geometry(), AppSettings::centredRect(QSize(700, 450), screen));
}

void TestMainWindow::storedTileSizeNotANumber_readsZero()
{
    TestEnv::settings().setValue("tileWidthHeight", "abc");
    MainWindow window;
    QCOMPARE(window.tileSize(), 0);
}

void TestMainWindow::storedThemeDark_appliedBeforeShow()
{
    TestEnv::settings().setValue("theme", "dark");
    MainWindow window;
    QVERIFY(!window.isVisible());
    QVERIFY(qApp->styleSheet().contains("#298ce1"));
}

void TestMainWindow::storedThemeOtherCase_lightAndSurvivesSave()
{
    TestEnv::settings().setValue("theme", "Dark");
    MainWindow window;
    QVERIFY(qApp->styleSheet().isEmpty());
    window.saveSettings();
    QCOMPARE(TestEnv::settings().value("theme").toString(), QStringLiteral("Dark"));
}

void TestMainWindow::themeActions_applyAndStore()
{
    MainWindow window;
    window.ui->actionDark->trigger();
    QVERIFY(!qApp->styleSheet().isEmpty());
    QCOMPARE(TestEnv::settings().value("theme").toString(), QStringLiteral("dark"));
    window.ui->actionLight->trigger();
    QVERIFY(qApp->styleSheet().isEmpty());
    QCOMPARE(TestEnv::settings().value("theme").toString(), QString());
    QVERIFY(!window.ui->actionLight->isCheckable());
}

void TestMainWindow::fileExit_leavesGeometry_closeStoresIt()
{
    {
        MainWindow window;
        window.show();
        window.ui->actionE_xit->trigger();
    }
    QVERIFY(!TestEnv::settings().contains("geometry"));
    {
        MainWindow window;
        window.show();
        QVERIFY(window.close());
    }
    QVERIFY(TestEnv::settings().contains("geometry"));
    QVERIFY(TestEnv::settings().contains("windowState"));
}

void TestMainWindow::construction_composesNoPreview()
{
    MainWindow window;
    QVERIFY(!window.isModified());
    QCOMPARE(window.ui->spritePreviewWidget->count(), 0);
    QCOMPARE(window.ui->spriteSidebySide->count(), 0);
    QCOMPARE(window.ui->spriteSelectedParts->count(), 0);
    QCOMPARE(window.windowTitle(), QStringLiteral("Tilewright - Untitled.twr"));
}

void TestMainWindow::helpMenu_opensPagesAndAbout()
{
    TestEnv::resetSettings("https://help.test");
    MainWindow window;
    auto prompts = std::make_unique<FakePrompts>();
    FakePrompts *fake = prompts.get();
    window.setPrompts(std::move(prompts));
    window.ui->actionDocumentation_2->trigger();
    window.ui->actionDocumentation->trigger();
    QCOMPARE(fake->openedUrls, QList<QUrl>({QUrl("https://help.test/tilewright/documentation/"),
                                            QUrl("https://help.test/support/")}));
    window.ui->actionAbout->trigger();
    QCOMPARE(fake->aboutTitle, QStringLiteral("About Tilewright"));
    QVERIFY(fake->aboutText.startsWith("<b>Tilewright</b><br/><br/>Version: 1.08<br/><br/>"));
    QCOMPARE(fake->aboutText.count("<br/><br/>"), 3);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
