#pragma once

#include "level.h"
#include "levelrenderer.h"
#include "tilestyle.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

// The level painted with the current design. Left-drag paints cells of the
// chosen kind, right-drag erases; each drag is one edit (edited()). The
// picture is made again, once per burst of changes, whenever the design,
// the level, the library or the shown cell size changes.
class LevelView : public QWidget
{
    Q_OBJECT

public:
    enum Zoom
    {
        Fit,
        Actual, // BaseCellSize pixels a cell
        Double,
    };
    static constexpr int BaseCellSize = 32;

    explicit LevelView(QWidget *parent = nullptr);

    const Level &level() const { return m_level; }
    // Replaces the level without making an edit (undo, redo, open, presets).
    void setLevel(const Level &level);
    void setStyle(const TileStyle &style);
    void setMaskDirectory(const QString &maskDirectory);
    // The masks changed on disk.
    void libraryChanged();

    void setTool(Level::Cell tool) { m_tool = tool; }
    Level::Cell tool() const { return m_tool; }
    void setZoom(Zoom zoom);
    Zoom zoom() const { return m_zoom; }
    void setGridShown(bool shown);
    bool isGridShown() const { return m_grid; }

    // What is shown: the level's picture (transparent where there is sky),
    // its cell size, and the tiles the library lacks.
    const QImage &image() const { return m_image; }
    int cellSize() const;
    const QStringList &missingTiles() const { return m_missing; }
    // Pictures made so far; tests count them.
    int renderCount() const { return m_renders; }
    // The cell under a point of the widget; invalid outside the level.
    QPoint cellAt(const QPoint &position) const;

    QSize sizeHint() const override;

signals:
    // A drag changed the level from before to after.
    void edited(const Level &before, const Level &after);
    void rendered();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void scheduleRender();
    void render();
    void updateMinimumSize();
    QPoint origin() const;
    void paintAt(const QPoint &position);

    Level m_level = Level::defaultLevel();
    TileStyle m_style;
    LevelRenderer m_renderer;
    QImage m_image;
    QStringList m_missing;
    int m_renderedCellSize = 0;
    int m_renders = 0;
    QTimer m_renderTimer;

    Level::Cell m_tool = Level::Solid;
    Zoom m_zoom = Fit;
    bool m_grid = false;
    // The drag in progress: the cell kind it paints and the level before it.
    bool m_dragging = false;
    Level::Cell m_dragCell = Level::Solid;
    Level m_beforeDrag;
};
