#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class HubModel;

// The pressed title of a card section, as the inspector value stores it ("Events" -> "events").
QString inspectorKey(const QString &title);

// The card sections' title rows: `onClicked: SectionTitles.pick(model, title)`.
class SectionTitles : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;
    // Makes the section titled `title` the expanded inspector section of `model`.
    Q_INVOKABLE static void pick(HubModel *model, const QString &title);
};
