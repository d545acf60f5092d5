#include "progressreporter.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int BarCells = 30;

void put(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

ProgressReporter::ProgressReporter(FILE *stream)
    : ProgressReporter(stream, ::isatty(::fileno(stream)) == 1)
{
}

ProgressReporter::ProgressReporter(FILE *stream, bool interactive)
    : m_stream(stream), m_interactive(interactive)
{
}

QString ProgressReporter::barText(int done, int total, const QString &name, int width)
{
    const int filled = total > 0 ? int(qint64(BarCells) * qBound(0, done, total) / total) : 0;
    const int digits = QString::number(qMax(total, 0)).size();
    QString text = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                   QString(BarCells - filled, QLatin1Char('.')) + QStringLiteral("] ") +
                   QStringLiteral("%1/%2").arg(done, digits).arg(total);
    if (!name.isEmpty())
        text += QLatin1Char(' ') + name;
    // A line longer than the terminal wraps, and the carriage return would
    // then redraw only its last part.
    if (width > 1 && text.size() >= width)
        text.truncate(width - 1);
    return text;
}

void ProgressReporter::start(int total)
{
    m_total = total;
    m_done = 0;
    m_name.clear();
    if (m_interactive)
        draw();
}

void ProgressReporter::step(int done, const QString &name)
{
    m_done = done;
    m_name = name;
    if (m_interactive) {
        draw();
        return;
    }
    QString line = QStringLiteral("tile %1/%2").arg(done).arg(m_total);
    if (!name.isEmpty())
        line += QLatin1Char(' ') + name;
    put(m_stream, line + QLatin1Char('\n'));
    std::fflush(m_stream);
}

void ProgressReporter::message(const QString &text)
{
    if (m_interactive && m_barShown)
        clearLine();
    put(m_stream, text + QLatin1Char('\n'));
    if (m_interactive && m_barShown)
        draw();
    std::fflush(m_stream);
}

void ProgressReporter::finish()
{
    if (m_interactive && m_barShown) {
        put(m_stream, QStringLiteral("\n"));
        m_barShown = false;
    }
    std::fflush(m_stream);
}

void ProgressReporter::draw()
{
    // Carriage return, the bar, then erase whatever a longer earlier name
    // left at the end of the line.
    put(m_stream, QLatin1Char('\r') + barText(m_done, m_total, m_name, terminalWidth()) +
                      QStringLiteral("\x1b[K"));
    std::fflush(m_stream);
    m_barShown = true;
}

void ProgressReporter::clearLine()
{
    put(m_stream, QStringLiteral("\r\x1b[K"));
}

int ProgressReporter::terminalWidth() const
{
    winsize size{};
    if (::ioctl(::fileno(m_stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}
