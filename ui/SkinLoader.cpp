#include "ui/SkinLoader.h"

#include <qdrawutil.h>

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmapCache>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QXmlStreamReader>
#include <algorithm>
#include <mutex>

#include "ops/Texts.h"

// The skin is compiled into this static library; registering it here keeps the linker from
// dropping it from the program.
static void InitSkinResources() { Q_INIT_RESOURCE(skin); }

namespace brev::ui {

namespace {

void EnsureSkinResources() {
    static std::once_flag once;
    std::call_once(once, [] { InitSkinResources(); });
}

const QStringList& KnownElements() {
    static const QStringList known = {"Window",   "VerticalLayout", "HorizontalLayout", "Control",
                                      "Label",    "Button",         "Option",           "Edit",
                                      "Progress", "RichEdit"};
    return known;
}

// Every length or position a skin gives is held to this many pixels either way, so sums of
// sizes, paddings and differences of edges stay far from the int range.
constexpr int kSkinMaxPixels = 1 << 20;

int Saturated(int v) { return std::clamp(v, -kSkinMaxPixels, kSkinMaxPixels); }

// "a,b,c,d" -> the numbers; fewer or non-numeric parts give an empty list.
std::vector<int> Numbers(const QString& text, std::size_t count) {
    const QStringList parts = text.split(',');
    if (static_cast<std::size_t>(parts.size()) != count) return {};
    std::vector<int> out;
    for (const QString& part : parts) {
        bool ok = false;
        const int v = part.trimmed().toInt(&ok);
        if (!ok) return {};
        out.push_back(Saturated(v));
    }
    return out;
}

// "left,top,right,bottom" as a rectangle.
std::optional<QRect> Edges(const QString& text) {
    const auto n = Numbers(text, 4);
    if (n.empty()) return std::nullopt;
    return QRect(n[0], n[1], n[2] - n[0], n[3] - n[1]);
}

QMargins MarginsOf(const QString& text) {
    const auto n = Numbers(text, 4);
    return n.empty() ? QMargins() : QMargins(n[0], n[1], n[2], n[3]);
}

// A text the operator reads (caption, help label, tooltip), in the operator's language.
QString TextAttr(const SkinNode& node, const char* key) {
    return QString::fromStdString(text::Tr(node.attr(key).toStdString()));
}

int IntAttr(const SkinNode& node, const char* key, int fallback = 0) {
    bool ok = false;
    const int v = node.attr(key).toInt(&ok);
    return ok ? Saturated(v) : fallback;
}

bool IsTrue(const QString& text) { return text.compare("true", Qt::CaseInsensitive) == 0; }

Qt::Alignment AlignmentOf(const QString& text, Qt::Alignment fallback) {
    if (text == "left") return Qt::AlignLeft | Qt::AlignVCenter;
    if (text == "right") return Qt::AlignRight | Qt::AlignVCenter;
    if (text == "center") return Qt::AlignCenter;
    return fallback;
}

int SkinSize(const QLayoutItem* item, const char* key) {
    const QWidget* w = item->widget();
    return w ? w->property(key).toInt() : 0;
}

// The length a child takes along the layout's axis: its own size, or for an "autosize"
// layout of the same direction the length of what it holds; 0 when it shares the rest.
int FixedLength(const QLayoutItem* item, bool horizontal) {
    const QWidget* w = item->widget();
    if (!w) return 0;
    if (const int fixed = w->property(horizontal ? "skinWidth" : "skinHeight").toInt(); fixed > 0) {
        // A longer text (a translation, a long device name) widens its button.
        if (horizontal && qobject_cast<const SkinButton*>(w)) return std::max(fixed, w->sizeHint().width());
        return fixed;
    }
    if (w->property("skinAutoSize").toBool()) {
        const auto* inner = dynamic_cast<const SkinBoxLayout*>(w->layout());
        if (inner && (inner->orientation() == Qt::Horizontal) == horizontal) return inner->contentLength();
    }
    return 0;
}

// Name, tooltip, sizes, visibility, enabled state and font size: what every element has.
void ApplyCommon(QWidget* w, const SkinNode& node, QWidget* named) {
    named->setObjectName(node.attr("name"));
    if (node.attrs.contains("tooltip")) named->setToolTip(TextAttr(node, "tooltip"));
    w->setProperty("skinWidth", IntAttr(node, "width"));
    w->setProperty("skinHeight", IntAttr(node, "height"));
    w->setProperty("skinMinWidth", IntAttr(node, "minwidth"));
    w->setProperty("skinMinHeight", IntAttr(node, "minheight"));
    w->setProperty("skinAutoSize", IsTrue(node.attr("autosize")));
    if (const int px = IntAttr(node, "fontsize"); px > 0) {
        QFont f = w->font();
        f.setPixelSize(px);
        w->setFont(f);
    }
    if (node.attrs.contains("enabled")) w->setEnabled(IsTrue(node.attr("enabled")));
    if (node.attrs.contains("visible") && !IsTrue(node.attr("visible"))) w->setVisible(false);
}

SkinBackground BackgroundOf(const SkinNode& node) {
    SkinBackground bg;
    bg.color = ParseSkinColor(node.attr("bkcolor"));
    bg.borderColor = ParseSkinColor(node.attr("bordercolor"));
    bg.borderSize = IntAttr(node, "bordersize");
    bg.image = SkinImage::Parse(node.attr("bkimage"));
    return bg;
}

// Edits and the log draw their frame with a style sheet built from the element's colours.
QString FrameStyle(const char* type, const SkinNode& node) {
    const SkinBackground bg = BackgroundOf(node);
    QString style = QString("%1 { padding: 0px 3px; ").arg(type);
    if (bg.color.isValid()) style += QString("background: %1; ").arg(bg.color.name(QColor::HexArgb));
    if (bg.borderSize > 0 && bg.borderColor.isValid())
        style +=
            QString("border: %1px solid %2; ").arg(bg.borderSize).arg(bg.borderColor.name(QColor::HexArgb));
    style += "} ";
    style += QString("%1:disabled { background: #FFEEF1F5; color: #FF3E4C59; }").arg(type);
    return style;
}

QColor TextColorOf(const SkinNode& node) { return ParseSkinColor(node.attr("textcolor")); }

void SetTextColor(QWidget* w, const QColor& color) {
    if (!color.isValid()) return;
    QPalette pal = w->palette();
    pal.setColor(QPalette::Active, QPalette::WindowText, color);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
    w->setPalette(pal);
}

QWidget* BuildContainer(const SkinNode& node, QWidget* parent, const SkinNotify& notify) {
    using Kind = SkinContainer::Kind;
    const Kind kind = node.tag == "VerticalLayout"     ? Kind::Vertical
                      : node.tag == "HorizontalLayout" ? Kind::Horizontal
                                                       : Kind::Control;
    auto* container = new SkinContainer(kind, nullptr);
    container->background = BackgroundOf(node);
    QWidget* outer = container;
    if (kind == Kind::Vertical && IsTrue(node.attr("vscrollbar"))) {
        // The named container sits inside a scroll area; the area takes the element's size.
        auto* scroll = new QScrollArea(parent);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setWidgetResizable(true);
        scroll->viewport()->setAutoFillBackground(false);
        scroll->setStyleSheet("QScrollArea { background: transparent; }");
        scroll->setWidget(container);
        container->setAutoFillBackground(false);  // setWidget turns it on; the window paints behind
        if (SkinBoxLayout* layout = container->boxLayout()) layout->setReportsMinimum(true);
        outer = scroll;
    } else {
        container->setParent(parent);
    }
    ApplyCommon(outer, node, container);
    if (SkinBoxLayout* layout = container->boxLayout()) {
        layout->setContentsMargins(MarginsOf(node.attr("inset")));
        layout->setSpacing(IntAttr(node, "childpadding"));
        for (const SkinNode& child : node.children) BuildSkinElement(child, container, notify);
    }
    return outer;
}

QWidget* BuildButton(const SkinNode& node, QWidget* parent, const SkinNotify& notify) {
    auto* button = new SkinButton(node.tag == "Option", parent);
    static const std::array<std::pair<const char*, SkinButton::ImageState>, SkinButton::kImageStates> keys = {
        {
            {"normalimage", SkinButton::Normal},
            {"hotimage", SkinButton::Hot},
            {"focusedimage", SkinButton::Focused},
            {"pushedimage", SkinButton::Pushed},
            {"disabledimage", SkinButton::Disabled},
            {"selectedimage", SkinButton::Selected},
        }};
    for (const auto& [key, state] : keys) button->setImage(state, node.attr(key));
    button->setText(TextAttr(node, "text"));
    button->setTextPadding(MarginsOf(node.attr("textpadding")));
    button->setTextAlignment(AlignmentOf(node.attr("align"), Qt::AlignCenter));
    button->setTextColor(TextColorOf(node));
    if (button->isOption()) button->setChecked(IsTrue(node.attr("selected")));
    ApplyCommon(button, node, button);
    QObject::connect(button, &QAbstractButton::clicked, button, [notify, button] {
        if (notify) notify("click", button);
    });
    return button;
}

QWidget* BuildEdit(const SkinNode& node, QWidget* parent, const SkinNotify& notify) {
    auto* edit = new QLineEdit(parent);
    edit->setText(node.attr("text"));
    edit->setReadOnly(IsTrue(node.attr("readonly")));
    edit->setStyleSheet(FrameStyle("QLineEdit", node));
    ApplyCommon(edit, node, edit);
    QObject::connect(edit, &QLineEdit::textChanged, edit, [notify, edit] {
        if (notify) notify("textchanged", edit);
    });
    return edit;
}

QWidget* BuildRichEdit(const SkinNode& node, QWidget* parent) {
    auto* log = new QPlainTextEdit(parent);
    log->setReadOnly(IsTrue(node.attr("readonly")));
    log->setUndoRedoEnabled(false);
    log->setPlainText(node.attr("text"));
    log->setVerticalScrollBarPolicy(IsTrue(node.attr("vscrollbar")) ? Qt::ScrollBarAsNeeded
                                                                    : Qt::ScrollBarAlwaysOff);
    log->setStyleSheet(FrameStyle("QPlainTextEdit", node));
    ApplyCommon(log, node, log);
    return log;
}

QWidget* BuildLabel(const SkinNode& node, QWidget* parent) {
    auto* label = new QLabel(TextAttr(node, "text"), parent);
    label->setAlignment(AlignmentOf(node.attr("align"), Qt::AlignLeft | Qt::AlignVCenter));
    // A help line longer than the window (or a longer translation) continues on a second line.
    label->setWordWrap(true);
    label->setContentsMargins(MarginsOf(node.attr("textpadding")));
    SetTextColor(label, TextColorOf(node));
    ApplyCommon(label, node, label);
    return label;
}

QWidget* BuildProgress(const SkinNode& node, QWidget* parent) {
    auto* bar = new SkinProgress(parent);
    bar->setRange(IntAttr(node, "min", 0), IntAttr(node, "max", 100));
    bar->setValue(IntAttr(node, "value", 0));
    bar->setText(node.attr("text"));
    bar->setForeImage(node.attr("foreimage"));
    bar->background = BackgroundOf(node);
    bar->textColor = TextColorOf(node);
    ApplyCommon(bar, node, bar);
    return bar;
}

}  // namespace

SkinImage SkinImage::Parse(const QString& text) {
    SkinImage image;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return image;
    if (!trimmed.contains('=')) {
        image.file = trimmed;
        return image;
    }
    static const QRegularExpression pair(R"((\w+)\s*=\s*'([^']*)')");
    for (auto it = pair.globalMatch(trimmed); it.hasNext();) {
        const auto m = it.next();
        const QString key = m.captured(1);
        const QString value = m.captured(2);
        if (key == "file")
            image.file = value;
        else if (key == "source")
            image.source = Edges(value);
        else if (key == "dest")
            image.dest = Edges(value);
        else if (key == "corner")
            image.corner = MarginsOf(value);
    }
    return image;
}

QPixmap LoadSkinPixmap(const QString& file) {
    EnsureSkinResources();
    const QString path = QString(kSkinRoot) + file;
    QPixmap pixmap;
    if (!QPixmapCache::find(path, &pixmap)) {
        pixmap.load(path);
        if (!pixmap.isNull()) QPixmapCache::insert(path, pixmap);
    }
    return pixmap;
}

void DrawSkinImage(QPainter& painter, const QRect& bounds, const SkinImage& image) {
    if (image.isNull()) return;
    const QPixmap pixmap = LoadSkinPixmap(image.file);
    if (pixmap.isNull()) return;
    const QRect source = image.source.value_or(pixmap.rect()).intersected(pixmap.rect());
    const QRect target = image.dest ? image.dest->translated(bounds.topLeft()) : bounds;
    if (image.corner.isNull()) {
        painter.drawPixmap(target, pixmap, source);
    } else {
        qDrawBorderPixmap(&painter, target, image.corner, pixmap, source, image.corner);
    }
}

std::optional<SkinNode> ParseSkin(const QByteArray& xml, QString* error) {
    auto fail = [error](const QString& message) -> std::optional<SkinNode> {
        if (error) *error = message;
        return std::nullopt;
    };
    QXmlStreamReader reader(xml);
    std::vector<SkinNode> open;
    std::optional<SkinNode> root;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            SkinNode node;
            node.tag = reader.name().toString();
            if (!KnownElements().contains(node.tag))
                return fail(QString("unknown element %1 at line %2").arg(node.tag).arg(reader.lineNumber()));
            for (const QXmlStreamAttribute& a : reader.attributes())
                node.attrs.insert(a.name().toString(), a.value().toString());
            open.push_back(std::move(node));
        } else if (token == QXmlStreamReader::EndElement) {
            SkinNode node = std::move(open.back());
            open.pop_back();
            if (open.empty())
                root = std::move(node);
            else
                open.back().children.push_back(std::move(node));
        }
    }
    if (reader.hasError()) return fail(reader.errorString());
    if (!root) return fail("no element");
    return root;
}

std::optional<SkinNode> LoadSkinFile(const QString& name, QString* error) {
    EnsureSkinResources();
    QFile file(QString(kSkinRoot) + name);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QString("cannot open %1").arg(file.fileName());
        return std::nullopt;
    }
    return ParseSkin(file.readAll(), error);
}

QColor ParseSkinColor(const QString& text) {
    const QString t = text.trimmed();
    if (!t.startsWith('#') || (t.size() != 9 && t.size() != 7)) return {};
    bool ok = false;
    const uint v = t.mid(1).toUInt(&ok, 16);
    if (!ok) return {};
    return t.size() == 9 ? QColor::fromRgba(v) : QColor::fromRgb(v);
}

// --- layout ---

SkinBoxLayout::SkinBoxLayout(Qt::Orientation orientation, QWidget* parent)
    : QLayout(parent), orientation_(orientation) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
    // The window keeps its own fixed size; content that does not fit is cut off.
    setSizeConstraint(QLayout::SetNoConstraint);
}

SkinBoxLayout::~SkinBoxLayout() {
    for (QLayoutItem* item : items_) delete item;
}

void SkinBoxLayout::addItem(QLayoutItem* item) { items_.push_back(item); }

QLayoutItem* SkinBoxLayout::itemAt(int index) const {
    return index >= 0 && index < static_cast<int>(items_.size()) ? items_[static_cast<std::size_t>(index)]
                                                                 : nullptr;
}

QLayoutItem* SkinBoxLayout::takeAt(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    QLayoutItem* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    return item;
}

int SkinBoxLayout::count() const { return static_cast<int>(items_.size()); }

int SkinBoxLayout::mainLength(bool minimum) const {
    const bool horizontal = orientation_ == Qt::Horizontal;
    qint64 total = 0;
    qint64 shown = 0;
    for (const QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        ++shown;
        const int fixed = FixedLength(item, horizontal);
        const int least = SkinSize(item, horizontal ? "skinMinWidth" : "skinMinHeight");
        total += fixed > 0 ? fixed : (minimum ? least : std::max(least, 0));
    }
    const QMargins m = contentsMargins();
    total += std::max<qint64>(0, shown - 1) * std::max(0, spacing());
    total += horizontal ? qint64(m.left()) + m.right() : qint64(m.top()) + m.bottom();
    return static_cast<int>(std::clamp<qint64>(total, 0, QWIDGETSIZE_MAX));
}

QSize SkinBoxLayout::sizeHint() const {
    const int main = mainLength(false);
    return orientation_ == Qt::Horizontal ? QSize(main, 0) : QSize(0, main);
}

QSize SkinBoxLayout::minimumSize() const {
    if (!reportsMinimum_) return {0, 0};
    const int main = mainLength(true);
    return orientation_ == Qt::Horizontal ? QSize(main, 0) : QSize(0, main);
}

void SkinBoxLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const bool horizontal = orientation_ == Qt::Horizontal;
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = std::max(0, spacing());
    std::vector<QLayoutItem*> shown;
    for (QLayoutItem* item : items_)
        if (!item->isEmpty()) shown.push_back(item);
    if (shown.empty()) return;

    qint64 fixedSum = 0;
    int flexible = 0;
    for (const QLayoutItem* item : shown) {
        const int fixed = FixedLength(item, horizontal);
        if (fixed > 0)
            fixedSum += fixed;
        else
            ++flexible;
    }
    const qint64 available = std::max<qint64>(0, qint64(horizontal ? area.width() : area.height()) -
                                                     fixedSum - qint64(gap) * qint64(shown.size() - 1));
    const int share = flexible > 0 ? static_cast<int>(available / flexible) : 0;
    int spare = flexible > 0 ? static_cast<int>(available - qint64(share) * flexible) : 0;

    // Children past the far end stay there rather than wrap around to the start.
    qint64 pos = horizontal ? area.left() : area.top();
    for (QLayoutItem* item : shown) {
        int length = FixedLength(item, horizontal);
        if (length <= 0) {
            length = share + spare;
            spare = 0;
            length = std::max(length, SkinSize(item, horizontal ? "skinMinWidth" : "skinMinHeight"));
        }
        const int crossTotal = horizontal ? area.height() : area.width();
        const int crossFixed = SkinSize(item, horizontal ? "skinHeight" : "skinWidth");
        const int cross = crossFixed > 0 ? crossFixed : crossTotal;
        // A shorter child sits in the middle of a row, and at the left of a column.
        const int at = static_cast<int>(std::min<qint64>(pos, QWIDGETSIZE_MAX));
        const QRect r = horizontal ? QRect(at, area.top() + (crossTotal - cross) / 2, length, cross)
                                   : QRect(area.left(), at, cross, length);
        if (QWidget* w = item->widget())
            w->setGeometry(r);
        else
            item->setGeometry(r);
        pos += qint64(length) + gap;
    }
}

// --- widgets ---

void SkinBackground::paint(QPainter& painter, const QRect& rect) const {
    if (color.isValid() && color.alpha() > 0) painter.fillRect(rect, color);
    DrawSkinImage(painter, rect, image);
    if (borderSize > 0 && borderColor.isValid()) {
        painter.save();
        painter.setPen(QPen(borderColor, borderSize));
        painter.setBrush(Qt::NoBrush);
        const int half = borderSize / 2;
        painter.drawRect(rect.adjusted(half, half, -(borderSize - half), -(borderSize - half)));
        painter.restore();
    }
}

SkinContainer::SkinContainer(Kind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
    if (kind != Kind::Control)
        new SkinBoxLayout(kind == Kind::Horizontal ? Qt::Horizontal : Qt::Vertical, this);
}

SkinBoxLayout* SkinContainer::boxLayout() const { return dynamic_cast<SkinBoxLayout*>(layout()); }

void SkinContainer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    background.paint(painter, rect());
}

SkinButton::SkinButton(bool option, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(option);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void SkinButton::setImage(ImageState state, const QString& text) {
    imageText_[state] = text;
    images_[state] = SkinImage::Parse(text);
    update();
}

QSize SkinButton::sizeHint() const {
    const QFontMetrics metrics(font());
    const int textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text()) + 6;
    return {textPadding_.left() + textWidth + textPadding_.right(),
            textPadding_.top() + metrics.height() + textPadding_.bottom()};
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    ImageState state = Normal;
    if (!isEnabled())
        state = Disabled;
    else if (isDown())
        state = Pushed;
    else if (underMouse())
        state = Hot;
    else if (hasFocus())
        state = Focused;
    if (isCheckable() && isChecked() && !images_[Selected].isNull()) state = Selected;
    DrawSkinImage(painter, rect(), images_[state].isNull() ? images_[Normal] : images_[state]);

    QColor color =
        textColor_.isValid() ? textColor_ : palette().color(QPalette::Active, QPalette::WindowText);
    if (!isEnabled()) color = QColor(0x84, 0x90, 0x9E);
    painter.setPen(color);
    painter.drawText(rect().marginsRemoved(textPadding_), static_cast<int>(align_ | Qt::TextSingleLine),
                     text());
}

void SkinButton::enterEvent(QEnterEvent* event) {
    update();
    QAbstractButton::enterEvent(event);
}

void SkinButton::leaveEvent(QEvent* event) {
    update();
    QAbstractButton::leaveEvent(event);
}

SkinProgress::SkinProgress(QWidget* parent) : QWidget(parent) {}

void SkinProgress::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    setValue(value_);
}

void SkinProgress::setValue(int value) {
    value_ = std::clamp(value, minimum_, maximum_);
    update();
}

void SkinProgress::setText(const QString& text) {
    text_ = text;
    update();
}

void SkinProgress::setForeImage(const QString& text) {
    foreImageText_ = text;
    foreImage_ = SkinImage::Parse(text);
    update();
}

void SkinProgress::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect all = rect();
    if (background.color.isValid()) painter.fillRect(all, background.color);
    const int b = std::max(0, background.borderSize);
    const QRect inner = all.adjusted(b, b, -b, -b);
    const qint64 span = qint64(maximum_) - minimum_;
    const int filled =
        span > 0 ? static_cast<int>(qint64(inner.width()) * (qint64(value_) - minimum_) / span) : 0;
    const QRect fill(inner.left(), inner.top(), filled, inner.height());
    if (filled > 0) DrawSkinImage(painter, fill, foreImage_);
    SkinBackground frame = background;
    frame.color = QColor();
    frame.paint(painter, all);

    // The text reads over both parts: light on the filled part, dark on the rest.
    // Kept readable while the row is disabled during a download.
    const QColor dark =
        textColor.isValid() ? textColor : palette().color(QPalette::Active, QPalette::WindowText);
    painter.save();
    painter.setClipRect(fill);
    painter.setPen(Qt::white);
    painter.drawText(all, Qt::AlignCenter, text_);
    painter.setClipRect(QRect(fill.right() + 1, all.top(), all.width(), all.height()));
    painter.setPen(dark);
    painter.drawText(all, Qt::AlignCenter, text_);
    painter.restore();
}

// --- building ---

QWidget* BuildSkinElement(const SkinNode& node, QWidget* parent, const SkinNotify& notify) {
    QWidget* w = nullptr;
    if (node.tag == "VerticalLayout" || node.tag == "HorizontalLayout" || node.tag == "Control")
        w = BuildContainer(node, parent, notify);
    else if (node.tag == "Button" || node.tag == "Option")
        w = BuildButton(node, parent, notify);
    else if (node.tag == "Edit")
        w = BuildEdit(node, parent, notify);
    else if (node.tag == "RichEdit")
        w = BuildRichEdit(node, parent);
    else if (node.tag == "Label")
        w = BuildLabel(node, parent);
    else if (node.tag == "Progress")
        w = BuildProgress(node, parent);
    if (w && parent) {
        if (auto* layout = dynamic_cast<SkinBoxLayout*>(parent->layout())) layout->addWidget(w);
    }
    return w;
}

SkinWindowInfo BuildSkinWindow(const SkinNode& window, QWidget* target, const SkinNotify& notify) {
    InstallSkinFontSubstitutes();
    SkinWindowInfo info;
    if (const auto n = Numbers(window.attr("size"), 2); !n.empty()) info.size = QSize(n[0], n[1]);
    if (const auto n = Numbers(window.attr("mininfo"), 2); !n.empty()) info.minimum = QSize(n[0], n[1]);
    if (const auto n = Numbers(window.attr("caption"), 4); !n.empty()) info.captionHeight = n[3];
    if (const auto n = Numbers(window.attr("roundcorner"), 2); !n.empty()) info.cornerRadius = n[0];
    info.background = ParseSkinColor(window.attr("bkcolor"));
    info.font = target->font();
    if (window.attrs.contains("fontname")) info.font.setFamily(window.attr("fontname"));
    if (const int px = IntAttr(window, "fontsize"); px > 0) info.font.setPixelSize(px);
    target->setFont(info.font);
    SetTextColor(target, TextColorOf(window));

    if (!target->layout()) new SkinBoxLayout(Qt::Vertical, target);
    for (const SkinNode& child : window.children) BuildSkinElement(child, target, notify);
    return info;
}

void InstallSkinFontSubstitutes() {
    const QStringList fallbacks = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC",
                                   "Droid Sans Fallback"};
    QFont::insertSubstitutions("宋体", fallbacks);
    QFont::insertSubstitutions("SimSun", fallbacks);
}

}  // namespace brev::ui
