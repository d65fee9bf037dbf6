#include "app/HelpText.h"

namespace pelbrisk {

QString HelpText() {
    return QStringLiteral(
        "Type in the box to find a folder by name; \"/\" in the text searches every level.\n"
        "Up / Down: the previous or next match (Ctrl: through every level)\n"
        "Enter or Right: open the folder and play it (Ctrl+Shift+Enter: with its sub-folders)\n"
        "Left or Backspace in an empty box: up to the parent folder\n"
        "Tab: the folder's songs; Enter on one plays it\n"
        "Alt+Left / Alt+Right: back or forward 5 seconds\n"
        "Shift+Up / Shift+Down / Shift+Enter: move in the play list and play\n"
        "Pause: to the play list (Backspace or typing comes back)\n"
        "Ctrl+P play, Ctrl+E pause, Ctrl+S stop, Ctrl+N next, Ctrl+B back\n"
        "Ctrl+U / Ctrl+D: volume up or down; Ctrl+O: open the folder in the file manager\n"
        "Delete at the end of the text: remove the selected music folder (asks first)\n"
        "Esc: hide the window\n"
        "\n"
        "Commands (any beginning of the word after a colon):\n"
        ":reload  :collapse  :expand  :play  :next  :back  :prev  :stop  :pause\n"
        ":+volume  :-volume  :opendirectory  :quit  :help\n"
        "\n"
        "Add music by dropping a folder on the window, or with a line\n"
        "root = /path/to/music in pelbrisk.ini.");
}

} // namespace pelbrisk
