#include "workspace/WorkspaceMutation.h"

#include "cloud/NativeControls.h"
#include "cloud/NativeLive.h"
#include "core/HubError.h"

namespace workspacemutation
{
QCoro::Task<Json> call(Transport transport, HubConfiguration configuration, QString token, QString document,
                       Json variables, QString field, qint64 maximumBytes)
{
    if (!configuration.graphQLEndpoint || token.isEmpty())
        throw HubError(QStringLiteral("Sign in before opening workspace tools."));
    HubNetwork::Request request = NativeLive::request(*configuration.graphQLEndpoint, token, document, variables);
    request.deadline = kDeadline;
    // An answer past its cap is stopped while it streams; the decoder then refuses its length.
    request.maxBytes = maximumBytes;
    // Not cancelled from here: every wait of it is bounded by the deadline.
    const CancelToken none;
    const HubNetwork::Reply reply = co_await transport(std::move(request), none);
    if (reply.status < 200 || reply.status > 299)
        throw HubError(QStringLiteral("The platform refused this workspace tool request."));
    co_return NativeControls::decodeAnswer(reply.body, field, maximumBytes);
}
} // namespace workspacemutation
