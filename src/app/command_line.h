// SPDX-License-Identifier: GPL-3.0-or-later
// q7edit's command line, on QCommandLineParser: read before the application object exists, so
// --help, --version and a bad option need no display.
#pragma once

#include "app/editor.h"

#include <QString>
#include <QStringList>

namespace q7 {

struct EditorCommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    EditorOptions options;
    QString text; // the help, the version or the error, ready to print
};

// args includes the program name. Exit codes: 0 run, help or version; 2 an error.
EditorCommandLine parseEditorCommandLine(const QStringList& args);

QString editorHelpText();
QString editorVersionText();

} // namespace q7
