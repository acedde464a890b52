#include "core/HubError.h"
#include "core/ResourceBundle.h"
#include "core/TavriloRoleContract.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace
{
struct RoleSpec
{
    QString key;
    qint64 seat;
    QString name = QStringLiteral("Name");
    QString responsibility = QStringLiteral("Does things.");
};

QByteArray contract(const std::vector<RoleSpec> &roles, QMap<QString, QString> local = {{"orchestrator", "lead"}})
{
    QJsonObject harnesses;
    for (const auto &r : roles)
        harnesses.insert(r.key, QJsonObject{{"name", r.name},
                                            {"responsibility", r.responsibility},
                                            {"seat", double(r.seat)},
                                            {"ignored", true}});
    QJsonObject localRoles;
    for (auto it = local.cbegin(); it != local.cend(); ++it)
        localRoles.insert(it.key(), it.value());
    return QJsonDocument(QJsonObject{{"harnesses", harnesses}, {"localRoles", localRoles}, {"extra", 1}})
        .toJson();
}

std::vector<RoleSpec> seats(int n)
{
    std::vector<RoleSpec> roles{{"lead", 1}};
    for (int i = 2; i <= n; ++i)
        roles.push_back({QStringLiteral("r%1").arg(i, 2, 10, QLatin1Char('0')), i});
    return roles;
}

TEST(RoleContract, ListsKeysInSeatOrder)
{
    EXPECT_EQ(TavriloRoleContract::parse(contract({{"lead", 1}})), QStringList{"lead"});
    EXPECT_EQ(TavriloRoleContract::parse(contract({{"zeta", 2}, {"lead", 1}, {"alpha", 3}})),
              (QStringList{"lead", "zeta", "alpha"}));
    EXPECT_EQ(TavriloRoleContract::parse(contract(seats(63))).size(), 63);
    // A seat written with a zero fraction is that integer.
    EXPECT_EQ(TavriloRoleContract::parse(R"({"harnesses":{"lead":{"name":"a","responsibility":"b","seat":1.0}},
                                              "localRoles":{"orchestrator":"lead"}})"),
              QStringList{"lead"});
}

struct InvalidCase
{
    const char *name;
    QByteArray json;
};

class InvalidContract : public ::testing::TestWithParam<InvalidCase>
{
};

TEST_P(InvalidContract, IsRefused)
{
    EXPECT_THROW(TavriloRoleContract::parse(GetParam().json), HubError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InvalidContract,
    ::testing::Values(
        InvalidCase{"NoOrchestrator", contract({{"lead", 1}}, {{"builder", "lead"}})},
        InvalidCase{"NoRoles", contract({}, {{"orchestrator", "lead"}})},
        InvalidCase{"OrchestratorAtSeat2", contract({{"lead", 2}, {"b", 1}})},
        InvalidCase{"OrchestratorUnknown", contract({{"b", 1}})},
        InvalidCase{"SixtyFourRoles", contract(seats(64))},
        InvalidCase{"SeatGap", contract({{"lead", 1}, {"b", 2}, {"c", 4}})},
        InvalidCase{"SeatDuplicate", contract({{"lead", 1}, {"b", 1}, {"c", 2}})},
        InvalidCase{"SeatZero", contract({{"lead", 1}, {"b", 0}})},
        InvalidCase{"KeyTooLong", contract({{"lead", 1}, {QString(65, u'k'), 2}})},
        InvalidCase{"KeyWithDot", contract({{"lead", 1}, {"a.b", 2}})},
        InvalidCase{"EmptyName", contract({{"lead", 1}, {"b", 2, ""}})},
        InvalidCase{"EmptyResponsibility", contract({{"lead", 1}, {"b", 2, "B", ""}})},
        InvalidCase{"LocalRoleNamesNothing", contract({{"lead", 1}}, {{"orchestrator", "lead"}, {"x", "ghost"}})},
        InvalidCase{"SeatAsText", R"({"harnesses":{"lead":{"name":"a","responsibility":"b","seat":"1"}},
                                      "localRoles":{"orchestrator":"lead"}})"},
        InvalidCase{"SeatFraction", R"({"harnesses":{"lead":{"name":"a","responsibility":"b","seat":1.5}},
                                        "localRoles":{"orchestrator":"lead"}})"},
        InvalidCase{"SeatBeyond64Bits", R"({"harnesses":{"lead":{"name":"a","responsibility":"b","seat":1e300}},
                                            "localRoles":{"orchestrator":"lead"}})"},
        InvalidCase{"SeatJustBeyond64Bits",
                    R"({"harnesses":{"lead":{"name":"a","responsibility":"b","seat":9223372036854775808.0}},
                        "localRoles":{"orchestrator":"lead"}})"},
        InvalidCase{"MissingResponsibility", R"({"harnesses":{"lead":{"name":"a","seat":1}},
                                                 "localRoles":{"orchestrator":"lead"}})"},
        InvalidCase{"NotJson", "{\"harnesses\":"},
        InvalidCase{"Array", "[]"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(RoleContract, InstalledContractHasTheLiaisonAndFiveSpecialists)
{
    const QStringList &roles = TavriloRoleContract::roles();
    ASSERT_EQ(roles.size(), 6);
    EXPECT_EQ(roles.first(), QStringLiteral("tavrilo_liaison"));
    EXPECT_TRUE(roles.contains(QStringLiteral("tavrilo_builder")));
    EXPECT_TRUE(roles.contains(QStringLiteral("tavrilo_operator")));
}

TEST(ResourceBundle, FoundInTheFirstCandidateThatHoldsIt)
{
    QTemporaryDir share, exe;
    const QString name = ResourceBundle::bundleName(ResourceBundle::Module::TavriloHub);
    EXPECT_EQ(name, QStringLiteral("TavriloHub_TavriloHub.bundle"));
    EXPECT_FALSE(ResourceBundle::locate(name, {share.path(), exe.path()}));

    QDir(exe.path()).mkdir(name);
    EXPECT_EQ(ResourceBundle::locate(name, {share.path(), exe.path()}), exe.path() + u'/' + name);
    QDir(share.path()).mkdir(name);
    EXPECT_EQ(ResourceBundle::locate(name, {share.path(), exe.path()}), share.path() + u'/' + name);

    // A file of that name is no bundle.
    QTemporaryDir fileOnly;
    testsupport::writeFile(fileOnly.path() + u'/' + name, "x");
    EXPECT_FALSE(ResourceBundle::locate(name, {fileOnly.path()}));
}
} // namespace
