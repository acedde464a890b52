#include "core/TavriloRoleContract.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "core/ResourceBundle.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

namespace
{
struct Role
{
    QString name;
    QString responsibility;
    qint64 seat = 0;
};

[[noreturn]] void invalid(const QString &why)
{
    throw HubError(QStringLiteral("The role contract is invalid: ") + why);
}

QString requireText(const Json &object, const char *key, const QString &role)
{
    const auto value = json::string(object, key);
    if (!value)
        invalid(QStringLiteral("role %1 has no text \"%2\".").arg(role, QLatin1StringView(key)));
    return *value;
}

qint64 requireSeat(const Json &object, const QString &role)
{
    // An integer, also when written with a zero fraction as some writers do.
    if (const auto seat = json::wholeNumber(object, "seat"))
        return *seat;
    invalid(QStringLiteral("role %1 has no integer \"seat\".").arg(role));
}
} // namespace

QStringList TavriloRoleContract::parse(const QByteArray &contractJson)
{
    const auto document = json::tryParse(contractJson);
    if (!document || !document->is_object())
        invalid(QStringLiteral("it is not a JSON object."));
    const auto harnessesIt = document->find("harnesses");
    const auto localIt = document->find("localRoles");
    if (harnessesIt == document->end() || !harnessesIt->is_object())
        invalid(QStringLiteral("\"harnesses\" is not an object."));
    if (localIt == document->end() || !localIt->is_object())
        invalid(QStringLiteral("\"localRoles\" is not an object."));

    std::map<QString, Role> harnesses;
    for (const auto &[key, value] : harnessesIt->items()) {
        const QString role = json::toQString(key);
        if (!value.is_object())
            invalid(QStringLiteral("role %1 is not an object.").arg(role));
        harnesses.emplace(role, Role{requireText(value, "name", role), requireText(value, "responsibility", role),
                                     requireSeat(value, role)});
    }
    std::map<QString, QString> localRoles;
    for (const auto &[key, value] : localIt->items()) {
        if (!value.is_string())
            invalid(QStringLiteral("local role %1 does not name a role.").arg(json::toQString(key)));
        localRoles.emplace(json::toQString(key), json::toQString(value.get_ref<const std::string &>()));
    }

    // 1. An orchestrator and at least one role.
    const auto orchestrator = localRoles.find(QStringLiteral("orchestrator"));
    if (orchestrator == localRoles.end() || harnesses.empty())
        invalid(QStringLiteral("it needs roles and an \"orchestrator\"."));
    // 2. The orchestrator holds seat 1.
    const auto lead = harnesses.find(orchestrator->second);
    if (lead == harnesses.end() || lead->second.seat != 1)
        invalid(QStringLiteral("the orchestrator must be a role at seat 1."));
    // 3. At most 63 roles: their positions are bits of a 64-bit mask.
    if (harnesses.size() > 63)
        invalid(QStringLiteral("it has more than 63 roles."));
    // 4. Seats 1 to n, each once.
    std::vector<std::pair<qint64, QString>> seats;
    for (const auto &[key, role] : harnesses)
        seats.emplace_back(role.seat, key);
    std::sort(seats.begin(), seats.end());
    for (size_t i = 0; i < seats.size(); ++i)
        if (seats[i].first != qint64(i + 1))
            invalid(QStringLiteral("seats must run from 1 to %1 without gaps or repeats.").arg(seats.size()));
    // 5. Role keys are identifiers; names and responsibilities are not empty.
    static const QRegularExpression roleKey(QStringLiteral("\\A[A-Za-z0-9_-]{1,64}\\z"));
    for (const auto &[key, role] : harnesses) {
        if (!roleKey.match(key).hasMatch())
            invalid(QStringLiteral("role key %1 is not an identifier.").arg(key));
        if (role.name.isEmpty() || role.responsibility.isEmpty())
            invalid(QStringLiteral("role %1 needs a name and a responsibility.").arg(key));
    }
    // 6. Every local role names a role.
    for (const auto &[name, key] : localRoles)
        if (!harnesses.count(key))
            invalid(QStringLiteral("local role %1 names no role.").arg(name));

    QStringList ordered;
    for (const auto &[seat, key] : seats)
        ordered << key;
    return ordered;
}

const QStringList &TavriloRoleContract::roles()
{
    static std::once_flag once;
    static QStringList list;
    std::call_once(once, [] {
        const auto &bundle = ResourceBundle::of(ResourceBundle::Module::TavriloRoleContract);
        try {
            const auto path = bundle.resource(QStringLiteral("role_contract"), QStringLiteral("json"));
            if (!path)
                throw HubError(QStringLiteral("The role contract resource is missing."));
            QFile file(*path);
            if (!file.open(QIODevice::ReadOnly))
                throw HubError(QStringLiteral("The role contract resource cannot be read."));
            list = parse(file.readAll());
        } catch (const HubError &error) {
            const QByteArray line = "Damaged installation: " + error.description().toUtf8() + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
            std::fflush(stderr);
            std::_Exit(EXIT_FAILURE);
        }
    });
    return list;
}
