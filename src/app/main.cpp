// SPDX-License-Identifier: GPL-3.0-or-later
// q7edit: the editor for the Q7 DSP effects amplifier.
#include "app/command_line.h"
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/screenshots.h"
#include "app/single_instance.h"
#include "measure/audio.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/local_path.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << q7::decodeLocalPath(argv[i]);
    const q7::EditorCommandLine line = q7::parseEditorCommandLine(raw);
    if (line.action != q7::EditorCommandLine::Action::Run) {
        const bool error = line.action == q7::EditorCommandLine::Action::Error;
        std::fputs(qPrintable(line.text), error ? stderr : stdout);
        return error ? 2 : 0;
    }
    q7::EditorOptions options = line.options;
    options.systemAudio = &q7::createSystemAudioBackend;
    // Screenshots need no display.
    if (!options.screenshots.isEmpty() && !std::getenv("DISPLAY") &&
        !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);

    QApplication app(argc, argv);
    QApplication::setApplicationName("DSP-Q7-v1.1");
    QApplication::setOrganizationName("DSP_2060_V2.5");
    QApplication::setDesktopFileName("io.github.q7edit.Q7Edit");
    q7::installFontSubstitutions();
    QApplication::setFont(q7::songti(13));

    q7::SingleInstance instance;
    if (options.screenshots.isEmpty() && !instance.becomePrimary()) {
        if (!instance.notifyPrimary(options.file)) {
            // The language first, so that the box speaks it throughout.
            q7::Language language;
            QSettings profile;
            language.setIndex(q7::startLanguageIndex(&profile, QLocale::system().name()));
            q7::instanceErrorBox(language)->exec();
        }
        return 0;
    }

    q7::Editor editor(options);
    if (!editor.InitInstance())
        return 1;
    QObject::connect(&instance, &q7::SingleInstance::activated, &editor,
                     [&editor](const QString& file) {
                         editor.frame()->raiseWindow();
                         if (!file.isEmpty())
                             editor.shellOpen(file);
                     });
    if (!options.screenshots.isEmpty())
        return takeScreenshots(editor, options.screenshots);
    return app.exec();
}
