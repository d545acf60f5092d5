#include "userprompts.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMenu>

QColor UserPrompts::getColor(const QColor &initial)
{
    return QColorDialog::getColor(initial, nullptr, QString());
}

QMessageBox::StandardButton UserPrompts::question(QWidget *parent, const QString &title,
                                                  const QString &text,
                                                  QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton UserPrompts::information(QWidget *parent, const QString &title,
                                                     const QString &text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::information(parent, title, text, buttons, defaultButton);
}

void UserPrompts::warning(QWidget *parent, const QString &title, const QString &text,
                          const QString &details)
{
    if (details.isEmpty()) {
        QMessageBox::warning(parent, title, text, QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    // A failed run can list thousands of files: shown whole under the text they
    // push the box, and its OK button, far off the screen. A long list shows its
    // first lines there and all of it in the collapsed, scrolling details.
    const QStringList lines = details.split(QLatin1Char('\n'));
    if (lines.size() <= MaxDetailLinesShown) {
        box.setInformativeText(details);
    } else {
        QStringList shown = lines.mid(0, MaxDetailLinesShown - 1);
        shown << tr("and %1 more").arg(lines.size() - shown.size());
        box.setInformativeText(shown.join(QLatin1Char('\n')));
        box.setDetailedText(details);
    }
    box.exec();
}

void UserPrompts::about(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::about(parent, title, text);
}

bool UserPrompts::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

QAction *UserPrompts::execMenu(QMenu *menu, const QPoint &globalPos)
{
    return menu->exec(globalPos);
}

int UserPrompts::execDialog(QDialog &dialog)
{
    return dialog.exec();
}

QList<QUrl> UserPrompts::getOpenFileUrls(QWidget *parent, const QString &caption,
                                         const QUrl &directory, const QString &filter)
{
    return QFileDialog::getOpenFileUrls(parent, caption, directory, filter);
}

QString UserPrompts::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                     const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString UserPrompts::getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                     const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}
