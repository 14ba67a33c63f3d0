// q7edit: the editor for the Q7 DSP effects amplifier.
#include "app/editor.h"
#include "app/main_frame.h"
#include "app/single_instance.h"
#include "ui/fonts.h"
#include "ui/language.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    q7::EditorOptions options;
    QString error;
    if (!q7::parseEditorArguments(raw, options, error)) {
        std::fprintf(stderr, "q7edit: %s\n", qPrintable(error));
        std::fprintf(stderr,
                     "usage: q7edit [--simulator[=OPTIONS] | --replay TRACE] [--trace FILE] "
                     "[--verbose] [--screenshots DIR] [FILE]\n");
        return 2;
    }
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
        return editor.takeScreenshots(options.screenshots);
    return app.exec();
}
