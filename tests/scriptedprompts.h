#pragma once

#include "userprompts.h"

#include <QtWidgets>

#include <functional>

// Answers the window's questions and choosers from queues a test fills, and records every call,
// so nothing waits for a person. With its queue empty a call gets what closing the dialog gives.
class ScriptedPrompts : public UserPrompts
{
public:
    using Button = QMessageBox::StandardButton;
    using Buttons = QMessageBox::StandardButtons;
    struct Call
    {
        QString kind;                            // the name of the UserPrompts function
        QString title, text, details, directory; // directory: where a file dialog opens
        Button defaultButton;
    };

    QList<Call> calls;
    QQueue<Button> answers;    // question() and information()
    QQueue<QString> fileNames; // getOpenFileName() and getSaveFileName()
    QQueue<QList<QUrl>> fileUrls;
    QQueue<QString> menuChoices; // data of the action to choose
    QQueue<QColor> colors;
    // Each plays a person on one dialog: fills its fields and presses a button.
    QQueue<std::function<void(QDialog &)>> dialogActions;

    QList<Call> callsOf(const QString &kind) const
    {
        QList<Call> found;
        for (const Call &call : calls)
            if (call.kind == kind)
                found << call;
        return found;
    }
    QString kinds() const // in order, separated by spaces
    {
        QStringList names;
        for (const Call &call : calls)
            names << call.kind;
        return names.join(' ');
    }

    QColor getColor(const QColor &initial) override
    {
        record("getColor", {}, initial.name());
        return next(colors);
    }
    Button question(QWidget *, const QString &title, const QString &text, Buttons buttons,
                    Button defaultButton) override
    {
        return ask("question", title, text, buttons, defaultButton);
    }
    Button information(QWidget *, const QString &title, const QString &text, Buttons buttons,
                       Button defaultButton) override
    {
        return ask("information", title, text, buttons, defaultButton);
    }
    void warning(QWidget *, const QString &title, const QString &text,
                 const QString &details) override
    {
        record("warning", title, text).details = details;
    }
    void about(QWidget *, const QString &title, const QString &text) override
    {
        record("about", title, text);
    }
    bool openUrl(const QUrl &url) override
    {
        record("openUrl", {}, url.toString());
        return true;
    }
    QAction *execMenu(QMenu *menu, const QPoint &) override
    {
        record("execMenu");
        const QString choice = next(menuChoices);
        for (QAction *action : menu->actions())
            if (!choice.isEmpty() && action->data().toString() == choice)
                return action;
        return nullptr;
    }
    int execDialog(QDialog &dialog) override
    {
        record("execDialog", dialog.windowTitle(), dialog.metaObject()->className());
        next(dialogActions, [](QDialog &d) { d.reject(); })(dialog);
        return dialog.result();
    }
    QList<QUrl> getOpenFileUrls(QWidget *, const QString &caption, const QUrl &directory,
                                const QString &) override
    {
        record("getOpenFileUrls", caption, {}, directory.toString());
        return next(fileUrls);
    }
    QString getOpenFileName(QWidget *, const QString &caption, const QString &directory,
                            const QString &) override
    {
        record("getOpenFileName", caption, {}, directory);
        return next(fileNames);
    }
    QString getSaveFileName(QWidget *, const QString &caption, const QString &directory,
                            const QString &) override
    {
        record("getSaveFileName", caption, {}, directory);
        return next(fileNames);
    }

private:
    Call &record(const char *kind, const QString &title = {}, const QString &text = {},
                 const QString &directory = {}, Button defaultButton = {})
    {
        calls << Call{kind, title, text, {}, directory, defaultButton};
        return calls.last();
    }
    template <class T> static T next(QQueue<T> &queue, const std::common_type_t<T> &none = T())
    {
        return queue.isEmpty() ? none : queue.dequeue();
    }
    Button ask(const char *kind, const QString &title, const QString &text, Buttons buttons,
               Button defaultButton)
    {
        record(kind, title, text, {}, defaultButton);
        return next(answers,
                    buttons & QMessageBox::Cancel ? QMessageBox::Cancel : QMessageBox::NoButton);
    }
};
