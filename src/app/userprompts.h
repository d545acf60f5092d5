#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QUrl>

class QAction;
class QDialog;
class QMenu;
class QPoint;
class QWidget;

// Every question, chooser and browser hand-off the window makes goes through
// here, so tests can answer them without a person and see what was asked.
class UserPrompts
{
    Q_DECLARE_TR_FUNCTIONS(UserPrompts)

public:
    static constexpr int MaxDetailLinesShown = 6;

    virtual ~UserPrompts() = default;

    virtual QColor getColor(const QColor &initial);
    virtual QMessageBox::StandardButton question(QWidget *parent, const QString &title,
                                                 const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton);
    virtual QMessageBox::StandardButton information(QWidget *parent, const QString &title,
                                                    const QString &text,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton defaultButton);
    // details, when given, are shown under the text. Longer than
    // MaxDetailLinesShown lines, they are cut there to their first lines and a
    // count of the rest, and shown whole behind "Show Details...".
    virtual void warning(QWidget *parent, const QString &title, const QString &text,
                         const QString &details = QString());
    virtual void about(QWidget *parent, const QString &title, const QString &text);
    virtual bool openUrl(const QUrl &url);
    virtual QAction *execMenu(QMenu *menu, const QPoint &globalPos);
    virtual int execDialog(QDialog &dialog);
    virtual QList<QUrl> getOpenFileUrls(QWidget *parent, const QString &caption,
                                        const QUrl &directory, const QString &filter);
    virtual QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);
    virtual QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter);
};
