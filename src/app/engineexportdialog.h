#pragma once

#include "tilesetexport.h"

#include <QDialog>
#include <functional>

namespace Ui {
class EngineExportDialog;
}

// Asks where and how to export a tileset ready for Tiled and Godot: the
// output folder and tile size of the run, and the atlas sheet and tileset
// files to make from its tiles.
class EngineExportDialog : public QDialog
{
    Q_OBJECT

public:
    explicit EngineExportDialog(QWidget *parent = nullptr);
    ~EngineExportDialog() override;

    void setValues(const QString &directory, int tileSize, const TilesetExportOptions &options);
    QString directory() const;
    int tileSize() const;
    TilesetExportOptions options() const;

    // The folder chooser; tests replace it.
    std::function<QString(QWidget *parent, const QString &caption, const QString &start)>
        chooseDirectory;
    // Folders the tileset must not go into (the asset library's).
    QStringList protectedDirectories;

public slots:
    void accept() override;

private slots:
    void on_selectDirectory_clicked();
    void on_atlasGroup_toggled(bool on);
    void on_writeTsx_toggled(bool on);
    void on_writeTres_toggled(bool on);
    void on_writeTres3_toggled(bool on);
    void on_writeTmx_toggled(bool on);
    void on_writeTscn_toggled(bool on);

private:
    Ui::EngineExportDialog *ui;
};
