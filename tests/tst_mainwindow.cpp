#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QDockWidget>
#include <QScreen>

using WA = WindowAssets;

class TestMainWindow : public QObject
{
    Q_OBJECT

    // A property as the form tables write it: enum keys, sizes as WxH; "class"
    // and "entries" (the object names of a menu's items, "-" for a separator).
    static QString valueOf(QObject *object, const QString &name)
    {
        const QMetaObject *meta = object->metaObject();
        const QMetaProperty property = meta->property(meta->indexOfProperty(qPrintable(name)));
        const QVariant value = property.read(object);
        QStringList items;
        for (QAction *a :
             name == "entries" ? static_cast<QWidget *>(object)->actions() : QList<QAction *>())
            items << (a->isSeparator() ? "-"
                      : a->menu()      ? a->menu()->objectName()
                                       : a->objectName());
        if (name == "class" || name == "entries")
            return name == "class" ? meta->className() : items.join(' ');
        if (property.isEnumType())
            return property.isFlagType()
                       ? property.enumerator().valueToKeys(value.toInt()).replace('|', '+')
                       : QByteArray(property.enumerator().valueToKey(value.toInt()));
        if (value.type() == QVariant::Size)
            return value.toSize().isValid()
                       ? QString("%1x%2").arg(value.toSize().width()).arg(value.toSize().height())
                       : "default";
        return value.toString();
    }
    static QRect centred(const QSize &size)
    {
        return AppSettings::centredRect(size, QGuiApplication::primaryScreen()->size());
    }
    static QVariant stored(const QString &key) { return TestEnv::settings().value(key); }

private slots:
    void init() { TestEnv::resetSettings(); }
    void cleanup() { qApp->setStyleSheet(QString()); }

    void form_data()
    {
        WA::addRows(
            {"objects", "properties", "expected"},
            "centralWidget dockWidgetContents page page_2 page_3 "
            "dockWidgetContents_2|class|QWidget;"
            "verticalLayout verticalLayout_2 verticalLayout_3 verticalLayout_4 verticalLayout_5 "
            "verticalLayout_6|class|QVBoxLayout;horizontalLayout horizontalLayout_2 "
            "horizontalLayout_3 horizontalLayout_4|class|QHBoxLayout;"
            "groupBox_3|class|QGroupBox;spritePreviewWidget spriteSidebySide spriteSelectedParts "
            "topsList fillIcons alphaMaskList|class|QListWidget;statusBar|class|QStatusBar;"
            "objectsDockPanel dockWidget|class|QDockWidget;toolBox|class|QToolBox;"
            "partSelection|class,minimumSize|QComboBox,0x24;propertiesEditor|class|QTableWidget;"
            "MainWindow|minimumSize|0x0;groupBox|class,title,maximumSize|QGroupBox,Tile,170x170;"
            "groupBox_2|class,title,maximumSize|QGroupBox,Side by Side,16777215x170;"
            // Actions: text, shortcut, checkable.
            "action_Save|action|&Save,Ctrl+S,false;action_Save_As|action|&Save As...,,false;"
            "actionE_xit|action|E&xit,Ctrl+X,false;action_Open_2|action|&Open,,false;"
            "actionDocumentation|action|Support,,false;actionAbout|action|About,,false;"
            "actionDocumentation_2|action|Documentation,,false;"
            "actionGenerate_Tileset|action|Generate Tiles,Ctrl+G,false;"
            "actionNew|action|New,,false;actionLight|action|Light,,false;"
            "actionDark|action|Dark,,false;actionTop_Shapes|action|Top Shapes,,false;"
            "actionPatterns|action|Patterns,,false;actionAlphaMasks|action|AlphaMasks,,false;"
            "actionUpdate_Checking|action|Check Updates,,true;"
            // Menus in order.
            "menuBar|class,entries|QMenuBar,menu_File menuCreate menu_Help_2;"
            "menu_File|menu|&File,actionNew action_Open_2 action_Save action_Save_As - menuImport "
            "- actionE_xit;menuImport|menu|Import...,actionTop_Shapes actionPatterns "
            "actionAlphaMasks;menuCreate|menu|Export,actionGenerate_Tileset "
            "actionExport_Engine_Tileset;menu_Help_2|menu|&Help,actionDocumentation_2 "
            "actionDocumentation actionUpdate_Checking - menuTheme - actionAbout;"
            "menuTheme|menu|Theme,actionLight actionDark;mainToolBar|class,entries|QToolBar,;"
            // Docks and lists.
            "objectsDockPanel|dock|Objects,DockWidgetMovable+DockWidgetFloatable,"
            "LeftDockWidgetArea+RightDockWidgetArea,300x196,400x524287;"
            "dockWidget|dock|Properties,DockWidgetMovable+DockWidgetFloatable,"
            "LeftDockWidgetArea+RightDockWidgetArea+BottomDockWidgetArea,200x139,16777215x16777215;"
            "spritePreviewWidget|list|ListMode,128x128,default,Static,Fixed,NoSelection,"
            "NoEditTriggers,DefaultContextMenu,NoFrame;spriteSidebySide|list|IconMode,128x128,"
            "128x128,"
            "Free,Fixed,NoSelection,DoubleClicked+EditKeyPressed,DefaultContextMenu,NoFrame;"
            "spriteSelectedParts|list|ListMode,128x50,130x52,Static,Adjust,NoSelection,"
            "NoEditTriggers,DefaultContextMenu,NoFrame;topsList|list|IconMode,128x50,130x50,Static,"
            "Fixed,"
            "SingleSelection,DoubleClicked+EditKeyPressed,CustomContextMenu,NoFrame;"
            "fillIcons alphaMaskList|list|IconMode,98x98,100x100,Static,Fixed,SingleSelection,"
            "DoubleClicked+EditKeyPressed,CustomContextMenu,NoFrame");
    }
    void form()
    {
        const QString properties = WA::field("properties");
        const QMap<QString, QString> groups{
            {"action", "class,text,shortcut,checkable"},
            {"menu", "class,title,entries"},
            {"dock", "windowTitle,features,allowedAreas,minimumSize,maximumSize"},
            {"list", "viewMode,iconSize,gridSize,movement,resizeMode,selectionMode,editTriggers,"
                     "contextMenuPolicy,frameShape"}};
        const QString prefix = properties == "action" ? "QAction,"
                               : properties == "menu" ? "QMenu,"
                                                      : "";
        MainWindow window;
        for (const QString &name : WA::field("objects").split(' ')) {
            QObject *object = name == "MainWindow" ? &window : window.findChild<QObject *>(name);
            QVERIFY2(object, qPrintable(name));
            QStringList values;
            for (const QString &property : groups.value(properties, properties).split(','))
                values << valueOf(object, property);
            QCOMPARE(values.join(','), prefix + WA::field("expected"));
        }
    }

    void title_data()
    {
        WA::addRows({"path", "modified", "expected"},
                    "|0|Tilewright - Untitled.twr;|1|Tilewright - Untitled.twr*;"
                    "/tmp/work/level1.twr|0|Tilewright - level1.twr;"
                    "/tmp/work/level1.twr|1|Tilewright - level1.twr*");
    }
    void title()
    {
        MainWindow window;
        window.projectFilePath = WA::field("path");
        window.modified = WA::field("modified") == "1";
        window.updateWindowTitle();
        QCOMPARE(window.windowTitle(), WA::field("expected"));
    }

    void firstRun_defaultsAndNoPreview()
    {
        MainWindow window;
        const Ui::MainWindow *ui = window.ui;
        QCOMPARE(window.windowTitle(), QStringLiteral("Tilewright - Untitled.twr"));
        QCOMPARE(window.geometry(), centred(QSize(1146, 626)));
        QCOMPARE(QStringList({window.lastExportDirectory, window.lastProjectDirectory,
                              window.lastImportDirectory, window.appDirPath, window.versionString,
                              window.currentTheme(), qApp->styleSheet()}),
                 QStringList({QDir::homePath(), QDir::homePath(), QDir::homePath(),
                              QCoreApplication::applicationDirPath(), "1.08", "", ""}));
        QCOMPARE(window.tileSize(), 128);
        QVERIFY(window.checkForUpdatesOnStartup && ui->actionUpdate_Checking->isChecked());
        QCOMPARE(ui->toolBox->currentIndex(), 0);
        QCOMPARE(QStringList({ui->toolBox->itemText(0), ui->toolBox->itemText(1),
                              ui->toolBox->itemText(2), ui->partSelection->itemText(0),
                              ui->partSelection->itemText(1)}),
                 QStringList({"Top Shapes", "Patterns", "Alpha Masks", "Top", "Bottom"}));
        QCOMPARE(window.dockWidgetArea(ui->objectsDockPanel), Qt::LeftDockWidgetArea);
        QCOMPARE(window.dockWidgetArea(ui->dockWidget), Qt::RightDockWidgetArea);
        // Filling the part selector and resetting the design compose nothing.
        QVERIFY(!window.isModified());
        for (QListWidget *list :
             {ui->spritePreviewWidget, ui->spriteSidebySide, ui->spriteSelectedParts})
            QCOMPARE(list->count(), 0);
    }

    void settings_roundTripEveryKeyAndRecentre()
    {
        const QVariantMap values{{"lastExportDirectory", "/tmp/out dir"},
                                 {"lastProjectDirectory", "/tmp/projects/level.twr"},
                                 {"lastImportDirectory", "/tmp/in/grass.png"},
                                 {"theme", "dark"},
                                 {"tileWidthHeight", "64"}};
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            TestEnv::settings().setValue(it.key(), it.value());
        TestEnv::settings().setValue("checkForUpdates", false);
        QByteArray state;
        {
            MainWindow window;
            QCOMPARE(QStringList({window.lastExportDirectory, window.lastProjectDirectory,
                                  window.lastImportDirectory, window.currentTheme()}),
                     QStringList(
                         {"/tmp/out dir", "/tmp/projects/level.twr", "/tmp/in/grass.png", "dark"}));
            QCOMPARE(window.tileSize(), 64);
            QVERIFY(!window.checkForUpdatesOnStartup);
            QVERIFY(!window.ui->actionUpdate_Checking->isChecked());
            TestEnv::settings().clear();
            window.saveSettings();
            window.setGeometry(5, 7, 900, 500); // far from the centre
            window.show();
            window.close();
            state = window.saveState(0);
        }
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            QCOMPARE(stored(it.key()).toString(), it.value().toString());
        QCOMPARE(stored("windowState").toByteArray(), state);
        QVERIFY(!stored("checkForUpdates").isValid()); // only its own action writes it
        MainWindow again;
        QCOMPARE(again.geometry(), centred(QSize(900, 500)));
    }

    void storedValue_data()
    {
        WA::addRows({"theme", "tileWidthHeight", "dark", "tileSize"},
                    "dark|64|1|64;Dark|64|0|64;blue|32|0|32;|abc|0|0");
    }
    void storedValue()
    {
        const QString theme = WA::field("theme");
        TestEnv::settings().setValue("theme", theme);
        TestEnv::settings().setValue("tileWidthHeight", WA::field("tileWidthHeight"));
        MainWindow window;
        QVERIFY(!window.isVisible()); // the sheet is in place before the window first shows
        QCOMPARE(qApp->styleSheet().contains("#298ce1"), WA::field("dark") == "1");
        QCOMPARE(QString::number(window.tileSize()), WA::field("tileSize"));
        window.saveSettings(); // other theme texts stay as they were until then
        QCOMPARE(stored("theme").toString(), theme);
    }

    void darkThenFileExit_keepsThemeNotGeometry()
    {
        {
            MainWindow window;
            window.show();
            window.ui->actionDark->trigger();
            window.ui->actionE_xit->trigger();
        }
        QCOMPARE(stored("theme").toString(), QStringLiteral("dark"));
        QVERIFY(!stored("geometry").isValid());
        MainWindow window;
        QVERIFY(!qApp->styleSheet().isEmpty());
        window.ui->actionLight->trigger();
        QVERIFY(qApp->styleSheet().isEmpty());
        QCOMPARE(stored("theme").toString(), QString());
        window.show();
        QVERIFY(window.close());
        QVERIFY(stored("geometry").isValid() && stored("windowState").isValid());
    }

    void helpMenu_opensPagesAndAbout()
    {
        TestEnv::resetSettings("https://help.test");
        WA::Session s;
        s.trigger("actionDocumentation_2");
        s.trigger("actionDocumentation");
        s.trigger("actionAbout");
        QCOMPARE(s.prompts->openedUrls,
                 QList<QUrl>({QUrl("https://help.test/tilewright/documentation/"),
                              QUrl("https://help.test/support/")}));
        const auto about = s.prompts->callsOf("about").value(0);
        QCOMPARE(about.title, QStringLiteral("About Tilewright"));
        QVERIFY(about.text.startsWith("<b>Tilewright</b><br/><br/>Version: 1.08<br/><br/>"));
        QCOMPARE(about.text.count("<br/><br/>"), 3);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
