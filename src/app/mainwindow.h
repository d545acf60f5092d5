#pragma once

#include "tilestyle.h"

#include <QMainWindow>
#include <memory>

class QCheckBox;
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
    void resetStyle();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_actionDocumentation_triggered();
    void on_actionDocumentation_2_triggered();
    void on_actionE_xit_triggered();
    void on_actionAbout_triggered();
    void on_actionLight_triggered();
    void on_actionDark_triggered();

private:
    friend class TestMainWindow;

    void restoreSettings();
    void loadDarkStyleSheet();

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

    TileStyle tileStyle;
};
