#include "project/NativeChangeResult.h"

#include "core/HubError.h"
#include "core/StrictDecoder.h"

namespace
{
// The summary's tree is walked recursively; deeper replies are refused where they come in.
constexpr int kMaxDepth = 64;

[[noreturn]] void fail()
{
    throw HubError(json::decodingErrorSentence());
}

// The array under `key`, none when it is absent or null.
const Json *optionalArray(const Json &object, const char *key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return nullptr;
    if (!found->is_array())
        fail();
    return &*found;
}

NativeASTChange decodeChange(const Json &object, int depth)
{
    if (depth > kMaxDepth)
        fail();
    const StrictDecoder fields(object);
    NativeASTChange change;
    change.id = fields.text("id");
    change.kind = fields.text("kind");
    change.name = fields.text("name");
    change.change = fields.text("change");
    change.beforeLine = fields.optionalInteger("beforeLine");
    change.afterLine = fields.optionalInteger("afterLine");
    for (const Json &child : fields.array("children"))
        change.children.append(decodeChange(child, depth + 1));
    return change;
}

NativeASTResult decodeAST(const Json &object)
{
    const StrictDecoder fields(object);
    NativeASTResult ast;
    ast.status = fields.text("status");
    ast.language = fields.optionalText("language");
    ast.scope = fields.optionalText("scope");
    ast.reason = fields.optionalText("reason");
    if (const Json *nodes = optionalArray(object, "nodes")) {
        QList<NativeASTChange> decoded;
        for (const Json &node : *nodes)
            decoded.append(decodeChange(node, 1));
        ast.nodes = std::move(decoded);
    }
    return ast;
}
} // namespace

std::optional<QList<NativeASTChange>> NativeASTChange::descendants() const
{
    if (children.isEmpty())
        return std::nullopt;
    return children;
}

QString NativeASTChange::label() const
{
    static const QString dot = QStringLiteral(" \u00B7 ");
    return change + dot + kind + u' ' + name + dot +
           (beforeLine ? QString::number(*beforeLine) : QStringLiteral("new")) + QStringLiteral(" \u2192 ") +
           (afterLine ? QString::number(*afterLine) : QStringLiteral("removed"));
}

bool NativeASTChange::operator==(const NativeASTChange &other) const
{
    return id == other.id && kind == other.kind && name == other.name && change == other.change &&
           beforeLine == other.beforeLine && afterLine == other.afterLine && children == other.children;
}

NativeChangeResult NativeChangeResult::decode(const QByteArray &bytes)
{
    const Json document = json::parse(bytes, kMaxDepth * 2 + 8);
    const StrictDecoder fields(document);
    NativeChangeResult result;
    result.kind = fields.text("kind");
    if (const Json *files = optionalArray(document, "files")) {
        for (const Json &file : *files) {
            const StrictDecoder row(file);
            result.files.append({row.text("path"), row.text("status")});
        }
    }
    result.truncated = fields.optionalBoolean("truncated").value_or(false);
    if (const Json *selected = fields.optionalObject("selected")) {
        const StrictDecoder selection(*selected);
        Selection chosen{selection.text("path"), selection.text("diff"), std::nullopt};
        if (const Json *ast = selection.optionalObject("ast"))
            chosen.ast = decodeAST(*ast);
        result.selected = std::move(chosen);
    }
    result.selectionError = fields.optionalText("selectionError");
    result.message = fields.optionalText("message");
    return result;
}

QString NativeChangeResult::failure() const
{
    return message.value_or(QStringLiteral("Working-tree changes could not be read."));
}
