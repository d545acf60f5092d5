#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "assetimport.h"
#include "checkupdates.h"
#include "engineexportdialog.h"
#include "exportdialog.h"
#include "generatetiles.h"
#include "levelpanel.h"
#include "projectreader.h"
#include "projectwriter.h"
#include "runoutcome.h"
#include "safeimagereader.h"
#include "tilepreview.h"
#include "userprompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QProgressDialog>
#include <QResource>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>
#include <QUndoStack>

// The resources live in a static library, whose initialiser the linker would
// otherwise drop.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

QSettings openSettings()
{
    return QSettings(QLatin1String(AppSettings::Organisation),
                     QLatin1String(AppSettings::Application));
}

QSpinBox *makePercentSpin(QWidget *parent)
{
    auto *spin = new QSpinBox(parent);
    spin->setMaximum(100);
    spin->setMinimum(0);
    spin->setValue(100);
    return spin;
}

int toPercent(float fraction)
{
    return qRound(fraction * 100.0f);
}

QListWidgetItem *imageItem(const QImage &image, const QString &text = QString())
{
    auto *item = new QListWidgetItem(QIcon(QPixmap::fromImage(image)), text);
    return item;
}

// Rows of the property table.
enum PropertyRow
{
    IdRow,
    ColorRow,
    OpacityRow,
    PatternRow,
    PatternColorRow,
    PatternColorOpacityRow,
    PatternOpacityRow,
    RepeatAtBottomRow,
    PropertyRowCount
};

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), prompts(std::make_unique<UserPrompts>())
{
    initResources();
    versionString = QStringLiteral(TILEWRIGHT_VERSION);
    // An optional resource file beside the working directory; nothing depends
    // on it, so a missing one is fine.
    QResource::registerResource(QStringLiteral("extra.rcc"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/files/window-icon.ico")));

    ui = new Ui::MainWindow;
    ui->setupUi(this);

    productName = QStringLiteral("Tilewright");
    refreshingProperties = false;
    initialising = true;

    lastExportDirectory = QDir::homePath();
    lastProjectDirectory = lastExportDirectory;
    lastImportDirectory = lastProjectDirectory;
    appDirPath = QCoreApplication::applicationDirPath();
    tileWidthHeight = 128;
    modified = false;
    tileStyle.topDown = false;
    tileStyle.topStyle.clear();
    ui->toolBox->setCurrentIndex(0);

    // Values are set before the connections, so construction runs no slot.
    opacitySpin = makePercentSpin(ui->propertiesEditor);
    connect(opacitySpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::backgroundOpacityValueChanged);
    patternOpacitySpin = makePercentSpin(ui->propertiesEditor);
    connect(patternOpacitySpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::patternOpacityValueChanged);
    patternColorOpacitySpin = makePercentSpin(ui->propertiesEditor);
    connect(patternColorOpacitySpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::patternColorOpacityValueChanged);
    repeatAtBottomCheck = new QCheckBox(ui->propertiesEditor);
    connect(repeatAtBottomCheck, &QCheckBox::stateChanged, this, &MainWindow::toggleTopDown);

    ui->partSelection->addItem(stylePartName(StylePart::Top));
    ui->partSelection->addItem(stylePartName(StylePart::Bottom));

    updateWindowTitle();
    setupLevelDock();
    restoreSettings();

    progressDialog = new QProgressDialog(tr("Generating..."), tr("Cancel"), 0, 100, this);
    // QProgressDialog shows itself a few seconds after construction unless
    // reset; it must only ever appear for a run.
    progressDialog->reset();
    connect(progressDialog, &QProgressDialog::canceled, this, &MainWindow::cancelGeneration);
    // Escape rejects the dialog without emitting canceled().
    connect(progressDialog, &QDialog::rejected, this, &MainWindow::cancelGeneration);

    generatorThread = new QThread;
    generator = new generateTiles;
    generator->attachToThread(generatorThread);
    connect(generator, &generateTiles::NextStep, this, &MainWindow::onNextStep);
    connect(generator, &generateTiles::Complete, this, &MainWindow::onComplete);
    connect(generator, &generateTiles::TotalSteps, this, &MainWindow::onTotalSteps);
    runOutcome = new RunOutcome(this);
    runOutcome->listenTo(generator);

    updateThread = new QThread;
    updateChecker = new checkUpdates;
    updateChecker->attachToThread(updateThread);
    connect(updateChecker, &checkUpdates::Complete, this, &MainWindow::onCheckUpdatesComplete);

    assetContextMenu = new QMenu;
    assetContextMenu->addAction(tr("Delete"))->setData(QVariant(QStringLiteral("delete")));

    setAcceptDrops(true);
    for (QListWidget *list : {ui->topsList, ui->fillIcons, ui->alphaMaskList}) {
        list->setAcceptDrops(true);
        list->setDropIndicatorShown(true);
        list->setDragDropMode(QAbstractItemView::DragDrop);
        list->setAttribute(Qt::WA_MouseTracking, true);
    }
    for (QListWidget *list : {ui->topsList, ui->fillIcons, ui->alphaMaskList})
        connect(list, &QWidget::customContextMenuRequested, this,
                &MainWindow::HandleRightClickEvent);

    if (checkForUpdatesOnStartup) {
        // Moved before the start, so the request and its reply are handled on
        // the update thread, with the network manager living there too.
        updateChecker->moveToThread(updateThread);
        updateChecker->currentVersion = versionString.toFloat();
        updateThread->start(QThread::InheritPriority);
    }

    watchAssetFolders();
    loadPatterns();
    loadTopShapes();
    loadAlphaMasks();
    resetStyle();
    setupPropertyTable();
    // The level shows the start-up design at once; the preview's lists wait
    // for the first change.
    levelPanel->setStyle(tileStyle);
    initialising = false;
}

// A dock of its own, so its place and size are kept with the window's state.
// At first start it leaves the tile previews their full height.
constexpr int LevelDockHeight = 230;
void MainWindow::setupLevelDock()
{
    levelPanel = new LevelPanel;
    levelPanel->setMaskDirectory(AssetLibrary::assetDirectory(appDirPath, AlphaMasks));
    levelDock = new QDockWidget(tr("Level"), this);
    levelDock->setObjectName(QStringLiteral("levelDock"));
    levelDock->setWidget(levelPanel);
    // Under the previews only: the side docks keep the window's full height.
    setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
    setCorner(Qt::BottomRightCorner, Qt::RightDockWidgetArea);
    addDockWidget(Qt::BottomDockWidgetArea, levelDock);
    resizeDocks({levelDock}, {LevelDockHeight}, Qt::Vertical);
    // With the dock below, the parts list gives up its room first, so the
    // tile previews keep their full height.
    ui->groupBox_3->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    // Painting is part of the project: it is saved with it.
    connect(levelPanel, &LevelPanel::levelChanged, this, [this] {
        if (initialising)
            return;
        modified = true;
        updateWindowTitle();
    });
    QAction *undo = levelPanel->undoStack()->createUndoAction(this, tr("Undo Painting"));
    undo->setShortcut(QKeySequence::Undo);
    QAction *redo = levelPanel->undoStack()->createRedoAction(this, tr("Redo Painting"));
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    addAction(undo);
    addAction(redo);
}

MainWindow::~MainWindow()
{
    delete ui;
    stopGeneration();
    delete generatorThread;
    delete generator;
    delete progressDialog;
    // A check may still wait for its server: abort it and join the thread
    // before the thread object goes.
    updateChecker->stop();
    delete updateThread;
    delete updateChecker;
    delete assetContextMenu;
}

void MainWindow::setPrompts(std::unique_ptr<UserPrompts> replacement)
{
    prompts = std::move(replacement);
}

void MainWindow::updateWindowTitle()
{
    QString fileName = QStringLiteral("Untitled.twr");
    if (!projectFilePath.isEmpty())
        fileName = QFileInfo(projectFilePath).fileName();
    if (modified)
        fileName += QLatin1Char('*');
    setWindowTitle(productName + QStringLiteral(" - ") + fileName);
}

void MainWindow::resetStyle()
{
    const QSize previewIcon(128, 128);
    ui->spritePreviewWidget->setIconSize(previewIcon);
    ui->spriteSidebySide->setIconSize(previewIcon);
    tileStyle.resetColoursAndOpacities();
    repeatAtBottomCheck->setChecked(false);
    tileStyle.topDown = false;
}

// ---- Preview ---------------------------------------------------------------

void MainWindow::refreshPreview()
{
    ui->spritePreviewWidget->clear();
    ui->spriteSidebySide->clear();
    ui->spriteSelectedParts->clear();
    previewLayers.clear();

    const TilePreview preview = TilePreview::compose(tileStyle);
    for (const TilePreview::Part &part : preview.parts)
        ui->spriteSelectedParts->addItem(imageItem(part.image, part.name));
    previewLayers = preview.layers;
    ui->spritePreviewWidget->insertItem(0, imageItem(preview.tile));
    ui->spriteSidebySide->addItem(imageItem(preview.tile));
    ui->spriteSidebySide->addItem(imageItem(preview.tile));
    levelPanel->setStyle(tileStyle);

    modified = true;
    updateWindowTitle();
}

// ---- Property editor -------------------------------------------------------

StylePart MainWindow::currentPart() const
{
    return stylePartFromText(ui->partSelection->currentText());
}

void MainWindow::setupPropertyTable()
{
    QTableWidget *table = ui->propertiesEditor;
    table->setRowCount(10);
    table->setColumnCount(2);
    // The header clamps the section size to a font-derived minimum (25 here).
    table->verticalHeader()->setMinimumSectionSize(20);
    table->verticalHeader()->setDefaultSectionSize(20);
    table->setHorizontalHeaderLabels({QStringLiteral("Property"), QStringLiteral("Value")});
    refreshProperties(StylePart::Top);

    table->setRowCount(PropertyRowCount);
    const QStringList labels = {
        QStringLiteral("ID"),
        QStringLiteral("Color"),
        QStringLiteral("Opacity"),
        QStringLiteral("Pattern"),
        QStringLiteral("Pattern Color"),
        QStringLiteral("Pattern Color Opacity"),
        QStringLiteral("Pattern Opacity"),
        QStringLiteral("Repeat At Bottom"),
    };
    for (int row = 0; row < PropertyRowCount; ++row) {
        auto *label = new QTableWidgetItem(labels.at(row));
        label->setFlags(Qt::NoItemFlags);
        table->setItem(row, 0, label);
    }
    auto valueItem = [](const QString &text, Qt::ItemFlags flags) {
        auto *item = new QTableWidgetItem(text);
        item->setFlags(flags);
        return item;
    };
    const Qt::ItemFlags colourFlags = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    table->setItem(IdRow, 1, valueItem(stylePartName(StylePart::Top), Qt::NoItemFlags));
    QTableWidgetItem *colour = valueItem(tileStyle.topColor.name(), colourFlags);
    colour->setBackground(tileStyle.topColor);
    table->setItem(ColorRow, 1, colour);
    table->setItem(PatternRow, 1, valueItem(QStringLiteral("<None>"), Qt::NoItemFlags));
    QTableWidgetItem *patternColour = valueItem(tileStyle.topPatternColor.name(), colourFlags);
    patternColour->setBackground(tileStyle.topPatternColor);
    table->setItem(PatternColorRow, 1, patternColour);

    patternColorOpacitySpin->setValue(toPercent(tileStyle.topPatternColorOpacity));
    patternOpacitySpin->setValue(toPercent(tileStyle.topPatternOpacity));
    table->setCellWidget(OpacityRow, 1, opacitySpin);
    table->setCellWidget(PatternColorOpacityRow, 1, patternColorOpacitySpin);
    table->setCellWidget(PatternOpacityRow, 1, patternOpacitySpin);
    table->setCellWidget(RepeatAtBottomRow, 1, repeatAtBottomCheck);
    table->setColumnWidth(0, 130);
    table->hideRow(RepeatAtBottomRow);
}

void MainWindow::refreshProperties(StylePart part)
{
    QTableWidget *table = ui->propertiesEditor;
    if (initialising || refreshingProperties || table->rowCount() == 0)
        return;
    refreshingProperties = true;

    auto setColourCell = [table](int row, const QColor &colour) {
        if (QTableWidgetItem *item = table->item(row, 1)) {
            item->setText(colour.name());
            item->setBackground(colour);
        }
    };
    if (QTableWidgetItem *id = table->item(IdRow, 1))
        id->setText(stylePartName(part));
    setColourCell(ColorRow, tileStyle.color(part));
    opacitySpin->setValue(toPercent(tileStyle.opacity(part)));
    const QString patternName = tileStyle.pattern(part).fileName();
    if (QTableWidgetItem *pattern = table->item(PatternRow, 1))
        pattern->setText(patternName.isEmpty() ? QStringLiteral("<None>") : patternName);
    setColourCell(PatternColorRow, tileStyle.patternColor(part));
    patternColorOpacitySpin->setValue(toPercent(tileStyle.patternColorOpacity(part)));
    patternOpacitySpin->setValue(toPercent(tileStyle.patternOpacity(part)));
    if (part == StylePart::Top)
        repeatAtBottomCheck->setChecked(tileStyle.topDown);

    refreshingProperties = false;
}

// The int signal: Qt 6 dropped currentIndexChanged(QString), so a QString slot
// would never be connected there.
void MainWindow::on_partSelection_currentIndexChanged(int index)
{
    if (initialising)
        return;
    refreshProperties(stylePartFromText(ui->partSelection->itemText(index)));
}

void MainWindow::on_spriteSelectedParts_itemClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString current = ui->partSelection->currentText();
    if (item->text().contains(QLatin1String("Top"))) {
        if (current != QLatin1String("Top"))
            ui->partSelection->setCurrentIndex(0);
    } else if (current != QLatin1String("Bottom")) {
        ui->partSelection->setCurrentIndex(1);
    }
}

void MainWindow::on_topsList_itemSelectionChanged()
{
    const QModelIndexList selected = ui->topsList->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    if (row < 0 || row >= topShapeFiles.size())
        return;
    const QFileInfo &file = topShapeFiles.at(row);
    tileStyle.topStyle = file.path() + QLatin1Char('/') + file.fileName();
    refreshPreview();
}

void MainWindow::on_fillIcons_itemSelectionChanged()
{
    const QModelIndexList selected = ui->fillIcons->selectionModel()->selectedIndexes();
    if (!selected.isEmpty()) {
        const int row = selected.first().row();
        if (row >= 0 && row < patternFiles.size())
            tileStyle.pattern(currentPart()) = patternFiles.at(row);
    }
    refreshPreview();
    refreshProperties(currentPart());
}

void MainWindow::on_propertiesEditor_doubleClicked(const QModelIndex &index)
{
    QTableWidget *table = ui->propertiesEditor;
    const QTableWidgetItem *label = table->item(index.row(), 0);
    if (!label || !label->text().contains(QLatin1String("Color")))
        return;
    const bool patternColour = label->text() == QLatin1String("Pattern Color");

    QTableWidgetItem *cell = table->item(index.row(), index.column());
    QColor start;
    if (cell && cell->text().startsWith(QLatin1Char('#')))
        start = QColor(cell->text());
    const QColor chosen = prompts->getColor(start);
    if (!chosen.isValid())
        return;
    if (cell) {
        cell->setText(chosen.name());
        cell->setBackground(chosen);
    }
    const StylePart part = currentPart();
    (patternColour ? tileStyle.patternColor(part) : tileStyle.color(part)) = chosen;
    refreshPreview();
}

void MainWindow::backgroundOpacityValueChanged(int value)
{
    setPercentage(&TileStyle::opacity, value);
}

void MainWindow::patternOpacityValueChanged(int value)
{
    setPercentage(&TileStyle::patternOpacity, value);
}

void MainWindow::patternColorOpacityValueChanged(int value)
{
    setPercentage(&TileStyle::patternColorOpacity, value);
}

void MainWindow::setPercentage(float &(TileStyle::*field)(StylePart), int value)
{
    // The spin boxes also report the values the table is filled with; those
    // are not edits.
    if (initialising)
        return;
    (tileStyle.*field)(currentPart()) = value / 100.0f;
    refreshPreview();
}

void MainWindow::toggleTopDown(int state)
{
    tileStyle.topDown = state == Qt::Checked;
    refreshPreview();
}

// ---- Asset lists -----------------------------------------------------------

MainWindow::AssetList MainWindow::assetList(AssetKind kind)
{
    switch (kind) {
    case Patterns:
        return {ui->fillIcons, &patternFiles, &patternsWatcher, &patternsReload};
    case AlphaMasks:
        return {ui->alphaMaskList, &alphaMaskFiles, &alphaMasksWatcher, &alphaMasksReload};
    case TopShapes:
    default:
        return {ui->topsList, &topShapeFiles, &topShapesWatcher, &topShapesReload};
    }
}

void MainWindow::watchAssetFolders()
{
    // A copy into a folder is heard when the file appears, before its bytes
    // are all there. Each change restarts the wait, so a burst of changes
    // costs one reload, made once the writing has stopped.
    for (AssetKind kind : {TopShapes, Patterns, AlphaMasks}) {
        const AssetList list = assetList(kind);
        list.reloadTimer->setSingleShot(true);
        list.reloadTimer->setInterval(AssetReloadDelayMs);
        const auto restart = QOverload<>::of(&QTimer::start);
        connect(list.watcher, &QFileSystemWatcher::directoryChanged, list.reloadTimer, restart);
        connect(list.watcher, &QFileSystemWatcher::fileChanged, list.reloadTimer, restart);
        connect(list.reloadTimer, &QTimer::timeout, this, [this, kind] { loadAssetList(kind); });
    }
}

namespace {

// Makes files exactly what watcher watches besides its folders.
void watchFiles(QFileSystemWatcher &watcher, const QSet<QString> &files)
{
    const QStringList watchedList = watcher.files();
    const QSet<QString> watched(watchedList.cbegin(), watchedList.cend());
    const QSet<QString> gone = watched - files, added = files - watched;
    if (!gone.isEmpty())
        watcher.removePaths(gone.values());
    if (!added.isEmpty())
        watcher.addPaths(added.values());
}

} // namespace

void MainWindow::loadAssetList(AssetKind kind)
{
    const AssetList list = assetList(kind);
    const QString directory = AssetLibrary::assetDirectory(appDirPath, kind);
    // Watched before anything is read, so no change can fall in between. A
    // directory that was deleted drops out of the watch and is not seen
    // again until re-added, so every load re-adds a missing path.
    const QString watched = QDir(directory).path();
    if (!list.watcher->directories().contains(watched))
        list.watcher->addPath(watched);

    list.widget->clear();
    list.files->clear();
    *list.files = listPngFiles(directory, QStringLiteral(".png"));
    QStringList paths;
    QSet<QString> regularFiles;
    for (const QFileInfo &file : qAsConst(*list.files)) {
        paths << file.path() + QLatin1Char('/') + file.fileName();
        if (file.isFile())
            regularFiles.insert(paths.last());
    }
    // The folder hears a file arrive; only the file hears the writes that
    // complete it. Pipes and devices are left unwatched.
    watchFiles(*list.watcher, regularFiles);

    for (int i = 0; i < paths.size(); ++i) {
        // Library images are read through the guard: an absurd file gets an
        // empty icon, like an unreadable one.
        auto *item = new QListWidgetItem(QIcon(QPixmap::fromImage(SafeImageReader::read(paths[i]))),
                                         QString());
        item->setToolTip(list.files->at(i).fileName());
        list.widget->insertItem(list.widget->count(), item);
        if (kind == TopShapes && tileStyle.topStyle.isEmpty())
            tileStyle.topStyle = paths[i];
    }
    // A mask, or a file the design uses, may have changed under the level.
    if (levelPanel)
        levelPanel->libraryChanged();
}

void MainWindow::loadTopShapes()
{
    loadAssetList(TopShapes);
}

void MainWindow::loadPatterns()
{
    loadAssetList(Patterns);
}

void MainWindow::loadAlphaMasks()
{
    loadAssetList(AlphaMasks);
}

// ---- Project files ---------------------------------------------------------

void MainWindow::on_actionNew_triggered()
{
    projectFilePath.clear();
    tileStyle.topPattern = QFileInfo();
    tileStyle.bottomPattern = QFileInfo();
    resetStyle();
    refreshProperties(StylePart::Top);
    ui->partSelection->setCurrentIndex(0);
    levelPanel->resetLevel(Level::defaultLevel());
    refreshPreview();
    modified = false;
    updateWindowTitle();
}

void MainWindow::on_action_Save_triggered()
{
    if (projectFilePath.isEmpty())
        on_action_Save_As_triggered();
    else
        saveProject(projectFilePath);
}

void MainWindow::on_action_Save_As_triggered()
{
    QString name = prompts->getSaveFileName(this, tr("Save Project"),
                                            lastProjectDirectory + QStringLiteral("/Untitled.twr"),
                                            tr("Project files (*.twr)"));
    if (name.isEmpty())
        return;
    if (!name.endsWith(QLatin1String(".twr"), Qt::CaseInsensitive))
        name += QLatin1String(".twr");
    saveProject(name);
}

void MainWindow::on_action_Open_2_triggered()
{
    const QString name = prompts->getOpenFileName(this, tr("Open Project"), lastProjectDirectory,
                                                  tr("Project files (*.twr)"));
    if (!name.isEmpty())
        loadProject(name);
}

// The window only takes the new name once the file is really written, so the
// title never claims a file that does not exist and a failed save stays
// modified.
bool MainWindow::saveProject(const QString &path)
{
    lastProjectDirectory = QFileInfo(path).filePath();
    saveSettings();
    ProjectWriter writer;
    if (!writer.write(path, tileStyle, &levelPanel->level())) {
        prompts->warning(this, QStringLiteral("Saving Error"),
                         QStringLiteral("The project could not be saved."), writer.errorString());
        return false;
    }
    projectFilePath = path;
    modified = false;
    updateWindowTitle();
    return true;
}

bool MainWindow::loadProject(const QString &path)
{
    lastProjectDirectory = QFileInfo(path).filePath();
    saveSettings();
    // The reader leaves a half-read file's fields behind, so it reads into a
    // copy: a failed open must leave the design and the file Save writes to
    // as they were.
    TileStyle loaded = tileStyle;
    loaded.topDown = false;
    ProjectReader reader;
    if (!reader.read(path, loaded)) {
        prompts->warning(this, QStringLiteral("Loading Error"),
                         QStringLiteral("The project could not be loaded."), reader.errorString());
        return false;
    }
    tileStyle = loaded;
    levelPanel->resetLevel(reader.level());
    repeatAtBottomCheck->setChecked(tileStyle.topDown);
    projectFilePath = path;
    refreshProperties(currentPart());
    refreshPreview();
    modified = false;
    updateWindowTitle();
    return true;
}

// ---- Asset import and deletion ---------------------------------------------

AssetKind MainWindow::currentPageKind() const
{
    return AssetLibrary::kindForPage(ui->toolBox->currentIndex());
}

void MainWindow::askAndImport(AssetKind kind, const QString &caption)
{
    const QList<QUrl> urls =
        prompts->getOpenFileUrls(this, caption, QUrl(lastImportDirectory, QUrl::TolerantMode),
                                 QStringLiteral("PNG (*.png)"));
    if (!urls.isEmpty())
        importAssetFiles(kind, urls);
}

void MainWindow::on_actionTop_Shapes_triggered()
{
    askAndImport(TopShapes, QStringLiteral("Top Shapes"));
}

void MainWindow::on_actionPatterns_triggered()
{
    askAndImport(Patterns, QStringLiteral("Patterns"));
}

void MainWindow::on_actionAlphaMasks_triggered()
{
    askAndImport(AlphaMasks, QStringLiteral("Alpha Masks"));
}

void MainWindow::importAssetFiles(AssetKind kind, const QList<QUrl> &urls)
{
    importAssets(kind, urls, true);
}

void MainWindow::importAssets(AssetKind kind, const QList<QUrl> &urls, bool rememberLocation)
{
    const QString directory = AssetLibrary::assetDirectory(appDirPath, kind);
    QStringList failures;
    for (const QUrl &url : urls) {
        const QString source = url.toLocalFile();
        if (rememberLocation)
            lastImportDirectory = url.path(QUrl::FullyDecoded);
        if (!AssetImport::isPngName(source))
            continue;
        const QString name = url.fileName(QUrl::FullyDecoded);
        QString target = directory + QLatin1Char('/') + name;
        if (QFile::exists(target)) {
            const QMessageBox::StandardButton answer = prompts->question(
                this, QStringLiteral("File Copy"),
                QStringLiteral("The file '") + name +
                    QStringLiteral("' already exists. Replace it?"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel);
            if (answer == QMessageBox::No)
                target = AssetImport::newNamePath(directory, name);
            else if (answer != QMessageBox::Yes)
                continue;
        }
        QString error;
        if (!AssetImport::importFile(source, target, &error))
            failures << error;
    }
    if (!failures.isEmpty())
        prompts->warning(this, QStringLiteral("Import"),
                         tr("%1 of the chosen files could not be imported.").arg(failures.size()),
                         failures.join(QLatin1Char('\n')));
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!event->mimeData()->hasUrls())
        return;
    QListWidget *list = assetList(currentPageKind()).widget;
    const QPoint point = list->mapFromGlobal(QCursor::pos());
    if (list->rect().contains(point))
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const AssetKind kind = currentPageKind();
    importAssets(kind, event->mimeData()->urls(), false);
    loadAssetList(kind);
    event->acceptProposedAction();
}

void MainWindow::HandleRightClickEvent(const QPoint &pos)
{
    const AssetKind kind = currentPageKind();
    QListWidget *list = assetList(kind).widget;
    const QModelIndex index = list->indexAt(pos);
    if (!index.isValid())
        return;
    QListWidgetItem *item = list->item(index.row());
    item->setSelected(true);
    const QString name = item->toolTip();
    const QString path = AssetLibrary::assetDirectory(appDirPath, kind) + QLatin1Char('/') + name;

    QAction *chosen = prompts->execMenu(assetContextMenu, list->mapToGlobal(pos));
    if (!chosen || chosen->data().toString() != QLatin1String("delete"))
        return;
    const QMessageBox::StandardButton answer = prompts->question(
        this, QStringLiteral("Delete"),
        QStringLiteral("Are you sure you want to delete '") + name + QStringLiteral("'?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    qDebug("Yes Delete");
    if (QFile::exists(path)) {
        QString error;
        if (!AssetImport::removeAsset(path, &error))
            prompts->warning(this, QStringLiteral("Delete"),
                             QStringLiteral("'") + name + QStringLiteral("' could not be deleted."),
                             error);
    } else {
        qDebug("No such file");
    }
    loadAssetList(kind);
}

// ---- Generation run ----------------------------------------------------------

void MainWindow::on_actionGenerate_Tileset_triggered()
{
    // The worker's members must not change under a running generation.
    if (generationRunning)
        return;
    ExportDialog dialog(this);
    dialog.directory = lastExportDirectory;
    dialog.tileSize = tileWidthHeight;
    dialog.protectedDirectories = AssetLibrary::libraryDirectories(appDirPath);
    dialog.loadValues();
    prompts->execDialog(dialog);
    if (!dialog.confirmed)
        return;
    lastExportDirectory = dialog.directory;
    tileWidthHeight = dialog.tileSize;
    saveSettings();
    startGeneration(TilesetExportOptions());
}

void MainWindow::on_actionExport_Engine_Tileset_triggered()
{
    if (generationRunning)
        return;
    EngineExportDialog dialog(this);
    dialog.setValues(lastExportDirectory, tileWidthHeight, storedExportOptions());
    dialog.protectedDirectories = AssetLibrary::libraryDirectories(appDirPath);
    if (prompts->execDialog(dialog) != QDialog::Accepted)
        return;
    lastExportDirectory = dialog.directory();
    tileWidthHeight = dialog.tileSize();
    saveSettings();
    storeExportOptions(dialog.options());
    TilesetExportOptions options = dialog.options();
    options.level = levelPanel->level();
    startGeneration(options);
}

TilesetExportOptions MainWindow::storedExportOptions() const
{
    return AppSettings::loadExportOptions(openSettings());
}

void MainWindow::storeExportOptions(const TilesetExportOptions &options) const
{
    QSettings settings = openSettings();
    AppSettings::storeExportOptions(settings, options);
}

void MainWindow::startGeneration(const TilesetExportOptions &exportOptions)
{
    generator->moveToThread(generatorThread);
    generator->alphaDirectory = AssetLibrary::assetDirectory(appDirPath, AlphaMasks);
    generator->setStyle(tileStyle);
    generator->tileSize = tileWidthHeight;
    generator->outputDirectory = lastExportDirectory;
    generator->protectedDirectories = AssetLibrary::libraryDirectories(appDirPath);
    generator->exportOptions = exportOptions;

    generationRunning = true;
    cancelRequested = false;
    runOutcome->reset();
    ui->actionGenerate_Tileset->setEnabled(false);
    ui->actionExport_Engine_Tileset->setEnabled(false);
    generatorThread->start(QThread::InheritPriority);
}

void MainWindow::onTotalSteps(int steps)
{
    progressDialog->setRange(0, steps);
    progressDialog->setWindowModality(Qt::WindowModal);
    progressDialog->show();
}

void MainWindow::onNextStep(int step)
{
    // After Cancel the dialog is reset; setValue() would show it again.
    if (cancelRequested)
        return;
    progressDialog->setValue(step);
}

// Cancel stops the worker after the tiles in hand; none is left half-written.
void MainWindow::cancelGeneration()
{
    if (!generationRunning)
        return;
    cancelRequested = true;
    generatorThread->requestInterruption();
}

void MainWindow::onComplete(bool isError, int count)
{
    // Closing the progress dialog emits canceled(); the run is over by now.
    generationRunning = false;
    progressDialog->close();
    generatorThread->quit();
    generatorThread->wait();
    ui->actionGenerate_Tileset->setEnabled(true);
    ui->actionExport_Engine_Tileset->setEnabled(true);

    runOutcome->finish(isError, count, cancelRequested);
    const RunOutcome &run = *runOutcome;
    const int written = run.written();
    const int failed = run.tileFailures().size();
    const QString details = run.problems().join(QLatin1Char('\n'));
    if (isError) {
        // count is 0 when the run was refused before any tile.
        const QString text = count ? tr("The tileset could not be generated: none of the %1 "
                                        "tiles could be made.")
                                         .arg(count)
                                   : tr("The tileset could not be generated.");
        prompts->warning(this, QStringLiteral("Failed"), text, details);
    } else if (failed > 0) {
        const QString text = run.stopped() ? tr("Generation was stopped: %1 of %2 tiles have "
                                                "been generated; %3 could not be made.")
                                                 .arg(written)
                                                 .arg(run.total())
                                                 .arg(failed)
                                           : tr("%1 tiles have been generated; %2 could not be "
                                                "made.")
                                                 .arg(written)
                                                 .arg(failed);
        prompts->warning(this, QStringLiteral("Failed"), text, details);
    } else if (run.stopped()) {
        prompts->information(this, QStringLiteral("Stopped"),
                             tr("Generation was stopped: %1 of %2 tiles have been generated.")
                                 .arg(written)
                                 .arg(run.total()),
                             QMessageBox::Ok, QMessageBox::NoButton);
    } else if (!run.exportFailures().isEmpty()) {
        prompts->warning(this, QStringLiteral("Failed"),
                         tr("%1 tiles have been generated, but the atlas and tileset files "
                            "could not be written.")
                             .arg(written),
                         details);
    } else if (!run.designProblems().isEmpty()) {
        // Every tile was written, but without a part of the design.
        prompts->warning(this, QStringLiteral("Failed"),
                         tr("%1 tiles have been generated, but not as designed: a part of the "
                            "design could not be read and was left out.")
                             .arg(written),
                         details);
    } else {
        QString text = QString::number(count) + QStringLiteral(" tiles have been generated.");
        if (!run.exportWritten().isEmpty())
            text += QLatin1Char('\n') +
                    tr("Also written: %1").arg(run.exportWritten().join(QStringLiteral(", ")));
        prompts->information(this, QStringLiteral("Complete"), text, QMessageBox::Ok,
                             QMessageBox::NoButton);
    }
}

void MainWindow::stopGeneration()
{
    if (!generatorThread->isRunning())
        return;
    generatorThread->requestInterruption();
    generatorThread->quit();
    generatorThread->wait();
}

// ---- Update check ----------------------------------------------------------

void MainWindow::onCheckUpdatesComplete(bool updateAvailable)
{
    if (updateAvailable) {
        const QMessageBox::StandardButton answer = prompts->information(
            this, QStringLiteral("Update Available"),
            QStringLiteral("There is a new update of Tilewright available for download. "
                           "Download it now?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        if (answer == QMessageBox::Yes)
            prompts->openUrl(AppSettings::vendorUrl(QStringLiteral("/my-account/")));
    }
    updateThread->quit();
}

void MainWindow::on_actionUpdate_Checking_triggered()
{
    QSettings settings = openSettings();
    const bool check = ui->actionUpdate_Checking->isChecked();
    qDebug(check ? "Check for updates on startup." : "Don't check for updates.");
    settings.setValue(QLatin1String(AppSettings::CheckForUpdates), check);
}

// ---- Settings and themes -------------------------------------------------

void MainWindow::restoreSettings()
{
    QSettings settings = openSettings();
    restoreGeometry(settings.value(QLatin1String(AppSettings::Geometry)).toByteArray());
    restoreState(settings.value(QLatin1String(AppSettings::WindowState)).toByteArray(), 0);
    lastExportDirectory =
        settings.value(QLatin1String(AppSettings::LastExportDirectory), lastExportDirectory)
            .toString();
    lastProjectDirectory =
        settings.value(QLatin1String(AppSettings::LastProjectDirectory), lastProjectDirectory)
            .toString();
    lastImportDirectory =
        settings.value(QLatin1String(AppSettings::LastImportDirectory), lastImportDirectory)
            .toString();
    theme = settings.value(QLatin1String(AppSettings::Theme), QString()).toString();
    if (theme == QLatin1String("dark"))
        loadDarkStyleSheet();
    tileWidthHeight =
        settings.value(QLatin1String(AppSettings::TileWidthHeight), tileWidthHeight).toInt();

    // Only the stored size is kept; the window always comes back centred.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(AppSettings::centredRect(size(), screen->size()));

    checkForUpdatesOnStartup =
        settings.value(QLatin1String(AppSettings::CheckForUpdates), true).toBool();
    ui->actionUpdate_Checking->setChecked(checkForUpdatesOnStartup);
}

void MainWindow::storeFoldersAndTileSize(QSettings &settings) const
{
    settings.setValue(QLatin1String(AppSettings::LastExportDirectory), lastExportDirectory);
    settings.setValue(QLatin1String(AppSettings::LastProjectDirectory), lastProjectDirectory);
    settings.setValue(QLatin1String(AppSettings::LastImportDirectory), lastImportDirectory);
    settings.setValue(QLatin1String(AppSettings::TileWidthHeight), tileWidthHeight);
}

void MainWindow::saveSettings()
{
    QSettings settings = openSettings();
    storeFoldersAndTileSize(settings);
    settings.setValue(QLatin1String(AppSettings::Theme), theme);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings = openSettings();
    settings.setValue(QLatin1String(AppSettings::Geometry), saveGeometry());
    settings.setValue(QLatin1String(AppSettings::WindowState), saveState(0));
    // Closing does not store the theme: only the theme commands do.
    storeFoldersAndTileSize(settings);
    event->accept();
}

void MainWindow::loadDarkStyleSheet()
{
    QFile file(QStringLiteral(":/styles/style/stylesheet.qss"));
    if (!file.open(QIODevice::ReadOnly)) {
        // Only a build missing the resource gets here: keep the plain look,
        // which needs no sheet, and say why the dark one did not come.
        qWarning("Tilewright: cannot read the dark style sheet %s: %s",
                 qUtf8Printable(file.fileName()), qUtf8Printable(file.errorString()));
        qApp->setStyleSheet(QString());
        return;
    }
    const QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    qApp->setStyleSheet(QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul)));
}

void MainWindow::on_actionLight_triggered()
{
    qApp->setStyleSheet(QString());
    theme.clear();
    saveSettings();
}

void MainWindow::on_actionDark_triggered()
{
    loadDarkStyleSheet();
    theme = QStringLiteral("dark");
    saveSettings();
}

// ---- Help ----------------------------------------------------------------

void MainWindow::on_actionDocumentation_2_triggered()
{
    prompts->openUrl(AppSettings::vendorUrl(QStringLiteral("/tilewright/documentation/")));
}

void MainWindow::on_actionDocumentation_triggered()
{
    prompts->openUrl(AppSettings::vendorUrl(QStringLiteral("/support/")));
}

void MainWindow::on_actionAbout_triggered()
{
    const QString message =
        QStringLiteral("<b>") + productName + QStringLiteral("</b><br/><br/>Version: ") +
        versionString + QStringLiteral("<br/><br/>") +
        QStringLiteral("Copyright &copy; 2026 Oakhollow. Tilewright and its bundled assets are "
                       "made by Oakhollow; the tiles you generate are yours to use.") +
        QStringLiteral("<br/><br/>") +
        QStringLiteral("This program is provided as is, without warranty of any kind, express or "
                       "implied, including but not limited to the warranties of merchantability, "
                       "fitness for a particular purpose and non-infringement. In no event shall "
                       "the authors be liable for any claim, damages or other liability arising "
                       "from the use of this program.");
    prompts->about(this, QStringLiteral("About Tilewright"), message);
}

void MainWindow::on_actionE_xit_triggered()
{
    QCoreApplication::exit(0);
}
