#include "exportdialog.h"
#include "ui_exportdialog.h"

#include "assetlibrary.h"

#include <QAbstractButton>
#include <QFileDialog>

ExportDialog::ExportDialog(QWidget *parent) : QDialog(parent), ui(new Ui::ExportDialog)
{
    chooseDirectory = [](QWidget *owner, const QString &caption) {
        return QFileDialog::getExistingDirectory(owner, caption, QString(),
                                                 QFileDialog::ShowDirsOnly);
    };
    ui->setupUi(this);
}

ExportDialog::~ExportDialog()
{
    delete ui;
}

void ExportDialog::loadValues()
{
    directory.replace(QLatin1Char('/'), QLatin1Char('\\'));
    ui->exportDirectory->setText(directory);
    confirmed = false;
    ui->tileWidth->setText(QString::number(tileSize));
}

void ExportDialog::on_buttonBox_clicked(QAbstractButton *button)
{
    // The role, not the text: a translated or mnemonic "&Cancel" is still Cancel.
    if (ui->buttonBox->standardButton(button) == QDialogButtonBox::Cancel)
        return;
    directory = ui->exportDirectory->text().replace(QLatin1Char('\\'), QLatin1Char('/'));
    tileSize = ui->tileHeight->text().toInt();
    confirmed = true;
}

// A run with tiles smaller than a pixel cannot make anything, and one into
// the asset library would overwrite it: keep the dialog open and say why
// instead of starting it.
void ExportDialog::accept()
{
    if (confirmed && tileSize < 1) {
        confirmed = false;
        ui->sizeProblem->setText(tr("The tile size must be at least 1 pixel."));
        ui->tileWidth->setFocus();
        return;
    }
    const QString conflict =
        confirmed ? AssetLibrary::outputConflict(directory, protectedDirectories) : QString();
    if (!conflict.isEmpty()) {
        confirmed = false;
        // The label is small; the whole reason goes in its tool tip.
        ui->sizeProblem->setText(tr("Choose a folder outside the asset library."));
        ui->sizeProblem->setToolTip(conflict);
        ui->exportDirectory->setFocus();
        return;
    }
    QDialog::accept();
}

void ExportDialog::on_selectDirectory_clicked()
{
    const QString chosen = chooseDirectory(this, tr("Export Directory"));
    if (chosen.isEmpty())
        return;
    directory = chosen;
    tileSize = ui->tileHeight->text().toInt();
    ui->exportDirectory->setText(QString(chosen).replace(QLatin1Char('/'), QLatin1Char('\\')));
}

void ExportDialog::on_tileWidth_textChanged(const QString &arg1)
{
    ui->tileHeight->setText(arg1);
    tileSize = arg1.toInt();
    ui->sizeProblem->clear();
    ui->sizeProblem->setToolTip(QString());
}

void ExportDialog::closeEvent(QCloseEvent *) {}
