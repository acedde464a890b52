#pragma once

#include "SessionTestSupport.h"

#include "session/OpenPanels.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <exception>
#include <memory>
#include <ostream>

#include <sys/stat.h>

// Texts print as text in failure messages.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace projectmodel
{
// Panels that answer from queues, as a user would click: a folder or a document, or a cancel
// (none, also when the queue is empty). They record what they were asked.
class ScriptedPanels : public OpenPanels
{
public:
    QCoro::Task<std::optional<QUrl>> chooseFolder(QString message) override
    {
        folderMessages.append(message);
        co_return take(folders);
    }
    QCoro::Task<std::optional<QUrl>> chooseDocument() override
    {
        ++documentRequests;
        co_return take(documents);
    }

    std::deque<std::optional<QUrl>> folders;
    std::deque<std::optional<QUrl>> documents;
    QStringList folderMessages;
    int documentRequests = 0;

private:
    static std::optional<QUrl> take(std::deque<std::optional<QUrl>> &queue)
    {
        if (queue.empty())
            return std::nullopt;
        std::optional<QUrl> answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

inline std::unique_ptr<HubModel> makeModel(std::shared_ptr<OpenPanels> panels)
{
    HubModel::Dependencies dependencies{
        std::make_shared<MemoryKeyring>(), [] { return std::make_unique<sessiontest::NoSignInWindow>(); }, {}};
    dependencies.panels = std::move(panels);
    return std::make_unique<HubModel>(std::move(dependencies));
}

// Sets an environment variable for one scope, and puts the previous value back.
class EnvironmentSetting
{
public:
    EnvironmentSetting(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_previous(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentSetting()
    {
        if (m_had)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }
    EnvironmentSetting(const EnvironmentSetting &) = delete;
    EnvironmentSetting &operator=(const EnvironmentSetting &) = delete;

private:
    const char *m_name;
    bool m_had;
    QByteArray m_previous;
};

inline QString companionProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tavrilo-code");
}

// Runs git in `directory`; fails the test when it fails.
inline void git(const QString &directory, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(QStringLiteral("git"), arguments);
    ASSERT_TRUE(process.waitForFinished(30000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

// A git repository with `files` committed.
inline void makeRepository(const QString &directory, const QList<std::pair<QString, QByteArray>> &files)
{
    QDir().mkpath(directory);
    git(directory, {QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("main")});
    for (const auto &[name, bytes] : files)
        testsupport::writeFile(directory + u'/' + name, bytes);
    git(directory, {QStringLiteral("add"), QStringLiteral(".")});
    git(directory, {QStringLiteral("-c"), QStringLiteral("user.email=t@example.com"), QStringLiteral("-c"),
                    QStringLiteral("user.name=T"), QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("-m"),
                    QStringLiteral("first")});
}

// An executable shell script.
inline QString script(const QString &path, const QByteArray &body)
{
    testsupport::writeFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.toUtf8().constData(), 0755);
    return path;
}

// A task driven to its end on the event loop while the test goes on.
struct Running
{
    bool done = false;
    std::exception_ptr error;
};

template <typename T> std::shared_ptr<Running> start(QCoro::Task<T> task)
{
    auto running = std::make_shared<Running>();
    auto drive = [](QCoro::Task<T> t, std::shared_ptr<Running> r) -> QCoro::Task<void> {
        try {
            co_await std::move(t);
        } catch (...) {
            r->error = std::current_exception();
        }
        r->done = true;
    };
    drive(std::move(task), running);
    return running;
}

// A folder of its own, by its resolved path.
class Folder
{
public:
    Folder() : m_path(QFileInfo(m_temporary.path()).canonicalFilePath()) {}
    const QString &path() const { return m_path; }
    QString at(const QString &relative) const { return m_path + u'/' + relative; }

private:
    QTemporaryDir m_temporary;
    QString m_path;
};
} // namespace projectmodel
