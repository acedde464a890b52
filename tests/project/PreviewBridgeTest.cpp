#include "project/PreviewBridge.h"
#include "PreviewControlServer.h"
#include "ProjectFixture.h"
#include "core/HubError.h"

#include <QTimer>

namespace
{
using Answer = NativeProjectHands::Answer;

const QString kNoServer =
    QStringLiteral("No active Tavrilo desktop preview control server is running on this computer.");

class Preview : public ProjectFixture
{
protected:
    Answer preview(const char *path, Json input, const QString &agent = QStringLiteral("tavrilo_researcher"))
    {
        input["path"] = path;
        return run(call("project_read_file", std::move(input)), agent);
    }
    Json lastAction() const
    {
        const Json body = Json::parse(server.requests().last().body.toStdString());
        EXPECT_EQ(body.at("project"), root().toStdString());
        return body.at("action");
    }

    PreviewControlServer server;
};

TEST_F(Preview, EachReservedPathSendsItsAction)
{
    const Answer vision = preview("__tavrilo_preview_vision__", {{"target", "#app"}, {"fps", 9}});
    EXPECT_EQ(vision.status, QStringLiteral("success"));
    EXPECT_EQ(vision.result, QStringLiteral(R"({"ok":true})"));
    EXPECT_TRUE(vision.changed.isEmpty());
    EXPECT_EQ(lastAction(), (Json{{"type", "vision_stream"}, {"target", "#app"}}));
    EXPECT_EQ(Json::parse(server.requests().last().body.toStdString()).at("agent"), "tavrilo_researcher");
    EXPECT_EQ(server.requests().last().header("Content-Type"), "application/json");

    preview("__tavrilo_preview_motion__", {{"duration_ms", 1500}, {"fps", 30}, {"target", 5}});
    EXPECT_EQ(lastAction(), (Json{{"type", "record_motion"}, {"duration", 1500}, {"fps", 30}}));
    preview("__tavrilo_preview_motion__", {{"duration_ms", "1500"}});
    EXPECT_EQ(lastAction(), (Json{{"type", "record_motion"}}));

    preview("__tavrilo_preview_devtools__", {{"selector", "h1"}, {"type", "click"}, {"action", "inspect"}});
    EXPECT_EQ(lastAction(), (Json{{"type", "inspect"}, {"selector", "h1"}}));
    preview("__tavrilo_preview_devtools__", Json::object());
    EXPECT_EQ(lastAction(), (Json{{"type", "audit"}}));
}

TEST_F(Preview, ActionsBeyondInspectionNeedAnActingAgent)
{
    const Answer refused = preview("__tavrilo_preview_devtools__", {{"action", "click"}});
    EXPECT_EQ(refused.status, QStringLiteral("error"));
    EXPECT_EQ(refused.result, QStringLiteral("Refused by Action Permissions Policy: tavrilo_researcher has read-only "
                                             "Chrome DevTools inspection access and cannot execute 'click'."));
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(preview("__tavrilo_preview_devtools__", {{"type", "click"}}, QStringLiteral("tavrilo_reviewer")).status,
              QStringLiteral("success"));
    EXPECT_EQ(lastAction(), (Json{{"type", "click"}}));
    // The reserved names are not bridged for other tools.
    EXPECT_EQ(run(call("project_list_directory", {{"path", "__tavrilo_preview_devtools__"}})).result,
              QStringLiteral("Cannot list project directory."));
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(Preview, TheServersStatusAndBodyAreTheAnswer)
{
    server.answerWith([](const auto &) { return LoopbackHttpServer::answer(404, "no such target"); });
    const Answer missing = preview("__tavrilo_preview_vision__", Json::object());
    EXPECT_EQ(missing.status, QStringLiteral("error"));
    EXPECT_EQ(missing.result, QStringLiteral("no such target"));

    // 64,000 bytes end inside a two-byte character: that character goes, the rest is the answer.
    const QByteArray accented = "a" + QString(50000, QChar(0xE9)).toUtf8();
    server.answerWith([&](const auto &) { return LoopbackHttpServer::answer(200, accented); });
    const Answer big = preview("__tavrilo_preview_vision__", Json::object());
    EXPECT_EQ(big.status, QStringLiteral("success"));
    EXPECT_EQ(big.result, QStringLiteral("a") + QString(31999, QChar(0xE9)));

    server.answerWith([](const auto &) { return LoopbackHttpServer::answer(200, "\xff\xfe binary"); });
    EXPECT_EQ(preview("__tavrilo_preview_vision__", Json::object()).result, QStringLiteral("{}"));

    // A redirect is an answer like any other: it is not followed.
    server.answerWith(
        [](const auto &) { return LoopbackHttpServer::answer(302, "moved", "Location: http://example.com/\r\n"); });
    EXPECT_EQ(preview("__tavrilo_preview_vision__", Json::object()).result, QStringLiteral("moved"));
}

TEST_F(Preview, TheActorServesOtherCallsWhileTheServerThinks)
{
    write(QStringLiteral("notes.txt"), "hello");
    server.hold();
    auto pending = std::make_shared<std::optional<Answer>>();
    auto drive = [](QCoro::Task<Answer> task, std::shared_ptr<std::optional<Answer>> out) -> QCoro::Task<void> {
        *out = co_await std::move(task);
    };
    Json input = {{"path", "__tavrilo_preview_vision__"}};
    drive(hands().execute(json::dump(call("project_read_file", input)), QStringLiteral("tavrilo_builder")), pending);
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.requests().size() == 1; }));
    EXPECT_EQ(run(call("project_read_file", {{"path", "notes.txt"}})).result, QStringLiteral("1: hello"));
    EXPECT_FALSE(pending->has_value());
    server.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return pending->has_value(); }));
    EXPECT_EQ((*pending)->status, QStringLiteral("success"));
}

// The bridge's request owns its network manager, which goes as soon as the wait ends: a server
// that never answers ends in the deadline's sentence, and a stop in a cancellation, both without
// the manager going under the abort that ended the request.
TEST_F(Preview, ASilentServerEndsInTheDeadlineOrTheStop)
{
    server.hold();
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "deadline");
        previewbridge::Prepared prepared = previewbridge::prepare(root(), QStringLiteral("__tavrilo_preview_vision__"),
                                                                  Json::object(), QStringLiteral("tavrilo_builder"));
        ASSERT_TRUE(prepared.request);
        prepared.request->deadline = stopped ? std::chrono::milliseconds(60000) : std::chrono::milliseconds(100);
        CancelSource source;
        const qsizetype before = server.requests().size();
        QTimer stop;
        QObject::connect(&stop, &QTimer::timeout, [&] {
            if (stopped && server.requests().size() > before)
                source.cancel();
        });
        stop.start(5);
        try {
            testsupport::awaitFor(previewbridge::send(*prepared.request, source.token()));
            ADD_FAILURE() << "the request did not fail";
        } catch (const std::exception &error) {
            EXPECT_EQ(errorDescription(error),
                      stopped ? errorDescription(CancelledError()) : QStringLiteral("The request timed out."));
        }
    }
}

struct ControlCase
{
    const char *name;
    std::function<void(PreviewControlServer &)> spoil;
};

class ControlFile : public Preview, public ::testing::WithParamInterface<ControlCase>
{
};

TEST_P(ControlFile, AnUntrustworthyControlFileMeansNoServer)
{
    GetParam().spoil(server);
    const Answer answer = preview("__tavrilo_preview_vision__", Json::object());
    EXPECT_EQ(answer.status, QStringLiteral("error"));
    EXPECT_EQ(answer.result, kNoServer);
    EXPECT_TRUE(server.requests().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ControlFile,
    ::testing::Values(
        ControlCase{"missing", [](PreviewControlServer &s) { QFile::remove(s.controlPath()); }},
        ControlCase{"notJson", [](PreviewControlServer &s) { s.writeControl("url="); }},
        ControlCase{"array", [](PreviewControlServer &s) { s.writeControl("[]"); }},
        ControlCase{"noToken",
                    [](PreviewControlServer &s) { s.writeControl(R"({"url":")" + s.url().toUtf8() + R"("})"); }},
        ControlCase{
            "tokenNotText",
            [](PreviewControlServer &s) { s.writeControl(R"({"url":")" + s.url().toUtf8() + R"(","token":1})"); }},
        ControlCase{"remoteHost",
                    [](PreviewControlServer &s) { s.writeControl(R"({"url":"http://example.com:80","token":"t"})"); }},
        ControlCase{"otherScheme",
                    [](PreviewControlServer &s) { s.writeControl(R"({"url":"file:///tmp","token":"t"})"); }},
        ControlCase{"headerInjection",
                    [](PreviewControlServer &s) {
                        s.writeControl(R"({"url":")" + s.url().toUtf8() + R"(","token":"t\r\nX-Evil: 1"})");
                    }},
        ControlCase{"link",
                    [](PreviewControlServer &s) {
                        const QString real = s.controlPath() + QStringLiteral(".real");
                        QFile::rename(s.controlPath(), real);
                        QFile::link(real, s.controlPath());
                    }}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
