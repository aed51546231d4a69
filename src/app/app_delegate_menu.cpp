// The program's menu: settings and quitting, the editing commands, closing
// and help. The borderless dashboard has no menu bar to show it in, so its
// keys work from every window it is attached to and the dashboard shows the
// whole tree on a right click. The help window lives here too.

#include "app/app_delegate.h"

#include "app/built_in_help_page.h"
#include "app/help_window.h"
#include "base/print.h"
#include "ui/console/keyable_borderless_window.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

namespace ondaline::app {

namespace {

// A text widget's answer to an editing command: cutting and pasting need an
// editable text (and cutting a selection), copying and selecting do not.
template <typename Text>
bool editText(Text& text, EditCommand command, bool perform, bool hasSelection, bool canPaste)
{
    const bool editable = !text.isReadOnly();
    const bool can = command == EditCommand::cut     ? editable && hasSelection
                     : command == EditCommand::paste ? editable && canPaste
                                                     : true;
    if (can && perform) {
        if (command == EditCommand::cut) text.cut();
        if (command == EditCommand::copy) text.copy();
        if (command == EditCommand::paste) text.paste();
        if (command == EditCommand::selectAll) text.selectAll();
    }
    return can;
}

// What the focused widget makes of an editing command: whether it can, and
// doing it when `perform` is set.
bool edit(EditCommand command, bool perform, HelpWindow* help)
{
    QWidget* focus = QApplication::focusWidget();
    if (auto* field = qobject_cast<QLineEdit*>(focus))
        return editText(*field, command, perform, field->hasSelectedText(), true);
    if (auto* text = qobject_cast<QPlainTextEdit*>(focus))
        return editText(*text, command, perform, text->textCursor().hasSelection(), text->canPaste());
    if (help && focus && help->isAncestorOf(focus)) return help->edit(command, perform);
    return false;
}

}  // namespace

void TestAppDelegate::setupMenuBar()
{
    mainMenu = std::make_unique<QMenu>();
    const auto item = [this](QMenu& menu, const QString& title, const QKeySequence& keys, auto action) {
        QAction* a = menu.addAction(title);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::ApplicationShortcut);
        connect(a, &QAction::triggered, this, action);
        return a;
    };

    QMenu& application = *mainMenu->addMenu(QStringLiteral("Ondaline"));
    item(application, QString::fromUtf8("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma),
         [this] { toggleSettingsDrawer(); });
    application.addSeparator();
    item(application, QStringLiteral("Quit Ondaline"), QKeySequence(Qt::CTRL | Qt::Key_Q),
         [] { QCoreApplication::quit(); });

    QMenu& editing = *mainMenu->addMenu(QStringLiteral("Edit"));
    const std::pair<const char*, QKeySequence> commands[] = {
        {"Cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"Copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"Paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"Select All", QKeySequence(Qt::CTRL | Qt::Key_A)},
    };
    for (int i = 0; i < 4; ++i) {
        const auto command = static_cast<EditCommand>(i);
        item(editing, QString::fromLatin1(commands[i].first), commands[i].second,
             [this, command] { edit(command, true, helpWindow.get()); });
    }
    // Shown, an item is enabled only where the focused widget can do it;
    // afterwards all are again, so that the keys reach whatever has the focus.
    connect(&editing, &QMenu::aboutToShow, this, [this, &editing] {
        for (int i = 0; i < 4; ++i)
            editing.actions().at(i)->setEnabled(edit(static_cast<EditCommand>(i), false, helpWindow.get()));
    });
    connect(&editing, &QMenu::aboutToHide, this, [&editing] {
        for (QAction* a : editing.actions()) a->setEnabled(true);
    });

    QMenu& windows = *mainMenu->addMenu(QStringLiteral("Window"));
    item(windows, QStringLiteral("Close"), QKeySequence(Qt::CTRL | Qt::Key_W), [this] { closeWindow(); });

    QMenu& help = *mainMenu->addMenu(QStringLiteral("Help"));
    QAction* helpItem = item(help, QStringLiteral("Ondaline Help"), QKeySequence(Qt::CTRL | Qt::Key_Question),
                             [this] { openOndalineHelp(); });
    // "?" is a shifted key on most layouts.
    helpItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Question),
                            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Question)});
}

void TestAppDelegate::attachMenu(QWidget& topLevel)
{
    if (!mainMenu) return;
    for (QAction* submenu : mainMenu->actions())
        if (QMenu* menu = submenu->menu()) topLevel.addActions(menu->actions());
}

void TestAppDelegate::closeWindow()
{
    if (isDrawerOpen()) closeDrawer();
    else if (window) window->close();
}

void TestAppDelegate::openOndalineHelp()
{
    if (helpWindow && helpWindow->isOnScreen()) {
        helpWindow->raise();
        helpWindow->activateWindow();
        return;
    }
    // One window, filled one of two ways: as root, no web engine is loaded.
    QString problem;
    std::unique_ptr<HelpPage> page;
    if (helpWithoutWebEngine) page = std::make_unique<BuiltInHelpPage>();
    else page = makeWebHelpPage(&problem);
    if (!page) {
        print("Ondaline: ⚠ Help cannot be shown — " + problem.toStdString());
        return;
    }
    helpWindow = std::make_unique<HelpWindow>(std::move(page));
    attachMenu(*helpWindow);
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
    helpWindow->load(helpURL);
}

}  // namespace ondaline::app
