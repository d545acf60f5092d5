#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QLockFile;

// The folder one generation run writes into, held for the run.
//
// claim() takes a lock file in the folder, so a second run into it (another
// window, another tilewright-cli) is refused instead of mixing two designs
// in one set, and removes what an interrupted run left: writeFile() stages
// a file under a recognisable hidden name when it cannot write it unnamed,
// so after a kill only those names can be left, and the next run knows them
// for its own.
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

    // The whole file or nothing, as SafeFileWriter: written and synced
    // without a name and then linked under its own where the file system
    // allows it and nothing has that name yet, else under StagingPrefix + the
    // file's name and then renamed over the target; so an interrupted write
    // leaves at most a name claim() removes. An existing file keeps its
    // permissions; a new one gets 0666 less the umask. A link under either
    // name is replaced, never written through.
    static bool writeFile(const QString &path, const QByteArray &data,
                          QString *errorString = nullptr);

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
