#pragma once

#include <QString>

#include <cstdio>

// Shows a run's progress on one stream: a bar redrawn in place when the
// stream is a terminal, one plain line per tile otherwise (logs, pipes, CI),
// where carriage returns and escape codes would only be noise.
class ProgressReporter
{
public:
    // Interactive when the stream is a terminal.
    explicit ProgressReporter(FILE *stream);
    ProgressReporter(FILE *stream, bool interactive);

    void start(int total);
    // Tile 'done' of the run (1-based) is finished; name may be empty.
    void step(int done, const QString &name);
    // A message that must stay readable: on a terminal the bar is cleared
    // first and drawn again after it.
    void message(const QString &text);
    // Ends the bar's line.
    void finish();

    // The bar's text without escape codes, e.g. "[#####.....]  3/61 blob_004.png".
    static QString barText(int done, int total, const QString &name, int width);

private:
    void draw();
    void clearLine();
    int terminalWidth() const;

    FILE *m_stream;
    bool m_interactive;
    int m_total = 0;
    int m_done = 0;
    QString m_name;
    bool m_barShown = false;
};
