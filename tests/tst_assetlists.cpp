#include "fileentry.h"
#include "previewfixtures.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QSpinBox>

// The asset lists and the property editor. Each kind's folder has b.png, A.PNG, c.Png,
// d.png.bak, .hidden.png, .png, a folder e.png, 0.png (66 bytes declaring 60000 x 60000
// pixels) and links f.png to a pipe and z.png to a device, listed as 0.png, A.PNG, b.png,
// c.Png, f.png, z.png. Parts: 0 Top, 1 Bottom; table rows 1 to 6: Color, Opacity, Pattern,
// Pattern Color, Pattern Color Opacity, Pattern Opacity.
class TestAssetLists : public QObject
{
    Q_OBJECT
    const QStringList dirs = {WindowAssets::topStyles(), WindowAssets::patterns(),
                              WindowAssets::alpha()};
    const QStringList listed = {"0.png", "A.PNG", "b.png", "c.Png", "f.png", "z.png"};
    std::unique_ptr<WindowAssets::Session> s;
    MainWindow *w = nullptr;
    QVector<int> reloads; // of each list, counted while the window lives

    void open() { w = &(s = std::make_unique<WindowAssets::Session>())->window; }
    static bool put(const QString &path) { return WindowAssets::save(WindowAssets::mask(), path); }
    QStringList rows(int kind) const
    {
        const auto list = w->assetList(AssetKind(kind + 1));
        QStringList names;
        for (const QFileInfo &file : *list.files)
            names << file.fileName();
        const QStringList tips = WindowAssets::toolTips(list.widget);
        return tips == names ? tips : QStringList("rows and files disagree");
    }
    static QStringList fields(const TileStyle &t)
    {
        QStringList all;
        for (StylePart p : {StylePart::Top, StylePart::Bottom})
            all << t.color(p).name() << QString::number(t.opacity(p)) << t.pattern(p).fileName()
                << t.patternColor(p).name() << QString::number(t.patternColorOpacity(p))
                << QString::number(t.patternOpacity(p));
        return all;
    }
    QTableWidget *table() const { return w->ui->propertiesEditor; }
    QSpinBox *spin(int row) const { return qobject_cast<QSpinBox *>(table()->cellWidget(row, 1)); }
    QString shown(int row) const
    {
        return spin(row) ? QString::number(spin(row)->value()) : table()->item(row, 1)->text();
    }
    void select(int part) { w->ui->partSelection->setCurrentIndex(part); }

private slots:
    void init()
    {
        TestEnv::resetSettings();
        QVERIFY(WindowAssets::makeEmpty());
        const QString fifo = WindowAssets::root() + "/fifo";
        QVERIFY(place(FileEntry::Pipe, fifo));
        for (const QString &dir : dirs) {
            QVERIFY(QDir().mkpath(dir + "/e.png"));
            for (const char *name : {"b.png", "A.PNG", "c.Png", "d.png.bak", ".hidden.png", ".png"})
                QVERIFY(put(dir + '/' + name));
            QVERIFY(writeFile(dir + "/0.png", PreviewFixtures::absurdPng()));
            QVERIFY(QFile::link(fifo, dir + "/f.png"));
            QVERIFY(place(FileEntry::DeviceLink, dir + "/z.png"));
        }
    }

    // Present, missing at the start or deleted while watched (which drops it from the
    // watch), however often loaded: once it exists, it is watched and each burst of
    // changes rebuilds its list alone, once. 0.png, f.png and z.png get an empty icon, never
    // block start-up and are never decoded (that reserves gigabytes) or read (a pipe blocks, a
    // device never ends); the preview passes over them as top shape or pattern.
    void lists_oneReloadPerChangeAbsurdFileNeverDecoded_data()
    {
        QTest::addColumn<int>("row"); // kind * 3 + how it is missing
        const char *how[] = {"present", "missing at start", "deleted while watched"};
        for (int row = 0; row < 9; ++row)
            QTest::addRow("%s %s", qPrintable(dirs[row / 3].section('/', -1)), how[row % 3]) << row;
    }
    void lists_oneReloadPerChangeAbsurdFileNeverDecoded()
    {
        QFETCH(int, row);
        const int kind = row / 3, missing = row % 3;
        const QString dir = dirs[kind];
        const AssetKind asset = AssetKind(kind + 1);
        QVERIFY(missing != 1 || QDir(dir).removeRecursively());
        open();
        QCOMPARE(rows(kind), missing == 1 ? QStringList() : listed);
        const QListWidget *list = w->assetList(asset).widget;
        QVERIFY(missing == 1 || list->item(0)->icon().isNull());
        QVERIFY(missing == 1 || !list->item(1)->icon().isNull());
        QVERIFY(missing == 1 || list->item(4)->icon().isNull());
        QVERIFY(missing == 1 || list->item(5)->icon().isNull());
        QCOMPARE(w->style().topStyle, kind == 0 && missing == 1 ? QString() : dirs[0] + "/0.png");
        const TileStyle design = w->tileStyle;
        for (const char *name : {"0.png", "f.png", "z.png"}) {
            w->tileStyle.topStyle = dirs[0] + '/' + name;
            w->tileStyle.topPattern = w->tileStyle.bottomPattern = QFileInfo(dirs[1] + '/' + name);
            w->refreshPreview();
            QCOMPARE(w->ui->spritePreviewWidget->count(), 1);
        }
        w->tileStyle = design;
        const QString status = readFile("/proc/self/status");
        QVERIFY2(status.section("VmPeak:", 1).section("kB", 0, 0).toInt() < 4 << 20,
                 "0.png was decoded or a device read");
        if (missing == 2) {
            QVERIFY(QDir(dir).removeRecursively());
            QTRY_COMPARE(w->assetList(asset).watcher->directories(), QStringList());
            QTRY_COMPARE(rows(kind), QStringList());
        }
        for (int i = 0; i < 3; ++i)
            w->loadAssetList(asset);
        QVERIFY(QDir().mkpath(dir));
        w->loadAssetList(asset);
        QCOMPARE(w->assetList(asset).watcher->directories(), QStringList(dir));
        reloads = {0, 0, 0}; // every rebuild resets the model, however many connections run it
        for (int i = 0; i < 3; ++i)
            connect(w->assetList(AssetKind(i + 1)).widget->model(), &QAbstractItemModel::modelReset,
                    [this, i] { ++reloads[i]; });
        const QString chosen = w->style().topStyle;
        // Each moved in, one change apiece; the second is heard apart from the first, but
        // before the folder has been quiet for long.
        const QString staging = WindowAssets::root() + "/staging.png";
        for (const char *name : {"Zed.PNG", "zz.png"}) {
            QVERIFY(put(staging) && QFile::rename(staging, dir + '/' + name));
            QTest::qWait(50);
        }
        QTRY_COMPARE(reloads[kind], 1);
        // A late or duplicate delivery would reload once the folder is quiet again.
        QTest::qWait(MainWindow::AssetReloadDelayMs + 200);
        QCOMPARE(reloads, QVector<int>({kind == 0, kind == 1, kind == 2}));
        QCOMPARE(rows(kind),
                 (missing ? QStringList() : listed) + QStringList({"Zed.PNG", "zz.png"}));
        // The first top shape in an empty directory becomes the design's; a chosen one stays.
        QCOMPARE(w->style().topStyle, chosen.isEmpty() ? dir + "/Zed.PNG" : chosen);
    }

    // A file copied in two steps, the rest written after the list has shown the first part:
    // its icon comes once it is whole, with nothing else in the folder changing.
    void fileWrittenInTwoSteps_getsItsIcon()
    {
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) &&
                WindowAssets::pattern(Qt::red).save(&buffer, "PNG") && png.size() > 100);
        open();
        const QString path = dirs[1] + "/slow.png";
        const auto icon = [this] {
            const QListWidgetItem *item = w->ui->fillIcons->item(rows(1).indexOf("slow.png"));
            return item ? item->icon() : QIcon();
        };
        QVERIFY(writeFile(path, png.left(50)));
        QTRY_VERIFY(rows(1).contains("slow.png"));
        QVERIFY(icon().isNull());
        QTest::qWait(100);
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append) && file.write(png.mid(50)) == png.size() - 50);
        file.close();
        QTRY_VERIFY_WITH_TIMEOUT(!icon().isNull(), 1500);
    }

    // What a person enters: a percentage, a colour ("" cancels the dialog) or a pattern.
    void editor_editReachesOnlyItsPartAndSurvivesSwitching_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("part");
        QTest::addColumn<QString>("value");
        // 0.29f reads back as 28.999...; truncating in float arithmetic turns 53 into 52.
        const char *values[] = {"#ff0000,", "29,53", "b.png", "#ff0000,", "29,53", "29,53"};
        for (int part = 0; part < 2; ++part)
            for (int row = 1; row <= 6; ++row)
                for (const QString &value : QString(values[row - 1]).split(','))
                    QTest::addRow("row %d, part %d, '%s'", row, part, qPrintable(value))
                        << row << part << value;
    }
    void editor_editReachesOnlyItsPartAndSurvivesSwitching()
    {
        QFETCH(int, row);
        QFETCH(int, part);
        QFETCH(QString, value);
        open();
        QStringList expected = fields(TileStyle()); // filling the table changed nothing
        select(part);
        const QString before = shown(row);
        if (spin(row)) {
            spin(row)->setValue(value.toInt());
        } else if (row == 3) {
            w->ui->fillIcons->item(2)->setSelected(true); // b.png: the list is sorted
        } else {
            s->prompts->colors << QColor(value);
            emit table()->doubleClicked(table()->model()->index(row, 1));
        }
        if (!value.isEmpty())
            expected[6 * part + row - 1] =
                spin(row) ? QString::number(value.toInt() / 100.0f) : value;
        select(1 - part); // each part shows its own field, however often the part changes
        select(part);
        QCOMPARE(shown(row), value.isEmpty() ? before : value);
        QCOMPARE(fields(w->style()), expected);
    }

    // The second click changes nothing.
    void editor_previewPartClickedSwitchesOnceWhenNeeded_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("clicked");
        for (int start = 0; start < 2; ++start)
            for (const char *item : {"Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"})
                QTest::addRow("%s, part %d", item, start) << start << item;
    }
    void editor_previewPartClickedSwitchesOnceWhenNeeded()
    {
        QFETCH(int, start);
        QFETCH(QString, clicked);
        open();
        const int expected = clicked.startsWith("Top") ? 0 : 1;
        w->tileStyle.topPattern.setFile(dirs[1] + "/A.PNG");
        w->tileStyle.bottomPattern.setFile(dirs[1] + "/b.png");
        select(start);
        w->refreshPreview();
        QListWidget *parts = w->ui->spriteSelectedParts;
        QCOMPARE(parts->count(), 4);
        QSignalSpy switched(w->ui->partSelection, SIGNAL(currentIndexChanged(int)));
        for (int click = 0; click < 2; ++click) // looked up anew: a refresh may rebuild the list
            emit parts->itemClicked(parts->findItems(clicked, Qt::MatchExactly).value(0));
        QCOMPARE(switched.count(), expected == start ? 0 : 1);
        QCOMPARE(shown(0), QString(expected ? "Bottom" : "Top"));
    }
};

QTEST_MAIN(TestAssetLists)
#include "tst_assetlists.moc"
