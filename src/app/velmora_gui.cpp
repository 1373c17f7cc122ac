// Native information window: MessageBoxA on Windows, a GTK 3 message dialog
// on Linux.
#include "velmora_gui.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>
#endif

namespace VelmoraGUI {
namespace {

constexpr const char* kCaption = "Velmora 2D Studio";
constexpr const char* kText =
    "Velmora 2D Studio - Commercial Edition\n"
    "2D Sprite Packing, Normal Map Generator & Collider Engine";

}  // namespace

#ifdef _WIN32

bool RunGUI(int /*argc*/, char** /*argv*/) {
    // A window that could not be shown is not a dismissed one: MessageBoxA
    // returns 0 when it fails (and wine without a display returns -1), and
    // the caller then prints the usage text instead.
    return MessageBoxA(nullptr, kText, kCaption, MB_ICONINFORMATION) == IDOK;
}

#else

namespace {

// GTK is loaded only when the window is asked for: linking it would make
// every console command pay for loading some seventy shared libraries.
// The few entry points used are declared here with their C ABI, so the
// build needs no GTK headers. Widgets are opaque pointers; GLib's gboolean
// and GTK's enums are C ints.
using Widget = void;
using LogWriterFn = int (*)(int level, const void* fields, std::size_t fieldCount, void* data);

using InitCheckFn = int (*)(int* argc, char*** argv);
using DisableSetlocaleFn = void (*)();
using MessageDialogNewFn = Widget* (*)(Widget* parent, int flags, int type, int buttons,
                                       const char* format, ...);
using MessageDialogSetImageFn = void (*)(Widget* dialog, Widget* image);
using ImageNewFromIconNameFn = Widget* (*)(const char* iconName, int size);
using WindowSetTitleFn = void (*)(Widget* window, const char* title);
using WidgetShowFn = void (*)(Widget* widget);
using WidgetDestroyFn = void (*)(Widget* widget);
using DialogRunFn = int (*)(Widget* dialog);
using EventsPendingFn = int (*)();
using MainIterationDoFn = int (*)(int blocking);
using LogSetWriterFuncFn = void (*)(LogWriterFn writer, void* data, void (*freeData)(void*));

constexpr int kDialogModal = 1;     // GTK_DIALOG_MODAL
constexpr int kMessageInfo = 0;     // GTK_MESSAGE_INFO
constexpr int kButtonsOk = 1;       // GTK_BUTTONS_OK
constexpr int kIconSizeDialog = 6;  // GTK_ICON_SIZE_DIALOG
constexpr int kLogWriterHandled = 1;  // G_LOG_WRITER_HANDLED

struct Gtk {
    InitCheckFn initCheck;
    DisableSetlocaleFn disableSetlocale;
    MessageDialogNewFn messageDialogNew;
    MessageDialogSetImageFn messageDialogSetImage;
    ImageNewFromIconNameFn imageNewFromIconName;
    WindowSetTitleFn windowSetTitle;
    WidgetShowFn widgetShow;
    WidgetDestroyFn widgetDestroy;
    DialogRunFn dialogRun;
    EventsPendingFn eventsPending;
    MainIterationDoFn mainIterationDo;
    LogSetWriterFuncFn logSetWriterFunc;
};

template <typename Fn>
bool Resolve(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    return fn != nullptr;
}

bool ResolveAll(void* library, Gtk& gtk) {
    return Resolve(library, "gtk_init_check", gtk.initCheck) &&
           Resolve(library, "gtk_disable_setlocale", gtk.disableSetlocale) &&
           Resolve(library, "gtk_message_dialog_new", gtk.messageDialogNew) &&
           Resolve(library, "gtk_message_dialog_set_image", gtk.messageDialogSetImage) &&
           Resolve(library, "gtk_image_new_from_icon_name", gtk.imageNewFromIconName) &&
           Resolve(library, "gtk_window_set_title", gtk.windowSetTitle) &&
           Resolve(library, "gtk_widget_show", gtk.widgetShow) &&
           Resolve(library, "gtk_widget_destroy", gtk.widgetDestroy) &&
           Resolve(library, "gtk_dialog_run", gtk.dialogRun) &&
           Resolve(library, "gtk_events_pending", gtk.eventsPending) &&
           Resolve(library, "gtk_main_iteration_do", gtk.mainIterationDo) &&
           // GLib comes in with GTK; the handle reaches its dependencies.
           Resolve(library, "g_log_set_writer_func", gtk.logSetWriterFunc);
}

// The console tool keeps its error stream empty; toolkit diagnostics (a
// missing accessibility bus, an icon that failed to load) are not for its
// user.
int DropLogMessage(int, const void*, std::size_t, void*) {
    return kLogWriterHandled;
}

bool ShowDialog(const Gtk& gtk) {
    // Leave the process locale alone: the console output must not depend
    // on whether a window was tried first.
    gtk.disableSetlocale();
    if (!gtk.initCheck(nullptr, nullptr)) {
        return false;  // no display could be opened
    }
    Widget* dialog = gtk.messageDialogNew(nullptr, kDialogModal, kMessageInfo, kButtonsOk, "%s",
                                          kText);
    if (dialog == nullptr) {
        return false;
    }
    gtk.windowSetTitle(dialog, kCaption);
    // GTK 3 shows no icon in a message dialog unless one is set.
    Widget* icon = gtk.imageNewFromIconName("dialog-information", kIconSizeDialog);
    gtk.messageDialogSetImage(dialog, icon);
    gtk.widgetShow(icon);
    gtk.dialogRun(dialog);  // OK or the window's close button: either dismisses it
    gtk.widgetDestroy(dialog);
    // Let the unmap reach the display before returning, so the window is
    // gone when the call is.
    while (gtk.eventsPending()) {
        gtk.mainIterationDo(0);
    }
    return true;
}

}  // namespace

bool RunGUI(int /*argc*/, char** /*argv*/) {
    // Without a display server there is nothing to load GTK for.
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) {
        return false;
    }
    void* library = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    Gtk gtk{};
    bool shown = false;
    if (ResolveAll(library, gtk)) {
        // GLib takes a log writer once per process; the dispatcher asks for
        // the window at most once. The writer also covers GLib's own
        // threads, which may still report after the window has closed.
        gtk.logSetWriterFunc(DropLogMessage, nullptr, nullptr);
        shown = ShowDialog(gtk);
    }
    // GTK is not built to be unloaded once initialised; the process ends
    // right after the window anyway, so the library stays mapped.
    return shown;
}

#endif

}  // namespace VelmoraGUI
