#pragma once

#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <memory>

// The stand-in's own certificate authority. Clients trust it through its PEM file; for every host
// the stand-in plays it issues a certificate that names the host in subjectAltName.
class TestAuthority
{
public:
    struct Leaf
    {
        QList<QSslCertificate> chain; // the host's certificate, then the authority's
        QSslKey key;
    };

    ~TestAuthority();
    TestAuthority(const TestAuthority &) = delete;
    TestAuthority &operator=(const TestAuthority &) = delete;

    // Loads the authority kept in `folder` ("ca.pem", "ca-key.pem") when it is there and valid for
    // at least another day, or makes a new one there. Null with `error` set when that fails.
    static std::unique_ptr<TestAuthority> open(const QString &folder, QString *error);

    // Absolute path of the authority's certificate (PEM).
    QString certificatePath() const { return m_certificatePath; }

    // A certificate for `host` (made on first use, then kept for the life of the process).
    const Leaf &leafFor(const QString &host);

private:
    struct Native;
    explicit TestAuthority(std::unique_ptr<Native> native, QString certificatePath);

    std::unique_ptr<Native> m_native;
    QString m_certificatePath;
    QSslCertificate m_authority;
    QHash<QString, Leaf> m_leaves;
};
