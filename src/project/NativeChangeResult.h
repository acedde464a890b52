#pragma once

#include <QList>
#include <QString>

#include <optional>

// One changed file of the project's working tree.
struct NativeChangeFile
{
    QString path;
    QString status;
};

// One node of a changed file's syntax-tree summary.
struct NativeASTChange
{
    QString kind;
    QString name;
};

// The syntax-tree summary of one changed file.
struct NativeASTResult
{
    QString status;
    std::optional<QString> language;
    std::optional<QString> scope;
    std::optional<QList<NativeASTChange>> nodes;
    std::optional<QString> reason;
};

// The changes companion's reply.
struct NativeChangeResult
{
    QString kind;
    QList<NativeChangeFile> files;
    bool truncated = false;
    std::optional<QString> selected;
    std::optional<QString> selectionError;
    std::optional<QString> message;
};
