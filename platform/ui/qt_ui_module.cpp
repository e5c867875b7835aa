// The window module: the Qt windows behind one exported function, loaded only by programs that
// show a window.
#include "platform/ui/user_interface.h"

// The caller owns the interface it receives (it wraps it at once).
extern "C" __attribute__((visibility("default"))) ombrix::ui::UserInterface*
ombrix_ui_make_windows() {
    return ombrix::ui::makeQtWindows().release();
}
