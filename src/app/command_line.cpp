// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include "params/text.h"

#include <QCommandLineParser>
#include <QtGlobal>
#include <algorithm>
#include <hidapi.h>

#ifndef Q7_VERSION
#define Q7_VERSION "unknown"
#endif

namespace q7 {

namespace {

// Options QApplication takes from the command line itself; accepted here, left to it.
struct QtOption {
    const char* name;
    const char* value; // null for a switch
};
constexpr QtOption kQtOptions[] = {
    {"platform", "name"},
    {"platformpluginpath", "path"},
    {"platformtheme", "name"},
    {"plugin", "plugin"},
    {"style", "style"},
    {"stylesheet", "file"},
    {"display", "display"},
    {"geometry", "geometry"},
    {"qwindowgeometry", "geometry"},
    {"qwindowtitle", "title"},
    {"qwindowicon", "icon"},
    {"session", "session"},
    {"reverse", nullptr},
    {"widgetcount", nullptr},
    {"nograb", nullptr},
    {"dograb", nullptr},
    {"sync", nullptr},
};

struct Parser {
    QCommandLineParser p;
    QCommandLineOption simulator{
        "simulator",
        "Run against the built-in simulated amplifier; OPTIONS are comma-separated "
        "(latency_us=N, state=FILE, quiet, faults ...; see q7edit(1)).",
        "OPTIONS"};
    QCommandLineOption replay{"replay",
                              "Play a trace recorded with --trace in place of an "
                              "amplifier.",
                              "TRACE"};
    QCommandLineOption trace{"trace",
                             "Write every report sent to or received from the amplifier to FILE "
                             "(- standard output).",
                             "FILE"};
    QCommandLineOption verbose{{"v", "verbose"}, "Print the link's debug log on standard error."};
    QCommandLineOption screenshots{
        "screenshots", "Render every screen in Chinese and English to DIR and exit.", "DIR"};
    QCommandLineOption version{"version", "Print the version and the licence."};
    QCommandLineOption help{{"h", "help"}, "Print this help."};
    std::vector<QCommandLineOption> qt;

    Parser() {
        p.setApplicationDescription("The editor for the Q7 DSP effects amplifier.");
        p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const QCommandLineOption* o :
             {&simulator, &replay, &trace, &verbose, &screenshots, &version, &help})
            p.addOption(*o);
        for (const QtOption& q : kQtOptions) {
            QCommandLineOption o(q.name, "Qt's own option.", q.value ? q.value : QString());
            o.setFlags(QCommandLineOption::HiddenFromHelp);
            qt.push_back(o);
            p.addOption(o);
        }
        p.addPositionalArgument("FILE", "A mode file to open.", "[FILE]");
    }
};

QString nearestOption(const QString& name) {
    std::vector<std::u16string> known;
    for (const char* k :
         {"simulator", "replay", "trace", "verbose", "screenshots", "version", "help"})
        known.push_back(QString(k).toStdU16String());
    return QString::fromStdU16String(nearestWord(name.toStdU16String(), known));
}

EditorCommandLine error(const QString& message) {
    EditorCommandLine r;
    r.action = EditorCommandLine::Action::Error;
    r.text = "q7edit: " + message + " (q7edit --help lists the options)\n";
    return r;
}

} // namespace

QString editorHelpText() {
    Parser parser;
    QString text = parser.p.helpText();
    // Qt names the program "<executable_name>" before an application object exists.
    const qsizetype firstLine = text.indexOf('\n');
    text = "usage: q7edit [OPTIONS] [FILE]" + text.mid(firstLine);
    // The simulator's options follow "=", or are left out.
    text.replace("--simulator <OPTIONS>", "--simulator[=OPTIONS]");
    text += "\nQt's own options (-platform, -style, -reverse ...) are passed to Qt; -- ends\n"
            "the options.\n"
            "Exit status: 0 when the editor is closed (or a running one was handed FILE),\n"
            "1 when it cannot start or a screenshot cannot be written, 2 for bad usage.\n";
    return text;
}

QString editorVersionText() {
    return QString("q7edit " Q7_VERSION "\n"
                   "Copyright (C) 2026 The q7edit developers\n"
                   "License GPL-3.0-or-later: GNU GPL version 3 or later "
                   "<https://gnu.org/licenses/gpl.html>.\n"
                   "This is free software: you are free to change and redistribute it.\n"
                   "There is NO WARRANTY, to the extent permitted by law.\n"
                   "Qt %1, hidapi %2\n")
        .arg(qVersion(), hid_version_str());
}

EditorCommandLine parseEditorCommandLine(const QStringList& args) {
    // --simulator takes its options only after "=": alone it would take the next word.
    QStringList words;
    bool ended = false;
    for (const QString& a : args) {
        words << (!ended && a == "--simulator" ? QString("--simulator=") : a);
        ended = ended || a == "--";
    }
    Parser parser;
    if (!parser.p.parse(words)) {
        const QStringList unknown = parser.p.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString name = unknown.first();
            const QString near = nearestOption(name);
            return error("unknown option " + QString(name.size() == 1 ? "-" : "--") + name +
                         (near.isEmpty() ? QString() : "; did you mean --" + near + "?"));
        }
        return error(parser.p.errorText().trimmed());
    }
    EditorCommandLine r;
    if (parser.p.isSet(parser.help)) {
        r.action = EditorCommandLine::Action::Help;
        r.text = editorHelpText();
        return r;
    }
    if (parser.p.isSet(parser.version)) {
        r.action = EditorCommandLine::Action::Version;
        r.text = editorVersionText();
        return r;
    }
    EditorOptions& o = r.options;
    if (parser.p.isSet(parser.simulator))
        o.simulator = parser.p.value(parser.simulator).toStdString();
    if (parser.p.isSet(parser.replay))
        o.replay = parser.p.value(parser.replay).toStdString();
    if (parser.p.isSet(parser.trace)) {
        const QString t = parser.p.value(parser.trace);
        o.trace = (t == "-" ? QString("/dev/stdout") : t).toStdString();
    }
    o.verbose = parser.p.isSet(parser.verbose);
    if (parser.p.isSet(parser.screenshots))
        o.screenshots = parser.p.value(parser.screenshots);
    const QStringList files = parser.p.positionalArguments();
    if (files.size() > 1)
        return error("one mode file at a time, not " + files.join(' '));
    if (!files.isEmpty() && files.first() == "-")
        return error("the editor opens a mode file by its name; - (standard input) cannot be "
                     "saved back: write it to a file first");
    if (!files.isEmpty())
        o.file = files.first();
    if (o.simulator && o.replay)
        return error("--simulator and --replay exclude each other");
    return r;
}

} // namespace q7
