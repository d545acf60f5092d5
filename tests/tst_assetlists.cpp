#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QImageReader>
#include <zlib.h>

// Kinds are AssetKind - 1. Each directory starts with b.png, A.PNG, c.Png, d.png.bak,
// .hidden.png and a directory e.png, of which its list shows A.PNG, b.png, c.Png.
class TestAssetLists : public QObject
{
    Q_OBJECT
    const QStringList dirs = {WindowAssets::topStyles(), WindowAssets::patterns(),
                              WindowAssets::alpha()};

    static bool put(const QString &path) { return WindowAssets::save(WindowAssets::mask(), path); }
    // In one step (a rename), so the watcher sees one change, not a create and writes.
    bool moveIntoPlace(int kind, const QString &name)
    {
        const QString staging = WindowAssets::root() + '/' + name;
        return put(staging) && QFile::rename(staging, dirs[kind] + '/' + name);
    }
    static QStringList rows(MainWindow &w, int kind)
    {
        const auto list = w.assetList(AssetKind(kind + 1));
        QStringList tips, names;
        for (int row = 0; row < list.widget->count(); ++row)
            tips << list.widget->item(row)->toolTip();
        for (const QFileInfo &file : *list.files)
            names << file.fileName();
        return tips == names ? tips : QStringList("rows and files disagree");
    }

private slots:
    void init()
    {
        TestEnv::resetSettings();
        QVERIFY(WindowAssets::makeEmpty());
        for (const QString &dir : dirs) {
            QVERIFY(QDir().mkpath(dir + "/e.png"));
            for (const char *name : {"b.png", "A.PNG", "c.Png", "d.png.bak", ".hidden.png"})
                QVERIFY(put(dir + '/' + name));
        }
    }
    void cleanup() { QVERIFY(WindowAssets::removeAll()); }

    void oneReloadPerChange_onlyItsList_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("missing"); // 0: never, 1: at start, 2: deleted while watched
        const char *how[] = {"present", "missing at start", "deleted while watched"};
        for (int kind = 0; kind < 3; ++kind)
            for (int missing = 0; missing < 3; ++missing)
                QTest::addRow("%s %s", qPrintable(dirs[kind].section('/', -1)), how[missing])
                    << kind << missing;
    }
    void oneReloadPerChange_onlyItsList()
    {
        QFETCH(int, kind);
        QFETCH(int, missing);
        const QString dir = dirs[kind];
        if (missing == 1)
            QVERIFY(QDir(dir).removeRecursively());
        MainWindow w;
        const QStringList listed = {"A.PNG", "b.png", "c.Png"};
        QCOMPARE(rows(w, kind), missing == 1 ? QStringList() : listed);
        QCOMPARE(w.style().topStyle, kind == 0 && missing == 1 ? QString() : dirs[0] + "/A.PNG");
        QFileSystemWatcher &watcher = *w.assetList(AssetKind(kind + 1)).watcher;
        if (missing == 2) { // the watcher drops a deleted directory
            QVERIFY(QDir(dir).removeRecursively());
            QTRY_VERIFY(watcher.directories().isEmpty() && rows(w, kind).isEmpty());
            QTest::qWait(100);
        }
        void (MainWindow::*loads[])() = {&MainWindow::loadTopShapes, &MainWindow::loadPatterns,
                                         &MainWindow::loadAlphaMasks};
        for (int i = 0; missing && i < 3; ++i) // each fails to watch the missing directory
            (w.*loads[kind])();
        QVERIFY(QDir().mkpath(dir));
        (w.*loads[kind])();
        (w.*loads[kind])();
        QCOMPARE(watcher.directories(), QStringList(dir));

        const QList<QListWidget *> lists = {w.ui->topsList, w.ui->fillIcons, w.ui->alphaMaskList};
        int reloads[3] = {};
        for (int i = 0; i < 3; ++i) {
            if (QListWidgetItem *item = lists[i]->item(1))
                item->setSelected(true);
            // Every rebuild resets the model, however many connections run it.
            connect(lists[i]->model(), &QAbstractItemModel::modelReset,
                    [&reloads, i] { ++reloads[i]; });
        }
        const QString chosen = w.style().topStyle; // empty only when TopStyles was missing
        QVERIFY(moveIntoPlace(kind, "Middle.PNG"));
        QTRY_COMPARE(reloads[kind], 1);
        QTest::qWait(200); // let late or duplicate deliveries arrive
        QCOMPARE(rows(w, kind), (missing ? QStringList() : listed) + QStringList("Middle.PNG"));
        // A rebuilt list keeps no selection; the others are left alone.
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(reloads[i], i == kind ? 1 : 0);
            QCOMPARE(lists[i]->selectedItems().value(0), i == kind ? nullptr : lists[i]->item(1));
        }
        // The first top shape in an empty directory becomes the design's; a chosen one stays.
        QCOMPARE(w.style().topStyle, chosen.isEmpty() ? dir + "/Middle.PNG" : chosen);
    }

    void unreadablePng_emptyIconNeverDecoded_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && WindowAssets::mask().save(&buffer, "PNG"));
        QTest::newRow("text") << QByteArray("not an image, only a name ending in .png\n");
        QTest::newRow("truncated") << png.left(40);
        // A header declaring 60000 x 60000 RGBA pixels, 14 GB once decoded.
        buffer.seek(16);
        QDataStream(&buffer) << quint32(60000) << quint32(60000);
        buffer.seek(29);
        const auto *header = reinterpret_cast<const Bytef *>(png.data()) + 12;
        QDataStream(&buffer) << quint32(crc32(0, header, 17));
        QBuffer reader(&png); // it must really read so, or the row proves nothing
        QCOMPARE(QImageReader(&reader, "png").size(), QSize(60000, 60000));
        QTest::newRow("declares 60000 x 60000") << png;
    }
    void unreadablePng_emptyIconNeverDecoded()
    {
        QFETCH(QByteArray, bytes);
        // A decoding attempt reserves gigabytes of address space, even untouched.
        const auto peakKb = [] {
            QFile status("/proc/self/status");
            status.open(QIODevice::ReadOnly);
            return QString(status.readAll()).section("VmPeak:", 1).section("kB", 0, 0).toLongLong();
        };
        const qint64 peakBefore = peakKb();
        for (const QString &dir : dirs)
            QVERIFY(WindowAssets::writeAll(dir + "/0.png", bytes));
        MainWindow w;
        for (int kind = 0; kind < 3; ++kind) {
            QCOMPARE(rows(w, kind), QStringList({"0.png", "A.PNG", "b.png", "c.Png"}));
            const QListWidget *list = w.assetList(AssetKind(kind + 1)).widget;
            QVERIFY(list->item(0)->icon().isNull() && !list->item(1)->icon().isNull());
        }
        // Sorted first, it is the top shape: the preview must refuse it, as a pattern too.
        QCOMPARE(w.style().topStyle, dirs[0] + "/0.png");
        w.tileStyle.topPattern = w.tileStyle.bottomPattern = QFileInfo(dirs[1] + "/0.png");
        w.refreshPreview();
        QCOMPARE(w.ui->spritePreviewWidget->count(), 1);
        const qint64 growth = peakKb() - peakBefore;
        QVERIFY2(growth < 1024 * 1024, qPrintable(QString("grew by %1 MB").arg(growth >> 10)));
    }
};

QTEST_MAIN(TestAssetLists)
#include "tst_assetlists.moc"
