#include "standin/TestAuthority.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace
{
template <typename T, void (*Free)(T *)> struct Deleter
{
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BigNumber = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

constexpr long kHour = 3600;
constexpr long kDay = 24 * kHour;
constexpr qsizetype kMaxCommonName = 64;

Key newKey()
{
    // P-256 keys are made in about a millisecond, so a leaf per host costs nothing noticeable.
    return Key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

bool addExtension(X509 *certificate, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for `subjectName` (its common name, left out when empty) with `key`'s public half,
// signed by `issuerKey`; a null `issuer` makes it self-signed.
Certificate makeCertificate(const QByteArray &subjectName, EVP_PKEY *key, X509 *issuer, EVP_PKEY *issuerKey,
                            long lifetime, const QList<QPair<int, QByteArray>> &extensions)
{
    Certificate certificate(X509_new());
    BigNumber serial(BN_new());
    if (!certificate || !serial || X509_set_version(certificate.get(), 2) != 1 ||
        BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())))
        return nullptr;
    // An hour of slack before now keeps clocks that differ slightly from rejecting a fresh leaf.
    if (!X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -kHour) ||
        !X509_gmtime_adj(X509_getm_notAfter(certificate.get()), lifetime))
        return nullptr;
    X509_NAME *name = X509_get_subject_name(certificate.get());
    if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>("Tavrilo stand-in"), -1, -1, 0) != 1)
        return nullptr;
    if (!subjectName.isEmpty() &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(subjectName.constData()), -1, -1, 0) != 1)
        return nullptr;
    X509 *signer = issuer ? issuer : certificate.get();
    if (X509_set_issuer_name(certificate.get(), X509_get_subject_name(signer)) != 1 ||
        X509_set_pubkey(certificate.get(), key) != 1)
        return nullptr;
    for (const auto &[nid, value] : extensions) {
        if (!addExtension(certificate.get(), signer, nid, value.constData()))
            return nullptr;
    }
    if (X509_sign(certificate.get(), issuerKey, EVP_sha256()) <= 0)
        return nullptr;
    return certificate;
}

QByteArray pemOf(X509 *certificate)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1)
        return {};
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, qsizetype(size));
}

QByteArray pemOf(EVP_PKEY *key)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, qsizetype(size));
}

bool writePrivateFile(const QString &path, const QByteArray &bytes)
{
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file.write(bytes) == bytes.size() && file.flush();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

struct TestAuthority::Native
{
    Certificate certificate;
    Key key;
    Key leafKey; // one key serves every leaf: the stand-in is the only holder either way
};

TestAuthority::TestAuthority(std::unique_ptr<Native> native, QString certificatePath)
    : m_native(std::move(native)), m_certificatePath(std::move(certificatePath))
{
    m_authority = QSslCertificate(pemOf(m_native->certificate.get()), QSsl::Pem);
}

TestAuthority::~TestAuthority() = default;

std::unique_ptr<TestAuthority> TestAuthority::open(const QString &folder, QString *error)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the state folder %1").arg(folder);
        return nullptr;
    }
    const QString certificatePath = QFileInfo(QDir(folder).filePath(QStringLiteral("ca.pem"))).absoluteFilePath();
    const QString keyPath = QDir(folder).filePath(QStringLiteral("ca-key.pem"));

    auto native = std::make_unique<Native>();
    {
        const QByteArray certificatePem = readFile(certificatePath);
        const QByteArray keyPem = readFile(keyPath);
        Bio certificateBio(BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size())));
        Bio keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
        if (!certificatePem.isEmpty() && !keyPem.isEmpty() && certificateBio && keyBio) {
            native->certificate.reset(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
            native->key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
        }
    }
    time_t tomorrow = time(nullptr) + kDay;
    const bool reusable = native->certificate && native->key &&
                          X509_check_private_key(native->certificate.get(), native->key.get()) == 1 &&
                          X509_cmp_time(X509_get0_notAfter(native->certificate.get()), &tomorrow) > 0;
    if (!reusable) {
        native->key = newKey();
        if (native->key) {
            native->certificate = makeCertificate("Tavrilo stand-in test authority", native->key.get(), nullptr,
                                                  native->key.get(), 3650 * kDay,
                                                  {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                                                   {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                                   {NID_subject_key_identifier, "hash"}});
        }
        if (!native->key || !native->certificate) {
            *error = QStringLiteral("cannot make the test authority");
            return nullptr;
        }
        if (!writePrivateFile(keyPath, pemOf(native->key.get())) ||
            !writePrivateFile(certificatePath, pemOf(native->certificate.get()))) {
            *error = QStringLiteral("cannot write the test authority into %1").arg(folder);
            return nullptr;
        }
    }
    native->leafKey = newKey();
    if (!native->leafKey) {
        *error = QStringLiteral("cannot make a host key");
        return nullptr;
    }
    return std::unique_ptr<TestAuthority>(new TestAuthority(std::move(native), certificatePath));
}

const TestAuthority::Leaf &TestAuthority::leafFor(const QString &host)
{
    const QString name = host.toLower();
    if (const auto it = m_leaves.constFind(name); it != m_leaves.constEnd())
        return *it;
    const QByteArray ascii = name.toUtf8();
    // A common name holds at most 64 characters (RFC 5280's upper bound), and AppSync hosts run to
    // 80: clients match the host against subjectAltName, so a longer one is named there alone.
    const QByteArray commonName = ascii.size() <= kMaxCommonName ? ascii : QByteArray();
    Certificate certificate = makeCertificate(commonName, m_native->leafKey.get(), m_native->certificate.get(),
                                              m_native->key.get(), 30 * kDay,
                                              {{NID_basic_constraints, "critical,CA:FALSE"},
                                               {NID_key_usage, "critical,digitalSignature"},
                                               {NID_ext_key_usage, "serverAuth"},
                                               {NID_subject_alt_name, "DNS:" + ascii},
                                               {NID_authority_key_identifier, "keyid:always"}});
    Leaf leaf;
    if (certificate) {
        leaf.chain = {QSslCertificate(pemOf(certificate.get()), QSsl::Pem), m_authority};
        leaf.key = QSslKey(pemOf(m_native->leafKey.get()), QSsl::Ec, QSsl::Pem);
    }
    return *m_leaves.insert(name, std::move(leaf));
}
