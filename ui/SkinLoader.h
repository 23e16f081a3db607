// A small skin engine: reads the window and row layouts (XML) and their images from the
// program's Qt resources (":/skin/..."), builds the widgets and finds controls by name.
//
// Elements: Window, VerticalLayout, HorizontalLayout, Control, Label, Button, Option, Edit,
// Progress, RichEdit. Sizes follow the layout files: a child with a width (in a horizontal
// layout) or a height (in a vertical one) gets exactly that, except that a button is widened
// to fit its text; children without one share what is left; whatever does not fit is cut off
// at the end, never squeezed. A layout marked autosize="true" takes the length of what it
// holds. Labels wrap their text.
#pragma once

#include <QAbstractButton>
#include <QHash>
#include <QLayout>
#include <QMargins>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <vector>

class QPainter;
class QPaintEvent;

namespace brev::ui {

// Where the skin lives inside the program's resources.
inline constexpr const char* kSkinRoot = ":/skin/";

// "file='imgs/a.png' source='l,t,r,b' dest='l,t,r,b' corner='l,t,r,b'", or a bare file name.
// source picks a part of the file, dest places it inside the control (else the whole control),
// corner keeps that many edge pixels unscaled when stretching.
struct SkinImage {
    QString file;
    std::optional<QRect> source;
    std::optional<QRect> dest;
    QMargins corner;

    static SkinImage Parse(const QString& text);
    bool isNull() const { return file.isEmpty(); }
};

// The pixmap of a skin file ("imgs/logo.png"), cached; null when the file is missing.
QPixmap LoadSkinPixmap(const QString& file);
void DrawSkinImage(QPainter& painter, const QRect& bounds, const SkinImage& image);

// One element of a layout file with its attributes, as read.
struct SkinNode {
    QString tag;
    QHash<QString, QString> attrs;
    std::vector<SkinNode> children;

    QString attr(const QString& key, const QString& fallback = {}) const {
        return attrs.value(key, fallback);
    }
};

// Parses layout XML. Unknown elements and malformed XML give nullopt and a message.
std::optional<SkinNode> ParseSkin(const QByteArray& xml, QString* error = nullptr);
// Reads and parses kSkinRoot + name.
std::optional<SkinNode> LoadSkinFile(const QString& name, QString* error = nullptr);

// "#AARRGGBB" or "#RRGGBB"; invalid colour otherwise.
QColor ParseSkinColor(const QString& text);

// Lays out children the way the layout files mean it (see the top of this file).
class SkinBoxLayout : public QLayout {
public:
    SkinBoxLayout(Qt::Orientation orientation, QWidget* parent);
    ~SkinBoxLayout() override;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

    Qt::Orientation orientation() const { return orientation_; }
    // The content of a scrolling container reports its full length so the scroll bar knows it.
    void setReportsMinimum(bool on) { reportsMinimum_ = on; }
    // Visible children, spacing and insets along the axis (what an "autosize" layout takes).
    int contentLength() const { return mainLength(false); }

private:
    int mainLength(bool minimum) const;

    Qt::Orientation orientation_;
    std::vector<QLayoutItem*> items_;
    bool reportsMinimum_ = false;
};

// Background, border and image common to Control, the layouts and the window.
struct SkinBackground {
    QColor color;
    QColor borderColor;
    int borderSize = 0;
    SkinImage image;
    void paint(QPainter& painter, const QRect& rect) const;
};

// Control, VerticalLayout and HorizontalLayout (a Control has no layout).
class SkinContainer : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Control, Vertical, Horizontal };
    SkinContainer(Kind kind, QWidget* parent);
    Kind kind() const { return kind_; }
    SkinBoxLayout* boxLayout() const;
    SkinBackground background;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind kind_;
};

// Button and Option: the look comes from images per state; an Option keeps a selected state.
class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    enum ImageState { Normal, Hot, Focused, Pushed, Disabled, Selected, kImageStates };
    SkinButton(bool option, QWidget* parent);

    bool isOption() const { return isCheckable(); }
    // The image string as given (exactly), and its parsed form for painting.
    QString image(ImageState state) const { return imageText_[state]; }
    void setImage(ImageState state, const QString& text);
    void setTextPadding(const QMargins& padding) { textPadding_ = padding; }
    void setTextAlignment(Qt::Alignment align) { align_ = align; }
    void setTextColor(const QColor& color) { textColor_ = color; }
    // Room for the text and its padding; a layout never gives a button less than this width.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::array<QString, kImageStates> imageText_;
    std::array<SkinImage, kImageStates> images_;
    QMargins textPadding_;
    Qt::Alignment align_ = Qt::AlignCenter;
    QColor textColor_;
};

class SkinProgress : public QWidget {
    Q_OBJECT
public:
    explicit SkinProgress(QWidget* parent);
    int value() const { return value_; }
    void setRange(int minimum, int maximum);
    void setValue(int value);
    QString text() const { return text_; }
    void setText(const QString& text);
    QString foreImage() const { return foreImageText_; }
    void setForeImage(const QString& text);
    SkinBackground background;
    QColor textColor;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int minimum_ = 0, maximum_ = 100, value_ = 0;
    QString text_;
    QString foreImageText_;
    SkinImage foreImage_;
};

// What a built window's root element asked for.
struct SkinWindowInfo {
    QSize size{500, 600};
    QSize minimum;
    int captionHeight = 0;
    int cornerRadius = 0;
    QColor background;
    QFont font;
};

// Operator actions: "click" from buttons and options, "textchanged" from edits.
using SkinNotify = std::function<void(const QString& type, QWidget* sender)>;

// Builds a non-Window element (and its children) as a child of `parent`; null on an
// element it cannot build.
QWidget* BuildSkinElement(const SkinNode& node, QWidget* parent, const SkinNotify& notify);
// Builds a Window element's content into `window` (which gets a vertical layout) and
// returns what the element said about the window itself.
SkinWindowInfo BuildSkinWindow(const SkinNode& window, QWidget* target, const SkinNotify& notify);

// Lets the layout files' "宋体" (and its Latin name) fall back to an installed CJK font.
void InstallSkinFontSubstitutes();

// A control by name anywhere below `root`; null when absent or of another type.
template <typename T>
T* FindControl(const QWidget* root, const QString& name) {
    return root ? root->findChild<T*>(name) : nullptr;
}

}  // namespace brev::ui
