#pragma once

#include "mainwindow.h"
#include "scriptedprompts.h"
#include "testfiles.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

// The asset library beside a test binary, where the window looks for it,
// built from small drawn images; plus the window set-up the window tests share.
struct WindowAssets
{
    static QString root() { return QCoreApplication::applicationDirPath() + "/Assets"; }
    // Spelled out rather than taken from the program, so a wrong name cannot agree with itself.
    static QString topStyles() { return root() + "/TopStyles"; }
    static QString patterns() { return root() + "/Patterns"; }
    static QString alpha() { return root() + "/Alpha"; }

    // A grass-like top band with a scalloped lower edge, transparent below.
    static QImage topShape(const QColor &colour)
    {
        QImage image(128, 40, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.fillRect(0, 0, 128, 22, colour);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        for (int x = 0; x < 128; x += 16)
            painter.drawEllipse(x, 14, 16, 20);
        return image;
    }
    // Half-transparent checks, so a pattern visibly changes a tile.
    static QImage pattern(const QColor &colour, int cell = 16)
    {
        QImage image(128, 128, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        for (int y = 0; y < 128; y += cell)
            for (int x = (y / cell) % 2 * cell; x < 128; x += 2 * cell)
                painter.fillRect(x, y, cell, cell, colour);
        return image;
    }
    // Solid below a slope, the way alpha masks mark the ground.
    static QImage mask()
    {
        QImage image(128, 128, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawPolygon(QPolygon({{0, 40}, {128, 70}, {128, 128}, {0, 128}}));
        return image;
    }

    static bool save(const QImage &image, const QString &path) { return image.save(path, "PNG"); }
    static bool removeAll() { return !QDir(root()).exists() || QDir(root()).removeRecursively(); }
    static bool makeEmpty()
    {
        return removeAll() && QDir().mkpath(topStyles()) && QDir().mkpath(patterns()) &&
               QDir().mkpath(alpha());
    }
    // A top shape and a mask, so the window has a design to show.
    static bool makeSample()
    {
        return makeEmpty() && save(topShape(QColor(60, 150, 40)), topStyles() + "/hill.png") &&
               save(mask(), alpha() + "/slope.png");
    }
    static QStringList filesIn(const QString &dir)
    {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // A list's items by their tool tips, which hold the file names.
    static QStringList toolTips(const QListWidget *list)
    {
        QStringList tips;
        for (int row = 0; row < list->count(); ++row)
            tips << list->item(row)->toolTip();
        return tips;
    }

    // True when exactly one warning was shown, naming the file with a reason after it.
    static bool warnedAbout(const ScriptedPrompts &prompts, const QString &path)
    {
        const auto w = prompts.callsOf("warning");
        const QString file = QRegularExpression::escape(QDir::toNativeSeparators(path));
        return w.size() == 1 && QRegularExpression(file + "[^\\n]*:[^\\n]*\\S")
                                    .match(w[0].text + '\n' + w[0].details)
                                    .hasMatch();
    }

    // The real warning box, not the scripted one: its frame as first shown and after
    // "Show Details...", and what it holds. It closes itself.
    struct ShownWarning
    {
        QSize collapsed, expanded;
        QString informative, detailed;
        // Empty when both frames fit the screen, else the sizes.
        QString offScreen() const
        {
            const QSize screen = QGuiApplication::primaryScreen()->availableSize();
            const auto text = [](QSize s) {
                return QString("%1x%2").arg(s.width()).arg(s.height());
            };
            return collapsed.boundedTo(screen) == collapsed &&
                           expanded.boundedTo(screen) == expanded
                       ? QString()
                       : text(collapsed) + ", " + text(expanded) + " on " + text(screen);
        }
    };
    static ShownWarning realWarning(const QString &text, const QString &details)
    {
        ShownWarning shown;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            shown = {box->frameGeometry().size(), {}, box->informativeText(), box->detailedText()};
            for (QAbstractButton *button : box->buttons())
                if (box->buttonRole(button) == QMessageBox::ActionRole)
                    button->click();
            shown.expanded = box->frameGeometry().size();
            box->accept();
        });
        UserPrompts().warning(nullptr, "Failed", text, details);
        return shown;
    }

    // A window whose questions the test answers.
    struct Session
    {
        MainWindow window;
        ScriptedPrompts *prompts = new ScriptedPrompts;
        Session() { window.setPrompts(std::unique_ptr<UserPrompts>(prompts)); }
        void trigger(const char *action) { window.findChild<QAction *>(action)->trigger(); }
    };
};
