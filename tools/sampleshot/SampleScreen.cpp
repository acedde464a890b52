#include "SampleScreen.h"

#include <QFont>
#include <QPainter>
#include <QStringList>

namespace
{
const QColor kInk(0x1d, 0x23, 0x2b);
const QColor kMuted(0x6b, 0x72, 0x80);
const QColor kPaper(0xf6, 0xf7, 0xf9);
const QColor kLine(0xd5, 0xd9, 0xe0);
const QColor kGreen(0x1f, 0x8a, 0x4c);

QFont font(int points, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(points);
    f.setBold(bold);
    return f;
}

// A white rounded panel with its bold title; leaves the body font selected.
void panel(QPainter &p, const QRect &r, const QString &title)
{
    p.setPen(kLine);
    p.setBrush(Qt::white);
    p.drawRoundedRect(r, 6, 6);
    p.setPen(kInk);
    p.setFont(font(15, true));
    p.drawText(QRect(r.left() + 14, r.top() + 10, r.width() - 28, 24), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(font(13));
}

void card(QPainter &p, const QRect &r, const QString &title, const QStringList &lines)
{
    panel(p, r, title);
    int y = r.top() + 38;
    for (const QString &line : lines) {
        if (y + 18 > r.bottom())
            break;
        p.setPen(line.startsWith(QLatin1Char('~')) ? kMuted : kInk);
        p.drawText(QRect(r.left() + 14, y, r.width() - 28, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   line.startsWith(QLatin1Char('~')) ? line.mid(1) : line);
        y += 22;
    }
}

void button(QPainter &p, const QRect &r, const QString &label, bool primary)
{
    p.setPen(primary ? kGreen : kLine);
    p.setBrush(primary ? kGreen : Qt::white);
    p.drawRoundedRect(r, 5, 5);
    p.setPen(primary ? Qt::white : kInk);
    p.setFont(font(13, true));
    p.drawText(r, Qt::AlignCenter, label);
}
} // namespace

QImage SampleScreen::render(int scale)
{
    QImage image(1440 * scale, 900 * scale, QImage::Format_RGB32);
    image.fill(kPaper);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(scale, scale);

    // Header.
    p.fillRect(QRect(0, 0, 1440, 56), Qt::white);
    p.setPen(kLine);
    p.drawLine(0, 56, 1440, 56);
    p.setPen(kInk);
    p.setFont(font(18, true));
    p.drawText(QRect(24, 0, 400, 56), Qt::AlignVCenter, QStringLiteral("Tavrilo Workspace"));
    p.setFont(font(13));
    p.setPen(kMuted);
    p.drawText(QRect(300, 0, 700, 56), Qt::AlignVCenter,
               QStringLiteral("Project: billing-service    Branch: main    Session: prj-4f2a91c07d"));
    button(p, QRect(1180, 12, 110, 32), QStringLiteral("Run workforce"), true);
    button(p, QRect(1300, 12, 116, 32), QStringLiteral("Stop session"), false);

    // Sidebar.
    p.fillRect(QRect(0, 57, 240, 843), Qt::white);
    p.setPen(kLine);
    p.drawLine(240, 57, 240, 900);
    const QStringList sidebar{
        QStringLiteral("Overview"),       QStringLiteral("Specialists"), QStringLiteral("Positions"),
        QStringLiteral("Release checks"), QStringLiteral("Approvals"),   QStringLiteral("Build shell"),
        QStringLiteral("Live browser"),   QStringLiteral("Changes"),     QStringLiteral("Journal"),
        QStringLiteral("Usage and cost"), QStringLiteral("Settings")};
    p.setFont(font(14));
    for (int i = 0; i < sidebar.size(); ++i) {
        p.setPen(i == 0 ? kGreen : kInk);
        p.drawText(QRect(28, 80 + i * 34, 200, 26), Qt::AlignVCenter, sidebar[i]);
    }

    // Cards.
    card(p, QRect(264, 80, 360, 250), QStringLiteral("Turn status"),
         {QStringLiteral("The reviewer approved the change set."), QStringLiteral("Build verified in 42 seconds."),
          QStringLiteral("~Started 10:42, finished 11:05"), QStringLiteral("Tokens used: 184,220"),
          QStringLiteral("Cost so far: NaN credits"), QStringLiteral("~Next check in 5 minutes")});
    card(p, QRect(640, 80, 380, 250), QStringLiteral("Specialist updates"),
         {QStringLiteral("Architect: split the invoice module."), QStringLiteral("Engineer: wrote 12 files, 3 tests."),
          QStringLiteral("Reviewer: asked for clearer names."), QStringLiteral("Hello {{name}}, your report is ready."),
          QStringLiteral("~Last update 2 minutes ago")});
    card(p, QRect(1036, 80, 380, 250), QStringLiteral("Release checks"),
         {QStringLiteral("Security review: passed"), QStringLiteral("Performance budget: passed"),
          QStringLiteral("Accessibility: undefined"), QStringLiteral("Documentation: needs work"),
          QStringLiteral("~Evaluated by three specialists")});

    // Table.
    panel(p, QRect(264, 350, 756, 320), QStringLiteral("Positions"));
    const QStringList columns{QStringLiteral("Specialist"), QStringLiteral("Position"), QStringLiteral("Confidence")};
    const QList<QStringList> rows{
        {QStringLiteral("Architect"), QStringLiteral("Keep the public interface"), QStringLiteral("0.92")},
        {QStringLiteral("Engineer"), QStringLiteral("Move parsing into a module"), QStringLiteral("0.81")},
        {QStringLiteral("Reviewer"), QStringLiteral("Total total must match ledger"), QStringLiteral("0.77")},
        {QStringLiteral("Tester"), QStringLiteral("Add a regression case"), QStringLiteral("0.88")},
        {QStringLiteral("Designer"), QStringLiteral("[object Object]"), QStringLiteral("0.40")},
        {QStringLiteral("Writer"), QStringLiteral("Lorem ipsum dolor sit amet"), QStringLiteral("0.35")},
        {QStringLiteral("Operator"), QStringLiteral("Deploy after approval"), QStringLiteral("0.90")},
    };
    p.setFont(font(13, true));
    p.setPen(kMuted);
    const int columnX[] = {278, 450, 880};
    for (int c = 0; c < 3; ++c)
        p.drawText(QRect(columnX[c], 394, 300, 22), Qt::AlignVCenter, columns[c]);
    p.setFont(font(13));
    for (int r = 0; r < rows.size(); ++r) {
        const int y = 426 + r * 32;
        p.setPen(kLine);
        p.drawLine(278, y - 4, 1006, y - 4);
        p.setPen(kInk);
        for (int c = 0; c < 3; ++c)
            p.drawText(QRect(columnX[c], y, 420, 24), Qt::AlignVCenter, rows[r][c]);
    }

    // Form and buttons.
    panel(p, QRect(1036, 350, 380, 320), QStringLiteral("Interject"));
    p.setPen(kMuted);
    p.drawText(QRect(1050, 396, 340, 20), Qt::AlignVCenter, QStringLiteral("Message to the specialists"));
    p.setPen(kLine);
    p.setBrush(kPaper);
    p.drawRect(QRect(1050, 420, 350, 110));
    p.setPen(kInk);
    p.drawText(QRect(1060, 428, 330, 20), Qt::AlignVCenter, QStringLiteral("Please keep the old file format."));
    button(p, QRect(1050, 550, 110, 32), QStringLiteral("Send"), true);
    button(p, QRect(1170, 550, 110, 32), QStringLiteral("Skip step"), false);
    button(p, QRect(1290, 550, 110, 32), QStringLiteral("Pause"), false);

    // Journal strip.
    panel(p, QRect(264, 690, 1152, 190), QStringLiteral("Local journal"));
    const QStringList events{QStringLiteral("11:05:12  turn_completed  reviewer  grade A"),
                             QStringLiteral("11:04:58  tool_end  project_verify_build  ok"),
                             QStringLiteral("11:04:31  tool_start  project_verify_build"),
                             QStringLiteral("11:03:02  position  engineer  Move parsing into a module"),
                             QStringLiteral("11:01:47  approval  release  waiting for the operator")};
    for (int i = 0; i < events.size(); ++i) {
        p.setPen(i == 0 ? kGreen : kInk);
        p.drawText(QRect(278, 730 + i * 28, 1100, 22), Qt::AlignVCenter, events[i]);
    }
    p.end();
    return image;
}
