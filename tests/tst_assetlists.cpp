#include "mainwindow.h"
#include "testenv.h"
#include "ui_mainwindow.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QListWidget>
#include <QPainter>
#include <QtTest>

namespace {

QString assetsRoot()
{
    return QCoreApplication::applicationDirPath() + "/Assets";
}

QString subdirectoryOf(AssetKind kind)
{
    // Spelled out here rather than taken from the program, so a wrong
    // directory name cannot agree with itself.
    switch (kind) {
    case TopShapes:
        return QStringLiteral("TopStyles");
    case Patterns:
        return QStringLiteral("Patterns");
    default:
        return QStringLiteral("Alpha");
    }
}

QString assetDir(AssetKind kind)
{
    return assetsRoot() + '/' + subdirectoryOf(kind);
}

QImage sampleImage(AssetKind kind, const QColor &colour)
{
    if (kind == TopShapes) {
        QImage image(128, 40, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRect(0, 0, 128, 22);
        for (int x = 0; x < 128; x += 16)
            painter.drawEllipse(x, 14, 16, 20);
        return image;
    }
    QImage image(128, 128, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (kind == Patterns) {
        for (int y = 0; y < 128; y += 16)
            for (int x = (y / 16) % 2 * 16; x < 128; x += 32)
                painter.fillRect(x, y, 16, 16, colour);
    } else {
        painter.fillRect(0, 32, 128, 96, Qt::black);
    }
    return image;
}

bool writeImage(AssetKind kind, const QString &path, const QColor &colour = Qt::darkGreen)
{
    return sampleImage(kind, colour).save(path, "PNG");
}

// Puts a finished file into a watched directory in one step, so the watcher
// sees exactly one change (a rename), not a create followed by writes.
bool moveIntoPlace(AssetKind kind, const QString &name, const QByteArray &bytes = QByteArray())
{
    const QString staging = assetsRoot() + "/staging";
    if (!QDir().mkpath(staging))
        return false;
    const QString temporary = staging + '/' + name;
    if (bytes.isEmpty()) {
        if (!writeImage(kind, temporary))
            return false;
    } else {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return false;
    }
    return QFile::rename(temporary, assetDir(kind) + '/' + name);
}

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
    // A real (if short) image stream, so that the header reads as valid.
    appendChunk(png, "IDAT", qCompress(QByteArray(64, '\0')).mid(4));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

// Peak address space of this process. An attempt to decode the absurd PNG
// reserves its 14 GB here even though the pages are never touched, so the
// attempt shows without the machine running out of memory.
qint64 peakVirtualBytes()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmPeak:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

QStringList toolTips(const QListWidget *list)
{
    QStringList tips;
    for (int row = 0; row < list->count(); ++row)
        tips << list->item(row)->toolTip();
    return tips;
}

QStringList fileNames(const QList<QFileInfo> &files)
{
    QStringList names;
    for (const QFileInfo &file : files)
        names << file.fileName();
    return names;
}

} // namespace

Q_DECLARE_METATYPE(AssetKind)

class TestAssetLists : public QObject
{
    Q_OBJECT

private:
    static QListWidget *listOf(MainWindow &window, AssetKind kind)
    {
        switch (kind) {
        case TopShapes:
            return window.ui->topsList;
        case Patterns:
            return window.ui->fillIcons;
        default:
            return window.ui->alphaMaskList;
        }
    }
    static const QList<QFileInfo> &filesOf(MainWindow &window, AssetKind kind)
    {
        switch (kind) {
        case TopShapes:
            return window.topShapeFiles;
        case Patterns:
            return window.patternFiles;
        default:
            return window.alphaMaskFiles;
        }
    }
    static QFileSystemWatcher &watcherOf(MainWindow &window, AssetKind kind)
    {
        switch (kind) {
        case TopShapes:
            return window.topShapesWatcher;
        case Patterns:
            return window.patternsWatcher;
        default:
            return window.alphaMasksWatcher;
        }
    }
    static void load(MainWindow &window, AssetKind kind)
    {
        switch (kind) {
        case TopShapes:
            window.loadTopShapes();
            break;
        case Patterns:
            window.loadPatterns();
            break;
        default:
            window.loadAlphaMasks();
            break;
        }
    }
    static bool isWatched(MainWindow &window, AssetKind kind)
    {
        return watcherOf(window, kind).directories().contains(assetDir(kind));
    }
    // Every rebuild of a list resets its model; counting resets counts loads,
    // however many connections run them.
    static void countReloads(QListWidget *list, int *counter)
    {
        QObject::connect(list->model(), &QAbstractItemModel::modelReset, list,
                         [counter] { ++*counter; });
    }
    static void verifyRowsMatchFiles(MainWindow &window, AssetKind kind)
    {
        const QListWidget *list = listOf(window, kind);
        const QList<QFileInfo> &files = filesOf(window, kind);
        QCOMPARE(list->count(), files.size());
        for (int row = 0; row < list->count(); ++row) {
            QCOMPARE(list->item(row)->toolTip(), files.at(row).fileName());
            QVERIFY(list->item(row)->text().isEmpty());
        }
    }
    static void addKindRows()
    {
        QTest::addColumn<AssetKind>("kind");
        QTest::newRow("TopStyles") << TopShapes;
        QTest::newRow("Patterns") << Patterns;
        QTest::newRow("Alpha") << AlphaMasks;
    }

private slots:
    void init();
    void cleanup();

    void listOrderAndFilter_data() { addKindRows(); }
    void listOrderAndFilter();
    void rowsFollowFiles_afterWatchedChanges_data() { addKindRows(); }
    void rowsFollowFiles_afterWatchedChanges();

    void oneReloadPerChange_data();
    void oneReloadPerChange();
    void changeInOneDirectory_reloadsOnlyItsList_data() { addKindRows(); }
    void changeInOneDirectory_reloadsOnlyItsList();
    void deletedAndRecreatedDirectory_watchedAgainAfterNextLoad_data() { addKindRows(); }
    void deletedAndRecreatedDirectory_watchedAgainAfterNextLoad();

    void emptyTopStyles_firstAddedShapeBecomesTopStyle();
    void addingTopShape_withOneChosen_clearsSelectionKeepsPath();

    void absurdPng_emptyIconAndNeverDecoded();
    void unreadablePng_emptyIcon_data();
    void unreadablePng_emptyIcon();
};

void TestAssetLists::init()
{
    TestEnv::resetSettings();
    QDir(assetsRoot()).removeRecursively();
    for (AssetKind kind : {TopShapes, Patterns, AlphaMasks}) {
        QVERIFY(QDir().mkpath(assetDir(kind)));
        QVERIFY(writeImage(kind, assetDir(kind) + "/first.png", Qt::darkGreen));
        QVERIFY(writeImage(kind, assetDir(kind) + "/second.png", Qt::darkRed));
    }
}

void TestAssetLists::cleanup()
{
    QDir(assetsRoot()).removeRecursively();
}

void TestAssetLists::listOrderAndFilter()
{
    QFETCH(AssetKind, kind);
    const QString dir = assetDir(kind);
    QVERIFY(QDir(dir).removeRecursively());
    QVERIFY(QDir().mkpath(dir + "/e.png"));
    for (const char *name : {"b.png", "A.PNG", "c.Png", "d.png.bak", ".hidden.png"})
        QVERIFY(writeImage(kind, dir + '/' + name));

    MainWindow window;
    const QStringList expected = {"A.PNG", "b.png", "c.Png"};
    QCOMPARE(toolTips(listOf(window, kind)), expected);
    QCOMPARE(fileNames(filesOf(window, kind)), expected);
    verifyRowsMatchFiles(window, kind);
    for (int row = 0; row < listOf(window, kind)->count(); ++row)
        QVERIFY(!listOf(window, kind)->item(row)->icon().isNull());
    if (kind == TopShapes)
        QCOMPARE(window.style().topStyle, dir + "/A.PNG");
    else
        QCOMPARE(window.style().topStyle, assetDir(TopShapes) + "/first.png");
}

void TestAssetLists::rowsFollowFiles_afterWatchedChanges()
{
    QFETCH(AssetKind, kind);
    MainWindow window;
    QListWidget *list = listOf(window, kind);
    QCOMPARE(toolTips(list), QStringList({"first.png", "second.png"}));

    QVERIFY(moveIntoPlace(kind, "Middle.PNG"));
    QTRY_COMPARE(toolTips(list), QStringList({"first.png", "Middle.PNG", "second.png"}));
    verifyRowsMatchFiles(window, kind);

    QVERIFY(QFile::remove(assetDir(kind) + "/first.png"));
    QTRY_COMPARE(toolTips(list), QStringList({"Middle.PNG", "second.png"}));
    verifyRowsMatchFiles(window, kind);
    // The design keeps pointing at a file that is gone; the list just drops it.
    QCOMPARE(window.style().topStyle, assetDir(TopShapes) + "/first.png");
}

void TestAssetLists::oneReloadPerChange_data()
{
    QTest::addColumn<AssetKind>("kind");
    QTest::addColumn<bool>("missingAtFirst");
    for (AssetKind kind : {TopShapes, Patterns, AlphaMasks}) {
        const QByteArray name = subdirectoryOf(kind).toLatin1();
        QTest::addRow("%s loaded again", name.constData()) << kind << false;
        QTest::addRow("%s missing, re-created", name.constData()) << kind << true;
    }
}

void TestAssetLists::oneReloadPerChange()
{
    QFETCH(AssetKind, kind);
    QFETCH(bool, missingAtFirst);
    if (missingAtFirst)
        QVERIFY(QDir(assetDir(kind)).removeRecursively());

    MainWindow window;
    if (missingAtFirst) {
        // Each of these loads fails to watch the missing directory.
        for (int i = 0; i < 3; ++i)
            load(window, kind);
        QVERIFY(!isWatched(window, kind));
        QCOMPARE(listOf(window, kind)->count(), 0);
        QVERIFY(QDir().mkpath(assetDir(kind)));
        QVERIFY(writeImage(kind, assetDir(kind) + "/first.png"));
    }
    load(window, kind);
    load(window, kind);
    QVERIFY(isWatched(window, kind));
    QCOMPARE(watcherOf(window, kind).directories(), QStringList(assetDir(kind)));
    const int before = listOf(window, kind)->count();

    int reloads = 0;
    countReloads(listOf(window, kind), &reloads);
    QSignalSpy changes(&watcherOf(window, kind), SIGNAL(directoryChanged(QString)));
    QVERIFY(moveIntoPlace(kind, "added.png"));
    QTRY_VERIFY(changes.count() >= 1);
    // Let any late or duplicate deliveries arrive before counting.
    QTest::qWait(200);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(reloads, 1);
    QCOMPARE(listOf(window, kind)->count(), before + 1);
    verifyRowsMatchFiles(window, kind);
}

void TestAssetLists::changeInOneDirectory_reloadsOnlyItsList()
{
    QFETCH(AssetKind, kind);
    MainWindow window;
    const QList<AssetKind> kinds = {TopShapes, Patterns, AlphaMasks};
    int reloads[AlphaMasks + 1] = {};
    for (AssetKind each : kinds) {
        listOf(window, each)->item(1)->setSelected(true);
        countReloads(listOf(window, each), &reloads[each]);
    }

    QVERIFY(moveIntoPlace(kind, "added.png"));
    QTRY_COMPARE(listOf(window, kind)->count(), 3);
    QTest::qWait(200);
    QCOMPARE(reloads[kind], 1);
    // A rebuilt list keeps no selection.
    QVERIFY(listOf(window, kind)->selectedItems().isEmpty());
    for (AssetKind other : kinds) {
        if (other == kind)
            continue;
        QListWidget *list = listOf(window, other);
        QCOMPARE(reloads[other], 0);
        QCOMPARE(toolTips(list), QStringList({"first.png", "second.png"}));
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>({list->item(1)}));
    }
}

void TestAssetLists::deletedAndRecreatedDirectory_watchedAgainAfterNextLoad()
{
    QFETCH(AssetKind, kind);
    MainWindow window;
    QVERIFY(isWatched(window, kind));

    QVERIFY(QDir(assetDir(kind)).removeRecursively());
    // The watcher drops a deleted directory; its reload finds nothing.
    QTRY_VERIFY(!isWatched(window, kind));
    QTRY_COMPARE(listOf(window, kind)->count(), 0);
    QTest::qWait(100);

    QVERIFY(QDir().mkpath(assetDir(kind)));
    load(window, kind);
    QVERIFY(isWatched(window, kind));

    int reloads = 0;
    countReloads(listOf(window, kind), &reloads);
    QVERIFY(moveIntoPlace(kind, "back.png"));
    QTRY_COMPARE(toolTips(listOf(window, kind)), QStringList("back.png"));
    QTest::qWait(200);
    QCOMPARE(reloads, 1);
}

void TestAssetLists::emptyTopStyles_firstAddedShapeBecomesTopStyle()
{
    QVERIFY(QDir(assetDir(TopShapes)).removeRecursively());
    QVERIFY(QDir().mkpath(assetDir(TopShapes)));

    MainWindow window;
    QCOMPARE(window.ui->topsList->count(), 0);
    QVERIFY(window.style().topStyle.isEmpty());

    QVERIFY(moveIntoPlace(TopShapes, "grass.png"));
    QTRY_COMPARE(window.ui->topsList->count(), 1);
    QCOMPARE(window.style().topStyle, assetDir(TopShapes) + "/grass.png");
    // A load sets no preview going of its own.
    QVERIFY(!window.isModified());

    // Once there is a top shape, a file sorted before it does not replace it.
    QVERIFY(moveIntoPlace(TopShapes, "aaa.png"));
    QTRY_COMPARE(window.ui->topsList->count(), 2);
    QCOMPARE(window.style().topStyle, assetDir(TopShapes) + "/grass.png");
}

void TestAssetLists::addingTopShape_withOneChosen_clearsSelectionKeepsPath()
{
    MainWindow window;
    QListWidget *list = window.ui->topsList;
    list->item(1)->setSelected(true);
    const QString chosen = assetDir(TopShapes) + "/second.png";
    QCOMPARE(window.style().topStyle, chosen);

    QVERIFY(moveIntoPlace(TopShapes, "0-sorted-first.png"));
    QTRY_COMPARE(list->count(), 3);
    QVERIFY(list->selectedItems().isEmpty());
    QCOMPARE(window.style().topStyle, chosen);
    QCOMPARE(toolTips(list), QStringList({"0-sorted-first.png", "first.png", "second.png"}));
}

void TestAssetLists::absurdPng_emptyIconAndNeverDecoded()
{
    const qint64 peakBefore = peakVirtualBytes();
    if (peakBefore < 0)
        QSKIP("no /proc/self/status to read the peak address space from");

    const QByteArray png = absurdPng();
    QVERIFY(png.size() < 100);
    for (AssetKind kind : {TopShapes, Patterns, AlphaMasks}) {
        QFile file(assetDir(kind) + "/absurd.png");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(png), qint64(png.size()));
    }
    // The header must really read as 60000 x 60000, or the test proves nothing.
    QCOMPARE(QImageReader(assetDir(TopShapes) + "/absurd.png").size(), QSize(60000, 60000));

    MainWindow window;
    for (AssetKind kind : {TopShapes, Patterns, AlphaMasks}) {
        QListWidget *list = listOf(window, kind);
        QCOMPARE(toolTips(list), QStringList({"absurd.png", "first.png", "second.png"}));
        QVERIFY(list->item(0)->icon().isNull());
        QVERIFY(!list->item(1)->icon().isNull());
    }
    // Sorted first, the absurd file became the top shape; the preview must
    // refuse it as well.
    QCOMPARE(window.style().topStyle, assetDir(TopShapes) + "/absurd.png");
    window.tileStyle.topPattern = QFileInfo(assetDir(Patterns) + "/absurd.png");
    window.tileStyle.bottomPattern = QFileInfo(assetDir(Patterns) + "/absurd.png");
    window.refreshPreview();
    QCOMPARE(window.ui->spritePreviewWidget->count(), 1);

    const qint64 growth = peakVirtualBytes() - peakBefore;
    QVERIFY2(growth < 1024 * 1024 * 1024,
             qPrintable(QString("address space grew by %1 MB").arg(growth >> 20)));
}

void TestAssetLists::unreadablePng_emptyIcon_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("text") << QByteArray("this is not an image, only a name ending in .png\n");
    QByteArray valid;
    {
        QBuffer buffer(&valid);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(sampleImage(Patterns, Qt::blue).save(&buffer, "PNG"));
    }
    QTest::newRow("truncated PNG") << valid.left(40);
    QByteArray badCrc = valid;
    badCrc[17] = char(badCrc[17] ^ 0x55); // the width, so the header's CRC no longer fits
    QTest::newRow("header CRC wrong") << badCrc;
}

void TestAssetLists::unreadablePng_emptyIcon()
{
    QFETCH(QByteArray, bytes);
    for (AssetKind kind : {TopShapes, Patterns, AlphaMasks}) {
        QFile file(assetDir(kind) + "/broken.png");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }
    MainWindow window;
    for (AssetKind kind : {TopShapes, Patterns, AlphaMasks}) {
        QListWidget *list = listOf(window, kind);
        QCOMPARE(toolTips(list), QStringList({"broken.png", "first.png", "second.png"}));
        QVERIFY(list->item(0)->icon().isNull());
        QVERIFY(!list->item(2)->icon().isNull());
        verifyRowsMatchFiles(window, kind);
    }
    // A broken top shape still becomes the design's top shape; the preview
    // shows its part with an empty icon rather than failing.
    window.refreshPreview();
    QCOMPARE(window.ui->spritePreviewWidget->count(), 1);
}

QTEST_MAIN(TestAssetLists)
#include "tst_assetlists.moc"
