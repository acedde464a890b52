// Another client of the shared journal, in a process of its own: appends one event.
//
//   journal_append_process <app id> <tenant id> <kind> <timestamp|now> [key=value ...]
#include "core/HubError.h"
#include "core/JournalFolder.h"
#include "core/JournalWriter.h"
#include "core/WorkspaceEvent.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <app id> <tenant id> <kind> <timestamp|now> [key=value ...]\n", argv[0]);
        return 2;
    }
    WorkspaceEvent event;
    event.id = WorkspaceEvent::newID();
    event.appID = QString::fromUtf8(argv[1]);
    event.tenantID = QString::fromUtf8(argv[2]);
    event.kind = QString::fromUtf8(argv[3]);
    event.timestamp = qstrcmp(argv[4], "now") == 0 ? WorkspaceEvent::now() : QString::fromUtf8(argv[4]);
    for (int i = 5; i < argc; ++i) {
        const QString pair = QString::fromUtf8(argv[i]);
        const qsizetype equals = pair.indexOf(u'=');
        if (equals < 0) {
            std::fprintf(stderr, "not key=value: %s\n", argv[i]);
            return 2;
        }
        event.payload.insert(pair.left(equals), pair.mid(equals + 1));
    }
    try {
        JournalWriter(JournalFolder::setUp(event.appID), event.appID, event.tenantID).appendEvent(event);
    } catch (const HubError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
