#include "headless/HeadlessFrameStage.h"

#include "core/HubError.h"
#include "core/JournalFolder.h"
#include "headless/StageFiles.h"

#include <QDir>
#include <QUuid>

namespace
{
const QString kManifest = QStringLiteral("manifest.json");
} // namespace

HeadlessFrameStage::HeadlessFrameStage(QString output) : HeadlessFrameStage(std::move(output), StageFiles::system()) {}

HeadlessFrameStage::HeadlessFrameStage(QString output, StageFiles &files)
    : m_files(files), m_output(QDir::cleanPath(output))
{
    m_files.makeFolders(m_output);
    m_directory =
        inOutput(QStringLiteral(".capture-stage-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    m_files.makeFolder(m_directory, true);
    m_rollback = m_directory + QStringLiteral("/rollback");
}

QString HeadlessFrameStage::defaultOutput(const QString &appID)
{
    return JournalFolder::setUp(appID).privateFolder(QStringLiteral("frames"));
}

QString HeadlessFrameStage::defaultOutput(const QString &base, const QString &appID)
{
    return JournalFolder::setUp(base, appID).privateFolder(QStringLiteral("frames"));
}

void HeadlessFrameStage::publish(const Json &manifest, const QStringList &names, const OffscreenWindowProof &proof)
{
    if (!proof.valid())
        throw HubError(QStringLiteral("Unvalidated capture cannot publish frames."));
    // nlohmann's objects keep their keys sorted at every level.
    const QByteArray json = QByteArray::fromStdString(manifest.dump(2)) + '\n';

    QStringList files;
    for (const QString &name : names)
        files << name + QStringLiteral(".png");
    files << kManifest;

    // Until the old manifest is withdrawn, a failure leaves the output folder as it was.
    m_files.makeFolder(m_rollback, false);
    for (const QString &file : files) {
        if (m_files.exists(inOutput(file)))
            m_files.writeNew(inRollback(file), m_files.read(inOutput(file)));
    }
    if (m_files.exists(inOutput(kManifest)))
        m_files.remove(inOutput(kManifest));

    // From here the output folder has no manifest: a reader must not take what it finds for a
    // generation until the new manifest is in place.
    QStringList published;
    try {
        for (const QString &name : names) {
            const QString file = name + QStringLiteral(".png");
            // Published once renamed into place, even if flushing the folder fails after it: the
            // rollback must put that file back too.
            m_files.writeAtomically(inOutput(file), m_files.read(m_directory + QLatin1Char('/') + file),
                                    [&] { published << file; });
        }
        m_files.writeAtomically(inOutput(kManifest), json);
    } catch (const HubError &) {
        rollBack(published, std::current_exception());
    }
}

void HeadlessFrameStage::rollBack(const QStringList &published, std::exception_ptr first)
{
    bool complete = true;
    try {
        if (m_files.exists(inOutput(kManifest)))
            m_files.remove(inOutput(kManifest));
    } catch (const HubError &) {
        complete = false;
    }
    for (const QString &file : published) {
        try {
            if (m_files.exists(inRollback(file)))
                m_files.writeAtomically(inOutput(file), m_files.read(inRollback(file)));
            else
                m_files.remove(inOutput(file));
        } catch (const HubError &) {
            complete = false;
        }
    }
    if (!complete)
        throw HubError(QStringLiteral(
            "Frame publication failed and rollback was incomplete; no valid generation may be assumed."));
    if (m_files.exists(inRollback(kManifest)))
        m_files.writeAtomically(inOutput(kManifest), m_files.read(inRollback(kManifest)));
    std::rethrow_exception(first);
}

void HeadlessFrameStage::discard()
{
    m_files.removeTree(m_directory);
}
