#pragma once

#include "session/HubModel.h"

#include <QAbstractItemModel>
#include <QImage>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <vector>


// The syntax-tree outline of a changed file: the model's node maps ("label", "children") as a tree
// for a TreeView.
class ASTOutlineModel : public QAbstractItemModel
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVariantList nodes READ nodes WRITE setNodes NOTIFY nodesChanged)

public:
    enum Role { LabelRole = Qt::UserRole + 1 };

    explicit ASTOutlineModel(QObject *parent = nullptr);
    ~ASTOutlineModel() override;

    const QVariantList &nodes() const { return m_nodes; }
    void setNodes(const QVariantList &nodes);

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void nodesChanged();

private:
    struct Node
    {
        QString label;
        Node *parent = nullptr;
        int row = 0;
        std::vector<std::unique_ptr<Node>> children;
    };
    static void build(Node &into, const QVariantList &nodes);
    const Node &nodeOf(const QModelIndex &index) const;

    QVariantList m_nodes;
    Node m_root;
};

// A picture the headless export captured beforehand, in place of a live view it cannot draw: the
// model's `capturedPDF` or `capturedBrowser`, scaled to fit with its aspect kept, centred
// horizontally and placed at the top (`topAligned`) or centred.
class CapturedImage : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(HubModel *model READ model WRITE setModel NOTIFY modelChanged)
    // "pdf" or "browser".
    Q_PROPERTY(QString source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(bool topAligned READ topAligned WRITE setTopAligned NOTIFY topAlignedChanged)

public:
    explicit CapturedImage(QQuickItem *parent = nullptr);

    HubModel *model() const;
    void setModel(HubModel *model);
    const QString &source() const { return m_source; }
    void setSource(const QString &source);
    bool topAligned() const { return m_topAligned; }
    void setTopAligned(bool topAligned);

    void paint(QPainter *painter) override;

    // Where an image of `image` size goes inside `bounds`, fitted with its aspect kept.
    static QRectF fitted(QSizeF image, QRectF bounds, bool topAligned);

Q_SIGNALS:
    void modelChanged();
    void sourceChanged();
    void topAlignedChanged();

private:
    QImage picture() const;
    void follow();

    QPointer<HubModel> m_model;
    QString m_source;
    bool m_topAligned = false;
    QMetaObject::Connection m_connection;
};
