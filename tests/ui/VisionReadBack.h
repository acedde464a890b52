#pragma once

// A PNG read back with the hub's own vision command (built beside the test): the recognised text
// and the copy defects it reports.
#include "core/Json.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>

namespace visionreadback
{
struct Reading
{
    QString text; // every recognised block, joined by spaces
    Json issues;
};

inline Reading read(const QString &png)
{
    QProcess vision;
    vision.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tavrilo-hub"),
                 {QStringLiteral("--vision-analyze"), png});
    EXPECT_TRUE(vision.waitForFinished(120000));
    const std::optional<Json> report = json::tryParse(vision.readAllStandardOutput().trimmed());
    EXPECT_TRUE(report && report->value("ok", false));
    if (!report)
        return {};
    Reading reading;
    QStringList blocks;
    for (const Json &block : report->value("ocrBlocks", Json::array()))
        blocks.append(json::toQString(block.value("text", std::string())));
    reading.text = blocks.join(u' ').simplified();
    reading.issues = report->value("copyQuality", Json::object()).value("issues", Json::array());
    return reading;
}

// Each of `texts` was recognised, and no copy defect was reported.
inline void expectFound(const Reading &reading, const QStringList &texts)
{
    for (const QString &text : texts)
        EXPECT_TRUE(reading.text.contains(text)) << text.toStdString() << " not in: " << reading.text.toStdString();
    EXPECT_TRUE(reading.issues.empty()) << reading.issues.dump();
}
} // namespace visionreadback
