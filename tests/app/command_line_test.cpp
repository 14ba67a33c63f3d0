// SPDX-License-Identifier: GPL-3.0-or-later
// q7edit's command line: the options, help and version, and what is refused, both as parsed
// and from the program itself.
#include "app/command_line.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace q7;
using Action = EditorCommandLine::Action;

namespace {

EditorCommandLine parse(QStringList args) {
    args.prepend("q7edit");
    return parseEditorCommandLine(args);
}

} // namespace

TEST(EditorCommandLine, OptionsAndTheFile) {
    EditorCommandLine r = parse({"--simulator", "living.q7M"});
    ASSERT_EQ(r.action, Action::Run) << r.text.toStdString();
    EXPECT_EQ(r.options.simulator, std::string()) << "alone, it takes no word after it";
    EXPECT_EQ(r.options.file, "living.q7M");

    r = parse({"--simulator=latency_us=1000,state=/tmp/s", "--trace", "t.trace", "-v",
               "--screenshots=shots"});
    ASSERT_EQ(r.action, Action::Run);
    EXPECT_EQ(r.options.simulator, std::string("latency_us=1000,state=/tmp/s"));
    EXPECT_EQ(r.options.trace, std::string("t.trace"));
    EXPECT_TRUE(r.options.verbose);
    EXPECT_EQ(r.options.screenshots, "shots");
    EXPECT_TRUE(r.options.file.isEmpty());

    r = parse({"--replay=a.trace", "--trace", "-"});
    ASSERT_EQ(r.action, Action::Run);
    EXPECT_EQ(r.options.replay, std::string("a.trace"));
    EXPECT_EQ(r.options.trace, std::string("/dev/stdout")) << "- is standard output";

    // -- ends the options; Qt's own options are left to Qt.
    r = parse({"-platform", "offscreen", "-reverse", "--", "--odd name.q7M"});
    ASSERT_EQ(r.action, Action::Run) << r.text.toStdString();
    EXPECT_EQ(r.options.file, "--odd name.q7M");
    EXPECT_FALSE(r.options.simulator);
}

TEST(EditorCommandLine, HelpVersionAndErrors) {
    for (const char* help : {"--help", "-h"}) {
        const EditorCommandLine r = parse({help});
        EXPECT_EQ(r.action, Action::Help);
        EXPECT_TRUE(r.text.startsWith("usage: q7edit [OPTIONS] [FILE]\n"));
        for (const char* o : {"--simulator[=OPTIONS]", "--replay <TRACE>", "--trace <FILE>",
                              "-v, --verbose", "--screenshots <DIR>", "--version", "-h, --help"})
            EXPECT_TRUE(r.text.contains(o)) << o;
        for (const QString& line : r.text.split('\n'))
            EXPECT_LE(line.size(), 80) << line.toStdString();
    }
    const EditorCommandLine v = parse({"--version"});
    EXPECT_EQ(v.action, Action::Version);
    EXPECT_TRUE(v.text.startsWith("q7edit 0."));
    EXPECT_TRUE(v.text.contains("GPL-3.0-or-later"));
    EXPECT_TRUE(v.text.contains("Qt 6."));
    EXPECT_TRUE(v.text.contains("hidapi "));

    const struct {
        QStringList args;
        const char* said;
    } errors[] = {
        {{"--screnshots", "x"}, "unknown option --screnshots; did you mean --screenshots?"},
        {{"--simulater"}, "unknown option --simulater; did you mean --simulator?"},
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{"a.q7M", "b.q7M"}, "one mode file at a time"},
        {{"-"}, "standard input"},
        {{"--simulator", "--replay", "x"}, "exclude each other"},
        {{"--trace"}, "trace"},
    };
    for (const auto& e : errors) {
        const EditorCommandLine r = parse(e.args);
        EXPECT_EQ(r.action, Action::Error) << e.said;
        EXPECT_TRUE(r.text.startsWith("q7edit: ")) << r.text.toStdString();
        EXPECT_TRUE(r.text.contains(e.said)) << r.text.toStdString();
        EXPECT_EQ(r.text.count('\n'), 1);
    }
}

// The program itself: help and version exit 0 on standard output without a display; a bad
// option exits 2 with one line on standard error.
TEST(EditorCommandLine, TheProgramsExitCodes) {
    auto run = [](const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.start(Q7EDIT_PATH, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return std::tuple(p.exitCode(), QString(p.readAllStandardOutput()),
                          QString(p.readAllStandardError()));
    };
    auto [code, out, err] = run({"--help"});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(out.startsWith("usage: q7edit")) << out.toStdString();
    EXPECT_EQ(err, "");
    std::tie(code, out, err) = run({"--version"});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(out.startsWith("q7edit 0.")) << out.toStdString();
    std::tie(code, out, err) = run({"--no-such-option"});
    EXPECT_EQ(code, 2);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(err.startsWith("q7edit: unknown option --no-such-option")) << err.toStdString();
}
