// A small Qt Widgets editor whose menus other programs read through the accessibility bus.
//
//     quibbars-qt-editor [--deep-menus]
//
// Its executable is named after its desktop ID, quibbars-qt-editor, so its window's WM_CLASS
// names that entry. The menus hold the same commands as the GTK fixture, plus two whose keys no
// other program can press for it: "Zoom In" (Ctrl++) and "Show Keys" (Meta+K). --deep-menus
// adds a submenu chain under View: "Level Three" (Ctrl+Alt+3) is an item of a submenu of a
// submenu of View, "Level Four" (Ctrl+Alt+4) one level further down. Prints "ready" once its
// window is shown.

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

using Items = std::initializer_list<std::pair<const char*, const char*>>;

QMenu* menuWith(QMenu* menu, Items items) {
    for (const auto& [title, shortcut] : items) {
        auto* action = menu->addAction(QString::fromUtf8(title));
        action->setShortcut(QKeySequence(QString::fromUtf8(shortcut)));
    }
    return menu;
}

// View ▸ Panels ▸ Layout ▸ Level Three, and ▸ Nested ▸ Level Four below it.
void addDeepChain(QMenu* view) {
    auto* layout = view->addMenu("Panels")->addMenu("Layout");
    layout->addAction("Level Three")->setShortcut(QKeySequence("Ctrl+Alt+3"));
    layout->addMenu("Nested")->addAction("Level Four")->setShortcut(QKeySequence("Ctrl+Alt+4"));
}

}  // namespace

int main(int argc, char** argv) {
    bool deep = false;
    for (int i = 1; i < argc; ++i) deep = deep || std::strcmp(argv[i], "--deep-menus") == 0;

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Bars Qt Editor");
    QMainWindow window;
    window.setWindowTitle("Bars Qt Editor");
    auto* bar = window.menuBar();
    menuWith(bar->addMenu("File"), {{"New Tab", "Ctrl+T"}, {"Save", "Ctrl+S"}, {"Close Window", "Ctrl+W"}});
    menuWith(bar->addMenu("Edit"), {{"Undo Typing", "Ctrl+Z"},
                                    {"Redo", "Ctrl+Shift+Z"},
                                    {"Copy", "Ctrl+C"},
                                    {"Paste", "Ctrl+V"},
                                    {"Find", "Ctrl+F"}});
    auto* view = menuWith(
        bar->addMenu("View"),
        {{"Reload This Page", "F5"}, {"Toggle Terminal", "Ctrl+`"}, {"Zoom In", "Ctrl++"}, {"Show Keys", "Meta+K"}});
    if (deep) addDeepChain(view);
    window.setCentralWidget(new QLabel("(no document)"));
    window.resize(480, 320);
    window.show();
    QTimer::singleShot(0, [] { std::puts("ready"), std::fflush(stdout); });
    return app.exec();
}
