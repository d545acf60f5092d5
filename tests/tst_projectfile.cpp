#include "projectreader.h"
#include "projectwriter.h"
#include "tilestyle.h"
#include "tmpfsmount.h"

#include <QtTest>

namespace {

const QString AppDir = QStringLiteral("/opt/tilewright");

QByteArray document(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>" + body + "</project>\n";
}

QByteArray nested(int levels, const QByteArray &inner)
{
    return QByteArray("<a>").repeated(levels) + inner + QByteArray("</a>").repeated(levels);
}

TileStyle startupStyle()
{
    TileStyle style;
    style.topStyle = AppDir + QStringLiteral("/Assets/TopStyles/grass.png");
    return style;
}

// A document laid out as the writer lays it out, the thirteen texts in order.
QByteArray project(const QByteArrayList &texts)
{
    static const QByteArrayList names =
        QByteArray("topStyle topColor topOpacity topPattern topPatternColor topPatternOpacity "
                   "bottomColor bottomOpacity bottomPattern bottomPatternColor "
                   "bottomPatternColorOpacity bottomPatternOpacity topDown")
            .split(' ');
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<project>\n";
    for (int i = 0; i < names.size(); ++i)
        out += "    <" + names[i] + ">" + texts.value(i) + "</" + names[i] + ">\n";
    return out + "</project>\n";
}

const QByteArray StartupDocument =
    project({"/opt/tilewright/Assets/TopStyles/grass.png", "#80be1f", "1", "", "#80be1f", "0.4",
             "#c39366", "1", "", "#c39366", "1", "0.4", "0"});

} // namespace

class TestProjectFile : public QObject
{
    Q_OBJECT

private slots:
    void writeStartupDesign_byteForByte();
    void read_data();
    void read();
    void saveFailure_keepsOldFile_data();
    void saveFailure_keepsOldFile();
};

void TestProjectFile::writeStartupDesign_byteForByte()
{
    QCOMPARE(ProjectWriter::toByteArray(startupStyle()), StartupDocument);
}

// Each row is read over a changed start-up design; the fragments must be in
// the design written back. A failed read keeps the fields read before it.
void TestProjectFile::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArrayList>("written");
    auto row = [](const char *name, const QByteArray &bytes, bool ok, const QByteArrayList &out) {
        QTest::newRow(name) << bytes << ok << out;
    };
    // Values from a file are not clamped.
    const QByteArray all = project({"/tmp/&lt;odd&gt; &quot;n&quot; &amp; co.png", "#010203",
                                    "0.37", "/opt/p/bricks.png", "#a0b0c0", "0", "#fffefd", "-0.25",
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
            nested(ProjectReader::MaxDepth - 3, "<topOpacity>0.25</topOpacity>") +
            "</project></box>",
        true, {"<topColor>#123456<", "<topOpacity>0.25<"});
    row("missing fields keep their values, topDown false", document(""), true,
        {"<bottomPattern>/p/keep.png<", "<topDown>0<"});
    row("empty pattern is none", document("<topPattern></topPattern>"), true,
        {"<topPattern></topPattern>"});
    row("opacity not a number is 0",
        document("<topOpacity>opaque</topOpacity><bottomPatternOpacity></bottomPatternOpacity>"),
        true, {"<topOpacity>0<", "<bottomPatternOpacity>0<"});
    const QList<QPair<QByteArray, QByteArray>> topDown = {
        {"1", "1"}, {"01", "1"}, {"true", "0"}, {"2", "0"}, {"", "0"}};
    for (const auto &[text, value] : topDown)
        row(("topDown " + text).constData(), document("<topDown>" + text + "</topDown>"), true,
            {"<topDown>" + value + "<"});
    QByteArray crowded = "<a";
    for (int i = 0; i < ProjectReader::MaxAttributes; ++i)
        crowded += " n" + QByteArray::number(i) + "='='";
    row("attributes at the limit, '=' in values",
        document("<topColor>#112233</topColor>" + crowded + "/>"), true, {"<topColor>#112233<"});
    // Entity references count like the characters they stand for.
    const QByteArray text = "&amp;" + QByteArray(ProjectReader::MaxTextLength - 1, 'a');
    row("text at the limit", document("<topStyle>" + text + "</topStyle>"), true,
        {"<topStyle>" + text + "<"});
    row("no project element",
        "<d><topColor>#112233</topColor><topOpacity>0.5</topOpacity><topDown>1</topDown></d>",
        false, {"<topColor>#112233<", "<topOpacity>0.5<", "<topDown>1<"});
    row("child element in a field",
        document("<topColor>#112233</topColor><bottomColor>#445566<b/></bottomColor>"
                 "<topOpacity>0.3</topOpacity>"),
        false, {"<topColor>#112233<", "<topOpacity>1<"});
    row("premature end", "<project><topDown>1</topDown><topColor>#112233</topColor><bottomC", false,
        {"<topColor>#112233<", "<topDown>1<"});
    row("not XML", "not xml", false, {"<topDown>0<"});
    // Hostile input is refused before any field is stored.
    auto refused = [&](const char *name, const QByteArray &bytes) {
        row(name, bytes, false,
            {"<topStyle>/opt/tilewright/Assets/TopStyles/grass.png<", "<topColor>#80be1f<"});
    };
    const QByteArray field = "<topColor>#112233</topColor>";
    refused("missing file", QByteArray()); // the reasons name the file
    refused("huge", document(field + QByteArray(3 << 20, ' ')));
    refused("endless device", QByteArray("/dev/zero")); // read up to the limit only
    refused("deep nesting", document(nested(9000, field)));
    refused("one level too deep", document(nested(ProjectReader::MaxDepth - 1, field)));
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE project [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                  ("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
    refused("entity expansion", laughs + "]><project><topStyle>&l9;</topStyle></project>");
    refused("plain DTD", "<!DOCTYPE project>\n<project>" + field + "</project>");
    refused("invalid UTF-8", document("<topStyle>a\xff\xc0\xaf(b</topStyle>" + field));
    for (const char *code : {"no-such-code", "UTF-16"})
        refused(code, "<?xml version=\"1.0\" encoding=\"" + QByteArray(code) + "\"?>\n<project>" +
                          field + "</project>");
    QRandomGenerator random(20240605);
    for (const char *prefix : {"garbage", "<project><topColor>"}) {
        QByteArray garbage(60000, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);
        refused(prefix, prefix + garbage);
    }
    refused("huge text element, cap + 1", document("<topStyle>a" + text + "</topStyle>"));
    // The XML reader checks attributes for duplicates in quadratic time.
    refused("one attribute too many", document(field + crowded + " x=\"\"/>"));
    QByteArray prefixed = "<p:a xmlns:p='urn:x'";
    for (int i = 0; i < 5000; ++i)
        prefixed += " p:n" + QByteArray::number(i) + "=''";
    refused("5000 attributes behind a comment with a tag in it",
            document(field + "<!-- <a b='' > --><![CDATA[ <x> ]]>" + prefixed + "/>"));
}

void TestProjectFile::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QByteArrayList, written);
    QTemporaryDir dir;
    QFile file(bytes.startsWith("/dev/") ? QString(bytes) : dir.filePath("x.twr"));
    QVERIFY(bytes.isNull() || bytes.startsWith("/dev/") ||
            (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()));
    file.close();
    TileStyle style = startupStyle();
    style.topPattern = QFileInfo(QStringLiteral("/p/old.png"));
    style.bottomPattern = QFileInfo(QStringLiteral("/p/keep.png"));
    style.topDown = true;
    ProjectReader reader;
    reader.setApplicationDirPath(AppDir);
    QCOMPARE(reader.read(file.fileName(), style), ok);
    QVERIFY(ok || reader.errorString().contains(QFileInfo(file).fileName()));
    const QByteArray out = ProjectWriter::toByteArray(style);
    for (const QByteArray &fragment : written)
        QVERIFY2(out.contains(fragment), qPrintable(fragment + " not in\n" + out));
    QCOMPARE(style.topPatternColorOpacity, 1.0f); // not in the file
}

void TestProjectFile::saveFailure_keepsOldFile_data()
{
    QTest::addColumn<QString>("fault");
    for (const char *fault : {"missing folder", "read-only", "full disk"})
        QTest::newRow(fault) << fault;
}

void TestProjectFile::saveFailure_keepsOldFile()
{
    QFETCH(QString, fault);
    QTemporaryDir dir;
    const QString folder = dir.filePath("disk"), path = folder + "/a.twr";
    TmpfsMount mount(folder);
    ProjectWriter writer;
    if (fault != "missing folder") {
        QVERIFY(QDir().mkpath(folder));
        if (!mount.mount())
            QSKIP("needs root to mount a tmpfs");
        QVERIFY(writer.write(path, startupStyle()));
        QVERIFY(fault == "read-only" ? mount.remountReadOnly() : mount.fill());
    }
    QVERIFY(!writer.write(path, TileStyle()));
    QVERIFY2(writer.errorString().contains("a.twr"), qPrintable(writer.errorString()));
    QFile old(path);
    QCOMPARE(old.open(QIODevice::ReadOnly) ? old.readAll() : "missing",
             fault == "missing folder" ? "missing" : StartupDocument);
    // No temporary file left behind.
    const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(left.size() == (fault == "full disk" ? 2 : int(fault == "read-only")),
             qPrintable(left.join(' ')));
}

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
