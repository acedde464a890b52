#pragma once

#include "standin/ServiceContext.h"

#include "core/Json.h"

#include <QString>

#include <string>

// What the service answers when variables do not fit the schema of the operation.
inline Json graphqlValidationError(const std::string &message)
{
    return Json{{"data", nullptr}, {"errors", Json::array({{{"errorType", "ValidationError"}, {"message", message}}})}};
}

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
