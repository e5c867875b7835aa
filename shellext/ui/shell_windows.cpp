#include "shellext/ui/shell_windows.h"

#include "platform/ui/plain_menu.h"

#include <QAction>
#include <QColor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFontMetrics>
#include <QFormLayout>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace ombrix::shellext {
namespace {

// The disc types in the order of the classic set; the newer set holds the same types from
// kNewerSetStart on.
struct DiscKind {
    QRgb colour;
    const char* mark;  // UTF-8
};

constexpr std::array<DiscKind, 17> kKinds{{
    {0xff9fb4c8, "CD"},   // data
    {0xffe0b030, "♪"},    // audio
    {0xffd04040, "V"},    // video
    {0xff8050c0, "CDI"},  // interactive
    {0xff30a0a0, "MM"},   // multimedia
    {0xff50a040, "XA"},   // extended architecture
    {0xffe07a20, "PH"},   // photo
    {0xff3050b0, "DVD"},  // DVD
    {0xff8a6a50, "HD"},   // high-density
    {0xfff07090, "A"},    // mixed: audio tracks
    {0xffb03070, "V"},    // mixed: video tracks
    {0xff6080e0, "D"},    // mixed: data tracks
    {0xffc0c040, "AV"},   // mixed: audio and video
    {0xff40c080, "AD"},   // mixed: audio and data
    {0xffa05030, "VD"},   // mixed: video and data
    {0xff404858, "AVD"},  // mixed: all three
    {0xffb0b0b0, "?"},    // unknown
}};
constexpr int kUnknownIndex = 16;
constexpr int kNewerSetStart = 17;
static_assert(kNewerSetStart + static_cast<int>(kKinds.size()) == kIconCount);

// The mark of a kind; the note falls back to letters when the font has no such sign.
QString markOf(const DiscKind& kind, const QFont& font) {
    const QString mark = QString::fromUtf8(kind.mark);
    if (mark == QStringLiteral("♪") && !QFontMetrics(font).inFontUcs4(0x266A))
        return QStringLiteral("AU");
    return mark;
}

QLineEdit* readOnlyField(QWidget* parent, const char* name, const std::string& value) {
    auto* field = new QLineEdit(QString::fromStdString(value), parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setCursorPosition(0);
    return field;
}

}  // namespace

QImage discIcon(int index, int size) {
    if (index < 0 || index >= kIconCount) index = kUnknownIndex;
    QImage image(std::max(size, 1), std::max(size, 1), QImage::Format_ARGB32);
    image.fill(Qt::transparent);

    const bool newer = index >= kNewerSetStart;
    const DiscKind& kind = kKinds[newer ? index - kNewerSetStart : index];
    const QColor colour = QColor::fromRgba(kind.colour);
    const qreal s = image.width();

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // The newer set leaves room at the bottom right for the disc's shadow.
    const QRectF disc = newer ? QRectF(0.02 * s, 0.02 * s, 0.9 * s, 0.9 * s)
                              : QRectF(0.04 * s, 0.04 * s, 0.92 * s, 0.92 * s);
    const QPointF centre = disc.center();
    const qreal radius = disc.width() / 2;

    if (newer) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 90));
        painter.drawEllipse(disc.translated(0.06 * s, 0.06 * s));
    }

    const qreal outline = std::max<qreal>(1.0, s / 32);
    painter.setPen(QPen(colour.darker(200), outline));
    if (newer) {
        QLinearGradient gradient(disc.topLeft(), disc.bottomRight());
        gradient.setColorAt(0.0, colour.lighter(170));
        gradient.setColorAt(0.5, colour);
        gradient.setColorAt(1.0, colour.darker(150));
        painter.setBrush(gradient);
    } else {
        painter.setBrush(colour);
    }
    const qreal inset = outline / 2;
    painter.drawEllipse(disc.adjusted(inset, inset, -inset, -inset));

    // The light ring of the clamping area around the hole.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 150), std::max<qreal>(1.0, s / 24)));
    painter.drawEllipse(centre, radius * 0.34, radius * 0.34);

    // The hole goes through the shadow as well.
    const qreal hole = radius * 0.16;
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawEllipse(centre, hole, hole);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colour.darker(200), std::max<qreal>(1.0, s / 48)));
    painter.drawEllipse(centre, hole, hole);

    // The mark in the band below the hole; at the smallest sizes it would only be a smudge,
    // and the colour tells the type there.
    const int pixelSize = static_cast<int>(s / 5);
    if (pixelSize >= 5) {
        QFont font;
        font.setBold(true);
        font.setPixelSize(pixelSize);
        painter.setFont(font);
        painter.setPen(colour.lightness() > 150 ? QColor(20, 20, 30) : QColor(Qt::white));
        const QRectF band(centre.x() - radius * 0.8, centre.y() + radius * 0.36, radius * 1.6,
                          radius * 0.56);
        painter.drawText(band, Qt::AlignCenter, markOf(kind, font));
    }
    return image;
}

std::unique_ptr<QWidget> makePropertyDialog(const ImageProperties& properties,
                                            const std::function<std::string(int id)>& text,
                                            QWidget* parent) {
    auto dialog = std::make_unique<QDialog>(parent);
    dialog->setObjectName("imageProperties");
    dialog->setWindowTitle(QString::fromStdString(text(text::kPropertiesTitle)));

    auto* layout = new QVBoxLayout(dialog.get());
    auto* form = new QFormLayout;
    QDialog* d = dialog.get();
    form->addRow("File:", readOnlyField(d, "path", properties.path));
    form->addRow("Description:", readOnlyField(d, "description", properties.description));
    form->addRow("Image size:", readOnlyField(d, "imageSize", properties.imageSize));
    form->addRow("CD size:", readOnlyField(d, "cdSize", properties.cdSize));
    form->addRow("Tracks:", readOnlyField(d, "tracks", properties.tracks));
    auto* comment = new QPlainTextEdit(QString::fromStdString(properties.comment), d);
    comment->setObjectName("comment");
    comment->setReadOnly(true);
    comment->setMaximumHeight(comment->fontMetrics().lineSpacing() * 6);
    form->addRow("Comment:", comment);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, d);
    buttons->setObjectName("buttons");
    buttons->button(QDialogButtonBox::Close)->setObjectName("close");
    QObject::connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::reject);
    layout->addWidget(buttons);

    dialog->resize(460, dialog->sizeHint().height());
    return dialog;
}

std::optional<int> popupMenu(const std::vector<menus::MenuEntry>& menu, const QPoint& at) {
    QMenu popup;
    ui::addMenuEntries(&popup, menu);
    QAction* chosen = popup.exec(at);
    if (!chosen || !chosen->data().isValid()) return std::nullopt;
    return chosen->data().toInt();
}

}  // namespace ombrix::shellext
