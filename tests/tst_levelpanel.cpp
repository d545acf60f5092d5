// The level dock in the real window: shown at once with the start-up design, drawn again
// once per design change, painted, undone and redone with the keys, zoomed, saved with the
// project, and honest about tiles the library lacks.

#include "levelpanel.h"
#include "levelview.h"
#include "projectreader.h"
#include "testenv.h"
#include "windowassets.h"

#include <QtWidgets>

class TestLevelPanel : public QObject
{
    Q_OBJECT
    using Session = WindowAssets::Session;

    static LevelView *view(Session &s) { return s.window.findChild<LevelView *>("levelView"); }
    static LevelPanel *panel(Session &s) { return s.window.findChild<LevelPanel *>("levelPanel"); }
    // The centre of a cell in the view's coordinates.
    static QPoint at(LevelView *v, int x, int y)
    {
        const int c = v->cellSize();
        const QPoint origin((v->width() - v->image().width()) / 2,
                            (v->height() - v->image().height()) / 2);
        return origin + QPoint(x * c + c / 2, y * c + c / 2);
    }
    static void drag(LevelView *v, Qt::MouseButton button, QPoint from, QPoint to)
    {
        QTest::mousePress(v, button, {}, at(v, from.x(), from.y()));
        for (int x = from.x(); x <= to.x(); ++x) {
            // With the global position too: Qt 6.4 deprecates the constructor without it.
            const QPoint pos = at(v, x, to.y());
            QMouseEvent move(QEvent::MouseMove, pos, v->mapToGlobal(pos), Qt::NoButton, button, {});
            QApplication::sendEvent(v, &move);
        }
        QTest::mouseRelease(v, button, {}, at(v, to.x(), to.y()));
    }
    static bool rendered(LevelView *v, int count)
    {
        return QTest::qWaitFor([&] { return v->renderCount() >= count; }, 5000);
    }

private slots:
    void init()
    {
        TestEnv::resetSettings();
        TestEnv::settings().setValue("checkForUpdates", false);
        QVERIFY(WindowAssets::makeSample());
        // The real blob set, so every cell of the default level has its tile.
        for (const QFileInfo &mask : QDir(TW_ASSETS "/Alpha").entryInfoList({"*.png"}))
            QVERIFY(QFile::copy(mask.filePath(), WindowAssets::alpha() + '/' + mask.fileName()));
    }
    void cleanup() { QVERIFY(WindowAssets::removeAll()); }

    // At first start the dock shows the start-up design at once, at least 12 x 6 cells of it,
    // while the preview's lists wait for the first change; each change draws it once more.
    void startUp_showsTheDesignAndRedrawsOncePerChange()
    {
        Session s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        LevelView *v = view(s);
        QVERIFY(rendered(v, 1));
        QCOMPARE(s.window.findChild<QDockWidget *>("levelDock")->widget(), panel(s));
        QVERIFY(!v->image().isNull());
        QVERIFY(v->missingTiles().isEmpty());
        QCOMPARE(s.window.findChild<QListWidget *>("spritePreviewWidget")->count(), 0);
        const int c = v->cellSize();
        QVERIFY2(qMin(v->width() / c, v->level().width()) >= 12, qPrintable(QString::number(c)));
        QVERIFY(qMin(v->height() / c, v->level().height()) >= 6);
        QTest::qWait(100);
        const int before = v->renderCount();
        s.window.refreshPreview();
        QVERIFY(rendered(v, before + 1));
        QTest::qWait(100);
        QCOMPARE(v->renderCount(), before + 1);
    }

    // Left-drag paints with the chosen tool, right-drag erases; each drag is one step of
    // Ctrl+Z and Ctrl+Shift+Z, and marks the project changed.
    void paint_dragsAreUndoneAndRedoneWithTheKeys_data()
    {
        QTest::addColumn<int>("tool"); // index of the tool button
        QTest::addColumn<char>("cell");
        QTest::newRow("ground") << 0 << '#';
        QTest::newRow("slope up") << 1 << '/';
        QTest::newRow("platform") << 3 << '=';
    }
    void paint_dragsAreUndoneAndRedoneWithTheKeys()
    {
        QFETCH(int, tool);
        QFETCH(char, cell);
        Session s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        LevelView *v = view(s);
        QVERIFY(rendered(v, 1));
        const Level start = v->level();
        QTest::mouseClick(s.window.findChild<QToolButton *>(QString("levelTool%1").arg(tool)),
                          Qt::LeftButton);
        drag(v, Qt::LeftButton, {1, 0}, {4, 0});
        QCOMPARE(v->level().rows().at(0).mid(1, 4), QString(4, QLatin1Char(cell)));
        QVERIFY(s.window.isModified());
        drag(v, Qt::RightButton, {2, 0}, {3, 0});
        QCOMPARE(v->level().rows().at(0).mid(1, 4), QString("%1..%1").arg(cell));
        QTest::keyClick(&s.window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(v->level().rows().at(0).mid(1, 4), QString(4, QLatin1Char(cell)));
        QTest::keyClick(&s.window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(v->level(), start);
        QTest::keyClick(&s.window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(v->level().rows().at(0).mid(1, 4), QString(4, QLatin1Char(cell)));
    }

    // Fit, 1x and 2x; the grid; a ready-made level is one undo step.
    void toolsRow_zoomGridAndPresets()
    {
        Session s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        LevelView *v = view(s);
        auto *zoom = s.window.findChild<QComboBox *>("levelZoom");
        for (const auto &[index, size] : {std::pair{1, 32}, {2, 64}}) {
            zoom->setCurrentIndex(index);
            QVERIFY(QTest::qWaitFor([&] { return v->image().width() == 32 * size; }, 5000));
            QCOMPARE(v->cellSize(), size);
        }
        s.window.findChild<QCheckBox *>("levelGrid")->setChecked(true);
        QVERIFY(v->isGridShown());
        auto *presets = s.window.findChild<QComboBox *>("levelPresets");
        QVERIFY(presets->count() >= 3);
        presets->setCurrentIndex(2);
        emit presets->activated(2);
        QCOMPARE(v->level(), Level::preset(2));
        QTest::keyClick(&s.window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(v->level(), Level::defaultLevel());
    }

    // A painted level is saved with the project and opened again; New brings the default.
    void project_keepsThePaintedLevel()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("painted.twr");
        Level painted = Level::defaultLevel();
        painted.setCell(0, 0, Level::Solid);
        {
            Session s;
            panel(s)->resetLevel(painted);
            QVERIFY(s.window.saveProject(file));
        }
        Session s;
        QCOMPARE(view(s)->level(), Level::defaultLevel());
        QVERIFY(s.window.loadProject(file));
        QCOMPARE(view(s)->level(), painted);
        s.window.findChild<QAction *>("actionNew")->trigger();
        QCOMPARE(view(s)->level(), Level::defaultLevel());
    }

    // A library without the blob set: the cells are crossed and the dock says which tiles.
    void missingMasks_areMarkedAndNamed()
    {
        QVERIFY(WindowAssets::makeSample());
        Session s;
        s.window.show();
        LevelView *v = view(s);
        QVERIFY(rendered(v, 1));
        QVERIFY(v->missingTiles().contains("blob_255_notop.png"));
        auto *label = s.window.findChild<QLabel *>("levelMissing");
        QVERIFY(label->isVisible());
        QVERIFY2(label->text().contains("blob_255_notop.png"), qPrintable(label->text()));
        const int c = v->image().width() / v->level().width();
        QCOMPARE(v->image().copy(0, 13 * c, c, c), LevelRenderer::missingMarker(c));
    }
};

QTEST_MAIN(TestLevelPanel)
#include "tst_levelpanel.moc"
