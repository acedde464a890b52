#include "workspace/NativeDocuments.h"

NativeDocuments::NativeDocuments(QObject *parent) : QObject(parent) {}

NativeDocuments::~NativeDocuments() = default;

void NativeDocuments::configure(HubConfiguration configuration, QString session, TokenSource tokenSource)
{
    m_configuration = std::move(configuration);
    m_session = std::move(session);
    m_tokenSource = std::move(tokenSource);
}

void NativeDocuments::invalidateBrowser() {}

QCoro::Task<void> NativeDocuments::close()
{
    co_return;
}
