#pragma once

#include "standin/ServiceContext.h"

#include "core/Json.h"

#include <QString>

// One GraphQL operation as the endpoint received it.
struct GraphQLCall
{
    QString host;
    QString operation;
    QString query;
    Json variables; // an object
    QString token;  // the bearer token
    ServiceContext &context;
};
