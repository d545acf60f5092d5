#pragma once

#include "userprompts.h"

#include <QAction>
#include <QColor>
#include <QDialog>
#include <QList>
#include <QMenu>
#include <QPoint>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// Answers the window's questions and choosers from queues set up by a test
// and records every call, so nothing waits for a person and a test can see
// exactly what was asked. A call whose queue is empty is recorded and gets
// the answer of a person closing the dialog (Cancel, nothing chosen).
class ScriptedPrompts : public UserPrompts
{
public:
    struct Call
    {
        QString kind; // the name of the UserPrompts function
        QWidget *parent = nullptr;
        QString title; // title or caption
        QString text;
        QString details;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QString directory; // start location of a file dialog
        QString filter;
        QPoint position; // of a menu
        bool unscripted = false;
    };

    QList<Call> calls;
    QQueue<QMessageBox::StandardButton> answers; // question() and information()
    QQueue<QString> fileNames;                   // getOpenFileName() and getSaveFileName()
    QQueue<QList<QUrl>> fileUrls;                // getOpenFileUrls()
    QQueue<QString> menuChoices; // data of the action to choose; empty: close the menu
    QQueue<QColor> colors;
    QList<QUrl> openedUrls;
    // Runs while the menu would be open, before the choice is returned.
    std::function<void(QMenu *)> onMenu;
    // Each plays a person on one dialog of execDialog(): fills its fields and
    // presses a button. With none queued the dialog is closed unanswered.
    QQueue<std::function<void(QDialog &)>> dialogActions;

    QList<Call> callsOf(const QString &kind) const
    {
        QList<Call> found;
        for (const Call &call : calls)
            if (call.kind == kind)
                found << call;
        return found;
    }
    QStringList kinds() const
    {
        QStringList names;
        for (const Call &call : calls)
            names << call.kind;
        return names;
    }
    bool allScripted() const
    {
        for (const Call &call : calls)
            if (call.unscripted)
                return false;
        return true;
    }

    QColor getColor(const QColor &initial) override
    {
        Call &call = record(QStringLiteral("getColor"), nullptr);
        call.text = initial.name();
        if (colors.isEmpty()) {
            markUnscripted();
            return QColor();
        }
        return colors.dequeue();
    }
    QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton) override
    {
        return answer(QStringLiteral("question"), parent, title, text, buttons, defaultButton);
    }
    QMessageBox::StandardButton information(QWidget *parent, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton) override
    {
        return answer(QStringLiteral("information"), parent, title, text, buttons, defaultButton);
    }
    void warning(QWidget *parent, const QString &title, const QString &text,
                 const QString &details) override
    {
        Call &call = record(QStringLiteral("warning"), parent);
        call.title = title;
        call.text = text;
        call.details = details;
    }
    void about(QWidget *parent, const QString &title, const QString &text) override
    {
        Call &call = record(QStringLiteral("about"), parent);
        call.title = title;
        call.text = text;
    }
    bool openUrl(const QUrl &url) override
    {
        record(QStringLiteral("openUrl"), nullptr).text = url.toString();
        openedUrls << url;
        return true;
    }
    QAction *execMenu(QMenu *menu, const QPoint &globalPos) override
    {
        record(QStringLiteral("execMenu"), nullptr).position = globalPos;
        if (onMenu)
            onMenu(menu);
        if (menuChoices.isEmpty()) {
            markUnscripted();
            return nullptr;
        }
        const QString choice = menuChoices.dequeue();
        for (QAction *action : menu->actions())
            if (!choice.isEmpty() && action->data().toString() == choice)
                return action;
        return nullptr;
    }
    int execDialog(QDialog &dialog) override
    {
        Call &call = record(QStringLiteral("execDialog"), dialog.parentWidget());
        call.title = dialog.windowTitle();
        call.text = QString::fromLatin1(dialog.metaObject()->className());
        if (dialogActions.isEmpty()) {
            markUnscripted();
            dialog.reject();
        } else {
            dialogActions.dequeue()(dialog);
        }
        return dialog.result();
    }
    QList<QUrl> getOpenFileUrls(QWidget *parent, const QString &caption, const QUrl &directory,
                                const QString &filter) override
    {
        Call &call = record(QStringLiteral("getOpenFileUrls"), parent);
        call.title = caption;
        call.directory = directory.toString();
        call.filter = filter;
        if (fileUrls.isEmpty()) {
            markUnscripted();
            return {};
        }
        return fileUrls.dequeue();
    }
    QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter) override
    {
        return fileName(QStringLiteral("getOpenFileName"), parent, caption, dir, filter);
    }
    QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter) override
    {
        return fileName(QStringLiteral("getSaveFileName"), parent, caption, dir, filter);
    }

private:
    Call &record(const QString &kind, QWidget *parent)
    {
        Call call;
        call.kind = kind;
        call.parent = parent;
        calls << call;
        return calls.last();
    }
    void markUnscripted() { calls.last().unscripted = true; }

    QMessageBox::StandardButton answer(const QString &kind, QWidget *parent, const QString &title,
                                       const QString &text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton defaultButton)
    {
        Call &call = record(kind, parent);
        call.title = title;
        call.text = text;
        call.buttons = buttons;
        call.defaultButton = defaultButton;
        if (answers.isEmpty()) {
            markUnscripted();
            return buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                                         : QMessageBox::NoButton;
        }
        return answers.dequeue();
    }
    QString fileName(const QString &kind, QWidget *parent, const QString &caption,
                     const QString &dir, const QString &filter)
    {
        Call &call = record(kind, parent);
        call.title = caption;
        call.directory = dir;
        call.filter = filter;
        if (fileNames.isEmpty()) {
            markUnscripted();
            return QString();
        }
        return fileNames.dequeue();
    }
};
