#pragma once

#include <QString>

// The per-user autostart entry (XDG autostart): "VelmoraAutoStart.desktop" in
// `<configHome>/autostart/`, starting the program hidden in the tray with "/silent".
class AutoStartEntry {
public:
    // `program`: the absolute path started; `configHome`: $XDG_CONFIG_HOME or ~/.config.
    AutoStartEntry(QString program, QString configHome);
    // For the running program and the user's configuration folder.
    static AutoStartEntry ForThisProgram();

    QString path() const;
    // The entry's text: its Exec line holds the quoted program path and "/silent".
    QString contents() const;

    // SetAutoStart: writes the entry (whole or not at all) or removes it. False when that
    // failed; nobody is told, as a missing entry only means starting by hand.
    bool set(bool on) const;

private:
    QString program_;
    QString configHome_;
};

// `argument` as one quoted argument of a desktop entry's Exec key, written as the file holds
// it: quoted, with '"', '`', '$' and '\' escaped for the quotes, the backslashes doubled again
// for the file's string escapes, and '%' doubled so no field code is read into it.
QString DesktopExecArgument(const QString& argument);
