#pragma once

#include "core/async/CancelToken.h"
#include "project/ProjectFileTools.h"
#include "project/ProjectRoot.h"
#include "project/VerificationChildGroup.h"

#include <QString>
#include <QStringList>

#include <optional>

// Proof, for the current turn, of what the agents changed and whether the project still builds:
// one build run chosen by the shared build policy, then a unified diff of every changed file against
// its first-change baseline, returned as one JSON object.
namespace buildverification
{
// The build policy: package.json script names in order of preference, then manifest-selected rows.
struct Policy
{
    struct Technology
    {
        QString technology;
        QString manifest;
        std::optional<QString> marker;
        QString command;
        QStringList args;
    };
    QStringList nodeScripts;
    QList<Technology> technologyCommands;

    // Throws HubError with the decoding sentence when a required key is missing or mistyped.
    static Policy decode(const QByteArray &bytes);
    // The resource shipped beside the executable; throws "Shared build policy is unavailable." when
    // there is none.
    static Policy shipped();
};

// The build command's words for the project, none when nothing applies.
std::optional<QStringList> buildCommand(const ProjectRoot &root, const Policy &policy);

// The evidence text for `originals`, built within `deadline` (milliseconds since 1970), with the
// shipped policy unless `policy` is given. Throws the sentences of a failed verification; the staging
// folder is gone afterwards in every case.
QString verify(const ProjectRoot &root, const ProjectOriginals &originals, VerificationChildGroup &group,
               double deadline, const CancelToken &token, const Policy *policy = nullptr);

// The diff of one file with its header lines (before the first hunk) naming the project path.
QString rewriteHeaders(const QString &output, const QString &path, bool existed, bool exists);
} // namespace buildverification
