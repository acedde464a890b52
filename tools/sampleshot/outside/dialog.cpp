// A desktop settings dialog in Qt Widgets, for the outside screens: form labels, filled and empty
// line edits, a spin box, a combo box, check boxes, a table and a coloured default button, drawn by
// the toolkit's own Fusion style. Built and run by render.sh under Xvfb; not part of the hub.
//   dialog [--dark] [--truth PREFIX]
// --dark gives the dialog a dark palette; --truth writes PREFIX.txt (every text the dialog shows,
// read back from its widgets) and PREFIX.buttons.txt (its push-button labels) once it is shown.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <iterator>

namespace
{
QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x2b, 0x2d, 0x30);
    const QColor text(0xe3, 0xe5, 0xe8);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0x1e, 0x1f, 0x22));
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8c, 0x90, 0x96));
    p.setColor(QPalette::Button, QColor(0x3c, 0x3f, 0x44));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x35, 0x74, 0xf0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x4a, 0x4d, 0x52));
    p.setColor(QPalette::Mid, QColor(0x25, 0x27, 0x2a));
    p.setColor(QPalette::Dark, QColor(0x1a, 0x1b, 0x1e));
    return p;
}

QLineEdit *lineEdit(const QString &text, const QString &placeholder = QString())
{
    auto *edit = new QLineEdit(text);
    edit->setPlaceholderText(placeholder);
    edit->setMinimumWidth(300);
    return edit;
}

QWidget *filtersTable()
{
    const QStringList rows[] = {
        {QStringLiteral("From contains invoices"), QStringLiteral("Billing"), QStringLiteral("Yes")},
        {QStringLiteral("Subject starts with [build]"), QStringLiteral("Builds"), QStringLiteral("No")},
        {QStringLiteral("To is team@harbourline.example"), QStringLiteral("Team"), QStringLiteral("Yes")},
    };
    auto *table = new QTableWidget(int(std::size(rows)), 3);
    table->setHorizontalHeaderLabels({QStringLiteral("Rule"), QStringLiteral("Move to"), QStringLiteral("Enabled")});
    table->verticalHeader()->hide();
    for (int r = 0; r < int(std::size(rows)); ++r) {
        for (int c = 0; c < 3; ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setFixedHeight(table->horizontalHeader()->height() + 3 * table->rowHeight(0) + 2 * table->frameWidth());
    table->setCurrentCell(1, 0);
    return table;
}

QDialog *accountDialog()
{
    auto *dialog = new QDialog;
    auto *layout = new QVBoxLayout(dialog);

    auto *heading = new QLabel(QStringLiteral("Mail account"));
    QFont big = heading->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    heading->setFont(big);
    layout->addWidget(heading);
    layout->addWidget(new QLabel(QStringLiteral("Messages are fetched over an encrypted connection.")));

    auto *server = new QGroupBox(QStringLiteral("Server"));
    auto *form = new QFormLayout(server);
    form->addRow(QStringLiteral("Display name:"), lineEdit(QStringLiteral("Nadia Okonkwo")));
    form->addRow(QStringLiteral("Email address:"), lineEdit(QStringLiteral("nadia@harbourline.example")));
    auto *host = new QHBoxLayout;
    host->addWidget(lineEdit(QStringLiteral("imap.harbourline.example")));
    host->addWidget(new QPushButton(QStringLiteral("Test connection")));
    form->addRow(QStringLiteral("Incoming server:"), host);
    auto *port = new QSpinBox;
    port->setRange(1, 65535);
    port->setValue(993);
    form->addRow(QStringLiteral("Port:"), port);
    auto *security = new QComboBox;
    security->addItems({QStringLiteral("SSL/TLS"), QStringLiteral("STARTTLS"), QStringLiteral("None")});
    form->addRow(QStringLiteral("Security:"), security);
    form->addRow(QStringLiteral("Signature:"),
                 lineEdit(QString(), QStringLiteral("Optional, shown under every message")));
    layout->addWidget(server);

    auto *sync = new QGroupBox(QStringLiteral("Sync"));
    auto *syncLayout = new QVBoxLayout(sync);
    auto *check = new QCheckBox(QStringLiteral("Check for new mail every 10 minutes"));
    check->setChecked(true);
    syncLayout->addWidget(check);
    syncLayout->addWidget(new QCheckBox(QStringLiteral("Keep a copy of messages on the server")));
    layout->addWidget(sync);

    auto *filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("Filters")));
    filters->addStretch();
    filters->addWidget(new QPushButton(QStringLiteral("Add rule")));
    filters->addWidget(new QPushButton(QStringLiteral("Remove")));
    layout->addLayout(filters);
    layout->addWidget(filtersTable());

    auto *buttons = new QDialogButtonBox;
    buttons->addButton(new QPushButton(QStringLiteral("Restore defaults")), QDialogButtonBox::ResetRole);
    buttons->addButton(new QPushButton(QStringLiteral("Cancel")), QDialogButtonBox::RejectRole);
    auto *save = new QPushButton(QStringLiteral("Save"));
    buttons->addButton(save, QDialogButtonBox::AcceptRole);
    save->setDefault(true);
    // Fusion shades a palette's button colour into a pale gradient; programs that want a solid
    // accent button style it.
    save->setStyleSheet(QStringLiteral("QPushButton { background: #1f6fd6; color: white; border: 1px solid #1a5fb8;"
                                       " border-radius: 3px; padding: 4px 18px; }"));
    layout->addWidget(buttons);
    return dialog;
}

// What the widgets show, in the order of the widget tree; the table and the compound widgets are
// read whole, so their inner editors and headers are not read twice.
void collect(const QWidget *widget, QStringList &text, QStringList &buttons)
{
    if (!widget->isVisible())
        return;
    if (const auto *label = qobject_cast<const QLabel *>(widget)) {
        text.append(label->text());
    } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget)) {
        text.append(button->text());
        if (qobject_cast<const QPushButton *>(widget))
            buttons.append(button->text());
    } else if (const auto *edit = qobject_cast<const QLineEdit *>(widget)) {
        text.append(edit->text().isEmpty() ? edit->placeholderText() : edit->text());
    } else if (const auto *spin = qobject_cast<const QAbstractSpinBox *>(widget)) {
        text.append(spin->text());
        return;
    } else if (const auto *combo = qobject_cast<const QComboBox *>(widget)) {
        text.append(combo->currentText());
        return;
    } else if (const auto *box = qobject_cast<const QGroupBox *>(widget)) {
        text.append(box->title());
    } else if (const auto *table = qobject_cast<const QTableWidget *>(widget)) {
        for (int c = 0; c < table->columnCount(); ++c)
            text.append(table->horizontalHeaderItem(c)->text());
        for (int r = 0; r < table->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < table->columnCount(); ++c)
                cells.append(table->item(r, c)->text());
            text.append(cells.join(QLatin1Char('\t')));
        }
        return;
    }
    for (const QObject *child : widget->children()) {
        if (child->isWidgetType())
            collect(static_cast<const QWidget *>(child), text, buttons);
    }
}

bool writeLines(const QString &path, const QStringList &lines)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n') > 0;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // A steady caret: the screenshot must not depend on when the blink was.
    QApplication::setCursorFlashTime(0);
    const QStringList args = QApplication::arguments();
    if (args.contains(QStringLiteral("--dark")))
        QApplication::setPalette(darkPalette());

    QDialog *dialog = accountDialog();
    dialog->setWindowTitle(QStringLiteral("Account settings"));
    dialog->show();
    dialog->activateWindow();

    const qsizetype truth = args.indexOf(QStringLiteral("--truth"));
    if (truth > 0 && truth + 1 < args.size()) {
        const QString prefix = args.at(truth + 1);
        QTimer::singleShot(0, dialog, [dialog, prefix] {
            QStringList text;
            QStringList buttons;
            collect(dialog, text, buttons);
            text.removeAll(QString());
            if (!writeLines(prefix + QStringLiteral(".txt"), text) ||
                !writeLines(prefix + QStringLiteral(".buttons.txt"), buttons))
                QApplication::exit(1);
        });
    }
    return QApplication::exec();
}
