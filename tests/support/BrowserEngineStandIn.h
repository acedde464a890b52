#pragma once

#include "support/SharedStandIn.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslKey>

// The program's stand-in, reached by the browser engine too. The engine reads its flags once per
// process: its proxy is the stand-in's, and the stand-in's authority, which every chain it presents
// ends with, is trusted by the hash of its public key.
class BrowserEngineStandIn : public SharedStandIn
{
public:
    using SharedStandIn::SharedStandIn;

    void SetUp() override
    {
        SharedStandIn::SetUp();
        StandIn &standIn = get();
        const auto authority = QSslCertificate::fromPath(standIn.caPath());
        ASSERT_EQ(authority.size(), 1);
        const QByteArray spki =
            QCryptographicHash::hash(authority[0].publicKey().toDer(), QCryptographicHash::Sha256).toBase64();
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --proxy-server=" + standIn.proxyUrl().toEncoded() +
                                                  " --ignore-certificate-errors-spki-list=" + spki);
    }
};
