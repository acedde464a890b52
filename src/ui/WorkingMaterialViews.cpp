#include "ui/WorkingMaterialViews.h"

#include "session/HubModel.h"

#include <QPainter>


ASTOutlineModel::ASTOutlineModel(QObject *parent) : QAbstractItemModel(parent) {}

ASTOutlineModel::~ASTOutlineModel() = default;

void ASTOutlineModel::build(Node &into, const QVariantList &nodes)
{
    for (const QVariant &value : nodes) {
        const QVariantMap map = value.toMap();
        auto node = std::make_unique<Node>();
        node->label = map.value(QStringLiteral("label")).toString();
        node->parent = &into;
        node->row = int(into.children.size());
        build(*node, map.value(QStringLiteral("children")).toList());
        into.children.push_back(std::move(node));
    }
}

void ASTOutlineModel::setNodes(const QVariantList &nodes)
{
    if (nodes == m_nodes)
        return;
    beginResetModel();
    m_nodes = nodes;
    m_root.children.clear();
    build(m_root, m_nodes);
    endResetModel();
    Q_EMIT nodesChanged();
}

const ASTOutlineModel::Node &ASTOutlineModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? *static_cast<const Node *>(index.internalPointer()) : m_root;
}

QModelIndex ASTOutlineModel::index(int row, int column, const QModelIndex &parent) const
{
    const Node &node = nodeOf(parent);
    if (column != 0 || row < 0 || row >= int(node.children.size()))
        return {};
    return createIndex(row, column, node.children.at(row).get());
}

QModelIndex ASTOutlineModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    const Node *up = nodeOf(child).parent;
    if (!up || up == &m_root)
        return {};
    return createIndex(up->row, 0, const_cast<Node *>(up));
}

int ASTOutlineModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(nodeOf(parent).children.size());
}

int ASTOutlineModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant ASTOutlineModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != LabelRole && role != Qt::DisplayRole))
        return {};
    return nodeOf(index).label;
}

QHash<int, QByteArray> ASTOutlineModel::roleNames() const
{
    return {{LabelRole, QByteArrayLiteral("label")}, {Qt::DisplayRole, QByteArrayLiteral("display")}};
}

CapturedImage::CapturedImage(QQuickItem *parent) : QQuickPaintedItem(parent) {}

HubModel *CapturedImage::model() const
{
    return m_model;
}

void CapturedImage::setModel(HubModel *model)
{
    if (m_model == model)
        return;
    m_model = model;
    follow();
    Q_EMIT modelChanged();
}

void CapturedImage::setSource(const QString &source)
{
    if (m_source == source)
        return;
    m_source = source;
    follow();
    Q_EMIT sourceChanged();
}

void CapturedImage::setTopAligned(bool topAligned)
{
    if (m_topAligned == topAligned)
        return;
    m_topAligned = topAligned;
    update();
    Q_EMIT topAlignedChanged();
}

void CapturedImage::follow()
{
    disconnect(m_connection);
    if (m_model) {
        m_connection = m_source == QStringLiteral("browser")
                           ? connect(m_model, &HubModel::capturedBrowserChanged, this, [this] { update(); })
                           : connect(m_model, &HubModel::capturedPDFChanged, this, [this] { update(); });
    }
    update();
}

QImage CapturedImage::picture() const
{
    if (!m_model)
        return {};
    return m_source == QStringLiteral("browser") ? m_model->capturedBrowser() : m_model->capturedPDF();
}

QRectF CapturedImage::fitted(QSizeF image, QRectF bounds, bool topAligned)
{
    if (image.isEmpty() || bounds.isEmpty())
        return {};
    const QSizeF size = image.scaled(bounds.size(), Qt::KeepAspectRatio);
    const qreal x = bounds.x() + (bounds.width() - size.width()) / 2;
    const qreal y = topAligned ? bounds.y() : bounds.y() + (bounds.height() - size.height()) / 2;
    return {QPointF(x, y), size};
}

void CapturedImage::paint(QPainter *painter)
{
    const QImage image = picture();
    const QRectF target = fitted(image.deviceIndependentSize(), QRectF(0, 0, width(), height()), m_topAligned);
    if (target.isEmpty())
        return;
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(target, image);
}
