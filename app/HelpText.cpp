#include "app/HelpText.h"

namespace pelbrisk {

QString EmptyTreeText(const QString& settingsFile) {
    // Short lines: the tree is narrow, and a wrapped path is hard to read.
    return QStringLiteral("No music yet.\n\n"
                          "Type :add and Enter\nto choose a music folder,\n"
                          "or :add ~/Music,\nor drop a folder here.\n\n"
                          "Or add a line\n  root = /path/to/music\nto the settings file\n%1\n"
                          "and type :reload.")
        .arg(settingsFile);
}

QString HelpText(const QString& settingsFile) {
    return QStringLiteral(
               "Type in the box to find a folder by name (accents and case do not matter);\n"
               "\"/\" in the text searches every level. \"no match\" shows when none has it.\n"
               "Up / Down: the previous or next match (Ctrl: through every level)\n"
               "Enter or Right: open the folder and play it (Ctrl+Shift+Enter: with its "
               "sub-folders)\n"
               "Left or Backspace in an empty box: up to the parent folder\n"
               "Tab: the folder's songs; Enter on one plays it\n"
               "Alt+Left / Alt+Right: back or forward 5 seconds\n"
               "Shift+Up / Shift+Down / Shift+Enter: move in the play list and play\n"
               "Pause: to the play list (Insert keeps the entry, Delete drops it, Ctrl+Z undoes)\n"
               "Ctrl+P play, Ctrl+E pause, Ctrl+S stop, Ctrl+N next, Ctrl+B back\n"
               "Ctrl+U / Ctrl+D: volume up or down; Ctrl+O: open the folder in the file manager\n"
               "Delete at the end of the text: remove the selected music folder (asks first)\n"
               "Esc: hide the window\n"
               "\n"
               "Commands (any beginning of the word after a colon):\n"
               ":reload  :collapse  :expand  :play  :next  :back  :prev  :stop  :pause\n"
               ":+volume  :-volume  :opendirectory  :quit  :help\n"
               ":add [FOLDER]  :repeat  :random  :send  :pitch [PERCENT]\n"
               "\n"
               "Add music with :add (a folder chooser, or :add ~/Music), by dropping a folder\n"
               "on the window, or with a line root = /path/to/music in the settings file:\n"
               "%1\n"
               ":reload reads that file again when you changed it.")
        .arg(settingsFile);
}

} // namespace pelbrisk
