#include "levelpanel.h"

#include "levelview.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollArea>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {

// One change of the level: a drag, or a ready-made level chosen.
class LevelEdit : public QUndoCommand
{
public:
    LevelEdit(LevelView *view, const Level &before, const Level &after, const QString &text)
        : QUndoCommand(text), m_view(view), m_before(before), m_after(after)
    {
    }
    void undo() override { m_view->setLevel(m_before); }
    void redo() override { m_view->setLevel(m_after); }

private:
    LevelView *m_view;
    Level m_before;
    Level m_after;
};

} // namespace

LevelPanel::LevelPanel(QWidget *parent)
    : QWidget(parent), m_view(new LevelView), m_undo(new QUndoStack(this)),
      m_presets(new QComboBox), m_zoom(new QComboBox), m_grid(new QCheckBox(tr("Grid"))),
      m_missing(new QLabel)
{
    setObjectName(QStringLiteral("levelPanel"));
    m_view->setObjectName(QStringLiteral("levelView"));

    // A tool bar folds what does not fit behind its extension button, so the
    // dock never makes the window wider than it was.
    auto *tools = new QToolBar;
    tools->setObjectName(QStringLiteral("levelTools"));
    tools->setIconSize(QSize(16, 16));
    auto *group = new QButtonGroup(this);
    const struct
    {
        Level::Cell cell;
        const char *text;
        const char *tip;
    } kinds[] = {
        {Level::Solid, QT_TR_NOOP("Ground"), QT_TR_NOOP("Left-drag paints ground")},
        {Level::SlopeUp, QT_TR_NOOP("Slope /"),
         QT_TR_NOOP("Left-drag paints slopes rising "
                    "to the right")},
        {Level::SlopeDown, QT_TR_NOOP("Slope \\"),
         QT_TR_NOOP("Left-drag paints slopes falling "
                    "to the right")},
        {Level::Platform, QT_TR_NOOP("Platform"), QT_TR_NOOP("Left-drag paints platforms")},
    };
    for (const auto &kind : kinds) {
        auto *button = new QToolButton;
        button->setText(tr(kind.text));
        button->setToolTip(tr(kind.tip) + tr("; right-drag erases."));
        button->setCheckable(true);
        button->setChecked(kind.cell == Level::Solid);
        button->setObjectName(QStringLiteral("levelTool%1").arg(int(group->buttons().size())));
        group->addButton(button, int(kind.cell));
        tools->addWidget(button);
    }
    connect(group, &QButtonGroup::idClicked, this,
            [this](int id) { m_view->setTool(Level::Cell(id)); });

    m_zoom->setObjectName(QStringLiteral("levelZoom"));
    m_zoom->addItems({tr("Fit"), tr("1x"), tr("2x")});
    connect(m_zoom, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { m_view->setZoom(LevelView::Zoom(index)); });
    m_grid->setObjectName(QStringLiteral("levelGrid"));
    connect(m_grid, &QCheckBox::toggled, m_view, &LevelView::setGridShown);
    m_presets->setObjectName(QStringLiteral("levelPresets"));
    m_presets->addItems(Level::presetNames());
    m_presets->setToolTip(tr("Start from a ready-made level"));
    connect(m_presets, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        const Level chosen = Level::preset(index);
        if (chosen != m_view->level())
            m_undo->push(new LevelEdit(m_view, m_view->level(), chosen, tr("Choose a level")));
    });
    tools->addSeparator();
    tools->addWidget(m_presets);
    tools->addWidget(m_zoom);
    tools->addWidget(m_grid);

    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(m_view);
    m_missing->setObjectName(QStringLiteral("levelMissing"));
    m_missing->setWordWrap(true);
    m_missing->setStyleSheet(QStringLiteral("color: #d03030;"));
    m_missing->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(tools);
    layout->addWidget(scroll, 1);
    layout->addWidget(m_missing);

    // The drag has already changed the view; the command's first redo()
    // sets the same level again, which changes nothing.
    connect(m_view, &LevelView::edited, this, [this](const Level &before, const Level &after) {
        m_undo->push(new LevelEdit(m_view, before, after, tr("Paint")));
    });
    connect(m_undo, &QUndoStack::indexChanged, this, &LevelPanel::levelChanged);
    connect(m_view, &LevelView::rendered, this, &LevelPanel::showMissing);
}

// The stack, a child, clears itself when the children go and says so; by
// then this is no LevelPanel any more.
LevelPanel::~LevelPanel()
{
    m_undo->disconnect(this);
}

const Level &LevelPanel::level() const
{
    return m_view->level();
}

void LevelPanel::resetLevel(const Level &level)
{
    m_undo->clear();
    m_view->setLevel(level);
}

void LevelPanel::setStyle(const TileStyle &style)
{
    m_view->setStyle(style);
}

void LevelPanel::setMaskDirectory(const QString &maskDirectory)
{
    m_view->setMaskDirectory(maskDirectory);
}

void LevelPanel::libraryChanged()
{
    m_view->libraryChanged();
}

void LevelPanel::showMissing()
{
    const QStringList &missing = m_view->missingTiles();
    m_missing->setVisible(!missing.isEmpty());
    m_missing->setText(missing.isEmpty() ? QString()
                                         : tr("Crossed cells: the library has no mask for %1.")
                                               .arg(missing.join(QStringLiteral(", "))));
}
