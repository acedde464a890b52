#include "ui/WorkingScreenPresenter.h"

#include "session/HubModel.h"

WorkingScreenView workingScreenView(const WorkingScreenInputs &in)
{
    WorkingScreenView v;
    v.layoutAvailable = in.layout.has_value();
    v.placeholderText = in.message;
    if (in.layout) {
        const QStringList &sections = HubLayout::regionIDs();
        // One section per id: a layout that repeats an id shows the section once, at the id's last
        // region, the one that would be drawn on top.
        for (qsizetype i = 0; i < in.layout->regions.size(); ++i) {
            const HubLayout::Region &region = in.layout->regions[i];
            if (!sections.contains(region.id))
                continue;
            v.frames.insert(region.id, in.layout->regionRect(region, in.area));
            v.stacking.insert(region.id, int(i));
        }
    }
    v.journalScope = in.controlsConnected ? QStringLiteral("\u00B7 Last five deltas \u00B7 Tenant scoped")
                                          : QStringLiteral("\u00B7 Last five deltas \u00B7 App-local journal");
    v.journalSignIn = in.cloudConnected ? QStringLiteral("Signed in to your Tavrilo workspace")
                                        : QStringLiteral("Sign in to connect your workspace");
    return v;
}

WorkingScreenInputs workingScreenInputs(const HubModel &model, QSizeF area)
{
    return {model.layout(), area, model.message(), model.controlsConnected(), model.cloudConnected()};
}

void WorkingScreenPresenter::setArea(QSizeF area)
{
    if (m_area == area)
        return;
    m_area = area;
    Q_EMIT areaChanged();
    refresh();
}

void WorkingScreenPresenter::refresh()
{
    if (replace(m_view, model() ? workingScreenView(workingScreenInputs(*model(), m_area)) : workingScreenView({})))
        Q_EMIT viewChanged();
}
