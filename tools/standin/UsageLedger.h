#pragma once

class ServiceRegistry;

// The persisted usage ledger's query (`NativeCustomerUsage`): the usage summary of a workspace, or
// of one session of it. See README.md, "Usage ledger".
namespace usageledger
{
void registerService(ServiceRegistry &registry);
} // namespace usageledger
