// The editor's window: its frame, its two tabs and the Close button.

#include "ui/editor/editor_window.h"

#include "ui/console/dark_palette.h"
#include "ui/editor/images_tab.h"
#include "ui/editor/now_playing_tab.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include <algorithm>

namespace ondaline::editor {

EditorWindow::EditorWindow()
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
{
}

void EditorWindow::closeEvent(QCloseEvent* event)
{
    if (!closingInCode && onCloseBox) onCloseBox();
    event->accept();
}

QRect fromBottomLeft(double x, double y, double width, double height, double parentHeight)
{
    return QRectF(x, parentHeight - y - height, width, height).toRect();
}

void OverlayEditorController::buildWindow()
{
    window = std::make_unique<EditorWindow>();
    window->setWindowTitle(QString::fromUtf8("Ondaline — Overlay & Schedule"));
    window->setFixedSize(680, 820);
    window->setPalette(ui::darkControlsPalette(QColor::fromRgbF(0.11f, 0.11f, 0.13f)));
    window->setAutoFillBackground(true);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect free = screen->availableGeometry();
        const QPoint centred = free.center() - QPoint(340, 410);
        // On a screen shorter than the window its title bar stays on it.
        window->move(centred.x(), std::max(centred.y(), free.top()));
    }
    window->onCloseBox = [this] { closeEditor(); };

    auto* tabs = new QTabWidget(window.get());
    tabs->setGeometry(fromBottomLeft(0, 40, 680, 780, 820));
    tabs_ = tabs;
    const auto addTab = [&](const QString& label) -> QWidget& {
        auto* page = new QWidget;
        page->setAutoFillBackground(true);  // the window's dark ground, not the tab frame's grey
        auto* content = new QWidget(page);  // the tab's 660 x 740 content, at its top left
        content->setFixedSize(660, 740);
        tabs->addTab(page, label);
        return *content;
    };
    nowPlaying_ = std::make_unique<NowPlayingTab>(addTab(QStringLiteral("Now Playing")), tabLink());
    images_ = std::make_unique<ImagesTab>(addTab(QStringLiteral("Images")), tabLink());

    auto* close = new QPushButton(QStringLiteral("Close"), window.get());
    close->setAutoDefault(false);
    close->setDefault(false);
    close->setGeometry(fromBottomLeft(590, 8, 80, 28, 820));
    connect(close, &QPushButton::clicked, this, [this] { closeEditor(); });
}

}  // namespace ondaline::editor
