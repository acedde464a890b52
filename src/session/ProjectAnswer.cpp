#include "session/ProjectAnswer.h"

qsizetype ProjectAnswer::payloadBytes() const
{
    qsizetype bytes = result.toUtf8().size() + status.toUtf8().size() + handsID.toUtf8().size() + tool.toUtf8().size();
    for (const QString &path : changed)
        bytes += path.toUtf8().size();
    return bytes;
}
