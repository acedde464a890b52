#pragma once

#include "core/async/CancelToken.h"
#include "platform/ChildProcess.h"
#include "project/NativeProjectHands.h"
#include "project/PreviewBridge.h"
#include "project/ProjectRoot.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

// What the project tools of one root hold. Touched only on the hands' executor, except for the
// verification group and the closing interrupt, which are thread-safe.
struct NativeProjectHands::State
{
    explicit State(QString rootPath) : root(std::move(rootPath)) {}

    // Stops a running verification child or search so that queued work ends soon.
    void close()
    {
        closing->trigger();
        verificationGroup.cancel();
    }

    ProjectRoot root;
    ProjectOriginals originals;
    VerificationChildGroup verificationGroup;
    std::shared_ptr<ChildInterrupt> closing = std::make_shared<ChildInterrupt>();
};

// One project call from its payload to its answer.
namespace projectcall
{
// The longest text of an answer, in UTF-8 bytes.
inline constexpr qsizetype kAnswerLimit = 65000;

// The outcome of the actor's part of a call: an answer, or a preview request still to be sent.
struct Routed
{
    NativeProjectHands::Answer answer;
    std::optional<previewbridge::Request> preview;
};

// Decodes and checks the call and runs its tool; on the actor.
Routed dispatch(NativeProjectHands::State &state, const QByteArray &encoded, const QString &agent,
                const CancelToken &token);
// Sends a preview request when there is one; on the awaiting thread, with the actor free.
QCoro::Task<NativeProjectHands::Answer> finish(Routed routed, CancelToken token);

// `text` cut to its first `limit` UTF-8 bytes; a character cut in two becomes U+FFFD.
QString cut(const QString &text, qsizetype limit = kAnswerLimit);
} // namespace projectcall
