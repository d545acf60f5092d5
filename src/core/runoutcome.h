#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class generateTiles;

// What one generation run came to, heard from the worker's signals. The
// window's closing message and the command-line tool's report and exit
// status are both made from it, so they cannot disagree on what happened.
//
// Complete is left to the owner: its handler calls finish(), so the outcome
// is whole when it is read, whatever order connected slots run in.
class RunOutcome : public QObject
{
    Q_OBJECT

public:
    struct Failure
    {
        QString fileName; // a tile's or an export file's name
        QString reason;

        bool operator==(const Failure &other) const
        {
            return fileName == other.fileName && reason == other.reason;
        }
    };

    explicit RunOutcome(QObject *parent = nullptr);

    // Connects to the worker's reports; each arrives in this object's thread.
    void listenTo(generateTiles *worker);
    // Forgets the last run; call before each start.
    void reset();
    // From the owner's Complete handler. stopRequested: the owner asked the
    // run to stop (Cancel, closing, an interrupt).
    void finish(bool isError, int count, bool stopRequested);

    bool isFinished() const { return m_finished; }
    bool isError() const { return m_isError; }
    int total() const { return m_total; }     // masks listed
    int handled() const { return m_handled; } // masks gone through
    int written() const { return m_handled - m_tileFailures.size(); }
    // Asked to stop, and some masks were never gone through.
    bool stopped() const { return m_stopRequested && m_handled < m_total; }

    const QVector<Failure> &tileFailures() const { return m_tileFailures; }
    // Why the run as a whole was refused or failed (no tile names).
    const QStringList &runFailures() const { return m_runFailures; }
    // Top shape or patterns left out of every tile.
    const QStringList &designProblems() const { return m_designProblems; }
    const QStringList &exportWritten() const { return m_exportWritten; }
    const QVector<Failure> &exportFailures() const { return m_exportFailures; }

    // Requested export files that were neither written nor said to fail:
    // the worker does not get to them when the set is incomplete.
    QStringList exportsUnaccounted(const QStringList &requested) const;
    // Every tile and every requested export file written, from the design
    // as saved.
    bool everythingWritten(const QStringList &requestedExports) const;
    // Every problem, one line each: design problems, run failures, then
    // "name: reason" for tiles and export files.
    QStringList problems() const;

private slots:
    void onTotalSteps(int steps);
    void onNextStep(int step);
    void onTileFailed(const QString &fileName, const QString &reason);
    void onDesignIncomplete(const QString &reason);
    void onExportWritten(const QStringList &fileNames);
    void onExportFailed(const QString &fileName, const QString &reason);

private:
    bool m_finished = false;
    bool m_isError = false;
    bool m_stopRequested = false;
    int m_total = 0;
    int m_handled = 0;
    QVector<Failure> m_tileFailures;
    QStringList m_runFailures;
    QStringList m_designProblems;
    QStringList m_exportWritten;
    QVector<Failure> m_exportFailures;
};
