#pragma once

#include "core/Json.h"
#include "headless/OffscreenWindowProof.h"

#include <QString>
#include <QStringList>

class StageFiles;

// The private folder an export renders its frames into, inside the output folder and on its
// volume, and the one step that publishes them: the previous generation of frames and manifest is
// either replaced whole or put back. Used by one export on the main thread.
class HeadlessFrameStage
{
public:
    // Creates `output` (and the folders above it) and in it the staging folder
    // ".capture-stage-<UUID>", owner-only. Throws the file system's error.
    explicit HeadlessFrameStage(QString output, StageFiles &files);
    explicit HeadlessFrameStage(QString output);

    // "/tmp/tavrilo/<appID>/frames", each level created owner-only when missing and refused unless
    // it is a folder of the current user and no symbolic link: the frames show document text and
    // shell output. `base` stands for /tmp. Throws "Unsafe shared workspace directory: <path>" or
    // the file system's error.
    static QString defaultOutput(const QString &appID);
    static QString defaultOutput(const QString &base, const QString &appID);

    const QString &output() const { return m_output; }
    const QString &directory() const { return m_directory; }

    // Moves the staged "<name>.png" files and `manifest` (indented JSON, sorted keys) into the
    // output folder. Refuses a proof in which a window appeared with "Unvalidated capture cannot
    // publish frames." before touching anything. A failure while placing the files puts the saved
    // previous generation back and throws the first error, or the error of restoring the saved
    // manifest, or "Frame publication failed and rollback was incomplete; no valid generation may be
    // assumed." when putting back failed itself.
    void publish(const Json &manifest, const QStringList &names, const OffscreenWindowProof &proof);

    // Removes the staging folder with everything in it; never fails.
    void discard();

private:
    QString inOutput(const QString &file) const { return m_output + QLatin1Char('/') + file; }
    QString inRollback(const QString &file) const { return m_rollback + QLatin1Char('/') + file; }
    [[noreturn]] void rollBack(const QStringList &published, std::exception_ptr first);

    StageFiles &m_files;
    QString m_output;
    QString m_directory;
    QString m_rollback;
};
