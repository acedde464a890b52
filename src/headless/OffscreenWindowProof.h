#pragma once

#include <QtGlobal>

// What the off-screen window guard saw: the window count before the export and at the check, the
// visible windows and whether the hub was the active application. Publication takes only a proof
// in which nothing appeared.
struct OffscreenWindowProof
{
    qint64 before = 0;
    qint64 after = 0;
    qint64 visible = 0;
    bool frontmost = false;

    bool valid() const { return after == before && visible == 0 && !frontmost; }
};
