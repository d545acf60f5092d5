#pragma once

#include "assetlibrary.h"
#include "tilesetexport.h"
#include "tilestyle.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QModelIndex>
#include <QTimer>
#include <QUrl>
#include <memory>

class QCheckBox;
class QSettings;
class QMenu;
class QProgressDialog;
class generateTiles;
class LevelPanel;
class QDockWidget;
class RunOutcome;
class QThread;
class checkUpdates;
class QListWidget;
class QListWidgetItem;
class QSpinBox;
class UserPrompts;

namespace Ui {
class MainWindow;
}

// The hub: owns the form, the current design and the workers, and routes
// every user action to the core. No image maths, XML or file I/O here.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Tests swap in prompts that answer without a person.
    void setPrompts(std::unique_ptr<UserPrompts> prompts);

    const TileStyle &style() const { return tileStyle; }
    bool isModified() const { return modified; }
    QString currentProjectFilePath() const { return projectFilePath; }
    int tileSize() const { return tileWidthHeight; }
    QString currentTheme() const { return theme; }

    void updateWindowTitle();
    void saveSettings();
    bool saveProject(const QString &path);
    bool loadProject(const QString &path);
    void importAssetFiles(AssetKind kind, const QList<QUrl> &urls);
    void resetStyle();
    void refreshProperties(StylePart part);
    void refreshPreview();
    void loadTopShapes();
    void loadPatterns();
    void loadAlphaMasks();

public slots:
    void backgroundOpacityValueChanged(int value);
    void patternOpacityValueChanged(int value);
    void patternColorOpacityValueChanged(int value);
    void toggleTopDown(int state);
    void onNextStep(int step);
    void onComplete(bool isError, int count);
    void onTotalSteps(int steps);
    void onCheckUpdatesComplete(bool updateAvailable);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void on_fillIcons_itemSelectionChanged();
    void on_topsList_itemSelectionChanged();
    void on_propertiesEditor_doubleClicked(const QModelIndex &index);
    void on_partSelection_currentIndexChanged(int index);
    void on_spriteSelectedParts_itemClicked(QListWidgetItem *item);
    void on_action_Save_As_triggered();
    void on_action_Save_triggered();
    void on_action_Open_2_triggered();
    void on_actionNew_triggered();
    void on_actionGenerate_Tileset_triggered();
    void on_actionExport_Engine_Tileset_triggered();
    void on_actionTop_Shapes_triggered();
    void on_actionPatterns_triggered();
    void on_actionAlphaMasks_triggered();
    void HandleRightClickEvent(const QPoint &pos);
    void on_actionDocumentation_triggered();
    void on_actionDocumentation_2_triggered();
    void on_actionE_xit_triggered();
    void on_actionUpdate_Checking_triggered();
    void on_actionAbout_triggered();
    void on_actionLight_triggered();
    void on_actionDark_triggered();

private:
    friend class TestMainWindow;
    friend class TestAssetLists;
    friend class TestProjectCommands;
    friend class TestGenerationRun;

    void restoreSettings();
    void storeFoldersAndTileSize(QSettings &settings) const;
    void loadDarkStyleSheet();
    void setupPropertyTable();
    StylePart currentPart() const;
    void setPercentage(float &(TileStyle::*field)(StylePart), int value);
    // What each asset kind is shown in and watched by.
    struct AssetList
    {
        QListWidget *widget;
        QList<QFileInfo> *files;
        QFileSystemWatcher *watcher;
        QTimer *reloadTimer; // restarted by each change; the list reloads when it fires
    };
    // How long a watched folder must stay quiet before its list is reloaded.
    static constexpr int AssetReloadDelayMs = 250;
    AssetList assetList(AssetKind kind);
    void watchAssetFolders();
    void setupLevelDock();
    void loadAssetList(AssetKind kind);
    AssetKind currentPageKind() const;
    void importAssets(AssetKind kind, const QList<QUrl> &urls, bool rememberLocation);
    void askAndImport(AssetKind kind, const QString &caption);
    void startGeneration(const TilesetExportOptions &exportOptions);
    TilesetExportOptions storedExportOptions() const;
    void storeExportOptions(const TilesetExportOptions &options) const;
    void cancelGeneration();
    void stopGeneration();

    Ui::MainWindow *ui = nullptr;
    std::unique_ptr<UserPrompts> prompts;

    QString productName;
    QString versionString;
    QString projectFilePath;
    bool modified = false;
    bool initialising = false;
    bool refreshingProperties = false;

    QString lastExportDirectory;
    QString lastProjectDirectory;
    QString lastImportDirectory;
    QString appDirPath;
    QString theme;
    int tileWidthHeight = 128;
    bool checkForUpdatesOnStartup = true;

    QSpinBox *opacitySpin = nullptr;
    QSpinBox *patternOpacitySpin = nullptr;
    QSpinBox *patternColorOpacitySpin = nullptr;
    QCheckBox *repeatAtBottomCheck = nullptr;

    QProgressDialog *progressDialog = nullptr;
    generateTiles *generator = nullptr;
    QThread *generatorThread = nullptr;
    // The run in progress, from the start until Complete arrives.
    bool generationRunning = false;
    bool cancelRequested = false;
    RunOutcome *runOutcome = nullptr;
    LevelPanel *levelPanel = nullptr;
    QDockWidget *levelDock = nullptr;

    checkUpdates *updateChecker = nullptr;
    QThread *updateThread = nullptr;
    QMenu *assetContextMenu = nullptr;

    QList<QFileInfo> topShapeFiles;
    QList<QFileInfo> patternFiles;
    QList<QFileInfo> alphaMaskFiles;
    QFileSystemWatcher topShapesWatcher;
    QFileSystemWatcher patternsWatcher;
    QFileSystemWatcher alphaMasksWatcher;
    QTimer topShapesReload;
    QTimer patternsReload;
    QTimer alphaMasksReload;
    QList<QImage> previewLayers;

    TileStyle tileStyle;
};
