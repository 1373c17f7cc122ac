// The information window shown when velmora2d runs without a command.
#ifndef VELMORA_GUI_H
#define VELMORA_GUI_H

namespace VelmoraGUI {

// Shows the modal information window and blocks until the user closes it.
// Returns true once it has been dismissed, false when no window could be
// shown (the caller then prints the usage text). Arguments are ignored.
bool RunGUI(int argc, char** argv);

}  // namespace VelmoraGUI

#endif  // VELMORA_GUI_H
