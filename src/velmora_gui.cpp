// Native information window: MessageBoxA on Windows.
#include "velmora_gui.h"

#ifdef _WIN32
#include <windows.h>
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
    // MessageBoxA returns 0 when the window could not be created; only an
    // answered window counts as shown.
    return MessageBoxA(nullptr, kText, kCaption, MB_ICONINFORMATION) == IDOK;
}

#else

bool RunGUI(int /*argc*/, char** /*argv*/) {
    // No native window on this platform yet: the caller falls back to the
    // usage text.
    (void)kCaption;
    (void)kText;
    return false;
}

#endif

}  // namespace VelmoraGUI
