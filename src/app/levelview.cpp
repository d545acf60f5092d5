#include "levelview.h"

#include <QMouseEvent>
#include <QPainter>

LevelView::LevelView(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(false);
    setMinimumSize(120, 60);
    // A burst of changes (a spin box held down, a drag) makes one picture.
    m_renderTimer.setSingleShot(true);
    m_renderTimer.setInterval(0);
    connect(&m_renderTimer, &QTimer::timeout, this, &LevelView::render);
}

void LevelView::setLevel(const Level &level)
{
    if (level == m_level)
        return;
    m_level = level;
    updateMinimumSize();
    scheduleRender();
}

// At a fixed zoom the whole level is the widget's least size, so a scroll
// area around it scrolls; fitted, it takes whatever room there is.
void LevelView::updateMinimumSize()
{
    if (m_zoom == Fit)
        setMinimumSize(120, 60);
    else
        setMinimumSize(m_level.width() * cellSize(), m_level.height() * cellSize());
    updateGeometry();
}

void LevelView::setStyle(const TileStyle &style)
{
    m_style = style;
    scheduleRender();
}

void LevelView::setMaskDirectory(const QString &maskDirectory)
{
    m_renderer.setMaskDirectory(maskDirectory);
    scheduleRender();
}

void LevelView::libraryChanged()
{
    m_renderer.forgetMasks();
    scheduleRender();
}

void LevelView::setZoom(Zoom zoom)
{
    m_zoom = zoom;
    updateMinimumSize();
    scheduleRender();
}

void LevelView::setGridShown(bool shown)
{
    m_grid = shown;
    update();
}

int LevelView::cellSize() const
{
    switch (m_zoom) {
    case Actual:
        return BaseCellSize;
    case Double:
        return 2 * BaseCellSize;
    case Fit:
        break;
    }
    return qMax(1, qMin(width() / m_level.width(), height() / m_level.height()));
}

QSize LevelView::sizeHint() const
{
    const int cell = m_zoom == Fit ? 16 : cellSize();
    return QSize(m_level.width() * cell, m_level.height() * cell);
}

void LevelView::scheduleRender()
{
    m_renderTimer.start();
}

void LevelView::render()
{
    m_renderedCellSize = cellSize();
    m_image = m_renderer.render(m_level, m_style, m_renderedCellSize, &m_missing);
    ++m_renders;
    update();
    emit rendered();
}

QPoint LevelView::origin() const
{
    // Centred when the widget is larger than the picture.
    return QPoint(qMax(0, (width() - m_image.width()) / 2),
                  qMax(0, (height() - m_image.height()) / 2));
}

QPoint LevelView::cellAt(const QPoint &position) const
{
    if (m_renderedCellSize < 1)
        return QPoint(-1, -1);
    const QPoint p = position - origin();
    if (p.x() < 0 || p.y() < 0)
        return QPoint(-1, -1);
    const QPoint cell(p.x() / m_renderedCellSize, p.y() / m_renderedCellSize);
    return m_level.contains(cell.x(), cell.y()) ? cell : QPoint(-1, -1);
}

void LevelView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // A sky that suits the theme: pale by day, dusk in the dark theme.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    painter.fillRect(rect(), dark ? QColor(43, 58, 74) : QColor(170, 214, 238));
    const QPoint at = origin();
    painter.drawImage(at, m_image);
    if (m_grid && m_renderedCellSize > 2) {
        painter.setPen(QColor(0, 0, 0, 60));
        for (int x = 0; x <= m_level.width(); ++x)
            painter.drawLine(at.x() + x * m_renderedCellSize, at.y(),
                             at.x() + x * m_renderedCellSize, at.y() + m_image.height());
        for (int y = 0; y <= m_level.height(); ++y)
            painter.drawLine(at.x(), at.y() + y * m_renderedCellSize, at.x() + m_image.width(),
                             at.y() + y * m_renderedCellSize);
    }
}

void LevelView::resizeEvent(QResizeEvent *)
{
    if (m_zoom == Fit && cellSize() != m_renderedCellSize)
        scheduleRender();
}

void LevelView::paintAt(const QPoint &position)
{
    const QPoint cell = cellAt(position);
    if (cell.x() < 0 || m_level.cell(cell.x(), cell.y()) == m_dragCell)
        return;
    m_level.setCell(cell.x(), cell.y(), m_dragCell);
    scheduleRender();
}

void LevelView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    m_dragCell = event->button() == Qt::LeftButton ? m_tool : Level::Empty;
    m_beforeDrag = m_level;
    paintAt(event->pos());
}

void LevelView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging)
        paintAt(event->pos());
}

void LevelView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return QWidget::mouseReleaseEvent(event);
    paintAt(event->pos());
    m_dragging = false;
    if (m_level != m_beforeDrag)
        emit edited(m_beforeDrag, m_level);
}
