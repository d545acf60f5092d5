#include "projectreader.h"
#include "projectwriter.h"
#include "tilestyle.h"
#include "tmpfsmount.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString AppDir = QStringLiteral("/opt/tilewright");

QByteArray document(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>" + body + "</project>\n";
}

bool readBytes(const QByteArray &bytes, TileStyle &style, QString *error = nullptr)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    ProjectReader reader;
    reader.setApplicationDirPath(AppDir);
    const bool ok = reader.read(&buffer, style);
    if (error)
        *error = reader.errorString();
    return ok;
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The design right after start-up with the first top shape chosen.
TileStyle startupStyle()
{
    TileStyle style;
    style.topStyle = AppDir + QStringLiteral("/Assets/TopStyles/grass.png");
    return style;
}

const QByteArray StartupDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<project>\n"
                                   "    <topStyle>/opt/tilewright/Assets/TopStyles/grass.png"
                                   "</topStyle>\n"
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

// A device whose every write fails, as a full disk would.
class FailingDevice : public QIODevice
{
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64) override
    {
        setErrorString(QStringLiteral("No space left on device"));
        return -1;
    }
};

} // namespace

Q_DECLARE_METATYPE(TileStyle)

class TestProjectFile : public QObject
{
    Q_OBJECT

private slots:
    // Writing
    void writeStartupDesign_byteForByte();
    void writeFile_byteForByte();
    void writeToFailingDevice_fails();

    // Reading
    void roundTrip_data();
    void roundTrip();
    void appPlaceholder_replacedOnReadWrittenInFull();
    void applicationDir_defaultsToExecutableDir();
    void nestedFields_readAtAnyDepth();
    void unknownElements_ignored();
    void missingProject_failsButKeepsValues();
    void missingField_keepsValue();
    void topDown_data();
    void topDown();
    void topDown_resetBeforeReading();
    void opacityNotNumber_readsZero();
    void emptyPattern_meansNoPattern();
    void childElementInField_failsKeepsEarlierFields();
    void prematureEnd_failsKeepsEarlierFields();
    void readMissingFile_fails();

    // Hostile input
    void hugeFile_refused();
    void hugeBuffer_refused();
    void endlessDevice_refused();
    void deepNesting_refused();
    void nestingAtLimit_reads();
    void billionLaughs_refused();
    void dtd_refused();
    void badEncoding_refused_data();
    void badEncoding_refused();
    void binaryGarbage_refused();
    void hugeTextElement_refused();
    void crowdedElement_refused_data();
    void crowdedElement_refused();
    void textLength_capped_data();
    void textLength_capped();

    // Saving
    void saveToMissingFolder_fails();
    void saveWhereFolderIsFile_fails();
    void saveToReadOnlyFolder_keepsOldFile();
    void saveOnFullDisk_keepsOldFile();
};

void TestProjectFile::writeStartupDesign_byteForByte()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ProjectWriter writer;
    QVERIFY(writer.write(&buffer, startupStyle()));
    QCOMPARE(bytes, StartupDocument);
    QCOMPARE(ProjectWriter::toByteArray(startupStyle()), StartupDocument);
}

void TestProjectFile::writeFile_byteForByte()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("design.twr"));
    ProjectWriter writer;
    QVERIFY2(writer.write(path, startupStyle()), qPrintable(writer.errorString()));
    QCOMPARE(fileContents(path), StartupDocument);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("design.twr")});
}

void TestProjectFile::writeToFailingDevice_fails()
{
    FailingDevice device;
    device.open(QIODevice::WriteOnly);
    ProjectWriter writer;
    QVERIFY(!writer.write(&device, startupStyle()));
    QVERIFY(writer.errorString().contains(QLatin1String("No space left")));

    QBuffer closed;
    QVERIFY(!writer.write(&closed, startupStyle()));
    QVERIFY(!writer.errorString().isEmpty());
}

void TestProjectFile::roundTrip_data()
{
    QTest::addColumn<TileStyle>("style");

    QTest::newRow("start-up") << startupStyle();

    TileStyle patterns = startupStyle();
    patterns.topPattern = QFileInfo(AppDir + QStringLiteral("/Assets/Patterns/bricks.png"));
    patterns.bottomPattern = QFileInfo(QStringLiteral("/home/ann/my patterns/stone & sand.png"));
    QTest::newRow("patterns") << patterns;

    TileStyle edited;
    edited.topStyle = QStringLiteral("/tmp/<odd> \"name\".png");
    edited.topColor = QColor(QStringLiteral("#010203"));
    edited.bottomColor = QColor(QStringLiteral("#fffefd"));
    edited.topPatternColor = QColor(QStringLiteral("#a0b0c0"));
    edited.bottomPatternColor = QColor(QStringLiteral("#000000"));
    edited.topOpacity = 0.37f;
    edited.topPatternOpacity = 0.0f;
    edited.bottomOpacity = 0.01f;
    edited.bottomPatternOpacity = 0.99f;
    edited.bottomPatternColorOpacity = 0.5f;
    edited.topDown = true;
    QTest::newRow("edited") << edited;

    // Values from a file are not clamped, so they must survive as written.
    TileStyle outOfRange;
    outOfRange.topOpacity = 1.5f;
    outOfRange.bottomOpacity = -0.25f;
    QTest::newRow("out of range") << outOfRange;
}

void TestProjectFile::roundTrip()
{
    QFETCH(TileStyle, style);
    const QByteArray bytes = ProjectWriter::toByteArray(style);

    TileStyle read;
    read.topStyle = QStringLiteral("stale");
    read.topPattern = QFileInfo(QStringLiteral("/stale.png"));
    read.topPatternColorOpacity = 0.25f;
    read.shade = 0.4f;
    QString error;
    QVERIFY2(readBytes(bytes, read, &error), qPrintable(error));

    QCOMPARE(read.topStyle, style.topStyle);
    QCOMPARE(read.topColor, style.topColor);
    QCOMPARE(read.bottomColor, style.bottomColor);
    QCOMPARE(read.topPatternColor, style.topPatternColor);
    QCOMPARE(read.bottomPatternColor, style.bottomPatternColor);
    QCOMPARE(read.topOpacity, style.topOpacity);
    QCOMPARE(read.topPatternOpacity, style.topPatternOpacity);
    QCOMPARE(read.bottomOpacity, style.bottomOpacity);
    QCOMPARE(read.bottomPatternOpacity, style.bottomPatternOpacity);
    QCOMPARE(read.bottomPatternColorOpacity, style.bottomPatternColorOpacity);
    QCOMPARE(TileStyle::patternPath(read.topPattern), TileStyle::patternPath(style.topPattern));
    QCOMPARE(TileStyle::patternPath(read.bottomPattern),
             TileStyle::patternPath(style.bottomPattern));
    QCOMPARE(read.topDown, style.topDown);
    // Not in the file: both keep what they had.
    QCOMPARE(read.topPatternColorOpacity, 0.25f);
    QCOMPARE(read.shade, 0.4f);

    QCOMPARE(ProjectWriter::toByteArray(read), bytes);
}

void TestProjectFile::appPlaceholder_replacedOnReadWrittenInFull()
{
    TileStyle style;
    QVERIFY(readBytes(document("<topStyle>$app$/Assets/TopStyles/a.png</topStyle>"
                               "<topPattern>$app$/Assets/Patterns/p.png</topPattern>"
                               "<bottomPattern>/x/$app$/$APP$/$app$.png</bottomPattern>"),
                      style));
    QCOMPARE(style.topStyle, AppDir + QStringLiteral("/Assets/TopStyles/a.png"));
    QCOMPARE(TileStyle::patternPath(style.topPattern),
             AppDir + QStringLiteral("/Assets/Patterns/p.png"));
    QCOMPARE(TileStyle::patternPath(style.bottomPattern), QStringLiteral("/x/") + AppDir +
                                                              QStringLiteral("/$APP$/") + AppDir +
                                                              QStringLiteral(".png"));

    const QByteArray written = ProjectWriter::toByteArray(style);
    QVERIFY(!written.contains("$app$"));
    QVERIFY(written.contains("<topPattern>/opt/tilewright/Assets/Patterns/p.png</topPattern>"));
    QVERIFY(written.contains("<topStyle>/opt/tilewright/Assets/TopStyles/a.png</topStyle>"));
}

void TestProjectFile::applicationDir_defaultsToExecutableDir()
{
    ProjectReader reader;
    QCOMPARE(reader.applicationDirPath(), QCoreApplication::applicationDirPath());
}

void TestProjectFile::nestedFields_readAtAnyDepth()
{
    TileStyle style;
    QVERIFY(readBytes(document("<top><colours><topColor>#123456</topColor></colours>"
                               "<a><b><c><d><topOpacity>0.25</topOpacity></d></c></b></a></top>"
                               "<bottomColor>#654321</bottomColor>"),
                      style));
    QCOMPARE(style.topColor, QColor(QStringLiteral("#123456")));
    QCOMPARE(style.topOpacity, 0.25f);
    QCOMPARE(style.bottomColor, QColor(QStringLiteral("#654321")));

    // The project element itself may sit below another root.
    TileStyle outer;
    QVERIFY(readBytes("<box><project><topColor>#abcdef</topColor></project></box>", outer));
    QCOMPARE(outer.topColor, QColor(QStringLiteral("#abcdef")));
}

void TestProjectFile::unknownElements_ignored()
{
    TileStyle style;
    QVERIFY(readBytes(document("<comment>hello<b>bold</b></comment><topColor>#0000ff</topColor>"
                               "<shade>0.9</shade><topPatternColorOpacity>0.1"
                               "</topPatternColorOpacity><!-- note --><?pi data?>"),
                      style));
    QCOMPARE(style.topColor, QColor(Qt::blue));
    QCOMPARE(style.shade, 0.4f);
    QCOMPARE(style.topPatternColorOpacity, 1.0f);
}

void TestProjectFile::missingProject_failsButKeepsValues()
{
    TileStyle style;
    QString error;
    QVERIFY(!readBytes("<design><topColor>#112233</topColor><topOpacity>0.5</topOpacity>"
                       "<topDown>1</topDown></design>",
                       style, &error));
    QVERIFY(error.contains(QLatin1String("project")));
    QCOMPARE(style.topColor, QColor(QStringLiteral("#112233")));
    QCOMPARE(style.topOpacity, 0.5f);
    QCOMPARE(style.topDown, true);
}

void TestProjectFile::missingField_keepsValue()
{
    TileStyle style;
    style.bottomColor = QColor(QStringLiteral("#010101"));
    style.bottomPattern = QFileInfo(QStringLiteral("/p/keep.png"));
    QVERIFY(readBytes(document("<topColor>#020202</topColor>"), style));
    QCOMPARE(style.bottomColor, QColor(QStringLiteral("#010101")));
    QCOMPARE(TileStyle::patternPath(style.bottomPattern), QStringLiteral("/p/keep.png"));
}

void TestProjectFile::topDown_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("true") << QByteArray("true") << false;
    QTest::newRow("2") << QByteArray("2") << false;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("01") << QByteArray("01") << true;
}

void TestProjectFile::topDown()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, expected);
    TileStyle style;
    QVERIFY(readBytes(document("<topDown>" + text + "</topDown>"), style));
    QCOMPARE(style.topDown, expected);
}

void TestProjectFile::topDown_resetBeforeReading()
{
    TileStyle style;
    style.topDown = true;
    QVERIFY(readBytes(document("<topColor>#000001</topColor>"), style));
    QCOMPARE(style.topDown, false);

    style.topDown = true;
    QVERIFY(!readBytes("not xml at all", style));
    QCOMPARE(style.topDown, false);
}

void TestProjectFile::opacityNotNumber_readsZero()
{
    TileStyle style;
    QVERIFY(readBytes(document("<topOpacity>opaque</topOpacity>"
                               "<bottomPatternOpacity></bottomPatternOpacity>"),
                      style));
    QCOMPARE(style.topOpacity, 0.0f);
    QCOMPARE(style.bottomPatternOpacity, 0.0f);
}

void TestProjectFile::emptyPattern_meansNoPattern()
{
    TileStyle style;
    style.topPattern = QFileInfo(QStringLiteral("/p/old.png"));
    QVERIFY(readBytes(document("<topPattern></topPattern><bottomPattern>/p/new.png"
                               "</bottomPattern>"),
                      style));
    QVERIFY(style.topPattern.fileName().isEmpty());
    QCOMPARE(style.bottomPattern.filePath(), QStringLiteral("/p/new.png"));
}

void TestProjectFile::childElementInField_failsKeepsEarlierFields()
{
    TileStyle style;
    QString error;
    QVERIFY(!readBytes(document("<topColor>#112233</topColor>"
                                "<bottomColor>#445566<b/></bottomColor>"
                                "<topOpacity>0.3</topOpacity>"),
                       style, &error));
    QVERIFY(error.startsWith(QLatin1String("line 2")));
    QCOMPARE(style.topColor, QColor(QStringLiteral("#112233")));
    QCOMPARE(style.topOpacity, 1.0f); // after the failure: never read
}

void TestProjectFile::prematureEnd_failsKeepsEarlierFields()
{
    TileStyle style;
    QVERIFY(!readBytes("<project><topDown>1</topDown><topColor>#112233</topColor>"
                       "<bottomColor>#4455",
                       style));
    QCOMPARE(style.topDown, true);
    QCOMPARE(style.topColor, QColor(QStringLiteral("#112233")));
}

void TestProjectFile::readMissingFile_fails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("absent.twr"));
    TileStyle style;
    ProjectReader reader;
    QVERIFY(!reader.read(path, style));
    QVERIFY(reader.errorString().contains(QLatin1String("absent.twr")));
}

void TestProjectFile::hugeFile_refused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.twr"));
    // Well formed: only its size is wrong.
    QByteArray body = "<topColor>#112233</topColor><!--";
    body += QByteArray(2 * 1024 * 1024, 'x');
    body += "-->";
    QVERIFY(writeFile(path, document(body)));

    TileStyle style;
    ProjectReader reader;
    QVERIFY(!reader.read(path, style));
    QVERIFY(reader.errorString().contains(QLatin1String("huge.twr")));
    QVERIFY(reader.errorString().contains(QLatin1String("bytes")));
    QCOMPARE(style.topColor, TileStyle().topColor); // nothing was parsed
}

void TestProjectFile::hugeBuffer_refused()
{
    TileStyle style;
    QString error;
    QVERIFY(!readBytes(document(QByteArray(3 * 1024 * 1024, ' ')), style, &error));
    QVERIFY(error.contains(QLatin1String("bytes")));
}

void TestProjectFile::endlessDevice_refused()
{
    // A character device reports no size; reading stops one byte past the
    // limit instead of running on.
    QFile zero(QStringLiteral("/dev/zero"));
    if (!zero.open(QIODevice::ReadOnly))
        QSKIP("/dev/zero cannot be opened here");
    TileStyle style;
    ProjectReader reader;
    QVERIFY(!reader.read(&zero, style));
    QVERIFY(reader.errorString().contains(QLatin1String("bytes")));
}

void TestProjectFile::deepNesting_refused()
{
    QByteArray body;
    for (int i = 0; i < 9000; ++i)
        body += "<a>";
    body += "<topColor>#112233</topColor>";
    for (int i = 0; i < 9000; ++i)
        body += "</a>";
    TileStyle style;
    QString error;
    QVERIFY(!readBytes(document(body), style, &error));
    QVERIFY(error.contains(QLatin1String("nested")));
    QCOMPARE(style.topColor, TileStyle().topColor);
}

void TestProjectFile::nestingAtLimit_reads()
{
    // <project> plus the wrappers plus the field itself: exactly the limit.
    const int wrappers = ProjectReader::MaxDepth - 2;
    QByteArray body;
    for (int i = 0; i < wrappers; ++i)
        body += "<a>";
    body += "<topColor>#112233</topColor>";
    for (int i = 0; i < wrappers; ++i)
        body += "</a>";
    TileStyle style;
    QString error;
    QVERIFY2(readBytes(document(body), style, &error), qPrintable(error));
    QCOMPARE(style.topColor, QColor(QStringLiteral("#112233")));

    QVERIFY(!readBytes(document("<a>" + body + "</a>"), style));
}

void TestProjectFile::billionLaughs_refused()
{
    QByteArray dtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE project [\n<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i < 10; ++i) {
        dtd += "<!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int j = 0; j < 10; ++j)
            dtd += "&lol" + QByteArray::number(i - 1) + ";";
        dtd += "\">\n";
    }
    dtd += "]>\n<project><topStyle>&lol9;</topStyle></project>\n";
    TileStyle style;
    QString error;
    QVERIFY(!readBytes(dtd, style, &error));
    QVERIFY(error.contains(QLatin1String("document type")));
    QCOMPARE(style.topStyle, QString());
}

void TestProjectFile::dtd_refused()
{
    TileStyle style;
    QVERIFY(!readBytes("<?xml version=\"1.0\"?>\n<!DOCTYPE project>\n"
                       "<project><topColor>#112233</topColor></project>\n",
                       style));
    QCOMPARE(style.topColor, TileStyle().topColor);
}

void TestProjectFile::badEncoding_refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("invalid UTF-8") << document("<topStyle>a\xff\xfe\xc3(b</topStyle>");
    QTest::newRow("overlong UTF-8") << document("<topStyle>\xc0\xaf</topStyle>");
    QTest::newRow("unknown encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"no-such-code\"?>\n"
                      "<project><topColor>#112233</topColor></project>\n");
    QTest::newRow("declares UTF-16, is UTF-8")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                      "<project><topColor>#112233</topColor></project>\n");
}

void TestProjectFile::badEncoding_refused()
{
    QFETCH(QByteArray, bytes);
    TileStyle style;
    QString error;
    QVERIFY(!readBytes(bytes, style, &error));
    QVERIFY(!error.isEmpty());
}

void TestProjectFile::binaryGarbage_refused()
{
    QRandomGenerator random(20240605);
    for (int round = 0; round < 20; ++round) {
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        TileStyle style;
        QVERIFY(!readBytes(bytes, style));
    }
}

void TestProjectFile::hugeTextElement_refused()
{
    TileStyle style;
    QString error;
    QVERIFY(!readBytes(document("<topStyle>" + QByteArray(10 * 1024 * 1024, 'a') + "</topStyle>"),
                       style, &error));
    QCOMPARE(style.topStyle, QString());
}

void TestProjectFile::crowdedElement_refused_data()
{
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<bool>("accepted");
    QByteArray atLimit = "<a";
    for (int i = 0; i < ProjectReader::MaxAttributes; ++i)
        atLimit += " n" + QByteArray::number(i) + "='='";
    QTest::newRow("at the limit, '=' in values") << atLimit + "/>" << true;
    QTest::newRow("one over") << atLimit + " x=\"\"/>" << false;
    QByteArray crowded = "<p:a xmlns:p='urn:x'";
    for (int i = 0; i < 5000; ++i)
        crowded += " p:n" + QByteArray::number(i) + "=''";
    QTest::newRow("thousands, prefixed") << crowded + "/>" << false;
    QTest::newRow("after a comment with a tag in it")
        << "<!-- <a b='' > -->\n<![CDATA[ <x> ]]>" + crowded + "/>" << false;
}

void TestProjectFile::crowdedElement_refused()
{
    // Duplicate-attribute checks are quadratic in the XML reader: thousands
    // of attributes on one element would take seconds.
    QFETCH(QByteArray, tag);
    QFETCH(bool, accepted);
    TileStyle style;
    QString error;
    QCOMPARE(readBytes(document("<topColor>#112233</topColor>\n" + tag), style, &error), accepted);
    if (!accepted) {
        QVERIFY2(error.contains(QLatin1String("attributes")), qPrintable(error));
        QCOMPARE(style.topColor, TileStyle().topColor);
    }
}

void TestProjectFile::textLength_capped_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("at the limit") << ProjectReader::MaxTextLength << true;
    QTest::newRow("one over") << ProjectReader::MaxTextLength + 1 << false;
    QTest::newRow("far over") << 60000 << false;
}

void TestProjectFile::textLength_capped()
{
    QFETCH(int, length);
    QFETCH(bool, accepted);
    TileStyle style;
    style.topStyle = QStringLiteral("before");
    // Entity references count like the characters they stand for.
    const QByteArray text = "&amp;" + QByteArray(length - 1, 'a');
    QString error;
    QCOMPARE(readBytes(document("<topStyle>" + text + "</topStyle>"), style, &error), accepted);
    if (accepted) {
        QCOMPARE(style.topStyle.size(), length);
    } else {
        QCOMPARE(style.topStyle, QStringLiteral("before"));
        QVERIFY(error.contains(QLatin1String("longer than")));
    }
}

void TestProjectFile::saveToMissingFolder_fails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/design.twr"));
    ProjectWriter writer;
    QVERIFY(!writer.write(path, startupStyle()));
    QVERIFY(writer.errorString().contains(QLatin1String("design.twr")));
    QVERIFY(!QFileInfo::exists(path));
}

void TestProjectFile::saveWhereFolderIsFile_fails()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("plain")), "not a folder"));
    const QString path = dir.filePath(QStringLiteral("plain/design.twr"));
    ProjectWriter writer;
    QVERIFY(!writer.write(path, startupStyle()));
    QVERIFY(writer.errorString().contains(QLatin1String("design.twr")));
    QCOMPARE(fileContents(dir.filePath(QStringLiteral("plain"))), QByteArray("not a folder"));
}

void TestProjectFile::saveToReadOnlyFolder_keepsOldFile()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("ro"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/design.twr");
    const QByteArray old = "old design";

    // Permission bits do not stop root; a read-only file system does.
    TmpfsMount mount(folder);
    if (TmpfsMount::isRoot()) {
        if (!mount.mount())
            QSKIP("cannot mount a tmpfs here (root without mount rights)");
        QVERIFY(writeFile(path, old));
        QVERIFY(mount.remountReadOnly());
    } else {
        QVERIFY(writeFile(path, old));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    }

    ProjectWriter writer;
    const bool saved = writer.write(path, startupStyle());
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!saved);
    QVERIFY(writer.errorString().contains(QLatin1String("design.twr")));
    QCOMPARE(fileContents(path), old);
}

void TestProjectFile::saveOnFullDisk_keepsOldFile()
{
    if (!TmpfsMount::isRoot())
        QSKIP("needs root to mount a tiny tmpfs as a full disk");
    QTemporaryDir dir;
    TmpfsMount mount(dir.path());
    if (!mount.mount())
        QSKIP("cannot mount a tmpfs here");

    const QString path = dir.filePath(QStringLiteral("design.twr"));
    ProjectWriter writer;
    QVERIFY2(writer.write(path, startupStyle()), qPrintable(writer.errorString()));
    QVERIFY(mount.fill());

    TileStyle changed = startupStyle();
    changed.topColor = QColor(Qt::red);
    QVERIFY(!writer.write(path, changed));
    QVERIFY(writer.errorString().contains(QLatin1String("design.twr")));
    QCOMPARE(fileContents(path), StartupDocument);
    // No temporary file left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("design.twr"), QStringLiteral("filler")}));
}

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
