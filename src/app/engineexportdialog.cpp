#include "engineexportdialog.h"
#include "ui_engineexportdialog.h"

#include "assetlibrary.h"

#include <QFileDialog>

EngineExportDialog::EngineExportDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::EngineExportDialog)
{
    chooseDirectory = [](QWidget *owner, const QString &caption, const QString &start) {
        return QFileDialog::getExistingDirectory(owner, caption, start, QFileDialog::ShowDirsOnly);
    };
    ui->setupUi(this);
}

EngineExportDialog::~EngineExportDialog()
{
    delete ui;
}

void EngineExportDialog::setValues(const QString &directory, int tileSize,
                                   const TilesetExportOptions &options)
{
    ui->outputDirectory->setText(QDir::toNativeSeparators(directory));
    ui->tileSize->setValue(tileSize);
    ui->baseName->setText(options.baseName);
    ui->columns->setValue(options.columns);
    ui->margin->setValue(options.margin);
    ui->spacing->setValue(options.spacing);
    ui->extrusion->setValue(options.extrusion);
    ui->powerOfTwo->setChecked(options.powerOfTwo);
    ui->writeTsx->setChecked(options.tsx);
    ui->writeTres->setChecked(options.tres);
    ui->writeTres3->setChecked(options.tres3);
    ui->writeTmx->setChecked(options.tmx);
    ui->writeTscn->setChecked(options.tscn);
    ui->atlasGroup->setChecked(options.writesAtlas());
}

QString EngineExportDialog::directory() const
{
    return QDir::fromNativeSeparators(ui->outputDirectory->text().trimmed());
}

int EngineExportDialog::tileSize() const
{
    return ui->tileSize->value();
}

TilesetExportOptions EngineExportDialog::options() const
{
    TilesetExportOptions options;
    options.atlas = ui->atlasGroup->isChecked();
    options.baseName = ui->baseName->text().trimmed();
    options.atlasFileName = options.baseName + QStringLiteral(".png");
    options.columns = ui->columns->value();
    options.margin = ui->margin->value();
    options.spacing = ui->spacing->value();
    options.extrusion = ui->extrusion->value();
    options.powerOfTwo = ui->powerOfTwo->isChecked();
    options.tsx = ui->writeTsx->isChecked();
    options.tres = ui->writeTres->isChecked();
    options.tres3 = ui->writeTres3->isChecked();
    options.tmx = ui->writeTmx->isChecked();
    options.tscn = ui->writeTscn->isChecked();
    return options;
}

// Refuse what cannot work before a run starts, and say why.
void EngineExportDialog::accept()
{
    QString problem;
    if (directory().isEmpty())
        problem = tr("Choose the folder to write the tileset to.");
    else
        problem = AssetLibrary::outputConflict(directory(), protectedDirectories);
    if (problem.isEmpty())
        problem = options().validate();
    ui->problem->setText(problem);
    if (problem.isEmpty())
        QDialog::accept();
}

void EngineExportDialog::on_selectDirectory_clicked()
{
    const QString chosen = chooseDirectory(this, tr("Export Directory"), directory());
    if (!chosen.isEmpty())
        ui->outputDirectory->setText(QDir::toNativeSeparators(chosen));
}

// The tileset files describe the atlas sheet, so they come and go with it.
void EngineExportDialog::on_atlasGroup_toggled(bool on)
{
    if (!on) {
        ui->writeTsx->setChecked(false);
        ui->writeTres->setChecked(false);
        ui->writeTres3->setChecked(false);
    }
}

void EngineExportDialog::on_writeTsx_toggled(bool on)
{
    if (on)
        ui->atlasGroup->setChecked(true);
    else
        ui->writeTmx->setChecked(false);
}

void EngineExportDialog::on_writeTres_toggled(bool on)
{
    if (on)
        ui->atlasGroup->setChecked(true);
    else
        ui->writeTscn->setChecked(false);
}

// Each level map is drawn with its engine's tileset, which comes with it.
void EngineExportDialog::on_writeTmx_toggled(bool on)
{
    if (on)
        ui->writeTsx->setChecked(true);
}

void EngineExportDialog::on_writeTscn_toggled(bool on)
{
    if (on)
        ui->writeTres->setChecked(true);
}

void EngineExportDialog::on_writeTres3_toggled(bool on)
{
    if (on)
        ui->atlasGroup->setChecked(true);
}
