#include "ui/SectionTitles.h"

#include "session/HubModel.h"

QString inspectorKey(const QString &title)
{
    return title.toLower();
}

void SectionTitles::pick(HubModel *model, const QString &title)
{
    if (model)
        model->setExpandedInspector(inspectorKey(title));
}
