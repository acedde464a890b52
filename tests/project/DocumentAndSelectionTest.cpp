#include "core/HubError.h"
#include "project/DocumentOpening.h"
#include "project/ProjectSelection.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{
class Documents : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return QFileInfo(folder.path()).canonicalFilePath() + u'/' + name; }
    QString write(const QString &name, const QByteArray &bytes) const
    {
        testsupport::writeFile(path(name), bytes);
        return path(name);
    }
    // A PDF with one page per text; an empty text makes a page without a text layer.
    QString pdf(const QString &name, const QStringList &pages) const
    {
        QPdfWriter writer(path(name));
        QPainter painter(&writer);
        for (qsizetype i = 0; i < pages.size(); ++i) {
            if (i > 0)
                writer.newPage();
            if (!pages[i].isEmpty())
                painter.drawText(QPointF(400, 800), pages[i]);
        }
        painter.end();
        return path(name);
    }
    QString errorOf(const QString &file) const
    {
        try {
            documentopening::read(file);
            return QStringLiteral("<opened>");
        } catch (const HubError &error) {
            return error.description();
        }
    }

    QTemporaryDir folder;
};

TEST_F(Documents, TextUpToItsLimitAsStrictUtf8)
{
    const QString accepted = write(QStringLiteral("big.txt"), QByteArray(9999999, 'a'));
    EXPECT_EQ(documentopening::read(accepted).text.size(), 9999999);
    EXPECT_EQ(errorOf(write(QStringLiteral("over.txt"), QByteArray(10000000, 'a'))),
              QStringLiteral("Choose a document smaller than 10 MB."));
    EXPECT_EQ(errorOf(folder.path()), QStringLiteral("Choose a document smaller than 10 MB."));
    EXPECT_EQ(
        errorOf(write(QStringLiteral("latin.txt"), "caf\xe9")),
        QStringLiteral("The file \u201Clatin.txt\u201D couldn\u2019t be opened because it isn\u2019t UTF-8 text."));
    EXPECT_TRUE(
        errorOf(path(QStringLiteral("missing.txt"))).startsWith(QStringLiteral("The file \u201Cmissing.txt\u201D")));

    const documentopening::Opened flags{path(QStringLiteral("f.md")), QStringLiteral("\U0001F1EB\U0001F1F7 ok")};
    EXPECT_EQ(documentopening::openedPayload(flags),
              (QMap<QString, QString>{{QStringLiteral("path"), flags.path},
                                      {QStringLiteral("characters"), QStringLiteral("4")}}));
}

TEST_F(Documents, PdfByItsExtensionInAnyCase)
{
    const QString report =
        pdf(QStringLiteral("Report.PDF"), {QStringLiteral("Quarterly figures"), QStringLiteral("Page two")});
    const documentopening::Opened opened = testsupport::awaitFor(documentopening::readDetached(report));
    EXPECT_TRUE(opened.text.contains(QStringLiteral("Quarterly figures")));
    EXPECT_TRUE(opened.text.contains(QStringLiteral("Page two")));

    const QString scanned = pdf(QStringLiteral("scan.pdf"), {QString()});
    EXPECT_EQ(documentopening::read(scanned).text, QString());
    EXPECT_EQ(documentopening::openedPayload(documentopening::read(scanned)).value(QStringLiteral("characters")),
              QStringLiteral("0"));

    EXPECT_EQ(errorOf(write(QStringLiteral("fake.pdf"), "just text")), QStringLiteral("This PDF could not be opened."));
    // Named as text, a PDF is read as text.
    QFile::copy(report, path(QStringLiteral("report.txt")));
    EXPECT_NE(errorOf(path(QStringLiteral("report.txt"))), QStringLiteral("This PDF could not be opened."));
}

struct AddressCase
{
    const char *name;
    QString typed;
    bool accepted;
};

class RepositoryAddress : public ::testing::TestWithParam<AddressCase>
{
};

TEST_P(RepositoryAddress, OnlyPlainHttps)
{
    EXPECT_EQ(projectselection::repositoryAddress(GetParam().typed).has_value(), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RepositoryAddress,
    ::testing::Values(AddressCase{"plain", QStringLiteral("https://git.example.com/team/app.git"), true},
                      AddressCase{"trimmed", QStringLiteral("  https://git.example.com/app\n"), true},
                      AddressCase{"port", QStringLiteral("https://git.example.com:8443/app"), true},
                      AddressCase{"http", QStringLiteral("http://git.example.com/app"), false},
                      AddressCase{"upperScheme", QStringLiteral("HTTPS://git.example.com/app"), false},
                      AddressCase{"ssh", QStringLiteral("git@git.example.com:team/app.git"), false},
                      AddressCase{"file", QStringLiteral("file:///srv/app"), false},
                      AddressCase{"user", QStringLiteral("https://me@git.example.com/app"), false},
                      AddressCase{"password", QStringLiteral("https://me:pw@git.example.com/app"), false},
                      AddressCase{"emptyUser", QStringLiteral("https://@git.example.com/app"), false},
                      AddressCase{"query", QStringLiteral("https://git.example.com/app?x=1"), false},
                      AddressCase{"emptyQuery", QStringLiteral("https://git.example.com/app?"), false},
                      AddressCase{"fragment", QStringLiteral("https://git.example.com/app#main"), false},
                      AddressCase{"emptyFragment", QStringLiteral("https://git.example.com/app#"), false},
                      AddressCase{"noHost", QStringLiteral("https:///app"), false},
                      AddressCase{"notUrl", QStringLiteral("https://exa mple.com/app"), false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ProjectSelection, InsideAndIdentity)
{
    EXPECT_TRUE(projectselection::strictlyInside(QStringLiteral("/w"), QStringLiteral("/w/repo")));
    EXPECT_FALSE(projectselection::strictlyInside(QStringLiteral("/w"), QStringLiteral("/w")));
    EXPECT_FALSE(projectselection::strictlyInside(QStringLiteral("/w"), QStringLiteral("/work/repo")));
    EXPECT_TRUE(projectselection::strictlyInside(QStringLiteral("/"), QStringLiteral("/repo")));

    QTemporaryDir base;
    const QString root = QFileInfo(base.path()).canonicalFilePath();
    QDir(root).mkpath(QStringLiteral("a/b"));
    QFile::link(root + QStringLiteral("/a"), root + QStringLiteral("/link"));
    EXPECT_EQ(projectselection::resolved(root + QStringLiteral("/link/b/../b/")), root + QStringLiteral("/a/b"));
    EXPECT_EQ(projectselection::resolved(root + QStringLiteral("/link/missing/x")),
              root + QStringLiteral("/a/missing/x"));

    const auto first = projectselection::directoryIdentity(root + QStringLiteral("/a"));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(projectselection::directoryIdentity(root + QStringLiteral("/link")), first);
    // Another folder put in its place while the first still exists elsewhere is another object.
    QDir(root).rename(QStringLiteral("a"), QStringLiteral("a.old"));
    QDir(root).mkpath(QStringLiteral("a"));
    EXPECT_NE(projectselection::directoryIdentity(root + QStringLiteral("/a")), first);
    testsupport::writeFile(root + QStringLiteral("/file"), "x");
    EXPECT_FALSE(projectselection::directoryIdentity(root + QStringLiteral("/file")).has_value());
    EXPECT_THROW(projectselection::directoryIdentity(root + QStringLiteral("/missing")), HubError);
}
} // namespace
