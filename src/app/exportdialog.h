#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QAbstractButton;

namespace Ui {
class ExportDialog;
}

// Asks for the output directory and the (square) tile size of a run. The
// caller sets directory and tileSize, calls loadValues() and exec(), then
// reads them back when confirmed is true.
class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExportDialog(QWidget *parent = nullptr);
    ~ExportDialog() override;

    void loadValues();

    QString directory;
    int tileSize = 128;
    bool confirmed = false;
    // Folders the tiles must not go into (the asset library's): choosing one
    // keeps the dialog open with the reason.
    QStringList protectedDirectories;

    // The folder chooser; tests replace it.
    std::function<QString(QWidget *parent, const QString &caption)> chooseDirectory;

public slots:
    void accept() override;

private slots:
    void on_buttonBox_clicked(QAbstractButton *button);
    void on_selectDirectory_clicked();
    void on_tileWidth_textChanged(const QString &arg1);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::ExportDialog *ui;
};
