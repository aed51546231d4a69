#include "app/help_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace ondaline::app {

HelpWindow::HelpWindow(std::unique_ptr<HelpPage> page) : QWidget(nullptr, Qt::Window), page_(page.release())
{
    setWindowTitle(QStringLiteral("Ondaline Help"));
    const QSize size(820, 640);
    resize(size);
    setMinimumSize(500, 400);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    page_->setParent(this);
    layout->addWidget(page_);

    // Plain double steps, never snapped to tenths.
    const auto zoomKey = [this](const QKeySequence& keys, auto level) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, level] { zoomTo(level(zoomLevel_)); });
    };
    const auto in = [](double z) { return std::min(z + zoomStep, zoomMax); };
    const auto out = [](double z) { return std::max(z - zoomStep, zoomMin); };
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_Equal), in);
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_Plus), in);
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_Minus), out);
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_0), [](double) { return 1.0; });
}

void HelpWindow::zoomTo(double level)
{
    zoomLevel_ = level;
    page_->setZoom(zoomLevel_);
}

}  // namespace ondaline::app
