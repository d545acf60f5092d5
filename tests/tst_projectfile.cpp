#include "fileentry.h"
#include "previewfixtures.h"
#include "projectreader.h"
#include "projectwriter.h"
#include "tilestyle.h"
#include "tmpfsmount.h"

#include <QtTest>

static QByteArray document(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>" + body + "</project>\n";
}

// A document laid out as the writer lays it out, the thirteen texts in order.
static QByteArray project(const QByteArrayList &texts)
{
    const QByteArrayList names =
        QByteArray("topStyle topColor topOpacity topPattern topPatternColor topPatternOpacity "
                   "bottomColor bottomOpacity bottomPattern bottomPatternColor "
                   "bottomPatternColorOpacity bottomPatternOpacity topDown")
            .split(' ');
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>\n";
    for (int i = 0; i < names.size(); ++i)
        out += "    <" + names[i] + ">" + texts.value(i) + "</" + names[i] + ">\n";
    return out + "</project>\n";
}

static TileStyle startupStyle()
{
    TileStyle style;
    style.topStyle = "/opt/tilewright/Assets/TopStyles/grass.png";
    return style;
}

static const QByteArray StartupDocument =
    project({"/opt/tilewright/Assets/TopStyles/grass.png", "#80be1f", "1", "", "#80be1f", "0.4",
             "#c39366", "1", "", "#c39366", "1", "0.4", "0"});

class TestProjectFile : public QObject
{
    Q_OBJECT

private slots:
    void writeStartupDesign_byteForByte()
    {
        QCOMPARE(ProjectWriter::toByteArray(startupStyle()), StartupDocument);
    }

    // Each row is read over a changed start-up design; the fragments must be
    // in the design written back. A failed read keeps the fields read before it.
    void read_data()
    {
        QTest::addColumn<FileEntry>("entry");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArrayList>("written");
        auto row = [](const QByteArray &name, const QByteArray &bytes, bool ok,
                      const QByteArrayList &out, FileEntry entry = FileEntry::Bytes) {
            QTest::newRow(name.constData()) << entry << bytes << ok << out;
        };
        // Values from a file are not clamped.
        const QByteArray all =
            project({"/tmp/&lt;odd&gt; &quot;n&quot; &amp; co.png", "#010203", "0.37",
                     "/opt/p/bricks.png", "#a0b0c0", "0", "#fffefd", "-0.25",
                     "/home/ann/my pats/s.png", "#000000", "0.5", "1.5", "1"});
        row("round trip, every field", all, true, {all});
        row("$app$ replaced, written in full",
            document("<topStyle>$app$/T/a.png</topStyle><topPattern>$app$/P/p.png</topPattern>"
                     "<bottomPattern>/x/$app$/$APP$/$app$.png</bottomPattern>"),
            true,
            {"<topStyle>/opt/tilewright/T/a.png<", "<topPattern>/opt/tilewright/P/p.png<",
             "<bottomPattern>/x//opt/tilewright/$APP$//opt/tilewright.png<"});
        row("nested at any depth, unknown elements ignored",
            "<box><project><c>hi<b>b</b></c><!-- c --><?pi d?><topPatternColorOpacity>0.1"
            "</topPatternColorOpacity><x><topColor>#123456</topColor></x>" +
                QByteArray("<a>").repeated(ProjectReader::MaxDepth - 3) +
                "<topOpacity>0.25</topOpacity>" +
                QByteArray("</a>").repeated(ProjectReader::MaxDepth - 3) + "</project></box>",
            true, {"<topColor>#123456<", "<topOpacity>0.25<"});
        row("missing fields kept, empty pattern is none, topDown false",
            document("<topPattern></topPattern>"), true,
            {"<topPattern></topPattern>", "<bottomPattern>/p/keep.png<", "<topDown>0<"});
        row("opacity not a number is 0",
            document(
                "<topOpacity>opaque</topOpacity><bottomPatternOpacity></bottomPatternOpacity>"),
            true, {"<topOpacity>0<", "<bottomPatternOpacity>0<"});
        for (const auto &[text, value] : QList<QPair<QByteArray, QByteArray>>{
                 {"1", "1"}, {"01", "1"}, {"true", "0"}, {"2", "0"}, {"", "0"}})
            row("topDown " + text, document("<topDown>" + text + "</topDown>"), true,
                {"<topDown>" + value + "<"});
        // Entity references count like the characters they stand for.
        const QByteArray text = "&amp;" + QByteArray(ProjectReader::MaxTextLength - 1, 'a');
        row("text at the limit", document("<topStyle>" + text + "</topStyle>"), true,
            {"<topStyle>" + text + "<"});
        row("premature end", "<project><topDown>1</topDown><topColor>#112233</topColor><bott",
            false, {"<topColor>#112233<", "<topDown>1<"});
        // Hostile input is refused before any field is stored.
        const QByteArray field = "<topColor>#112233</topColor>";
        const auto refused = [&](const char *name, const QByteArray &bytes,
                                 FileEntry entry = FileEntry::Bytes) {
            row(name, bytes, false,
                {"<topStyle>/opt/tilewright/Assets/TopStyles/grass.png<", "<topColor>#80be1f<"},
                entry);
        };
        refused("over the size limit", document(field + QByteArray(ProjectReader::MaxBytes, ' ')));
        refused("one level too deep",
                document(QByteArray("<a>").repeated(ProjectReader::MaxDepth - 1) + field));
        QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE project [\n<!ENTITY l0 \"lol\">\n";
        for (int i = 1; i < 10; ++i)
            laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                      ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
        refused("entity expansion", laughs + "]><project><topStyle>&l9;</topStyle></project>");
        refused("plain DTD", "<!DOCTYPE project>\n<project>" + field + "</project>");
        // Neither may block the reader or fill its memory.
        refused("a named pipe", {}, FileEntry::Pipe);
        refused("a link to a device", {}, FileEntry::DeviceLink);
        refused("invalid UTF-8", document("<topStyle>a\xff\xc0\xaf(b</topStyle>" + field));
        for (const char *code : {"no-such-code", "UTF-16"})
            refused(code, "<?xml version=\"1.0\" encoding=\"" + QByteArray(code) +
                              "\"?>\n<project>" + field + "</project>");
        QByteArray garbage(60000, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(garbage.data()), 15000);
        refused("binary garbage", garbage);
        refused("binary garbage in a field", "<project><topColor>" + garbage);
        refused("text one over the limit", document("<topStyle>a" + text + "</topStyle>"));
    }

    void read()
    {
        QFETCH(FileEntry, entry);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QString file = dir.filePath("x.twr");
        QVERIFY(place(entry, file, bytes));
        TileStyle style = startupStyle();
        style.topPattern.setFile("/p/old.png");
        style.bottomPattern.setFile("/p/keep.png");
        style.topDown = true;
        ProjectReader reader;
        reader.setApplicationDirPath("/opt/tilewright");
        QCOMPARE(reader.read(file, style), ok);
        QVERIFY(ok || reader.errorString().contains("x.twr"));
        const QByteArray out = ProjectWriter::toByteArray(style);
        QFETCH(QByteArrayList, written);
        for (const QByteArray &fragment : written)
            QVERIFY2(out.contains(fragment), qPrintable(fragment + " not in\n" + out));
        QCOMPARE(style.topPatternColorOpacity, 1.0f); // not in the file
    }

    // The failure names the file, the old file stays whole and no temporary
    // file is left. Missing and read-only folders take the same way through
    // SafeFileWriter (tst_assetimport; the window's failed save: tst_projectcommands).
    void saveOnFullDisk_keepsOldFile()
    {
        QTemporaryDir dir;
        TmpfsMount disk(dir.path());
        if (!disk.mount())
            QSKIP("needs root to mount a tmpfs");
        const QString path = dir.filePath("a.twr");
        ProjectWriter writer;
        QVERIFY(writer.write(path, startupStyle()) && disk.fill());
        QVERIFY(!writer.write(path, TileStyle()));
        QVERIFY2(writer.errorString().contains("a.twr"), qPrintable(writer.errorString()));
        QCOMPARE(PreviewFixtures::readFile(path), StartupDocument);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"a.twr", "filler"}));
    }

    // Only "Top" itself selects the top part. Reset restores the colours,
    // opacities and shade but leaves the patterns and topDown to its callers.
    void styleRecord_partAndReset()
    {
        TileStyle style = startupStyle();
        style.opacity(stylePartFromText("top")) = style.shade = style.topPatternColorOpacity = 0;
        style.pattern(stylePartFromText("Top")).setFile("/p/dirt.png");
        QCOMPARE(style.bottomOpacity, 0.0f);
        QCOMPARE(style.topPattern.fileName(), QStringLiteral("dirt.png"));
        style.resetColoursAndOpacities();
        QCOMPARE(ProjectWriter::toByteArray(style),
                 QByteArray(StartupDocument).replace("<topPattern><", "<topPattern>/p/dirt.png<"));
        QCOMPARE(style.shade, 0.4f);
        QCOMPARE(style.topPatternColorOpacity, 1.0f);
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
