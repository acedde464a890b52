#include "core/HubError.h"
#include "core/HubLayout.h"
#include "core/ResourceBundle.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{
QString sentenceOf(const QStringList &candidates)
{
    try {
        HubLayout::load(candidates);
    } catch (const HubError &error) {
        return error.description();
    }
    return {};
}

// Without the application's resource folder, or with the folder but no layout in it, the layout is
// reported missing instead of the process ending: the window opens and says what is wrong.
TEST(LayoutBundle, MissingFolderOrFileIsAMissingResource)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_EQ(sentenceOf({empty.path()}), QStringLiteral("Shared layout resource missing."));
    EXPECT_EQ(sentenceOf({}), QStringLiteral("Shared layout resource missing."));

    ASSERT_TRUE(QDir(empty.path()).mkdir(ResourceBundle::bundleName(ResourceBundle::Module::TavriloHub)));
    EXPECT_EQ(sentenceOf({empty.path()}), QStringLiteral("Shared layout resource missing."));
}

TEST(LayoutBundle, InstalledLayoutLoads)
{
    EXPECT_NO_THROW(HubLayout::load(ResourceBundle::defaultCandidates()));
}
} // namespace
