#pragma once

#include "cloud/HubNetwork.h"
#include "core/HubConfiguration.h"
#include "core/Json.h"
#include "core/async/CancelToken.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

// The hub's connection to the platform's GraphQL service for one session.
class NativeLive : public QObject
{
    Q_OBJECT

public:
    // One workspace (tenant) membership of the account.
    struct Workspace
    {
        QString tenantId;
        QString tenantName;
        QString role;
        bool isDefault = false;

        // All four keys are required with their types; other keys are ignored. Throws HubError
        // with the decoding sentence.
        static Workspace decode(const Json &object);
        // A JSON array of workspace objects; one bad element fails the whole list.
        static QList<Workspace> decodeList(const Json &array);

        bool operator==(const Workspace &) const = default;
    };

    explicit NativeLive(QObject *parent = nullptr);

    // Posts one GraphQL operation to the configured endpoint with `token` as bearer and returns the
    // answer's "data" object. Throws HubError with the client's sentences, the platform's error
    // messages, the decoding sentence for a body that is no JSON, HubNetworkError for transport
    // failures and the 45 s deadline, and CancelledError when `cancel` fires.
    static QCoro::Task<Json> graphql(QString operation, Json variables, HubConfiguration configuration, QString token,
                                     CancelToken cancel = {});

    // The POST every GraphQL operation travels in: the envelope {"query", "variables"} as compact
    // JSON, "Authorization: Bearer <token>" and "Content-Type: application/json", 45 s.
    static HubNetwork::Request request(const QUrl &endpoint, const QString &token, const QString &operation,
                                       const Json &variables);
};
