#pragma once

class ServiceRegistry;

// Registers every service the stand-in plays.
void registerServices(ServiceRegistry &registry);
