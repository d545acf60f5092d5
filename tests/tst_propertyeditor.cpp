#include "testenv.h"
#include "ui_mainwindow.h"
#include "windowassets.h"

#include <QSpinBox>

// Parts are partSelection's index (0 Top, 1 Bottom); rows are the table's, from
// 1 Color, 2 Opacity, 3 Pattern, 4 Pattern Color to 6 Pattern Opacity.
class TestPropertyEditor : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowAssets::Session> session;
    MainWindow *w = nullptr;

    QStringList fields() const
    {
        QStringList all;
        for (StylePart p : {StylePart::Top, StylePart::Bottom}) {
            const TileStyle &s = w->style();
            all << s.color(p).name() << QString::number(s.opacity(p)) << s.pattern(p).fileName()
                << s.patternColor(p).name() << QString::number(s.patternColorOpacity(p))
                << QString::number(s.patternOpacity(p));
        }
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
    void initTestCase()
    {
        using A = WindowAssets;
        // Named so that the sorted order differs from the order of writing.
        QVERIFY(A::makeEmpty() && A::save(A::topShape("#4a8c2a"), A::topStyles() + "/moss.png") &&
                A::save(A::topShape("#60b030"), A::topStyles() + "/grass.png") &&
                A::save(A::pattern("#402010"), A::patterns() + "/dots.png") &&
                A::save(A::pattern("#808080"), A::patterns() + "/bricks.png"));
    }
    void cleanupTestCase() { QVERIFY(WindowAssets::removeAll()); }
    void init()
    {
        TestEnv::resetSettings();
        session.reset(new WindowAssets::Session);
        w = &session->window;
    }
    void cleanup() { session.reset(); }

    void edit_reachesOnlyItsPartAndSurvivesSwitching_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("part");
        QTest::addColumn<QString>("value"); // what the person enters; "" cancels the dialog
        // 0.29f reads back as 28.999...; truncating in float arithmetic turns 53 into 52.
        const QStringList percents = {"29", "53"}, colours = {"#ff0000", ""};
        const QStringList values[] = {{},      colours,  percents, {"dots.png"},
                                      colours, percents, percents};
        for (int part = 0; part < 2; ++part)
            for (int row = 1; row <= 6; ++row)
                for (const QString &value : values[row])
                    QTest::addRow("row %d on %s, '%s'", row, part ? "Bottom" : "Top",
                                  qPrintable(value))
                        << row << part << value;
    }
    void edit_reachesOnlyItsPartAndSurvivesSwitching()
    {
        QFETCH(int, row);
        QFETCH(int, part);
        QFETCH(QString, value);
        // Setting up the table while the window was built must not leak into the design.
        QStringList expected = {"#80be1f", "1", "", "#80be1f", "1", "0.4",
                                "#c39366", "1", "", "#c39366", "1", "0.4"};
        QCOMPARE(fields(), expected);
        select(1 - part);
        const QString other = shown(row);
        select(part);
        const QString before = shown(row);
        if (spin(row)) {
            spin(row)->setValue(value.toInt());
        } else if (row == 3) {
            w->ui->fillIcons->item(1)->setSelected(true); // dots.png: the list is sorted
            w->ui->topsList->item(1)->setSelected(true);  // belongs to no part
            QCOMPARE(w->style().topStyle, WindowAssets::topStyles() + "/moss.png");
        } else {
            session->prompts->colors << QColor(value);
            emit table()->doubleClicked(table()->model()->index(row, 1));
            // The dialog starts at the colour shown.
            QCOMPARE(session->prompts->callsOf("getColor").value(0).text, before);
            QCOMPARE(table()->item(row, 1)->background().color(), QColor(shown(row)));
        }
        const bool changes = !value.isEmpty();
        if (changes)
            expected[6 * part + row - 1] =
                spin(row) ? QString::number(value.toInt() / 100.0f) : value;
        QCOMPARE(fields(), expected);
        QCOMPARE(shown(row), changes ? value : before);
        QCOMPARE(w->isModified() && w->windowTitle().endsWith('*'), changes);
        QCOMPARE(w->ui->spritePreviewWidget->count(), changes ? 1 : 0);
        // Each part shows its own field, however often the part changes.
        select(1 - part);
        QCOMPARE(shown(row), other);
        select(part);
        QCOMPARE(shown(row), changes ? value : before);
        QCOMPARE(fields(), expected);
    }

    void previewPartClicked_switchesOnceWhenNeeded_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("clicked");
        for (int start = 0; start < 2; ++start)
            for (const char *item : {"Bottom Shape", "Bottom Pattern", "Top Shape", "Top Pattern"})
                QTest::addRow("%s on %s", item, start ? "Bottom" : "Top") << start << item;
    }
    void previewPartClicked_switchesOnceWhenNeeded()
    {
        QFETCH(int, start);
        QFETCH(QString, clicked);
        const int expected = clicked.contains("Top") ? 0 : 1;
        w->tileStyle.topPattern.setFile(WindowAssets::patterns() + "/bricks.png");
        w->tileStyle.bottomPattern.setFile(WindowAssets::patterns() + "/dots.png");
        w->tileStyle.bottomOpacity = 0.5f; // shows that the table was refreshed
        select(start);
        w->refreshPreview();
        QListWidget *parts = w->ui->spriteSelectedParts;
        QCOMPARE(parts->count(), 4);
        QSignalSpy switched(w->ui->partSelection, SIGNAL(currentIndexChanged(int)));
        // Looked up anew, as a refresh may rebuild the list; the second click changes nothing.
        for (int click = 0; click < 2; ++click)
            emit parts->itemClicked(parts->findItems(clicked, Qt::MatchExactly).value(0));
        QCOMPARE(switched.count(), expected == start ? 0 : 1);
        QCOMPARE(shown(0), QString(expected ? "Bottom" : "Top"));
        QCOMPARE(shown(2), QString(expected ? "50" : "100"));
    }
};

QTEST_MAIN(TestPropertyEditor)
#include "tst_propertyeditor.moc"
