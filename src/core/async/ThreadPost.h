#pragma once

#include <functional>
#include <memory>

class QObject;
class QThread;

// A post box on one thread's event loop. Any thread may post work to it through a Sender; the work
// runs on the box's thread, from its event loop, never on the poster's stack. Closing the box (on
// its own thread, or by destroying it there) drops whatever was posted and has not run yet, and
// makes later posts do nothing.
//
// A poster holds only the shared box, never a QObject of the other thread: the box's receiver is
// created and deleted by the box's owner, and a post reaches it under the box's lock, which closing
// takes before the receiver goes.
class ThreadPost
{
    struct Box;

public:
    // A box on `thread`'s event loop; the calling thread's when null.
    explicit ThreadPost(QThread *thread = nullptr);
    ~ThreadPost();
    ThreadPost(const ThreadPost &) = delete;
    ThreadPost &operator=(const ThreadPost &) = delete;

    class Sender
    {
    public:
        Sender() = default;
        // Queues `work` on the box's thread; false when the box is closed. Any thread.
        bool post(std::function<void()> work) const;

    private:
        friend class ThreadPost;
        explicit Sender(std::shared_ptr<Box> box) : m_box(std::move(box)) {}
        std::shared_ptr<Box> m_box;
    };

    Sender sender() const { return Sender(m_box); }
    // Drops pending work; nothing posted runs afterwards. Call on the box's thread: from another
    // thread, work that has already started may still be running when this returns.
    void close();

private:
    std::shared_ptr<Box> m_box;
};
