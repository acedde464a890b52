#pragma once

#include "core/Json.h"

#include <QByteArray>
#include <QTimer>

#include <chrono>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Rebuilds session frames that the platform split into "frame_chunk" frames because they were too
// large for one realtime message. It collects at most 8 frames at a time, bounds the bytes it
// holds, and remembers completed frames for 60 s so that chunks sent again do not deliver a frame
// twice. Main thread only.
class NativeFrameDecoder
{
public:
    // Monotonic time; injectable so that the 60 s limits can be crossed without waiting.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr qint64 kDefaultMaximum = qint64(16) * 1024 * 1024;
    static constexpr std::size_t kMaxPending = 8;
    static constexpr std::size_t kMaxCompleted = 4096;
    static constexpr std::chrono::seconds kLifetime{60};
    static constexpr int kMaxTotal = 1399;
    static constexpr qsizetype kSliceBytes = 12000;
    static constexpr qsizetype kMaxDataCharacters = 16000;

    explicit NativeFrameDecoder(qint64 maximum = kDefaultMaximum, Clock clock = {});
    ~NativeFrameDecoder();
    NativeFrameDecoder(const NativeFrameDecoder &) = delete;
    NativeFrameDecoder &operator=(const NativeFrameDecoder &) = delete;

    // Takes one session frame that passed the session and tenant checks. Returns the frame to hand
    // on (the same one, or the frame rebuilt from its chunks), or nothing when a chunk was stored or
    // ignored. Throws HubError; an error changes nothing but the pending frame it names.
    std::optional<Json> push(Json frame);
    // The hand-off of `frame` failed: forget that it was completed, so that its chunks, sent again,
    // rebuild it again. Never fails.
    void retryDelivery(const Json &frame);
    // Forgets everything.
    void reset();

    qint64 maximum() const { return m_maximum; }
    // Decoded bytes held for frames still being collected.
    qint64 retained() const { return m_retained; }
    std::size_t pendingCount() const { return m_pending.size(); }
    std::size_t completedCount() const { return m_completedOrder.size(); }

    // The identity text of a frame: the compact JSON array [tenantId, sessionId, turnId (or
    // sessionId when turnId is no string), seq in decimal]. Throws "Invalid chunk frame identity.".
    static std::string identity(const Json &frame);

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Partial
    {
        TimePoint created;
        int total = 0;
        std::string identity;
        qint64 size = 0;
        std::vector<QByteArray> parts; // indexed by slice; a null array is a slice not yet received
        int received = 0;
    };

    void discard(const std::string &key);
    void sweep();
    void armExpiry();
    TimePoint now() const { return m_clock(); }

    const qint64 m_maximum;
    Clock m_clock;
    std::map<std::string, Partial> m_pending;
    // Completed keys in completion order; the clock is monotonic, so the front is the oldest.
    std::list<std::pair<std::string, TimePoint>> m_completedOrder;
    std::unordered_map<std::string, std::list<std::pair<std::string, TimePoint>>::iterator> m_completed;
    qint64 m_retained = 0;
    std::unique_ptr<QTimer> m_expiry;
};
