#include "runoutcome.h"

#include "generatetiles.h"

#include <algorithm>

RunOutcome::RunOutcome(QObject *parent) : QObject(parent) {}

void RunOutcome::listenTo(generateTiles *worker)
{
    connect(worker, &generateTiles::TotalSteps, this, &RunOutcome::onTotalSteps);
    connect(worker, &generateTiles::NextStep, this, &RunOutcome::onNextStep);
    connect(worker, &generateTiles::TileFailed, this, &RunOutcome::onTileFailed);
    connect(worker, &generateTiles::DesignIncomplete, this, &RunOutcome::onDesignIncomplete);
    connect(worker, &generateTiles::ExportWritten, this, &RunOutcome::onExportWritten);
    connect(worker, &generateTiles::ExportFailed, this, &RunOutcome::onExportFailed);
}

void RunOutcome::reset()
{
    m_finished = m_isError = m_stopRequested = false;
    m_total = m_handled = 0;
    m_tileFailures.clear();
    m_runFailures.clear();
    m_designProblems.clear();
    m_exportWritten.clear();
    m_exportFailures.clear();
}

void RunOutcome::finish(bool isError, int count, bool stopRequested)
{
    m_finished = true;
    m_isError = isError;
    m_handled = count;
    m_stopRequested = stopRequested;
}

QStringList RunOutcome::exportsUnaccounted(const QStringList &requested) const
{
    QStringList names;
    for (const QString &name : requested) {
        const bool failed =
            std::any_of(m_exportFailures.cbegin(), m_exportFailures.cend(),
                        [&](const Failure &failure) { return failure.fileName == name; });
        if (!failed && !m_exportWritten.contains(name))
            names << name;
    }
    return names;
}

bool RunOutcome::everythingWritten(const QStringList &requestedExports) const
{
    bool exportsWritten = true;
    for (const QString &name : requestedExports)
        exportsWritten = exportsWritten && m_exportWritten.contains(name);
    return m_finished && !m_isError && m_runFailures.isEmpty() && m_designProblems.isEmpty() &&
           m_tileFailures.isEmpty() && m_handled == m_total && exportsWritten;
}

QStringList RunOutcome::problems() const
{
    QStringList lines = m_designProblems + m_runFailures;
    for (const QVector<Failure> *list : {&m_tileFailures, &m_exportFailures})
        for (const Failure &failure : *list)
            lines << failure.fileName + QStringLiteral(": ") + failure.reason;
    return lines;
}

void RunOutcome::onTotalSteps(int steps)
{
    m_total = steps;
}

void RunOutcome::onNextStep(int step)
{
    m_handled = step;
}

void RunOutcome::onTileFailed(const QString &fileName, const QString &reason)
{
    // An empty name stands for the whole run.
    if (fileName.isEmpty())
        m_runFailures << reason;
    else
        m_tileFailures.append({fileName, reason});
}

void RunOutcome::onDesignIncomplete(const QString &reason)
{
    m_designProblems << reason;
}

void RunOutcome::onExportWritten(const QStringList &fileNames)
{
    m_exportWritten << fileNames;
}

void RunOutcome::onExportFailed(const QString &fileName, const QString &reason)
{
    m_exportFailures.append({fileName, reason});
}
