// The model's working-tree changes view on a fixture repository, read through the stand-in
// companion program.
#include "ProjectModelSupport.h"

#include <QFile>

using namespace projectmodel;
using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
const QString kChangesFailed = QStringLiteral(
    "The local working-tree reader failed. Install the matching tavrilo-code CLI companion or set TAVRILO_CODE_CLI.");

class ChangesView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        makeRepository(repository(), {{QStringLiteral("store.py"), "import os\n\ndef load():\n    return 1\n"},
                                      {QStringLiteral("notes.txt"), "notes\n"}});
        testsupport::writeFile(repository() + QStringLiteral("/store.py"),
                               "import os\nimport sys\n\ndef load():\n    return 2\n");
        testsupport::writeFile(repository() + QStringLiteral("/new.txt"), "fresh\n");
        model->setConfiguration(sessiontest::configuration(repository()));
    }

    QString repository() const { return m_folder.at(QStringLiteral("repo")); }
    // A companion that notes each run in a file and then does the real companion's work.
    void countRuns()
    {
        m_counting.emplace("TAVRILO_CODE_CLI", script(m_folder.at(QStringLiteral("counting")),
                                                      "echo run >> '" + runsFile().toUtf8() + "'\nexec '" +
                                                          companionProgram().toUtf8() + "' \"$@\"\n")
                                                   .toUtf8());
    }
    QString runsFile() const { return m_folder.at(QStringLiteral("runs")); }
    int runs() const { return int(testsupport::readFile(runsFile()).count("run")); }
    void refresh(std::optional<QString> path)
    {
        awaitFor(model->refreshChanges(std::move(path)), std::chrono::seconds(30));
    }

    Folder m_folder;
    EnvironmentSetting m_companion{"TAVRILO_CODE_CLI", companionProgram().toUtf8()};
    std::optional<EnvironmentSetting> m_counting;
    std::unique_ptr<HubModel> model = sessiontest::makeModel();
};

TEST_F(ChangesView, ShowsTheChangedFilesAndTheSelectedOne)
{
    refresh(std::nullopt);
    EXPECT_EQ(model->changeFiles(), (QList<NativeChangeFile>{{QStringLiteral("store.py"), QStringLiteral("M")},
                                                             {QStringLiteral("new.txt"), QStringLiteral("??")}}));
    // Asked for the list alone, the companion's choice is selected.
    EXPECT_EQ(model->selectedChangePath(), QStringLiteral("store.py"));
    EXPECT_TRUE(model->selectedChangeDiff().contains(QStringLiteral("+import sys")));
    ASSERT_TRUE(model->selectedChangeAST());
    EXPECT_EQ(model->selectedChangeAST()->status, QStringLiteral("parsed"));
    EXPECT_TRUE(model->changesError().isEmpty());
    EXPECT_FALSE(model->changesLoading());
    EXPECT_FALSE(model->changesReadTask().isValid());

    refresh(QStringLiteral("new.txt"));
    EXPECT_EQ(model->selectedChangePath(), QStringLiteral("new.txt"));
    EXPECT_TRUE(model->selectedChangeDiff().contains(QStringLiteral("+fresh")));

    // A file without changes: the list is replaced and the companion's reason is the error line.
    refresh(QStringLiteral("notes.txt"));
    EXPECT_EQ(model->changeFiles().size(), 2);
    EXPECT_EQ(model->selectedChangePath(), QStringLiteral("notes.txt"));
    EXPECT_TRUE(model->selectedChangeDiff().isEmpty());
    EXPECT_FALSE(model->selectedChangeAST());
    EXPECT_EQ(model->changesError(), QStringLiteral("No working-tree change for notes.txt."));
}

TEST_F(ChangesView, ARefreshAskedWhileOneLoadsIsKeptAndRunsAfterIt)
{
    countRuns();
    const auto first = start(model->refreshChanges(std::nullopt));
    ASSERT_TRUE(model->changesLoading());
    const auto clicked = start(model->refreshChanges(QStringLiteral("store.py")));
    const auto clickedAgain = start(model->refreshChanges(QStringLiteral("new.txt")));
    ASSERT_TRUE(waitUntil([&] { return first->done; }, std::chrono::seconds(30)));
    ASSERT_TRUE(waitUntil([&] { return clicked->done && clickedAgain->done; }, std::chrono::seconds(30)));
    // The latest request replaced the one before it: two reads in all, and the last click selected.
    EXPECT_EQ(runs(), 2);
    EXPECT_EQ(model->selectedChangePath(), QStringLiteral("new.txt"));
    EXPECT_FALSE(model->changesLoading());
    EXPECT_FALSE(model->changesReadTask().isValid());
}

TEST_F(ChangesView, AnAnswerOfAnEarlierGenerationOrAnotherRootIsDropped)
{
    const auto cleared = start(model->refreshChanges(std::nullopt));
    model->clearChanges();
    ASSERT_TRUE(waitUntil([&] { return cleared->done; }, std::chrono::seconds(30)));
    EXPECT_TRUE(model->changeFiles().isEmpty());
    EXPECT_FALSE(model->selectedChangePath());
    EXPECT_FALSE(model->changesLoading());

    const auto moved = start(model->refreshChanges(std::nullopt));
    model->setConfiguration(sessiontest::configuration(m_folder.path()));
    ASSERT_TRUE(waitUntil([&] { return moved->done; }, std::chrono::seconds(30)));
    EXPECT_TRUE(model->changeFiles().isEmpty());
    EXPECT_TRUE(model->changesError().isEmpty());
}

TEST_F(ChangesView, AFailureIsShownUnlessTheViewWasClearedAndKeepsWhatWasShown)
{
    refresh(std::nullopt);
    ASSERT_EQ(model->changeFiles().size(), 2);
    EnvironmentSetting failing("TAVRILO_CODE_CLI",
                               script(m_folder.at(QStringLiteral("failing")), "cat >/dev/null\nexit 3\n").toUtf8());
    refresh(QStringLiteral("new.txt"));
    EXPECT_EQ(model->changesError(), kChangesFailed);
    EXPECT_EQ(model->changeFiles().size(), 2);
    EXPECT_EQ(model->selectedChangePath(), QStringLiteral("store.py"));

    const auto cleared = start(model->refreshChanges(std::nullopt));
    model->clearChanges();
    ASSERT_TRUE(waitUntil([&] { return cleared->done; }, std::chrono::seconds(30)));
    EXPECT_TRUE(model->changesError().isEmpty());

    // A reply that is not a changes reply shows its message, or a sentence of ours without one.
    EnvironmentSetting unusable(
        "TAVRILO_CODE_CLI",
        script(m_folder.at(QStringLiteral("unusable")), "cat >/dev/null\necho '{\"kind\":\"error\"}'\n").toUtf8());
    refresh(std::nullopt);
    EXPECT_EQ(model->changesError(), QStringLiteral("Working-tree changes could not be read."));
}

TEST_F(ChangesView, NoReadWhileTheSessionClosesOrWithoutAConfiguration)
{
    countRuns();
    model->setChangesShuttingDown(true);
    refresh(std::nullopt);
    model->setChangesShuttingDown(false);
    model->setClosingSession(true);
    refresh(std::nullopt);
    model->setClosingSession(false);
    model->setConfiguration(std::nullopt);
    refresh(std::nullopt);
    EXPECT_EQ(runs(), 0);
    EXPECT_FALSE(model->changesLoading());
    EXPECT_TRUE(model->changeFiles().isEmpty());
}

// Companions that hang, flood, or leave a grandchild holding the reply pipe: each read ends by the
// companion's deadline, and the session close that waits for it completes.
TEST(Companions, UnrulyOnesEndByTheirDeadlineAndTheSessionStillCloses)
{
    Folder folder;
    EnvironmentSetting companion("TAVRILO_CODE_CLI",
                                 script(folder.at(QStringLiteral("unruly")), "request=$(head -c 4096)\n"
                                                                             "case \"$request\" in\n"
                                                                             "  *hangs*) exec sleep 100 ;;\n"
                                                                             "  *floods*) exec yes ;;\n"
                                                                             "  *grandchild*) sleep 100 & exit 0 ;;\n"
                                                                             "esac\n")
                                     .toUtf8());
    struct Case
    {
        QString name;
        QString error;
    };
    const QList<Case> cases = {
        {QStringLiteral("hangs"), kChangesFailed},
        {QStringLiteral("floods"), QStringLiteral("Working-tree response exceeds its preview limit.")},
        // The companion itself exited well, with nothing read by the deadline.
        {QStringLiteral("grandchild"), json::decodingErrorSentence()}};
    std::vector<std::unique_ptr<HubModel>> models;
    std::vector<std::shared_ptr<Running>> reads;
    std::vector<std::shared_ptr<Running>> closes;
    for (const Case &c : cases) {
        QDir().mkpath(folder.at(c.name));
        models.push_back(sessiontest::makeModel());
        models.back()->setConfiguration(sessiontest::configuration(folder.at(c.name)));
        reads.push_back(start(models.back()->refreshChanges(std::nullopt)));
        closes.push_back(start(models.back()->closeSession()));
    }
    // The deadline is 35 s, and a companion that ignores its stop is killed 5 s later.
    const bool ended =
        waitUntil([&] { return std::all_of(closes.begin(), closes.end(), [](const auto &r) { return r->done; }); },
                  std::chrono::seconds(50));
    ASSERT_TRUE(ended);
    for (std::size_t i = 0; i < models.size(); ++i) {
        SCOPED_TRACE(cases[qsizetype(i)].name.toStdString());
        EXPECT_TRUE(reads[i]->done);
        EXPECT_FALSE(closes[i]->error);
        EXPECT_EQ(models[i]->changesError(), cases[qsizetype(i)].error);
        EXPECT_FALSE(models[i]->changesLoading());
        EXPECT_FALSE(models[i]->closingSession());
    }
}
} // namespace
