#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "userprompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QResource>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>

// The resources live in a static library, whose initialiser the linker would
// otherwise drop.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

QSettings openSettings()
{
    return QSettings(QLatin1String(AppSettings::Organisation),
                     QLatin1String(AppSettings::Application));
}

QSpinBox *makePercentSpin(QWidget *parent)
{
    auto *spin = new QSpinBox(parent);
    spin->setMaximum(100);
    spin->setMinimum(0);
    spin->setValue(100);
    return spin;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), prompts(std::make_unique<UserPrompts>())
{
    initResources();
    versionString = QStringLiteral(TILEWRIGHT_VERSION);
    // An optional resource file beside the working directory; nothing depends
    // on it, so a missing one is fine.
    QResource::registerResource(QStringLiteral("extra.rcc"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/files/window-icon.ico")));

    ui = new Ui::MainWindow;
    ui->setupUi(this);

    productName = QStringLiteral("Tilewright");
    refreshingProperties = false;
    initialising = true;

    lastExportDirectory = QDir::homePath();
    lastProjectDirectory = lastExportDirectory;
    lastImportDirectory = lastProjectDirectory;
    appDirPath = QCoreApplication::applicationDirPath();
    tileWidthHeight = 128;
    modified = false;
    tileStyle.topDown = false;
    tileStyle.topStyle.clear();
    ui->toolBox->setCurrentIndex(0);

    opacitySpin = makePercentSpin(ui->propertiesEditor);
    patternOpacitySpin = makePercentSpin(ui->propertiesEditor);
    patternColorOpacitySpin = makePercentSpin(ui->propertiesEditor);
    repeatAtBottomCheck = new QCheckBox(ui->propertiesEditor);

    ui->partSelection->addItem(stylePartName(StylePart::Top));
    ui->partSelection->addItem(stylePartName(StylePart::Bottom));

    updateWindowTitle();
    restoreSettings();

    resetStyle();
    initialising = false;
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::setPrompts(std::unique_ptr<UserPrompts> replacement)
{
    prompts = std::move(replacement);
}

void MainWindow::updateWindowTitle()
{
    QString fileName = QStringLiteral("Untitled.twr");
    if (!projectFilePath.isEmpty())
        fileName = QFileInfo(projectFilePath).fileName();
    if (modified)
        fileName += QLatin1Char('*');
    setWindowTitle(productName + QStringLiteral(" - ") + fileName);
}

void MainWindow::resetStyle()
{
    const QSize previewIcon(128, 128);
    ui->spritePreviewWidget->setIconSize(previewIcon);
    ui->spriteSidebySide->setIconSize(previewIcon);
    tileStyle.resetColoursAndOpacities();
    repeatAtBottomCheck->setChecked(false);
    tileStyle.topDown = false;
}

// ---- Settings and themes -------------------------------------------------

void MainWindow::restoreSettings()
{
    QSettings settings = openSettings();
    restoreGeometry(settings.value(QLatin1String(AppSettings::Geometry)).toByteArray());
    restoreState(settings.value(QLatin1String(AppSettings::WindowState)).toByteArray(), 0);
    lastExportDirectory =
        settings.value(QLatin1String(AppSettings::LastExportDirectory), lastExportDirectory)
            .toString();
    lastProjectDirectory =
        settings.value(QLatin1String(AppSettings::LastProjectDirectory), lastProjectDirectory)
            .toString();
    lastImportDirectory =
        settings.value(QLatin1String(AppSettings::LastImportDirectory), lastImportDirectory)
            .toString();
    theme = settings.value(QLatin1String(AppSettings::Theme), QString()).toString();
    if (theme == QLatin1String("dark"))
        loadDarkStyleSheet();
    tileWidthHeight =
        settings.value(QLatin1String(AppSettings::TileWidthHeight), tileWidthHeight).toInt();

    // Only the stored size is kept; the window always comes back centred.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(AppSettings::centredRect(size(), screen->size()));

    checkForUpdatesOnStartup =
        settings.value(QLatin1String(AppSettings::CheckForUpdates), true).toBool();
    ui->actionUpdate_Checking->setChecked(checkForUpdatesOnStartup);
}

void MainWindow::saveSettings()
{
    QSettings settings = openSettings();
    settings.setValue(QLatin1String(AppSettings::LastExportDirectory), lastExportDirectory);
    settings.setValue(QLatin1String(AppSettings::LastProjectDirectory), lastProjectDirectory);
    settings.setValue(QLatin1String(AppSettings::LastImportDirectory), lastImportDirectory);
    settings.setValue(QLatin1String(AppSettings::TileWidthHeight), tileWidthHeight);
    settings.setValue(QLatin1String(AppSettings::Theme), theme);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings = openSettings();
    settings.setValue(QLatin1String(AppSettings::Geometry), saveGeometry());
    settings.setValue(QLatin1String(AppSettings::WindowState), saveState(0));
    settings.setValue(QLatin1String(AppSettings::LastExportDirectory), lastExportDirectory);
    settings.setValue(QLatin1String(AppSettings::LastProjectDirectory), lastProjectDirectory);
    settings.setValue(QLatin1String(AppSettings::LastImportDirectory), lastImportDirectory);
    settings.setValue(QLatin1String(AppSettings::TileWidthHeight), tileWidthHeight);
    event->accept();
}

void MainWindow::loadDarkStyleSheet()
{
    QFile file(QStringLiteral(":/styles/style/stylesheet.qss"));
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    qApp->setStyleSheet(QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul)));
}

void MainWindow::on_actionLight_triggered()
{
    qApp->setStyleSheet(QString());
    theme.clear();
    saveSettings();
}

void MainWindow::on_actionDark_triggered()
{
    loadDarkStyleSheet();
    theme = QStringLiteral("dark");
    saveSettings();
}

// ---- Help ----------------------------------------------------------------

void MainWindow::on_actionDocumentation_2_triggered()
{
    prompts->openUrl(AppSettings::vendorUrl(QStringLiteral("/tilewright/documentation/")));
}

void MainWindow::on_actionDocumentation_triggered()
{
    prompts->openUrl(AppSettings::vendorUrl(QStringLiteral("/support/")));
}

void MainWindow::on_actionAbout_triggered()
{
    const QString message =
        QStringLiteral("<b>") + productName + QStringLiteral("</b><br/><br/>Version: ") +
        versionString + QStringLiteral("<br/><br/>") +
        QStringLiteral("Copyright &copy; 2026 Oakhollow. Tilewright and its bundled assets are "
                       "made by Oakhollow; the tiles you generate are yours to use.") +
        QStringLiteral("<br/><br/>") +
        QStringLiteral("This program is provided as is, without warranty of any kind, express or "
                       "implied, including but not limited to the warranties of merchantability, "
                       "fitness for a particular purpose and non-infringement. In no event shall "
                       "the authors be liable for any claim, damages or other liability arising "
                       "from the use of this program.");
    prompts->about(this, QStringLiteral("About Tilewright"), message);
}

void MainWindow::on_actionE_xit_triggered()
{
    QCoreApplication::exit(0);
}
