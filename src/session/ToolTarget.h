#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

// One running tool call: kept by tool-use id from its start until its end, and the target of a skip.
struct ToolTarget
{
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString tool MEMBER tool)
    Q_PROPERTY(QString agent MEMBER agent)
    // Null when the tool start carried no index.
    Q_PROPERTY(QVariant index READ indexValue)

public:
    QString id;    // tool-use id
    QString tool;  // tool name
    QString agent; // agent id of the frame that started the call
    std::optional<qint64> index;

    QVariant indexValue() const { return index ? QVariant(*index) : QVariant(); }
    bool operator==(const ToolTarget &) const = default;
};

// Running tool calls by tool-use id.
using ToolTargets = QMap<QString, ToolTarget>;
