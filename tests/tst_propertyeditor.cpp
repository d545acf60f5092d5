#include "mainwindow.h"
#include "testenv.h"
#include "ui_mainwindow.h"
#include "userprompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QListWidget>
#include <QPainter>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

// Answers the colour dialog without a person; an invalid answer is a cancel.
class ColourPrompts : public UserPrompts
{
public:
    QColor answer;
    QList<QColor> asked;

    QColor getColor(const QColor &initial) override
    {
        asked << initial;
        return answer;
    }
};

namespace {

const QColor DefaultTopColour("#80be1f");
const QColor DefaultBottomColour("#c39366");

QString assetsRoot()
{
    return QCoreApplication::applicationDirPath() + "/Assets";
}

QString assetDir(const QString &subdirectory)
{
    return assetsRoot() + '/' + subdirectory;
}

// A grass-like strip: opaque band with a scalloped lower edge, transparent
// below it, so the top shape has a real alpha channel.
QImage topShapeImage(const QColor &colour)
{
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

QImage patternImage(const QColor &colour)
{
    QImage image(128, 128, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (int y = 0; y < 128; y += 16)
        for (int x = (y / 16) % 2 * 16; x < 128; x += 32)
            painter.fillRect(x, y, 16, 16, colour);
    return image;
}

QImage maskImage()
{
    QImage image(128, 128, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(0, 32, 128, 96, Qt::black);
    return image;
}

QString partName(StylePart part)
{
    return part == StylePart::Top ? QStringLiteral("Top") : QStringLiteral("Bottom");
}

StylePart otherPart(StylePart part)
{
    return part == StylePart::Top ? StylePart::Bottom : StylePart::Top;
}

} // namespace

Q_DECLARE_METATYPE(StylePart)

class TestPropertyEditor : public QObject
{
    Q_OBJECT

private:
    // One of the three percent spin boxes and the pair of fields it edits.
    struct OpacityControl
    {
        QSpinBox *MainWindow::*spin;
        float &(TileStyle::*field)(StylePart);
    };
    static OpacityControl opacityControl(const QString &name)
    {
        if (name == "opacitySpin")
            return {&MainWindow::opacitySpin, &TileStyle::opacity};
        if (name == "patternColorOpacitySpin")
            return {&MainWindow::patternColorOpacitySpin, &TileStyle::patternColorOpacity};
        return {&MainWindow::patternOpacitySpin, &TileStyle::patternOpacity};
    }
    // The six opacities, Top first, in a fixed order, to see which changed.
    static QVector<float> allOpacities(const TileStyle &style)
    {
        QVector<float> values;
        for (StylePart part : {StylePart::Top, StylePart::Bottom})
            values << style.opacity(part) << style.patternColorOpacity(part)
                   << style.patternOpacity(part);
        return values;
    }
    static QVector<QColor> allColours(const TileStyle &style)
    {
        return {style.topColor, style.topPatternColor, style.bottomColor, style.bottomPatternColor};
    }
    static ColourPrompts *installColourPrompts(MainWindow &window)
    {
        auto prompts = std::make_unique<ColourPrompts>();
        ColourPrompts *raw = prompts.get();
        window.setPrompts(std::move(prompts));
        return raw;
    }
    static void selectPart(MainWindow &window, StylePart part)
    {
        window.ui->partSelection->setCurrentIndex(part == StylePart::Top ? 0 : 1);
        QCOMPARE(window.ui->partSelection->currentText(), partName(part));
    }
    static QString cellText(MainWindow &window, int row)
    {
        const QTableWidgetItem *item = window.ui->propertiesEditor->item(row, 1);
        return item ? item->text() : QString();
    }
    static void doubleClickValue(MainWindow &window, int row)
    {
        QTableWidget *table = window.ui->propertiesEditor;
        emit table->doubleClicked(table->model()->index(row, 1));
    }
    static QListWidgetItem *previewPart(MainWindow &window, const QString &text)
    {
        const QList<QListWidgetItem *> found =
            window.ui->spriteSelectedParts->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }
    static QImage previewTile(MainWindow &window)
    {
        const QListWidgetItem *item = window.ui->spritePreviewWidget->item(0);
        return item ? item->icon().pixmap(128, 128).toImage() : QImage();
    }

private slots:
    void init();
    void cleanup();

    void construction_noPreviewNotModifiedFirstTopShape();
    void table_shape();
    void table_rows_data();
    void table_rows();

    void opacityEdit_reachesOnlyItsPartAndSurvivesSwitching_data();
    void opacityEdit_reachesOnlyItsPartAndSurvivesSwitching();
    void refreshProperties_checkBoxFollowsTopDownOnlyForTop();

    void colourDialogCancelled_changesNothing_data();
    void colourDialogCancelled_changesNothing();
    void colourDialogChosen_setsCurrentPartColour_data();
    void colourDialogChosen_setsCurrentPartColour();
    void doubleClickOnRowWithoutColour_asksNothing();

    void previewPartClicked_switchesPartWhenNeeded_data();
    void previewPartClicked_switchesPartWhenNeeded();
    void bottomPatternClickedTwice_switchesOnce();

    void choosingPattern_setsCurrentPartOnly_data();
    void choosingPattern_setsCurrentPartOnly();
    void choosingTopShape_setsTopStyleWhateverThePart();
    void repeatAtBottom_setsTopDownAndRecomposes();

    void everyRefresh_marksModified_data();
    void everyRefresh_marksModified();
};

void TestPropertyEditor::init()
{
    TestEnv::resetSettings();
    QDir(assetsRoot()).removeRecursively();
    for (const char *subdirectory : {"TopStyles", "Patterns", "Alpha"})
        QVERIFY(QDir().mkpath(assetDir(subdirectory)));
    // Named so that the sorted order differs from the order of writing.
    QVERIFY(topShapeImage(QColor("#4a8c2a")).save(assetDir("TopStyles") + "/moss.png"));
    QVERIFY(topShapeImage(QColor("#60b030")).save(assetDir("TopStyles") + "/grass.png"));
    QVERIFY(patternImage(QColor("#402010")).save(assetDir("Patterns") + "/dots.png"));
    QVERIFY(patternImage(QColor("#808080")).save(assetDir("Patterns") + "/bricks.png"));
    QVERIFY(maskImage().save(assetDir("Alpha") + "/full.png"));
}

void TestPropertyEditor::cleanup()
{
    QDir(assetsRoot()).removeRecursively();
}

void TestPropertyEditor::construction_noPreviewNotModifiedFirstTopShape()
{
    MainWindow window;
    QVERIFY(!window.isModified());
    QVERIFY(!window.windowTitle().endsWith('*'));
    QCOMPARE(window.ui->spritePreviewWidget->count(), 0);
    QCOMPARE(window.ui->spriteSidebySide->count(), 0);
    QCOMPARE(window.ui->spriteSelectedParts->count(), 0);
    QCOMPARE(window.style().topStyle, assetDir("TopStyles") + "/grass.png");
    QVERIFY(window.style().topPattern.fileName().isEmpty());
    QVERIFY(window.style().bottomPattern.fileName().isEmpty());
    // The spin boxes' set-up during construction must not leak into the design.
    QCOMPARE(allOpacities(window.style()), QVector<float>({1.0f, 1.0f, 0.4f, 1.0f, 1.0f, 0.4f}));
    QCOMPARE(allColours(window.style()),
             QVector<QColor>(
                 {DefaultTopColour, DefaultTopColour, DefaultBottomColour, DefaultBottomColour}));
    QVERIFY(!window.style().topDown);
}

void TestPropertyEditor::table_shape()
{
    MainWindow window;
    QTableWidget *table = window.ui->propertiesEditor;
    QCOMPARE(table->rowCount(), 8);
    QCOMPARE(table->columnCount(), 2);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("Property"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
    QCOMPARE(table->verticalHeader()->defaultSectionSize(), 20);
    QCOMPARE(table->rowHeight(0), 20);
    QCOMPARE(table->columnWidth(0), 130);

    QCOMPARE(window.ui->partSelection->count(), 2);
    QCOMPARE(window.ui->partSelection->itemText(0), QStringLiteral("Top"));
    QCOMPARE(window.ui->partSelection->itemText(1), QStringLiteral("Bottom"));
    QCOMPARE(window.ui->partSelection->currentIndex(), 0);

    for (QSpinBox *spin :
         {window.opacitySpin, window.patternColorOpacitySpin, window.patternOpacitySpin}) {
        QCOMPARE(spin->minimum(), 0);
        QCOMPARE(spin->maximum(), 100);
    }
    QCOMPARE(window.opacitySpin->value(), 100);
    QCOMPARE(window.patternColorOpacitySpin->value(), 100);
    QCOMPARE(window.patternOpacitySpin->value(), 40);
    QVERIFY(!window.repeatAtBottomCheck->isChecked());
    QVERIFY(window.repeatAtBottomCheck->text().isEmpty());

    for (int row : {1, 4}) {
        const QBrush background = table->item(row, 1)->background();
        QCOMPARE(background.style(), Qt::SolidPattern);
        QCOMPARE(background.color(), DefaultTopColour);
    }
}

void TestPropertyEditor::table_rows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("valueFlags");
    QTest::addColumn<QString>("valueText"); // null: the cell holds a widget
    QTest::addColumn<QString>("widget");
    QTest::addColumn<bool>("hidden");

    const int colourFlags = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    QTest::newRow("ID") << 0 << "ID" << int(Qt::NoItemFlags) << "Top" << QString() << false;
    QTest::newRow("Color") << 1 << "Color" << colourFlags << "#80be1f" << QString() << false;
    QTest::newRow("Opacity") << 2 << "Opacity" << 0 << QString() << "opacitySpin" << false;
    QTest::newRow("Pattern") << 3 << "Pattern" << int(Qt::NoItemFlags) << "<None>" << QString()
                             << false;
    QTest::newRow("Pattern Color")
        << 4 << "Pattern Color" << colourFlags << "#80be1f" << QString() << false;
    QTest::newRow("Pattern Color Opacity")
        << 5 << "Pattern Color Opacity" << 0 << QString() << "patternColorOpacitySpin" << false;
    QTest::newRow("Pattern Opacity")
        << 6 << "Pattern Opacity" << 0 << QString() << "patternOpacitySpin" << false;
    QTest::newRow("Repeat At Bottom")
        << 7 << "Repeat At Bottom" << 0 << QString() << "repeatAtBottomCheck" << true;
}

void TestPropertyEditor::table_rows()
{
    QFETCH(int, row);
    QFETCH(QString, label);
    QFETCH(int, valueFlags);
    QFETCH(QString, valueText);
    QFETCH(QString, widget);
    QFETCH(bool, hidden);

    MainWindow window;
    QTableWidget *table = window.ui->propertiesEditor;
    const QTableWidgetItem *labelItem = table->item(row, 0);
    QVERIFY(labelItem);
    QCOMPARE(labelItem->text(), label);
    QCOMPARE(int(labelItem->flags()), int(Qt::NoItemFlags));
    QCOMPARE(table->isRowHidden(row), hidden);

    if (widget.isEmpty()) {
        const QTableWidgetItem *value = table->item(row, 1);
        QVERIFY(value);
        QCOMPARE(value->text(), valueText);
        QCOMPARE(int(value->flags()), valueFlags);
        QVERIFY(!table->cellWidget(row, 1));
    } else {
        QWidget *expected = nullptr;
        if (widget == "repeatAtBottomCheck")
            expected = window.repeatAtBottomCheck;
        else
            expected = window.*opacityControl(widget).spin;
        QVERIFY(expected);
        QCOMPARE(table->cellWidget(row, 1), expected);
        // A stray item under a widget must not be enabled or selectable.
        if (const QTableWidgetItem *value = table->item(row, 1))
            QCOMPARE(int(value->flags()), int(Qt::NoItemFlags));
    }
}

void TestPropertyEditor::opacityEdit_reachesOnlyItsPartAndSurvivesSwitching_data()
{
    QTest::addColumn<QString>("spinName");
    QTest::addColumn<StylePart>("part");
    for (const char *spin : {"opacitySpin", "patternColorOpacitySpin", "patternOpacitySpin"}) {
        for (StylePart part : {StylePart::Top, StylePart::Bottom}) {
            QTest::addRow("%s on %s", spin, qPrintable(partName(part)))
                << QString::fromLatin1(spin) << part;
        }
    }
}

void TestPropertyEditor::opacityEdit_reachesOnlyItsPartAndSurvivesSwitching()
{
    QFETCH(QString, spinName);
    QFETCH(StylePart, part);
    const OpacityControl control = opacityControl(spinName);

    MainWindow window;
    // The other part gets its own value, so showing the wrong part's field
    // cannot pass for the right one.
    (window.tileStyle.*control.field)(otherPart(part)) = 0.63f;
    selectPart(window, part);
    QSpinBox *spin = window.*control.spin;

    // Only the edited field may move.
    TileStyle expected = window.style();
    (expected.*control.field)(part) = 0.29f;
    // 29 / 100 stored as a float gives back 28.999..., which must round to 29.
    spin->setValue(29);
    QCOMPARE((window.tileStyle.*control.field)(part), 0.29f);
    QCOMPARE(allOpacities(window.style()), allOpacities(expected));

    selectPart(window, otherPart(part));
    QCOMPARE(spin->value(), 63);
    QCOMPARE((window.tileStyle.*control.field)(part), 0.29f);
    QCOMPARE((window.tileStyle.*control.field)(otherPart(part)), 0.63f);

    selectPart(window, part);
    QCOMPARE(spin->value(), 29);
    QCOMPARE(allOpacities(window.style()), allOpacities(expected));

    // Truncating in float arithmetic gets 29 right but turns 53 into 52.
    spin->setValue(53);
    selectPart(window, otherPart(part));
    selectPart(window, part);
    QCOMPARE(spin->value(), 53);
    QCOMPARE((window.tileStyle.*control.field)(part), 0.53f);
}

void TestPropertyEditor::refreshProperties_checkBoxFollowsTopDownOnlyForTop()
{
    MainWindow window;
    window.tileStyle.topDown = true;
    window.refreshProperties(StylePart::Bottom);
    QVERIFY(!window.repeatAtBottomCheck->isChecked());
    window.refreshProperties(StylePart::Top);
    QVERIFY(window.repeatAtBottomCheck->isChecked());
    QVERIFY(window.style().topDown);
    // The row stays hidden however often the table is refreshed.
    QVERIFY(window.ui->propertiesEditor->isRowHidden(7));
}

void TestPropertyEditor::colourDialogCancelled_changesNothing_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<StylePart>("part");
    QTest::addColumn<QColor>("shown");
    QTest::newRow("Color on Top") << 1 << StylePart::Top << DefaultTopColour;
    QTest::newRow("Pattern Color on Top") << 4 << StylePart::Top << DefaultTopColour;
    QTest::newRow("Color on Bottom") << 1 << StylePart::Bottom << DefaultBottomColour;
    QTest::newRow("Pattern Color on Bottom") << 4 << StylePart::Bottom << DefaultBottomColour;
}

void TestPropertyEditor::colourDialogCancelled_changesNothing()
{
    QFETCH(int, row);
    QFETCH(StylePart, part);
    QFETCH(QColor, shown);

    MainWindow window;
    ColourPrompts *prompts = installColourPrompts(window);
    selectPart(window, part);
    const QVector<QColor> coloursBefore = allColours(window.style());
    const QString titleBefore = window.windowTitle();
    QVERIFY(!window.isModified());

    prompts->answer = QColor(); // cancelled
    doubleClickValue(window, row);

    QCOMPARE(prompts->asked, QList<QColor>({shown}));
    const QTableWidgetItem *cell = window.ui->propertiesEditor->item(row, 1);
    QCOMPARE(cell->text(), shown.name());
    QCOMPARE(cell->background().color(), shown);
    QCOMPARE(allColours(window.style()), coloursBefore);
    QVERIFY(!window.isModified());
    QCOMPARE(window.windowTitle(), titleBefore);
    QCOMPARE(window.ui->spritePreviewWidget->count(), 0);
}

void TestPropertyEditor::colourDialogChosen_setsCurrentPartColour_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<StylePart>("part");
    QTest::addColumn<int>("changedIndex"); // into allColours()
    QTest::newRow("Color on Top") << 1 << StylePart::Top << 0;
    QTest::newRow("Pattern Color on Top") << 4 << StylePart::Top << 1;
    QTest::newRow("Color on Bottom") << 1 << StylePart::Bottom << 2;
    QTest::newRow("Pattern Color on Bottom") << 4 << StylePart::Bottom << 3;
}

void TestPropertyEditor::colourDialogChosen_setsCurrentPartColour()
{
    QFETCH(int, row);
    QFETCH(StylePart, part);
    QFETCH(int, changedIndex);

    MainWindow window;
    ColourPrompts *prompts = installColourPrompts(window);
    selectPart(window, part);
    QVector<QColor> expected = allColours(window.style());
    expected[changedIndex] = Qt::red;

    prompts->answer = QColor(Qt::red);
    doubleClickValue(window, row);

    QCOMPARE(prompts->asked.size(), 1);
    const QTableWidgetItem *cell = window.ui->propertiesEditor->item(row, 1);
    QCOMPARE(cell->text(), QStringLiteral("#ff0000"));
    QCOMPARE(cell->background().color(), QColor(Qt::red));
    QCOMPARE(allColours(window.style()), expected);
    QVERIFY(window.isModified());
    QVERIFY(window.windowTitle().endsWith('*'));
    QCOMPARE(window.ui->spritePreviewWidget->count(), 1);

    // A second double-click starts the dialog at the colour now shown.
    prompts->answer = QColor();
    doubleClickValue(window, row);
    QCOMPARE(prompts->asked.last(), QColor(Qt::red));
}

void TestPropertyEditor::doubleClickOnRowWithoutColour_asksNothing()
{
    MainWindow window;
    ColourPrompts *prompts = installColourPrompts(window);
    prompts->answer = QColor(Qt::red);
    for (int row : {0, 3})
        doubleClickValue(window, row);
    QVERIFY(prompts->asked.isEmpty());
    QCOMPARE(cellText(window, 0), QStringLiteral("Top"));
    QCOMPARE(cellText(window, 3), QStringLiteral("<None>"));
    QVERIFY(!window.isModified());
}

void TestPropertyEditor::previewPartClicked_switchesPartWhenNeeded_data()
{
    QTest::addColumn<StylePart>("start");
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<StylePart>("expected");
    QTest::addColumn<int>("switches");

    const QStringList items = {"Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"};
    for (StylePart start : {StylePart::Top, StylePart::Bottom}) {
        for (const QString &item : items) {
            const StylePart expected = item.startsWith("Top") ? StylePart::Top : StylePart::Bottom;
            QTest::addRow("%s clicked on %s", qPrintable(item), qPrintable(partName(start)))
                << start << item << expected << (expected == start ? 0 : 1);
        }
    }
}

void TestPropertyEditor::previewPartClicked_switchesPartWhenNeeded()
{
    QFETCH(StylePart, start);
    QFETCH(QString, clicked);
    QFETCH(StylePart, expected);
    QFETCH(int, switches);

    MainWindow window;
    window.tileStyle.topPattern = QFileInfo(assetDir("Patterns") + "/bricks.png");
    window.tileStyle.bottomPattern = QFileInfo(assetDir("Patterns") + "/dots.png");
    selectPart(window, start);
    window.refreshPreview();
    QListWidgetItem *item = previewPart(window, clicked);
    QVERIFY2(item, qPrintable(clicked));

    QSignalSpy switched(window.ui->partSelection, SIGNAL(currentIndexChanged(int)));
    emit window.ui->spriteSelectedParts->itemClicked(item);
    QCOMPARE(switched.count(), switches);
    QCOMPARE(window.ui->partSelection->currentText(), partName(expected));
    QCOMPARE(cellText(window, 0), partName(expected));
}

void TestPropertyEditor::bottomPatternClickedTwice_switchesOnce()
{
    MainWindow window;
    window.tileStyle.bottomPattern = QFileInfo(assetDir("Patterns") + "/dots.png");
    // Distinct bottom values show that the table really was refreshed.
    window.tileStyle.bottomOpacity = 0.5f;
    window.refreshPreview();
    QCOMPARE(window.ui->partSelection->currentText(), QStringLiteral("Top"));

    QSignalSpy switched(window.ui->partSelection, SIGNAL(currentIndexChanged(int)));
    QListWidgetItem *item = previewPart(window, "Bottom Pattern");
    QVERIFY(item);
    emit window.ui->spriteSelectedParts->itemClicked(item);
    QCOMPARE(switched.count(), 1);
    QCOMPARE(window.ui->partSelection->currentIndex(), 1);
    QCOMPARE(cellText(window, 0), QStringLiteral("Bottom"));
    QCOMPARE(cellText(window, 1), DefaultBottomColour.name());
    QCOMPARE(cellText(window, 3), QStringLiteral("dots.png"));
    QCOMPARE(window.opacitySpin->value(), 50);

    // The refresh may have rebuilt the list; look the item up again.
    item = previewPart(window, "Bottom Pattern");
    QVERIFY(item);
    emit window.ui->spriteSelectedParts->itemClicked(item);
    QCOMPARE(switched.count(), 1);
    QCOMPARE(window.ui->partSelection->currentIndex(), 1);

    item = previewPart(window, "Top Shape");
    QVERIFY(item);
    emit window.ui->spriteSelectedParts->itemClicked(item);
    QCOMPARE(switched.count(), 2);
    QCOMPARE(window.ui->partSelection->currentIndex(), 0);
    QCOMPARE(cellText(window, 0), QStringLiteral("Top"));
    QCOMPARE(window.opacitySpin->value(), 100);
    QCOMPARE(window.style().bottomOpacity, 0.5f);
}

void TestPropertyEditor::choosingPattern_setsCurrentPartOnly_data()
{
    QTest::addColumn<StylePart>("part");
    QTest::newRow("Top") << StylePart::Top;
    QTest::newRow("Bottom") << StylePart::Bottom;
}

void TestPropertyEditor::choosingPattern_setsCurrentPartOnly()
{
    QFETCH(StylePart, part);

    MainWindow window;
    selectPart(window, part);
    // Row 1 is dots.png: the list is sorted, not in the order written.
    QCOMPARE(window.patternFiles.size(), 2);
    window.ui->fillIcons->item(1)->setSelected(true);

    QCOMPARE(window.style().pattern(part).fileName(), QStringLiteral("dots.png"));
    QCOMPARE(window.style().pattern(part).absoluteFilePath(),
             QFileInfo(assetDir("Patterns") + "/dots.png").absoluteFilePath());
    QVERIFY(window.style().pattern(otherPart(part)).fileName().isEmpty());
    QCOMPARE(cellText(window, 3), QStringLiteral("dots.png"));
    QVERIFY(window.isModified());
    QVERIFY(previewPart(window, part == StylePart::Top ? "Top Pattern" : "Bottom Pattern"));

    selectPart(window, otherPart(part));
    QCOMPARE(cellText(window, 3), QStringLiteral("<None>"));
    selectPart(window, part);
    QCOMPARE(cellText(window, 3), QStringLiteral("dots.png"));
}

void TestPropertyEditor::choosingTopShape_setsTopStyleWhateverThePart()
{
    MainWindow window;
    selectPart(window, StylePart::Bottom);
    window.ui->topsList->item(1)->setSelected(true);
    QCOMPARE(window.style().topStyle, assetDir("TopStyles") + "/moss.png");
    QVERIFY(window.isModified());
    QVERIFY(previewPart(window, "Top Shape"));
    QVERIFY(window.style().bottomPattern.fileName().isEmpty());
}

void TestPropertyEditor::repeatAtBottom_setsTopDownAndRecomposes()
{
    MainWindow window;
    window.refreshPreview();
    const QImage plain = previewTile(window);
    QVERIFY(!plain.isNull());

    window.repeatAtBottomCheck->setChecked(true);
    QVERIFY(window.style().topDown);
    QCOMPARE(window.ui->spritePreviewWidget->count(), 1);
    QCOMPARE(window.ui->spriteSidebySide->count(), 2);
    QVERIFY(previewPart(window, "Top Shape"));
    QVERIFY(window.windowTitle().endsWith('*'));
    const QImage repeated = previewTile(window);
    QVERIFY(repeated != plain);
    // The repeated top only touches the lower rows of the tile.
    QCOMPARE(repeated.copy(0, 0, 128, 64), plain.copy(0, 0, 128, 64));

    window.repeatAtBottomCheck->setChecked(false);
    QVERIFY(!window.style().topDown);
    QCOMPARE(previewTile(window), plain);
}

void TestPropertyEditor::everyRefresh_marksModified_data()
{
    QTest::addColumn<int>("edit");
    QTest::newRow("opacitySpin") << 0;
    QTest::newRow("patternColorOpacitySpin") << 1;
    QTest::newRow("patternOpacitySpin") << 2;
    QTest::newRow("repeatAtBottomCheck") << 3;
    QTest::newRow("colour dialog") << 4;
    QTest::newRow("pattern chosen") << 5;
    QTest::newRow("top shape chosen") << 6;
    QTest::newRow("refreshPreview") << 7;
}

void TestPropertyEditor::everyRefresh_marksModified()
{
    QFETCH(int, edit);

    MainWindow window;
    ColourPrompts *prompts = installColourPrompts(window);
    prompts->answer = QColor(Qt::blue);
    QVERIFY(!window.isModified());
    switch (edit) {
    case 0:
        window.opacitySpin->setValue(50);
        break;
    case 1:
        window.patternColorOpacitySpin->setValue(50);
        break;
    case 2:
        window.patternOpacitySpin->setValue(50);
        break;
    case 3:
        window.repeatAtBottomCheck->setChecked(true);
        break;
    case 4:
        doubleClickValue(window, 1);
        break;
    case 5:
        window.ui->fillIcons->item(0)->setSelected(true);
        break;
    case 6:
        window.ui->topsList->item(1)->setSelected(true);
        break;
    default:
        window.refreshPreview();
        break;
    }
    QVERIFY(window.isModified());
    QVERIFY(window.windowTitle().endsWith("Untitled.twr*"));
    QCOMPARE(window.ui->spritePreviewWidget->count(), 1);
    QCOMPARE(window.ui->spriteSidebySide->count(), 2);
    QCOMPARE(window.ui->spriteSelectedParts->item(0)->text(), QStringLiteral("Bottom Shape"));
}

QTEST_MAIN(TestPropertyEditor)
#include "tst_propertyeditor.moc"
