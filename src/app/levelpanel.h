#pragma once

#include "level.h"

#include <QWidget>

class LevelView;
class QCheckBox;
class QComboBox;
class QLabel;
class QUndoStack;
struct TileStyle;

// The window's level dock: the level view with its tools (what a drag
// paints, zoom, grid, ready-made levels), an undo stack for painting, and a
// word on cells whose tile the library lacks.
class LevelPanel : public QWidget
{
    Q_OBJECT

public:
    explicit LevelPanel(QWidget *parent = nullptr);
    ~LevelPanel() override;

    LevelView *view() const { return m_view; }
    QUndoStack *undoStack() const { return m_undo; }

    const Level &level() const;
    // A new or opened project's level: shown as it is, with no undo history.
    void resetLevel(const Level &level);
    void setStyle(const TileStyle &style);
    void setMaskDirectory(const QString &maskDirectory);
    void libraryChanged();

signals:
    // The level was painted, undone, redone or replaced by a ready-made one.
    void levelChanged();

private:
    void showMissing();

    LevelView *m_view;
    QUndoStack *m_undo;
    QComboBox *m_presets;
    QComboBox *m_zoom;
    QCheckBox *m_grid;
    QLabel *m_missing;
};
