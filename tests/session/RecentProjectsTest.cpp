#include "SessionTestSupport.h"

#include "project/NativeProjects.h"
#include "support/SignInTestSupport.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace sessiontest;
using testsupport::failureOf;

namespace
{
using sessiontest::PrintTo;

const QString kUser = QStringLiteral("user-1");

const QString kUnreadable = QStringLiteral("Local project history could not be read safely.");
const QString kRedirected = QStringLiteral("Local project history must not redirect through a symbolic link.");
const QString kTooLarge = QStringLiteral("Local project history exceeds its limit.");
const QString kNotAFolder = QStringLiteral("Recent projects must be existing directories.");

Json row(const QString &directory, const QDateTime &openedAt)
{
    return {{"directory", directory.toStdString()}, {"openedAt", openedAt.toUTC().toString(Qt::ISODate).toStdString()}};
}

QByteArray history(std::initializer_list<Json> rows)
{
    Json array = Json::array();
    for (const Json &r : rows)
        array.push_back(r);
    return json::dump(array);
}

mode_t modeOf(const QString &path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

QStringList directories(const QList<NativeRecentProject> &rows)
{
    QStringList list;
    for (const NativeRecentProject &row : rows)
        list.append(row.directory);
    return list;
}

// The history of one application, user and workspace under a data home of its own.
class RecentHistory : public ::testing::Test
{
protected:
    RecentHistory() : m_previousDataHome(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
    }
    ~RecentHistory() override { qputenv("XDG_DATA_HOME", m_previousDataHome); }

    QString tavrilo() const { return m_data.path() + QStringLiteral("/Tavrilo"); }
    QString folder() const { return tavrilo() + QStringLiteral("/NativeProjects"); }
    QString file() const { return folder() + u'/' + NativeProjects::historyFileName(kApp, kUser, kTenant); }

    // A project folder, by its resolved path.
    QString project(const QString &name) const
    {
        const QString path = m_projects.path() + u'/' + name;
        QDir().mkpath(path);
        return QFileInfo(path).canonicalFilePath();
    }
    QString projectsRoot() const { return QFileInfo(m_projects.path()).canonicalFilePath(); }

    void writeHistory(const QByteArray &bytes) const
    {
        QDir().mkpath(folder());
        testsupport::writeFile(file(), bytes);
    }

    QList<NativeRecentProject> recent(const std::optional<QString> &recording = std::nullopt) const
    {
        return NativeProjects::recent(kApp, kUser, kTenant, recording);
    }
    QString failure(const std::optional<QString> &recording = std::nullopt) const
    {
        return failureOf([&] { recent(recording); });
    }

    QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);

private:
    QByteArray m_previousDataHome;
    QTemporaryDir m_data;
    QTemporaryDir m_projects;
};

TEST_F(RecentHistory, AFirstReadCreatesTheFolderButNoFile)
{
    EXPECT_TRUE(recent().isEmpty());
    EXPECT_EQ(modeOf(folder()), 0700u);
    EXPECT_FALSE(QFileInfo::exists(file()));
}

TEST_F(RecentHistory, RecordingPutsTheFolderFirstAndKeepsSix)
{
    QStringList recorded;
    for (int i = 1; i <= 7; ++i) {
        recorded.prepend(project(QStringLiteral("p%1").arg(i)));
        const QList<NativeRecentProject> rows = recent(recorded.first());
        ASSERT_EQ(directories(rows), recorded.mid(0, 6));
        EXPECT_EQ(rows.first().openedAt,
                  QDateTime::fromSecsSinceEpoch(rows.first().openedAt.toSecsSinceEpoch(), Qt::UTC));
    }
    // Recording a listed folder moves it to the top; the others keep their order.
    const QList<NativeRecentProject> rows = recent(project(QStringLiteral("p4")));
    EXPECT_EQ(directories(rows),
              (QStringList{recorded[3], recorded[0], recorded[1], recorded[2], recorded[4], recorded[5]}));
    EXPECT_EQ(directories(recent()), directories(rows));
    EXPECT_EQ(modeOf(file()), 0600u);

    // Each user and workspace has a history of its own.
    EXPECT_TRUE(NativeProjects::recent(kApp, QStringLiteral("user-2"), kTenant, std::nullopt).isEmpty());
    EXPECT_TRUE(NativeProjects::recent(kApp, kUser, QStringLiteral("tenant-b"), std::nullopt).isEmpty());
}

TEST_F(RecentHistory, ReadingNeverRewritesTheFile)
{
    QList<Json> rows;
    for (int i = 1; i <= 7; ++i)
        rows.append(row(project(QStringLiteral("p%1").arg(i)), now.addSecs(-100 * i)));
    Json array = Json::array();
    for (const Json &r : rows)
        array.push_back(r);
    const QByteArray bytes = json::dump(array);
    writeHistory(bytes);
    ::chmod(QFile::encodeName(folder()).constData(), 0755);

    const QList<NativeRecentProject> listed = recent();
    ASSERT_EQ(listed.size(), 6);
    EXPECT_EQ(listed.first().directory, project(QStringLiteral("p1")));
    EXPECT_EQ(listed.last().directory, project(QStringLiteral("p6")));
    EXPECT_EQ(testsupport::readFile(file()), bytes);
    EXPECT_EQ(modeOf(folder()), 0700u);
}

TEST_F(RecentHistory, RowsThatNoLongerNameAProjectFolderAreLeftOut)
{
    const QString deleted = project(QStringLiteral("deleted"));
    QDir(deleted).removeRecursively();
    const QString plainFile = projectsRoot() + QStringLiteral("/notes.txt");
    testsupport::writeFile(plainFile, "notes");
    const QString longPath = QStringLiteral("/") + QString(4096, u'a');
    writeHistory(history({
        row(QStringLiteral("relative/path"), now),
        row(longPath, now),
        row(deleted, now),
        row(plainFile, now),
        row(project(QStringLiteral("future")), now.addSecs(310)),
        row(project(QStringLiteral("soon")), now.addSecs(290)),
        row(project(QStringLiteral("kept")), now.addSecs(-60)),
    }));

    EXPECT_EQ(directories(recent()), (QStringList{project(QStringLiteral("soon")), project(QStringLiteral("kept"))}));
}

// The first row in the file wins, whatever its date, and shows the folder by its resolved path.
TEST_F(RecentHistory, AFolderNamedTwiceThroughALinkIsListedOnce)
{
    const QString real = project(QStringLiteral("real"));
    const QString link = projectsRoot() + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(real, link));
    const QDateTime earlier = now.addSecs(-3600);
    writeHistory(history({row(link, earlier), row(real, now.addSecs(-60))}));

    const QList<NativeRecentProject> rows = recent();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().directory, real);
    EXPECT_EQ(rows.first().openedAt, earlier);

    // Recording the folder through the link replaces its row instead of adding a second one.
    EXPECT_EQ(directories(recent(link)), QStringList{real});
}

struct LinkCase
{
    const char *name;
    std::function<void(const QString &tavrilo, const QString &folder, const QString &file, const QString &elsewhere)>
        redirect;
    QString sentence;
};

class RecentHistoryLinks : public RecentHistory, public ::testing::WithParamInterface<LinkCase>
{
};

// A valid history elsewhere is never read through a link, and a link is never written through.
TEST_P(RecentHistoryLinks, AreRefused)
{
    QTemporaryDir elsewhere;
    const QString valid = history({row(project(QStringLiteral("p")), now)});
    testsupport::writeFile(elsewhere.path() + u'/' + QFileInfo(file()).fileName(), valid.toUtf8());
    testsupport::writeFile(elsewhere.path() + QStringLiteral("/NativeProjects/") + QFileInfo(file()).fileName(),
                           valid.toUtf8());
    QDir().mkpath(folder());
    GetParam().redirect(tavrilo(), folder(), file(), elsewhere.path());
    const QByteArray before = testsupport::readFile(elsewhere.path() + u'/' + QFileInfo(file()).fileName());

    EXPECT_EQ(failure(), GetParam().sentence);
    EXPECT_EQ(failure(project(QStringLiteral("q"))), GetParam().sentence);
    EXPECT_EQ(testsupport::readFile(elsewhere.path() + u'/' + QFileInfo(file()).fileName()), before);
}

INSTANTIATE_TEST_SUITE_P(
    RecentHistory, RecentHistoryLinks,
    ::testing::Values(LinkCase{"file_is_a_link",
                               [](const QString &, const QString &, const QString &file, const QString &elsewhere) {
                                   QFile::link(elsewhere + u'/' + QFileInfo(file).fileName(), file);
                               },
                               kUnreadable},
                      LinkCase{"history_folder_is_a_link",
                               [](const QString &, const QString &folder, const QString &, const QString &elsewhere) {
                                   QDir(folder).removeRecursively();
                                   QFile::link(elsewhere + QStringLiteral("/NativeProjects"), folder);
                               },
                               kRedirected},
                      LinkCase{"application_folder_is_a_link",
                               [](const QString &tavrilo, const QString &, const QString &, const QString &elsewhere) {
                                   QDir(tavrilo).removeRecursively();
                                   QFile::link(elsewhere, tavrilo);
                               },
                               kRedirected}),
    [](const auto &info) { return std::string(info.param.name); });

// A link whose target does not exist counts as no history; recording replaces the link itself.
TEST_F(RecentHistory, ADanglingLinkIsReplacedNotFollowed)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.path() + QStringLiteral("/planted.json");
    QDir().mkpath(folder());
    ASSERT_TRUE(QFile::link(target, file()));

    EXPECT_TRUE(recent().isEmpty());
    EXPECT_EQ(directories(recent(project(QStringLiteral("p")))), QStringList{project(QStringLiteral("p"))});
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo(file()).isSymLink());
}

TEST_F(RecentHistory, AFileOrFolderOfAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a file to another user needs root";
    writeHistory(history({row(project(QStringLiteral("p")), now)}));
    ASSERT_EQ(::chown(QFile::encodeName(file()).constData(), 65534, 65534), 0);
    EXPECT_EQ(failure(), kUnreadable);
    ASSERT_EQ(::chown(QFile::encodeName(file()).constData(), 0, 0), 0);
    ASSERT_EQ(::chown(QFile::encodeName(folder()).constData(), 65534, 65534), 0);
    EXPECT_EQ(failure(), kUnreadable);
}

TEST_F(RecentHistory, AFileOver32KiBFailsBeforeItIsDecoded)
{
    QByteArray exact = history({row(project(QStringLiteral("p")), now)});
    exact.append(QByteArray(32768 - exact.size(), ' '));
    writeHistory(exact);
    EXPECT_EQ(recent().size(), 1);

    writeHistory(exact + ' ');
    EXPECT_EQ(failure(), kUnreadable);
    EXPECT_EQ(failure(project(QStringLiteral("q"))), kUnreadable);
}

// A folder whose path is made of characters JSON escapes six bytes wide: one such row fits the
// file, two do not.
TEST_F(RecentHistory, AHistoryThatWouldOutgrowItsLimitIsNotWritten)
{
    const QString component(250, QChar(0x01));
    const auto deepFolder = [&](const QString &name) {
        QString path = projectsRoot() + u'/' + name;
        while (path.toUtf8().size() + component.size() + 1 <= 4096)
            path += u'/' + component;
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    };
    const QString first = deepFolder(QStringLiteral("a"));
    const QString second = deepFolder(QStringLiteral("b"));
    ASSERT_EQ(directories(recent(first)), QStringList{first});
    const QByteArray before = testsupport::readFile(file());

    EXPECT_EQ(failure(second), kTooLarge);
    EXPECT_EQ(testsupport::readFile(file()), before);
}

struct MalformedCase
{
    const char *name;
    QByteArray bytes;
};

class MalformedHistory : public RecentHistory, public ::testing::WithParamInterface<MalformedCase>
{
};

// The file fails as a whole, and a recording call does not replace it.
TEST_P(MalformedHistory, FailsAndIsKept)
{
    writeHistory(GetParam().bytes);
    EXPECT_EQ(failure(), json::decodingErrorSentence());
    EXPECT_EQ(failure(project(QStringLiteral("p"))), json::decodingErrorSentence());
    EXPECT_EQ(testsupport::readFile(file()), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    RecentHistory, MalformedHistory,
    ::testing::Values(MalformedCase{"empty", ""}, MalformedCase{"not_json", "[{"},
                      MalformedCase{"object", R"({"directory":"/srv","openedAt":"2026-05-01T10:00:00Z"})"},
                      MalformedCase{"row_without_date", R"([{"directory":"/srv"}])"},
                      MalformedCase{"row_not_an_object", R"(["/srv"])"},
                      MalformedCase{"date_without_zone", R"([{"directory":"/srv","openedAt":"2026-05-01T10:00:00"}])"},
                      MalformedCase{"date_with_fraction",
                                    R"([{"directory":"/srv","openedAt":"2026-05-01T10:00:00.5Z"}])"},
                      MalformedCase{"impossible_date", R"([{"directory":"/srv","openedAt":"2026-02-30T10:00:00Z"}])"},
                      MalformedCase{"directory_not_text", R"([{"directory":7,"openedAt":"2026-05-01T10:00:00Z"}])"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(RecentHistory, OnlyExistingFoldersAreRecorded)
{
    const QString plainFile = projectsRoot() + QStringLiteral("/notes.txt");
    testsupport::writeFile(plainFile, "notes");
    EXPECT_EQ(failure(projectsRoot() + QStringLiteral("/missing")), kNotAFolder);
    EXPECT_EQ(failure(plainFile), kNotAFolder);
    EXPECT_EQ(failure(QStringLiteral("/") + QString(4096, u'a')), kNotAFolder);
    EXPECT_FALSE(QFileInfo::exists(file()));
}

TEST_F(RecentHistory, NeedsAllThreeIds)
{
    const QString sentence = QStringLiteral("Recent projects require an authenticated workspace.");
    EXPECT_EQ(failureOf([] { NativeProjects::recent(QString(), kUser, kTenant, std::nullopt); }), sentence);
    EXPECT_EQ(failureOf([] { NativeProjects::recent(kApp, QString(), kTenant, std::nullopt); }), sentence);
    EXPECT_EQ(failureOf([] { NativeProjects::recent(kApp, kUser, QString(), std::nullopt); }), sentence);
    EXPECT_FALSE(QFileInfo::exists(tavrilo()));
}

// Names made on the other platform's encoder, which escapes every "/", find the same file.
TEST(RecentHistoryName, IsTheDigestOfTheIdsAsEscapedJson)
{
    const QByteArray text = R"(["app","user\/1","t\"1"])";
    EXPECT_EQ(NativeProjects::historyFileName(QStringLiteral("app"), QStringLiteral("user/1"), QStringLiteral("t\"1")),
              QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex()) +
                  QStringLiteral(".json"));
}

// The model's list: shown only when signed in outside capture mode, with a notice when unavailable.
class RecentProjectList : public RecentHistory
{
protected:
    RecentProjectList() : model(makeModel())
    {
        model->setConfiguration(configuration(project(QStringLiteral("atlas"))));
    }

    void signIn()
    {
        model->setIdentityToken(QStringLiteral("identity"));
        model->setUserID(kUser);
    }

    std::unique_ptr<HubModel> model;
};

TEST_F(RecentProjectList, SignedOutShowsNothingAndLeavesTheHistoryAlone)
{
    model->setRecentProjects({{QStringLiteral("/srv/old"), now}});
    model->setProjectSelectionNotice(QStringLiteral("earlier notice"));
    model->refreshRecentProjects(false);
    model->setIdentityToken(QStringLiteral("identity")); // still no user id
    model->refreshRecentProjects(true);

    EXPECT_TRUE(model->recentProjects().isEmpty());
    EXPECT_TRUE(model->projectSelectionNotice().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(tavrilo()));
}

TEST_F(RecentProjectList, RecordsTheConfiguredProjectOrOnlyLists)
{
    signIn();
    writeHistory(history({row(project(QStringLiteral("beacon")), now.addSecs(-60))}));
    const QByteArray before = testsupport::readFile(file());

    model->refreshRecentProjects(false);
    EXPECT_EQ(directories(model->recentProjects()), QStringList{project(QStringLiteral("beacon"))});
    EXPECT_EQ(testsupport::readFile(file()), before);

    model->refreshRecentProjects(true);
    EXPECT_EQ(directories(model->recentProjects()),
              (QStringList{project(QStringLiteral("atlas")), project(QStringLiteral("beacon"))}));
}

TEST_F(RecentProjectList, ACaptureProcessShowsNoHistory)
{
    signIn();
    writeHistory(history({row(project(QStringLiteral("beacon")), now)}));
    model->setCaptureCredentialsOnly(true);
    model->refreshRecentProjects(true);
    EXPECT_TRUE(model->recentProjects().isEmpty());
    EXPECT_EQ(directories(NativeProjects::recent(kApp, kUser, kTenant, std::nullopt)),
              QStringList{project(QStringLiteral("beacon"))});
}

TEST_F(RecentProjectList, AnUnusableHistoryLeavesANotice)
{
    signIn();
    QTemporaryDir elsewhere;
    QDir().mkpath(tavrilo());
    ASSERT_TRUE(QFile::link(elsewhere.path(), folder()));

    model->refreshRecentProjects(true);
    EXPECT_TRUE(model->recentProjects().isEmpty());
    EXPECT_EQ(
        model->projectSelectionNotice(),
        QStringLiteral("Recent project history is unavailable on this computer. Choose a project folder to continue."));

    QFile::remove(folder());
    model->refreshRecentProjects(true);
    EXPECT_EQ(directories(model->recentProjects()), QStringList{project(QStringLiteral("atlas"))});
    EXPECT_TRUE(model->projectSelectionNotice().isEmpty());
}
} // namespace
