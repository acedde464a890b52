#include "standin/Services.h"

#include "standin/CommandChannel.h"
#include "standin/ConnectStep.h"
#include "standin/GraphQLEndpoint.h"
#include "standin/HostedSignIn.h"
#include "standin/IdentityService.h"
#include "standin/InputRequestReplies.h"
#include "standin/LiveSessions.h"
#include "standin/LiveTurn.h"
#include "standin/LiveView.h"
#include "standin/ProbeOperation.h"
#include "standin/ProjectAnswers.h"
#include "standin/RealtimeService.h"
#include "standin/RunControls.h"
#include "standin/ScriptedStep.h"
#include "standin/ServiceRegistry.h"
#include "standin/UsageLedger.h"
#include "standin/WorkspaceSelection.h"

void registerServices(ServiceRegistry &registry)
{
    // Faults of the proxy itself, keyed by host.
    registry.addScenarioSection("connect", connectstep::validate);
    // Steps of HTTPS routes other than GraphQL, keyed by route name.
    registry.addScenarioSection("https", [](const Json &step) { return scriptedstep::validate(step, false); });

    // One line per service.
    graphqlendpoint::registerService(registry);
    // The run controls steer the sessions the turn service starts.
    auto sessions = std::make_shared<LiveSessions>();
    runcontrols::registerService(registry, sessions);
    liveturn::registerService(registry, sessions);
    probeoperation::registerService(registry);
    // The provider signs tokens for the workspace the identity service last selected.
    auto selection = std::make_shared<WorkspaceSelection>();
    hostedsignin::registerService(registry, selection);
    identityservice::registerService(registry, selection);
    usageledger::registerService(registry);
    realtimeservice::registerService(registry, sessions);
    projectanswers::registerService(registry);
    commandchannel::registerService(registry);
    liveview::registerService(registry);
    inputrequestreplies::registerService(registry);
}
