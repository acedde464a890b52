#include "core/HubError.h"

HubError::HubError(QString sentence) : m_sentence(std::move(sentence)), m_utf8(m_sentence.toStdString()) {}

const char *CancelledError::what() const noexcept
{
    return "The operation was cancelled.";
}

QString errorDescription(const std::exception &error)
{
    if (const auto *hub = dynamic_cast<const HubError *>(&error))
        return hub->description();
    if (dynamic_cast<const CancelledError *>(&error))
        return QString::fromUtf8(error.what());
    return QStringLiteral("The operation couldn't be completed.");
}

QString errorDescription(std::exception_ptr error)
{
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception &e) {
        return errorDescription(e);
    } catch (...) {
        return QStringLiteral("The operation couldn't be completed.");
    }
}
