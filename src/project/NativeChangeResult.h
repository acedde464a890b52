#pragma once

#include "core/Json.h"

#include <QList>
#include <QString>

#include <optional>

// One changed file of the project's working tree.
struct NativeChangeFile
{
    QString path;
    QString status;

    bool operator==(const NativeChangeFile &) const = default;
};

// One node of a changed file's syntax-tree summary: a changed declaration or import and the changes
// nested in it.
struct NativeASTChange
{
    QString id;
    QString kind;
    QString name;
    QString change;
    std::optional<qint64> beforeLine;
    std::optional<qint64> afterLine;
    QList<NativeASTChange> children;

    // The children, none for a leaf.
    std::optional<QList<NativeASTChange>> descendants() const;
    // "modified · function load · 12 → 14"; "new" and "removed" stand for missing lines.
    QString label() const;

    bool operator==(const NativeASTChange &) const;
};

// The syntax-tree summary of one changed file.
struct NativeASTResult
{
    // "parsed" when `nodes` holds a summary.
    QString status;
    std::optional<QString> language;
    std::optional<QString> scope;
    std::optional<QList<NativeASTChange>> nodes;
    std::optional<QString> reason;

    bool operator==(const NativeASTResult &) const = default;
};

// The changes companion's reply.
struct NativeChangeResult
{
    // The selected file's details.
    struct Selection
    {
        QString path;
        QString diff;
        std::optional<NativeASTResult> ast;

        bool operator==(const Selection &) const = default;
    };

    // "changes" for a usable reply.
    QString kind;
    QList<NativeChangeFile> files;
    bool truncated = false;
    std::optional<Selection> selected;
    std::optional<QString> selectionError;
    std::optional<QString> message;

    // Decodes a reply strictly: listed keys only, required ones present with their types, nesting
    // of the summary bounded. Throws HubError with the decoding sentence.
    static NativeChangeResult decode(const QByteArray &bytes);
    // A usable reply's kind is "changes"; anything else fails with its `message` or the fixed sentence.
    bool usable() const { return kind == QLatin1String("changes"); }
    QString failure() const;
};
