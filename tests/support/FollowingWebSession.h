#pragma once

#include "cloud/HubNetwork.h"
#include "platform/WebAuthSession.h"

#include <QCoroTask>

// A sign-in window without a window: loads the authorize URL and follows its redirect to the
// callback, as the browser would on the stand-in's consenting sign-in page.
class FollowingWebSession : public WebAuthSession
{
public:
    bool start(Request request, Completion completion) override
    {
        follow(std::move(request), std::move(completion));
        return true;
    }
    void cancel() override {}

private:
    static QCoro::Task<void> follow(Request request, Completion completion)
    {
        HubNetwork::Request get;
        get.request = QNetworkRequest(request.url);
        get.method = "GET";
        try {
            const HubNetwork::Reply reply = co_await HubNetwork::send(HubNetwork::shared().session(), get, {});
            for (const auto &[name, value] : reply.headers)
                if (name.compare("Location", Qt::CaseInsensitive) == 0 && reply.status == 302) {
                    completion(QUrl(QString::fromUtf8(value)), Error::None);
                    co_return;
                }
        } catch (...) {
        }
        completion({}, Error::None);
    }
};
