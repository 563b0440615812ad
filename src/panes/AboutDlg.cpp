#include "panes/AboutDlg.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "resources/QtResources.h"

namespace {

QLabel* MakeLink(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()));
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}

}  // namespace

QPixmap CAboutDlg::Emblem()
{
    static const QPixmap s_emblem = [] {
        constexpr int W = 128, H = 263;
        QImage img(W, H, QImage::Format_RGB888);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, true);

        QLinearGradient sky(0, 0, 0, H);
        sky.setColorAt(0.0, QColor(0, 92, 110));
        sky.setColorAt(1.0, QColor(0, 38, 48));
        p.fillRect(img.rect(), sky);

        // Recording paper: a faint millimetre grid.
        p.setPen(QPen(QColor(0, 120, 130, 90), 1));
        for (int x = 4; x < W; x += 8)
            p.drawLine(x, 120, x, 200);
        for (int y = 120; y <= 200; y += 8)
            p.drawLine(0, y, W, y);

        // Heart.
        QPainterPath heart;
        const double cx = W / 2.0, top = 44;
        heart.moveTo(cx, top + 12);
        heart.cubicTo(cx - 8, top - 10, cx - 46, top - 6, cx - 44, top + 22);
        heart.cubicTo(cx - 42, top + 44, cx - 14, top + 58, cx, top + 76);
        heart.cubicTo(cx + 14, top + 58, cx + 42, top + 44, cx + 44, top + 22);
        heart.cubicTo(cx + 46, top - 6, cx + 8, top - 10, cx, top + 12);
        QRadialGradient red(cx - 14, top + 14, 60);
        red.setColorAt(0.0, QColor(255, 120, 120));
        red.setColorAt(1.0, QColor(190, 20, 40));
        p.setPen(QPen(QColor(255, 220, 220), 2));
        p.setBrush(red);
        p.drawPath(heart);

        // One beat of trace across the paper.
        const QPointF trace[] = {{0, 168},  {30, 168}, {38, 162}, {46, 168}, {54, 168}, {58, 174}, {64, 126},
                                 {70, 184}, {74, 168}, {86, 168}, {96, 158}, {106, 168}, {128, 168}};
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(120, 255, 160), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(trace, int(std::size(trace)));

        p.setPen(QColor(200, 240, 240));
        QFont font;
        font.setPixelSize(15);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRect(0, 214, W, 22), Qt::AlignCenter, QStringLiteral("ECG"));
        font.setPixelSize(11);
        font.setBold(false);
        p.setFont(font);
        p.drawText(QRect(0, 236, W, 16), Qt::AlignCenter, QStringLiteral("25 mm/s · 10 mm/mV"));
        p.end();
        return QPixmap::fromImage(img);
    }();
    return s_emblem;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(ToQString(Text::kAboutTitle));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* picture = new QLabel(this);
    picture->setPixmap(Emblem());
    picture->setFixedSize(128, 263);

    auto* title = new QLabel(LoadQString(IDR_MAINFRAME), this);
    auto* company = new QLabel(LoadQString(IDS_COMPANY), this);
    auto* web = MakeLink(ToQString(Text::kMakerWeb), this);
    web->setObjectName(QStringLiteral("IDC_1037"));
    auto* phone = new QLabel(ToQString(Text::kMakerPhone), this);
    auto* mail = MakeLink(ToQString(Text::kMakerMail), this);
    mail->setObjectName(QStringLiteral("IDC_1038"));
    title->setMinimumWidth(253);   // the dialog is 465 pixels wide
    for (QLabel* l : {title, company, phone})
        l->setTextFormat(Qt::PlainText);
    connect(web, &QLabel::linkActivated, this, &CAboutDlg::OnWebLink);
    connect(mail, &QLabel::linkActivated, this, &CAboutDlg::OnMailLink);

    auto* ok = new QPushButton(ToQString(Text::kOk), this);
    ok->setObjectName(QStringLiteral("IDC_1"));
    ok->setDefault(true);
    ok->setMinimumWidth(88);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // The emblem on the left, two blocks of lines on the right,
    // OK at the bottom right.
    auto* lines = new QVBoxLayout;
    lines->setSpacing(4);
    lines->addSpacing(34);
    lines->addWidget(title);
    lines->addSpacing(24);
    lines->addWidget(company);
    lines->addWidget(web);
    lines->addSpacing(24);
    lines->addWidget(phone);
    lines->addWidget(mail);
    lines->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    lines->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(0);
    layout->addWidget(picture, 0, Qt::AlignTop);
    layout->addSpacing(60);
    layout->addLayout(lines, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CAboutDlg::OnWebLink()
{
    // The result is not examined: a failure to open shows nothing.
    QDesktopServices::openUrl(QUrl(ToQString(Text::kMakerWeb)));
}

void CAboutDlg::OnMailLink()
{
    // "mailto://address" would make the address a host part that mail clients drop.
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + ToQString(Text::kMakerMail)));
}
