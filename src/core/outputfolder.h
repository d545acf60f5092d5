#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

#include <memory>

class QLockFile;

// The folder one generation run writes into, held for the run.
//
// claim() takes a lock file in the folder, so a second run into it (another
// window, another tilewright-cli) is refused instead of mixing two designs
// in one set, and removes what an interrupted run left: writeFile() stages
// every file it does not write unnamed under a recognisable hidden name, so
// after a kill only those names can be left, and the next run knows them for
// its own.
class OutputFolder
{
public:
    static const QLatin1String LockFileName;
    static const QLatin1String StagingPrefix;

    explicit OutputFolder(const QString &path);
    ~OutputFolder();
    OutputFolder(const OutputFolder &) = delete;
    OutputFolder &operator=(const OutputFolder &) = delete;

    // False, with *errorString, when another run holds the folder. Where the
    // lock cannot even be written (read-only folder, full disk) it is true
    // without a lock: no file can be written there either, and each write
    // then fails with its own reason.
    bool claim(QString *errorString = nullptr);
    void release();

    const QString &path() const { return m_path; }

    // False for a name the claimed folder did not hold when claimed: its file
    // is likely new (see writeFile()). Safe from any thread once claimed.
    bool mayHold(const QString &fileName) const;

    // The whole file or nothing, as SafeFileWriter: written and synced under
    // StagingPrefix + the file's name, then renamed over the target, so an
    // interrupted write leaves only a name claim() removes. An existing file
    // keeps its permissions; a new one gets 0666 less the umask. A link under
    // either name is replaced, never written through. A file `likelyNew` is
    // written unnamed and linked under its name where the system allows, and
    // where that finds the name taken after all it goes the staged way.
    static bool writeFile(const QString &path, const QByteArray &data,
                          QString *errorString = nullptr, bool likelyNew = false);

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    bool m_listed = false;
    QSet<QString> m_names; // what the folder held when claimed
};
